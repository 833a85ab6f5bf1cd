// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "core/preferences/SecretStore.h"

namespace norik::platform {

// Whether the session bus has a Secret Service: the name org.freedesktop.secrets has an owner or can be
// activated. Never starts a bus; false without one.
[[nodiscard]] bool secretServiceAvailable();

// The Secret Service store when one is available; otherwise the unencrypted FileSecretStore, announced by a
// single warning per process on standard error that names the file.
[[nodiscard]] std::unique_ptr<core::SecretStore> makeSecretStore();

} // namespace norik::platform
