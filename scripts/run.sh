#!/usr/bin/env bash
# Installs what is missing, builds Dirtally and runs it under Wine.
#   With an X display and no arguments: starts the dialog, its folder list
#   opening in the directory this script is called from.
#   With arguments, or without a display: runs the console program with those
#   arguments. FOLDER and -o/--output may be Linux paths (relative ones start
#   from the caller's directory); without FOLDER the caller's directory is
#   listed; without -o the listing goes to standard output, which then
#   carries nothing else. The script exits with the program's exit code.
set -euo pipefail
start_dir=$PWD
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac

if [ $# -eq 0 ] && [ -n "${DISPLAY:-}" ]; then mode=dialog; else mode=console; fi
# In console mode every step's own output goes to standard error, so that
# standard output holds the listing alone.
if [ $mode = console ]; then exec 3>&1 1>&2; fi

if [ $mode = dialog ]; then target=dirtally exe=$build/app/dirtally.exe
else target=dirtally_cli exe=$build/cli/dirtally-cli.exe; fi
# Installing and building say what they do and take over a second even when
# they find nothing to do: they run only when a tool is missing or a file the
# programs are made from has changed since the last build through this script
# (a stamp file; the program's own time would not do, as a change that does not
# concern it leaves it as it was). Otherwise the script says nothing and the
# program starts at once.
stamp=$build/run-built-$target
up_to_date() {
    [ -f "$exe" ] && [ -f "$stamp" ] &&
        command -v wine >/dev/null && command -v wineserver >/dev/null && command -v winepath >/dev/null &&
        [ -z "$(find CMakeLists.txt cmake listing browser res app cli -newer "$stamp" -print -quit)" ]
}
if ! up_to_date; then
    ./scripts/install-deps.sh
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    cmake --build "$build" --target "$target" -j"$(nproc)"
    touch "$stamp"
fi

# A prefix of its own: the test run's prefix maps test drives and forces UTC,
# neither of which belongs in front of a user.
export WINEPREFIX="$build/wineprefix-run" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
# Wine reads Linux names through the character set of the locale in force:
# the first of LC_ALL, LC_CTYPE and LANG that is set. Unless that is UTF-8
# (none at all, C, POSIX, an 8-bit one), names outside ASCII come out mangled
# and the folders they name look empty; C.UTF-8, on every Debian, then takes
# over. A UTF-8 locale the user chose is kept.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
*[Uu][Tt][Ff]-8* | *[Uu][Tt][Ff]8*) ;;
*) export LC_ALL=C.UTF-8 ;;
esac
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "run: preparing the Wine prefix $WINEPREFIX (once, about 20 seconds)"
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
fi
# Wine's server and services keep the output handles of the program that
# starts them: let that be one whose output goes nowhere, or a reader of the
# listing through a pipe would wait for them.
wine cmd.exe /c exit </dev/null >/dev/null 2>&1 || true

if [ $mode = dialog ]; then
    cd "$start_dir"
    exec wine "$exe"
fi

# The Windows form of a path given on the Linux side; a path already in
# Windows form (C:\x, \\server\share) is kept.
to_windows() {
    case "$1" in
    [A-Za-z]:* | \\\\*) printf '%s' "$1"; return ;;
    # Standard output and error by name, which the program itself takes.
    - | /dev/stdout | /dev/stderr | /dev/fd/* | /proc/self/fd/*) printf '%s' "$1"; return ;;
    /*) local path=$1 ;;
    *) local path=$start_dir/$1 ;;
    esac
    local converted
    converted=$(winepath -w "$path" 2>/dev/null </dev/null) || true
    if [ -z "$converted" ]; then converted="Z:${path//\//\\}"; fi
    printf '%s' "$converted"
}

args=()
folder_given=no
options_end=no
while [ $# -gt 0 ]; do
    arg=$1
    shift
    if [ $options_end = yes ]; then
        args+=("$(to_windows "$arg")")
        folder_given=yes
        continue
    fi
    case "$arg" in
    --) options_end=yes; args+=("$arg") ;;
    -o | --output | -[sq]o | -[sq][sq]o)
        args+=("$arg")
        if [ $# -gt 0 ]; then args+=("$(to_windows "$1")"); shift; fi ;;
    --output=*) args+=("--output=$(to_windows "${arg#--output=}")") ;;
    # A comparison's other side defaults to the catalogue's own start folder.
    --compare)
        args+=("$arg")
        if [ $# -gt 0 ]; then args+=("$(to_windows "$1")"); shift; fi
        folder_given=yes ;;
    --compare=*) args+=("--compare=$(to_windows "${arg#--compare=}")"); folder_given=yes ;;
    -o?*) args+=("-o$(to_windows "${arg#-o}")") ;;
    --filter | --sort | --exclude | --encoding | --format | --hash | --max-depth | --date-format | --threads)
        args+=("$arg")
        if [ $# -gt 0 ]; then args+=("$1"); shift; fi ;;
    -*) args+=("$arg") ;;
    *) args+=("$(to_windows "$arg")"); folder_given=yes ;;
    esac
done
# The caller's directory goes first, so that an option missing its value
# at the end is still reported as such.
if [ $folder_given = no ]; then args=("$(to_windows "$start_dir")" "${args[@]}"); fi

# Stopping. Wine turns a SIGINT into the console's Ctrl+C event, on which the
# program removes its incomplete output and exits 130; a SIGTERM ends the Wine
# process at once and a SIGHUP kills it, either leaving a partial file that
# looks finished. So the program runs in a session of its own, out of reach
# of signals sent to the script's whole process group (as timeout sends
# them), and the script hands INT, TERM and HUP on to it as a SIGINT, then
# waits for it: the script's exit code is the program's, 130 when stopped.
cd "$start_dir"
setsid wine "$exe" "${args[@]}" <&0 1>&3 3>&- &
program=$!
trap 'kill -INT $program 2>/dev/null || true' INT TERM HUP
# A signal cuts a wait short; the program is waited for until it has ended.
while :; do
    status=0 && wait $program || status=$?
    kill -0 $program 2>/dev/null || break
done
exit $status
