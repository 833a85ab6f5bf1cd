#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from a build tree with that tree's own package settings, unpacks it into a
# temporary root and checks that it installs a working, well-described desktop application.
#   package-test.sh BUILD_DIR
# The package is made from whatever build runs the tests (the sanitizer build under `make test`), so no second
# build is needed; only the compression differs from `make package` (zstd, several times faster than xz here).
set -euo pipefail

build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

cpack --config "$build/CPackConfig.cmake" -B "$work/out" -D CPACK_DEBIAN_COMPRESSION_TYPE=zstd >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; exit 1; }
debs=("$work"/out/norik_*_amd64.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || { echo "FAIL: no single norik_<version>_amd64.deb in $work/out" >&2; exit 1; }
deb=${debs[0]} root=$work/root app=dev.norik.Norik
dpkg-deb -x "$deb" "$root"
norik=$root/usr/bin/norik man=$root/usr/share/man/man1/norik.1.gz

# Every file the package installs, and nothing else: the module may sit in any private folder under /usr/lib.
expected=(usr/bin/norik "usr/share/applications/$app.desktop" "usr/share/metainfo/$app.metainfo.xml"
    "usr/share/icons/hicolor/scalable/apps/$app.svg" "usr/share/icons/hicolor/symbolic/apps/$app-symbolic.svg"
    usr/share/man/man1/norik.1.gz usr/share/bash-completion/completions/norik usr/share/doc/norik/copyright)
installed=$(find "$root" -type f ! -path "$root/usr/lib/*norik/libnorik-desktop.so" -printf '%P\n' | sort)
[[ $installed == "$(printf '%s\n' "${expected[@]}" | sort)" ]] || fail "installed files differ: $installed"

# One version: the package's, the program's and the metadata's release.
version=$(dpkg-deb -f "$deb" Version)
[[ $("$norik" --version) == "norik $version" ]] || fail "norik --version says '$("$norik" --version)', the package $version"
grep -q "<release version=\"${version%%+*}\"" "$root/usr/share/metainfo/$app.metainfo.xml" || fail "no metadata release"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "the dependencies miss Qt: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -q 'libcurl4' || fail "the dependencies miss libcurl: $(dpkg-deb -f "$deb" Depends)"

# The launcher finds its module in the unpacked tree, so what fails is the module's own connection to the display.
mkdir -m 700 "$work/runtime"
status=0
message=$(env -u WAYLAND_DISPLAY DISPLAY=:norik-test-no-display XDG_RUNTIME_DIR="$work/runtime" "$norik" 2>&1) || status=$?
[[ $status -ne 0 && $message == *"X11 session"* ]] || fail "norik did not load its module (exit $status): $message"

desktop-file-validate "$root/usr/share/applications/$app.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app.metainfo.xml" >"$work/appstream.log" ||
    fail "metainfo: $(cat "$work/appstream.log")"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l -E UTF-8 "$man" 2>&1 >/dev/null)
[[ -z $warnings ]] || fail "manual page: $warnings"
for command in $("$norik" --help | awk '/^Subcommands:/ { inside = 1; next } inside && /^  [a-z]/ { print $1 }'); do
    zgrep -qE "^\.B[IR]? +\"?$command( |\"|$)" "$man" || fail "the manual page does not describe norik $command"
    # The completion, run as bash runs it for norik.
    COMP_WORDS=("$norik" "${command:0:3}") COMP_CWORD=1 COMPREPLY=()
    # shellcheck source=/dev/null
    source "$root/usr/share/bash-completion/completions/norik" && _norik
    [[ " ${COMPREPLY[*]} " == *" $command "* ]] || fail "completing 'norik ${command:0:3}' gave '${COMPREPLY[*]}'"
done
exit $((failures > 0))
