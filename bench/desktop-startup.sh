#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times the start of the desktop app on a private Xvfb with openbox and a system tray: start to tray icon
# shown, resident memory after start, and "Settings…" to the settings window mapped.
#   bench/desktop-startup.sh build/release [RUNS]
set -euo pipefail
build=${1:-build/release}
probe="$build/bench/norik_desktop_startup"
norik="$build/src/cli/norik"
[[ -x "$probe" && -x "$norik" ]] || { echo "no $probe or $norik; build a release with benchmarks" >&2; exit 1; }
"$probe" "$norik" "${2:-10}"
