#!/usr/bin/env bash
# The Debian packages as a user meets them: lintian and appstreamcli accept
# them, and in a fresh minbase Debian 12 root (debootstrap, chroot) quadview
# maps the simulated card's library when installed alone, the V4L2 library
# once quadview-v4l2 is installed, the GStreamer one once quadview-gstreamer
# is, and each earlier one again as they are removed. Usage: debian-install.sh DIST_DIR WORK_DIR (a pristine root and the
# downloaded packages are kept in WORK_DIR between runs).
set -euo pipefail
source "$(dirname "$0")/../../scripts/common.sh"
dist="$(cd "$1" && pwd)"
work="$(mkdir -p "$2" && cd "$2" && pwd)"
viewer_deb="$(ls "$dist"/quadview_*_amd64.deb)"
v4l2_deb="$(ls "$dist"/quadview-v4l2_*_amd64.deb)"
gstreamer_deb="$(ls "$dist"/quadview-gstreamer_*_amd64.deb)"
fail() { echo "FAILED: $*" >&2; exit 1; }
step() { echo "--- $*"; }

step "lintian: no error, no warning"
lintian --fail-on error,warning "$viewer_deb" "$v4l2_deb" "$gstreamer_deb"
step "AppStream metadata"
extracted="$work/extracted"
rm -rf "$extracted"
dpkg-deb -x "$viewer_deb" "$extracted"
appstreamcli validate --no-net "$extracted"/usr/share/metainfo/*.metainfo.xml

# A pristine minbase root, made once; each run installs into a fresh copy.
pristine="$work/minbase.tar"
if [ ! -f "$pristine" ]; then
    step "debootstrap a minbase Debian 12 root (once)"
    rm -rf "$work/minbase"
    debootstrap_minbase "$work/minbase" "$work/debootstrap.log" || fail "debootstrap"
    tar -C "$work/minbase" -cf "$pristine.part" . && mv "$pristine.part" "$pristine"
    rm -rf "$work/minbase"
fi
root="$work/root"
mkdir -p "$work/archives/partial"
cleanup() {
    pkill -f "$root/usr/bin/" 2>/dev/null || true
    umount -R "$root/proc" "$root/dev" "$root/tmp" "$root/var/cache/apt/archives" 2>/dev/null || true
}
trap cleanup EXIT
cleanup
# Never remove through a mount that did not go: /dev is bound in there.
if grep -q " $root/" /proc/mounts; then
    fail "something is still mounted under $root"
fi
rm -rf --one-file-system "$root"
mkdir -p "$root"
tar -C "$root" -xf "$pristine"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount -t tmpfs tmpfs "$root/tmp"
mount --bind "$work/archives" "$root/var/cache/apt/archives"  # downloads kept between runs
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$viewer_deb" "$v4l2_deb" "$gstreamer_deb" "$root/tmp/"
in_root() { chroot "$root" env DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 "$@"; }

# Starts quadview on a virtual display and names the capture library it mapped.
mapped_library() {
    in_root xvfb-run -a quadview >"$work/viewer.log" 2>&1 &
    local pid="" _
    for _ in $(seq 100); do
        pid="$(for p in /proc/[0-9]*; do
                   [ "$(readlink "$p/exe" 2>/dev/null)" = "$root/usr/bin/quadview" ] && basename "$p"
               done | head -1 || true)"
        [ -n "$pid" ] && grep -q libkesmacap "/proc/$pid/maps" 2>/dev/null && break
        sleep 0.2
    done
    [ -n "$pid" ] || { cat "$work/viewer.log" >&2; fail "quadview did not start"; }
    grep -o '/usr/lib/quadview/[^ ]*libkesmacap.so' "/proc/$pid/maps" | head -1
    kill "$pid"
    wait || true
}

# Usage: expect_mapped LIBRARY MESSAGE
expect_mapped() {
    local mapped
    mapped="$(mapped_library)"
    echo "quadview maps $mapped"
    [ "$mapped" = "$1" ] || fail "$2"
}

step "install quadview into a fresh root"
in_root apt-get update -qq
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$viewer_deb")" xvfb xauth >/dev/null
expect_mapped /usr/lib/quadview/sim/libkesmacap.so "quadview alone maps another library"
[ -f "$root/etc/quadview/sources" ] || fail "no /etc/quadview/sources"

step "install quadview-v4l2: the V4L2 library wins"
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$v4l2_deb")" >/dev/null
expect_mapped /usr/lib/quadview/v4l2/libkesmacap.so "with quadview-v4l2 it maps another library"
# Read whole before grep looks: grep -q leaving early can cost the writer a
# SIGPIPE, which pipefail would take for a failure.
alternative="$(in_root update-alternatives --query libkesmacap)"
grep -q 'Value: /usr/lib/quadview/v4l2/libkesmacap.so' <<<"$alternative" ||
    fail "the alternative does not point at the V4L2 library: $alternative"

step "install quadview-gstreamer: the GStreamer library wins"
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$gstreamer_deb")" >/dev/null
expect_mapped /usr/lib/quadview/gstreamer/libkesmacap.so "with quadview-gstreamer it maps another library"

step "remove quadview-gstreamer: back to the V4L2 library"
in_root apt-get remove -y -qq quadview-gstreamer >/dev/null
expect_mapped /usr/lib/quadview/v4l2/libkesmacap.so "after removing quadview-gstreamer it maps another library"

step "remove quadview-v4l2: back to the simulated card"
in_root apt-get remove -y -qq quadview-v4l2 >/dev/null
expect_mapped /usr/lib/quadview/sim/libkesmacap.so "after the removal it maps another library"

step "remove quadview: the alternative goes with it"
in_root apt-get remove -y -qq quadview >/dev/null
! in_root update-alternatives --query libkesmacap >/dev/null 2>&1 || fail "the alternative outlived its packages"
[ ! -e "$root/usr/lib/quadview/libkesmacap.so" ] || fail "/usr/lib/quadview/libkesmacap.so outlived its packages"
echo "passed: install, switch and removal in a fresh Debian 12 root"
