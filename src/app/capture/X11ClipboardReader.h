// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>

#include "app/capture/ClipboardSnapshot.h"

namespace norik::app {

// Another client's CLIPBOARD, read on a connection of its own so that an owner that never answers costs at most
// `budget` in all: each format that has not arrived by then is left out. Reading through Qt instead would wait
// its own time-out for every format in turn. An unreachable display or no owner gives an empty snapshot.
[[nodiscard]] ClipboardSnapshot readOtherClientsClipboard(std::chrono::milliseconds budget);

} // namespace norik::app
