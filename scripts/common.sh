# Shared by the run and test commands: install what is missing, configure, build.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Compiler cache hits across clones in other folders (CI builds a fresh clone).
export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=1

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config ccache qt6-base-dev libgtest-dev libturbojpeg0-dev libpng-dev
                libbenchmark-dev libv4l-dev)
# A Traditional Chinese font for the menu, and an X server for machines without a display.
DISPLAY_PACKAGES=(fonts-wqy-microhei xvfb xauth)
TEST_PACKAGES=(xdotool dpkg-dev desktop-file-utils libx11-dev)
# The 32-bit Windows build and its suites under Wine.
WINDOWS_PACKAGES=(cmake ninja-build ccache g++-mingw-w64-i686-posix wine32:i386 wine fonts-wine googletest
                  xvfb xauth xdotool imagemagick fonts-wqy-microhei procps unzip)

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
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build_preset() {
    local preset="$1"
    shift
    cd "$ROOT"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" "$@"
}

# A 32-bit Wine prefix inside the Windows build tree, made once.
export WINEPREFIX="$ROOT/build-windows/wineprefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
ensure_wine_prefix() {
    if [ -f "$WINEPREFIX/system.reg" ]; then
        return
    fi
    echo "Making a Wine prefix in $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -u >/dev/null 2>&1
    # Wine's fonts, and a Traditional Chinese one linked behind its menu and dialog fonts.
    cp /usr/share/wine/fonts/*.ttf /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$WINEPREFIX/drive_c/windows/Fonts/"
    local face
    for face in Tahoma "MS Shell Dlg" "MS Sans Serif"; do
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$face" \
            /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1
    done
    wineserver -w
}

# dist/quadview-<version>-win32.zip from the windows build.
package_windows() {
    cmake --build --preset windows --target quadview kesmacap
    (cd "$ROOT/build-windows" && cpack -G ZIP -B "$ROOT/dist" >/dev/null)
    rm -rf "$ROOT/dist/_CPack_Packages"
}
