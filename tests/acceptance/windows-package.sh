#!/usr/bin/env bash
# The Windows zip holds exactly quadview.exe, the simulated kesmacap.dll,
# README.txt and LICENSE.txt in one folder, and unpacked elsewhere it runs.
# Usage: windows-package.sh ZIP ACCEPTANCE_SCRIPT
set -euo pipefail
zip="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
expected="$(basename "$zip" .zip)"
listing="$(unzip -Z1 "$zip" | grep -v '/$' | sort)"
want="$(printf '%s\n' "$expected/LICENSE.txt" "$expected/README.txt" "$expected/kesmacap.dll" "$expected/quadview.exe")"
if [ "$listing" != "$want" ]; then
    echo "FAILED: the zip holds:"; echo "$listing"; exit 1
fi
unzip -q "$zip" -d "$work"
if i686-w64-mingw32-objdump -p "$work/$expected/quadview.exe" | grep 'DLL Name' | grep -qiE 'libgcc|libstdc|pthread'; then
    echo "FAILED: quadview.exe needs a runtime DLL besides kesmacap.dll"; exit 1
fi
bash "$2" "$work/$expected" kesmacap.dll
