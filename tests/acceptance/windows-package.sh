#!/usr/bin/env bash
# A Windows zip holds quadview.exe with the simulated kesmacap.dll beside it,
# each capture library in a folder of its own (FFmpeg's with its licence and
# how it was built), choose-capture.cmd, README.txt and LICENSE.txt; unpacked
# elsewhere it runs, and choose-capture puts either library beside the
# program, keeping a card's own DLL that it replaces.
# Usage: windows-package.sh ZIP ACCEPTANCE_SCRIPT
set -euo pipefail
zip="$1"
WINE="${WINE:-wine}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
expected="$(basename "$zip" .zip)"
listing="$(unzip -Z1 "$zip" | grep -v '/$' | sort)"
want="$(printf "$expected/%s\n" LICENSE.txt README.txt choose-capture.cmd ffmpeg/COPYING.LGPLv2.1.txt \
            ffmpeg/FFMPEG-BUILD.txt ffmpeg/FFMPEG-LICENSE.md ffmpeg/kesmacap.dll kesmacap.dll quadview.exe \
            sim/kesmacap.dll | sort)"
[ "$listing" = "$want" ] || fail "the zip holds:"$'\n'"$listing"
unzip -q "$zip" -d "$work"
root="$work/$expected"
objdump=i686-w64-mingw32-objdump
[[ "$expected" != *-win64 ]] || objdump=x86_64-w64-mingw32-objdump
for program in quadview.exe sim/kesmacap.dll ffmpeg/kesmacap.dll; do
    if "$objdump" -p "$root/$program" | grep 'DLL Name' | grep -qiE 'libgcc|libstdc|pthread|av(format|codec|util)|swscale'; then
        fail "$program needs a runtime DLL that is not in the zip"
    fi
done
grep -q 'LGPL version 2.1' "$root/ffmpeg/FFMPEG-BUILD.txt" || fail "FFMPEG-BUILD.txt names no licence"
grep -q -- '--enable-schannel' "$root/ffmpeg/FFMPEG-BUILD.txt" || fail "FFMPEG-BUILD.txt has no configure line"
if grep -qE -- '--enable-(gpl|nonfree|version3)' "$root/ffmpeg/FFMPEG-BUILD.txt"; then
    fail "FFmpeg was configured beyond LGPL 2.1"
fi
cmp -s "$root/kesmacap.dll" "$root/sim/kesmacap.dll" || fail "kesmacap.dll beside quadview.exe is not the simulated card's"

choose() { (cd "$root" && "$WINE" cmd /c choose-capture.cmd "$1" >"$work/choose.txt" 2>&1); }
choose ffmpeg || fail "choose-capture ffmpeg: $(cat "$work/choose.txt")"
cmp -s "$root/kesmacap.dll" "$root/ffmpeg/kesmacap.dll" || fail "choose-capture ffmpeg did not put FFmpeg's DLL beside quadview.exe"
[ ! -e "$root/card" ] || fail "choose-capture kept one of our own DLLs as the card's"
# A card's own DLL (any other file) is kept in card\ when another replaces it, and comes back.
printf 'the card vendor' >"$root/kesmacap.dll"
choose sim || fail "choose-capture sim: $(cat "$work/choose.txt")"
cmp -s "$root/kesmacap.dll" "$root/sim/kesmacap.dll" || fail "choose-capture sim did not put the simulated card back"
[ "$(cat "$root/card/kesmacap.dll")" = "the card vendor" ] || fail "the card's DLL was not kept in card\\"
choose card || fail "choose-capture card: $(cat "$work/choose.txt")"
[ "$(cat "$root/kesmacap.dll")" = "the card vendor" ] || fail "choose-capture card did not bring the card's DLL back"
printf 'a newer card DLL' >"$root/kesmacap.dll"  # the vendor's update, copied over it
choose ffmpeg || fail "choose-capture ffmpeg: $(cat "$work/choose.txt")"
[ "$(cat "$root/card/kesmacap.dll")" = "a newer card DLL" ] || fail "the card's newer DLL was not kept"
choose nothing && fail "choose-capture took a library that is not there"
choose sim || fail "choose-capture sim: $(cat "$work/choose.txt")"
bash "$2" "$root" kesmacap.dll
