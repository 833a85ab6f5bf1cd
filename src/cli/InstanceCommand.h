// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/Command.h"
#include "platform/instance/InstanceProtocol.h"

namespace norik::cli {

// `norik trigger` and `norik settings`: hands the request to the running tray app and returns once it has
// taken it. Fails when no Norik runs, or with the reason when it could not be reached or refused.
[[nodiscard]] CommandResult runInstanceRequest(platform::InstanceRequest request);

} // namespace norik::cli
