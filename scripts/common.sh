# Shared by the run and test commands: install what is missing, configure, build.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Compiler cache hits across clones in other folders (CI builds a fresh clone).
export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=1

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config ccache qt6-base-dev libgtest-dev libturbojpeg0-dev libpng-dev
                libbenchmark-dev libv4l-dev)
# A Traditional Chinese font for the menu, and an X server for machines without a display.
DISPLAY_PACKAGES=(fonts-wqy-microhei xvfb xauth)
TEST_PACKAGES=(xdotool)

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
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build_preset() {
    local preset="$1"
    shift
    cd "$ROOT"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" "$@"
}
