#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Times the desktop app on a private Xvfb with openbox: hot key to loading panel, Escape to the model
# connection closed, and memory and wake-ups while idle after start.
#   bench/desktop-latency.sh build/release [PRESSES]
set -euo pipefail
build=${1:-build/release}
probe="$build/bench/norik_desktop_latency"
norik="$build/src/cli/norik"
[[ -x "$probe" && -x "$norik" ]] || { echo "no $probe or $norik; build a release with benchmarks" >&2; exit 1; }
"$probe" "$norik" "${2:-20}"
