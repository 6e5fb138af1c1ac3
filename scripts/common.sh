# Shared by the run and test commands: install what is missing, configure, build.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Compiler cache hits across clones in other folders (CI builds a fresh clone).
export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=1

# file: CPack's DEB generator runs dpkg-shlibdeps, which needs it.
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config ccache qt6-base-dev libgtest-dev libturbojpeg0-dev libpng-dev
                libbenchmark-dev libv4l-dev libxcb1-dev libxcb-shm0-dev file libpango1.0-dev
                libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstrtspserver-1.0-dev libyuv-dev
                libavformat-dev libavcodec-dev libswscale-dev libavutil-dev)
# A Traditional Chinese font for the menu, and an X server for machines without a display.
DISPLAY_PACKAGES=(fonts-wqy-microhei xvfb xauth)
# What the GStreamer capture library plays with: network cameras, files, MJPEG
# and H.264 (the tests' RTSP server encodes H.264 with x264, from -ugly).
GSTREAMER_PACKAGES=(gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
                    gstreamer1.0-plugins-ugly gstreamer1.0-libav)
# ffmpeg serves HTTP MJPEG as cameras do; iproute2 and nftables make a network where UDP never arrives.
TEST_PACKAGES=(xdotool dpkg-dev desktop-file-utils libx11-dev ffmpeg iproute2 nftables)
# Both Windows builds and their zips (cross-compiling needs no 32-bit support;
# the suites are configured with them, so GoogleTest's source and ffmpeg, which
# makes their recordings, too), and FFmpeg built from Debian's source package.
WINDOWS_BUILD_PACKAGES=(cmake ninja-build ccache g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix googletest
                        dpkg-dev nasm libz-mingw-w64-dev ffmpeg)
# Both Windows builds and the suites that run on every machine: the 64-bit ones
# under 64-bit Wine, the 32-bit call thunk as a 32-bit Linux program under qemu.
WINDOWS_PACKAGES=("${WINDOWS_BUILD_PACKAGES[@]}" wine64 fonts-wine
                  xvfb xauth xdotool imagemagick fonts-wqy-microhei procps unzip g++-multilib qemu-user-static)
# 32-bit Wine, installed only where the kernel runs 32-bit programs; Schannel
# under it loads GnuTLS, which --no-install-recommends leaves out.
WINDOWS32_PACKAGES=(wine32:i386 wine libgnutls30:i386)

as_root() {
    if [ "$(id -u)" -ne 0 ]; then
        sudo "$@"
    else
        "$@"
    fi
}

# wine32 is an i386 package.
ensure_i386_architecture() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
    fi
}

ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return
    fi
    echo "Installing: ${missing[*]}"
    # A mirror in the middle of its sync serves lists of the wrong size: asked
    # again a little later, three times at most; the install then takes the
    # lists there are, and fails only if they lack a package.
    local attempt
    for attempt in 1 2 3; do
        as_root apt-get update -qq && break
        echo "apt-get update failed (attempt $attempt of 3)" >&2
        [ "$attempt" = 3 ] || sleep 30
    done
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build_preset() {
    local preset="$1"
    shift
    cd "$ROOT"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" "$@"
}

# Whether this kernel runs 32-bit x86 programs (some are built without it).
# QUADVIEW_NO_32BIT=1 answers no, so that the fallback can be tried anywhere.
kernel_runs_32bit() {
    if [ "${QUADVIEW_NO_32BIT:-0}" = 1 ]; then
        return 1
    fi
    local probe
    probe="$(mktemp -d)"
    # exit(0) in three instructions, assembled and linked by binutils alone.
    printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$probe/probe.s"
    local status=0
    { as --32 -o "$probe/probe.o" "$probe/probe.s" && ld -m elf_i386 -o "$probe/probe" "$probe/probe.o" &&
        "$probe/probe"; } 2>/dev/null || status=1
    rm -rf "$probe"
    return $status
}

# Which Wine the next prefix and suites use: 32-bit through the wine wrapper,
# or 64-bit through its own loader (the wrapper tries the 32-bit one first).
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
use_wine32() {
    export WINEPREFIX="$ROOT/build-windows/wineprefix" WINEARCH=win32 WINE=wine WINESERVER=wineserver
}
use_wine64() {
    export WINEPREFIX="$ROOT/build-windows64/wineprefix" WINEARCH=win64 WINE=/usr/lib/wine/wine64 \
           WINESERVER=/usr/lib/wine/wineserver64
}

