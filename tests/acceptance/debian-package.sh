#!/usr/bin/env bash
# Builds the three .deb from a build tree and checks them: the files where the
# install rules put them, dependencies found for viewer and libraries, the
# alternative's maintainer scripts, a valid menu entry. The install round trip
# and lintian are scripts/build-debian --test.
# Usage: debian-package.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null) || fail "cpack could not build the packages"
viewer="$(ls "$work"/out/quadview_*_amd64.deb)"
v4l2="$(ls "$work"/out/quadview-v4l2_*_amd64.deb)"
gstreamer="$(ls "$work"/out/quadview-gstreamer_*_amd64.deb)"
dpkg-deb -x "$viewer" "$work/viewer"
dpkg-deb -x "$v4l2" "$work/v4l2"
dpkg-deb -x "$gstreamer" "$work/gstreamer"
for file in usr/bin/quadview usr/lib/quadview/sim/libkesmacap.so usr/share/applications/quadview.desktop \
            usr/share/pixmaps/quadview.xpm usr/share/man/man1/quadview.1.gz usr/share/doc/quadview/copyright \
            usr/share/doc/quadview/changelog.gz usr/share/metainfo/org.quadview.quadview.metainfo.xml \
            usr/share/man/man5/quadview-sources.5.gz etc/quadview/sources; do
    [ -f "$work/viewer/$file" ] || fail "$file is not in quadview"
done
for file in usr/lib/quadview/v4l2/libkesmacap.so usr/share/doc/quadview-v4l2/copyright; do
    [ -f "$work/v4l2/$file" ] || fail "$file is not in quadview-v4l2"
done
for file in usr/lib/quadview/gstreamer/libkesmacap.so usr/share/doc/quadview-gstreamer/copyright; do
    [ -f "$work/gstreamer/$file" ] || fail "$file is not in quadview-gstreamer"
done
! grep -qv '^#' "$work/viewer/etc/quadview/sources" || fail "the example sources name a camera"
# The link is the alternative's, made at installation, never a packaged file.
[ ! -e "$work/viewer/usr/lib/quadview/libkesmacap.so" ] || fail "quadview ships the alternative's link"

depends="$(dpkg-deb -f "$viewer" Depends)"
grep -q 'libqt6widgets6' <<<"$depends" || fail "no Qt dependency found: $depends"
grep -q 'libturbojpeg0\|libpng16' <<<"$depends" || fail "the simulated card's dependencies are missing: $depends"
grep -q 'libxcb-shm0' <<<"$depends" || fail "no dependency on the X shared-memory library the live view draws with: $depends"
v4l2_depends="$(dpkg-deb -f "$v4l2" Depends)"
grep -q 'libv4l-0' <<<"$v4l2_depends" || fail "quadview-v4l2 does not depend on libv4l: $v4l2_depends"
grep -q 'quadview (= ' <<<"$v4l2_depends" || fail "quadview-v4l2 does not depend on quadview: $v4l2_depends"
gstreamer_depends="$(dpkg-deb -f "$gstreamer" Depends)"
for needed in 'quadview (= ' libgstreamer1.0-0 libgstreamer-plugins-base1.0-0 gstreamer1.0-plugins-good; do
    grep -q "$needed" <<<"$gstreamer_depends" || fail "quadview-gstreamer lacks $needed: $gstreamer_depends"
done
grep -q 'gstreamer1.0-libav' <<<"$(dpkg-deb -f "$gstreamer" Recommends)" || fail "quadview-gstreamer recommends no libav"

dpkg-deb -e "$viewer" "$work/control-viewer"
grep -qx /etc/quadview/sources "$work/control-viewer/conffiles" || fail "/etc/quadview/sources is no conffile"
for deb in "$viewer" "$v4l2" "$gstreamer"; do
    dpkg-deb -e "$deb" "$work/control-$(basename "$deb")"
    control="$work/control-$(basename "$deb")"
    grep -q 'update-alternatives --install /usr/lib/quadview/libkesmacap.so libkesmacap' "$control/postinst" ||
        fail "$(basename "$deb") offers no alternative"
    grep -q 'update-alternatives --remove libkesmacap' "$control/prerm" || fail "$(basename "$deb") never withdraws it"
    [ -x "$control/postinst" ] && [ -x "$control/prerm" ] || fail "maintainer scripts of $(basename "$deb") not executable"
done
desktop-file-validate "$work/viewer/usr/share/applications/quadview.desktop"
echo "passed: $(basename "$viewer") ($depends), $(basename "$v4l2") ($v4l2_depends)," \
     "$(basename "$gstreamer") ($gstreamer_depends)"
