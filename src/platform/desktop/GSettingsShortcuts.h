// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "platform/desktop/SystemShortcuts.h"

namespace norik::platform {

// Every accelerator text held by GNOME's key-binding schemas (window manager, shell, mutter, media keys and
// each custom key binding) and, when IBus applies, by its hot-key schema. Schemas that are not installed add
// nothing.
[[nodiscard]] std::vector<std::string> gsettingsAccelerators(const DesktopSources& sources);

} // namespace norik::platform
