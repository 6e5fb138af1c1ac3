#!/usr/bin/env bash
# Builds the .deb from a build tree and checks it: the files where the install
# rules put them, dependencies found for the viewer, a valid menu entry.
# Usage: debian-package.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null) || fail "cpack could not build the package"
deb="$(ls "$work"/out/quadview_*_amd64.deb)"
dpkg-deb -x "$deb" "$work/root"
for file in usr/bin/quadview usr/bin/libkesmacap.so usr/share/applications/quadview.desktop \
            usr/share/pixmaps/quadview.xpm; do
    [ -f "$work/root/$file" ] || fail "$file is not in the package"
done
depends="$(dpkg-deb -f "$deb" Depends)"
grep -q 'libqt6widgets6' <<<"$depends" || fail "no Qt dependency found: $depends"
grep -q 'libturbojpeg0\|libpng16' <<<"$depends" || fail "the capture library's dependencies are missing: $depends"
desktop-file-validate "$work/root/usr/share/applications/quadview.desktop"
echo "passed: $(basename "$deb"), Depends: $depends"
