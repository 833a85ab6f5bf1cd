#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Shows that a process holding global hot keys does not wake up while idle: the probe registers three hot
# keys on a private Xvfb and waits 10 seconds under strace, which counts every system call it makes.
#   bench/x11-idle-wakeups.sh build/release
set -euo pipefail
build=${1:-build/release}
probe="$build/bench/norik_x11_idle_probe"
[[ -x "$probe" ]] || { echo "no $probe; build the release preset with benchmarks" >&2; exit 1; }
work=$(mktemp -d)
Xvfb -displayfd 3 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 300); do
    [[ -s "$work/display" ]] && break
    sleep 0.1
done
export DISPLAY=":$(head -n1 "$work/display")"
strace -f -c -o "$work/syscalls" "$probe" 10
echo "system calls during the run (set-up included):"
cat "$work/syscalls"
