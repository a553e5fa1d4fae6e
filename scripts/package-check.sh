#!/usr/bin/env bash
# Builds the Windows release zip and checks what it holds: the dialog program
# (a GUI exe), the console program (a console exe), both the ones just built,
# and README.txt with CR LF line ends. Exits non-zero, naming what is wrong.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac

cmake --build "$build" --target package >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
folder=dirtally-$version-win32
zip=$build/$folder.zip
failed=0
fail() { echo "package-check: $*" >&2; failed=1; }

[ -f "$zip" ] || { echo "package-check: $zip was not made" >&2; exit 1; }
unzip -l "$zip"
contents=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
wanted=$(printf '%s\n' "$folder/README.txt" "$folder/dirtally-cli.exe" "$folder/dirtally.exe" | sort)
[ "$contents" = "$wanted" ] || fail "the zip holds $(echo $contents), not $(echo $wanted)"

# Each exe is the one the build made, for the subsystem its use needs.
check_exe() {
    local name=$1 built=$2 subsystem=$3
    unzip -p "$zip" "$folder/$name" | cmp -s - "$built" || fail "$name is not $built"
    local headers
    headers=$(i686-w64-mingw32-objdump -p "$built")
    grep -q "^Subsystem.*($subsystem)" <<<"$headers" || fail "$name is not a $subsystem exe"
}
check_exe dirtally.exe "$build/app/dirtally.exe" "Windows GUI"
check_exe dirtally-cli.exe "$build/cli/dirtally-cli.exe" "Windows CUI"

lines=$(unzip -p "$zip" "$folder/README.txt" | wc -l)
crlf=$(unzip -p "$zip" "$folder/README.txt" | grep -c $'\r$' || true)
[ "$lines" -gt 0 ] && [ "$lines" = "$crlf" ] || fail "README.txt: $crlf of $lines lines end in CR LF"
unzip -p "$zip" "$folder/README.txt" | tr -d '\r' | cmp -s - README.md || fail "README.txt is not README.md"

[ $failed = 0 ] && echo "package-check: $zip holds both programs and README.txt"
exit $failed