# A Wine prefix for the chosen Wine inside its build tree, made once.
ensure_wine_prefix() {
    if [ -f "$WINEPREFIX/system.reg" ]; then
        return
    fi
    echo "Making a $WINEARCH Wine prefix in $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$WINE" wineboot -u >/dev/null 2>&1
    # Wine's fonts, and a Traditional Chinese one linked behind its menu and dialog fonts.
    cp /usr/share/wine/fonts/*.ttf /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$WINEPREFIX/drive_c/windows/Fonts/"
    local face
    for face in Tahoma "MS Shell Dlg" "MS Sans Serif"; do
        "$WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" \
            /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1
    done
    "$WINESERVER" -w
}

# Each of our kesmacap.dll exports the eleven ordinals and no name but kesmacap_abi.
# Usage: check_dll_exports DLL OBJDUMP
check_dll_exports() {
    local exports names ordinals
    exports="$("$2" -p "$1")"
    names="$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$exports" | sed 1d | awk 'NF {print $NF}')"
    ordinals="$(grep -cE '^\s+\[ *[0-9]+\] \+base\[ *(10|11|12|19|23|27|42|44|45|51|57)\]' <<<"$exports" || true)"
    if [ "$names" != kesmacap_abi ] || [ "$ordinals" != 11 ]; then
        echo "FAILED: $1 exports the names [$names] and $ordinals of the eleven ordinals" >&2
        return 1
    fi
    echo "$1: the eleven ordinals, and kesmacap_abi by name"
}

# The Debian mirror this machine installs from, for the test roots that
# debootstrap makes, so that no host is named in the project's files.
debian_mirror() {
    local uri
    uri="$(grep -hsE '^(URIs:|deb )' /etc/apt/sources.list /etc/apt/sources.list.d/*.sources \
               /etc/apt/sources.list.d/*.list | grep -v -- '-security' | head -1 |
           sed -E 's/^URIs:[[:space:]]*//; s/^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?//; s/[[:space:]].*//' || true)"
    if [ -z "$uri" ]; then
        echo "no Debian mirror in this machine's apt sources" >&2
        return 1
    fi
    echo "$uri"
}

# A minbase Debian 12 root in $1 from that mirror; its log in $2, shown on failure.
debootstrap_minbase() {
    if ! debootstrap --variant=minbase bookworm "$1" "$(debian_mirror)" >"$2" 2>&1; then
        tail -20 "$2" >&2
        return 1
    fi
}

# deb-src entries for the machine's Debian 12 archives (the same URIs and
# suites as its deb entries), so that apt-get source finds Debian's sources.
add_debian_source_entries() {
    local entries
    entries="$(
        for file in /etc/apt/sources.list.d/*.sources; do
            [ -f "$file" ] && [ "${file##*/}" != quadview-deb-src.sources ] || continue
            awk -v RS= -v ORS='\n\n' '/Suites:[^\n]*bookworm/ && /Types:[^\n]*deb/ {
                sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$file"
        done
    )"
    local lines
    lines="$(grep -hsE '^deb[[:space:]][^#]*[[:space:]]bookworm' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
                 sed -E 's/^deb([[:space:]])/deb-src\1/' || true)"
    if [ -z "$entries" ] && [ -z "$lines" ]; then
        echo "no Debian 12 archive in this machine's apt sources to take sources from" >&2
        return 1
    fi
    [ -z "$entries" ] || printf '%s\n' "$entries" | as_root tee /etc/apt/sources.list.d/quadview-deb-src.sources >/dev/null
    [ -z "$lines" ] || printf '%s\n' "$lines" | as_root tee /etc/apt/sources.list.d/quadview-deb-src.list >/dev/null
    # Another list failing (a mirror mid-sync) leaves these usable: the caller
    # asks apt-get source itself whether they are.
    as_root apt-get update -qq || true
}

# Configures a Windows preset (windows or windows64) with the FFmpeg that
# scripts/build-ffmpeg-windows builds for it (once; then from its cache), and
# the tests' RTSP server from the default build for its camera suite.
configure_windows() {
    local preset="$1" arch=i686 prefix
    [ "$preset" = windows ] || arch=x86_64
    prefix="$(bash "$ROOT/scripts/build-ffmpeg-windows" "$arch")"
    cd "$ROOT"
    cmake --preset "$preset" -DQUADVIEW_FFMPEG_PREFIX="$prefix" \
        -DQUADVIEW_HOST_RTSP_SERVER="$ROOT/build/bin/rtsp_test_server" >/dev/null
}

# dist/quadview-<version>-win32.zip (windows) or -win64.zip (windows64) from that preset's build.
package_windows() {
    local preset="$1"
    cmake --build --preset "$preset" --target quadview kesmacap kesmacap_ffmpeg_library
    (cd "$ROOT/build-$preset" && cpack -G ZIP -B "$ROOT/dist" >/dev/null)
    rm -rf "$ROOT/dist/_CPack_Packages"
}
