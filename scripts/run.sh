#!/usr/bin/env bash
# Installs what is missing, builds dirtally.exe and starts it under Wine on
# the current X display. The program starts in the directory this script is
# called from, so its folder list opens there.
set -euo pipefail
start_dir=$PWD
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac

if [ -z "${DISPLAY:-}" ]; then
    echo "run: no X display (DISPLAY is empty); run this from a desktop session, or under Xvfb: xvfb-run -a ./scripts/run.sh" >&2
    exit 2
fi
./scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target dirtally -j"$(nproc)"
echo "run: starting $build/app/dirtally.exe in $start_dir"
cd "$start_dir"
# A prefix of its own: the test run's prefix maps test drives and forces UTC,
# neither of which belongs in front of a user.
export WINEPREFIX="$build/wineprefix-run" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
exec wine "$build/app/dirtally.exe"
