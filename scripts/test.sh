#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine
# and Xvfb. Ends with ctest's summary; exits non-zero when a test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}

# With no locale at all (a bare container, env -i), Wine reads Linux names
# through a 7-bit table; C.UTF-8 is present on every Debian. The test
# programs themselves get it pinned by the build folder's wine-run.sh.
if [ -z "${LANG:-}${LC_ALL:-}${LC_CTYPE:-}" ]; then
    export LANG=C.UTF-8
fi

./scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)"
# The release zip is built and checked before the tests, so that the run
# ends on ctest's summary.
BUILD_DIR="$build" ./scripts/package-check.sh

ctest_args=(--test-dir "$build" --output-on-failure --timeout 900 "$@")
if [ -n "${DISPLAY:-}" ]; then
    ctest "${ctest_args[@]}"
else
    xvfb-run -a -s "-screen 0 1024x768x24" ctest "${ctest_args[@]}"
fi
