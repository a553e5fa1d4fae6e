#!/usr/bin/env bash
# bench/run.sh: the speed benchmark of the listing run, the console program
# and the folder list. Builds the benchmark programs in build-bench,
# generates the trees once per seed in a temporary folder outside the
# repository, runs interleaved rounds under Wine (each piece of work between
# two floor runs over the same tree) and writes every sample, with the
# counts it must match, to a measurements file in the trees' folder;
# bench/summarise.py then works out the table from that file (and can do so
# again later, from the file alone). The floor of a tree is the fastest of
# three ways of reading all of it (bench/floor.cpp) that saw the whole tree.
# Settings (environment): BENCH_ROUNDS (9 measured rounds after one warm-up),
# BENCH_SEED, BENCH_DIR (the trees' folder, default $TMPDIR or /tmp, then
# dirtally-bench), BENCH_BUILD_DIR (build-bench). The measurements go to
# <trees' folder>/measurements-<date>-<time>.txt, this run's listings to
# <build>/bench-out. Runs that share the trees' folder take turns, so that
# neither measures the other.
# (The trees' counts, wide_folders and the like, are declared in a loop.)
# shellcheck disable=SC2154
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build=${BENCH_BUILD_DIR:-build-bench}
case "$build" in /*) ;; *) build=$repo/$build ;; esac
rounds=${BENCH_ROUNDS:-9}
seed=${BENCH_SEED:-20261206}
data=${BENCH_DIR:-${TMPDIR:-/tmp}/dirtally-bench}

# With no locale at all, Wine reads Linux names through a 7-bit table and the
# intl tree's names arrive mangled; C.UTF-8 is present on every Debian (the
# build folder's wine-run.sh pins it for the programs as well).
if [ -z "${LANG:-}${LC_ALL:-}${LC_CTYPE:-}" ]; then
    export LANG=C.UTF-8
fi

# The cross tools and Wine, as for the tests, the host's C++ compiler for the
# tree generator and Python for the table all come from the one install
# script, never from the benchmark: a tool that is missing stops the run
# before it measures.
echo "bench: checking the build tools"
for tool in i686-w64-mingw32-g++-posix g++ /usr/bin/python3 cmake wine wineserver xvfb-run flock; do
    if ! command -v "$tool" >/dev/null; then
        echo "bench: $tool is missing; scripts/install-deps.sh installs it (run it as root)" >&2
        exit 1
    fi
done

# The folder list needs a window station with a display.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$repo/bench/run.sh" "$@"
fi

# One run at a time per trees' folder: two at once would share the CPUs
# and the trees (building, too, would disturb the other's figures).
mkdir -p "$data"
exec 9> "$data/lock"
if ! flock -n 9; then
    echo "bench: waiting for another benchmark run on $data"
    flock 9
fi
samples=$data/measurements-$(date +%Y%m%d-%H%M%S).txt

echo "bench: building in $build"
toolchain=()
[ -f "$build/CMakeCache.txt" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake)
cmake -S "$repo" -B "$build" "${toolchain[@]}" \
      -DCMAKE_BUILD_TYPE=Release -DDIRTALLY_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_floor bench_floor_window bench_work -j"$(nproc)" >/dev/null
# The console program is timed when the build has it.
cli=
if grep -qw dirtally_cli <<< "$(cmake --build "$build" --target help)"; then
    if cmake --build "$build" --target dirtally_cli -j"$(nproc)" >/dev/null; then
        cli=$build/cli/dirtally-cli.exe
    else
        echo "bench: the console program does not build; its row is left out" >&2
    fi
fi

# Trees: regenerated only when the generator or the seed has changed.
stamp="$(md5sum < bench/gentree.cpp | cut -d' ' -f1) $seed"
if [ "$(cat "$data/stamp" 2>/dev/null)" != "$stamp" ]; then
    echo "bench: generating the trees in $data/trees (seed $seed)"
    g++ -O2 -std=c++17 -o "$build/gentree" bench/gentree.cpp
    rm -rf "$data/trees" "$data/stamp"
    mkdir -p "$data/trees"
    "$build/gentree" "$data/trees" "$seed"
    echo "$stamp" > "$data/stamp"
else
    echo "bench: trees in $data/trees are up to date (seed $seed)"
fi
# This run's own folder, drive U:: the listings, an empty folder, the times.
out=$build/bench-out
rm -rf "$out"
mkdir -p "$out/empty"

# What each tree holds: folders (with the top one), files, "*.txt" files.
manifest() { awk -v tree="$1" -v field="$2" '$1 == tree { print $field }' "$data/trees/manifest"; }
for tree in wide flat many deep intl; do
    declare "${tree}_folders=$(manifest "$tree" 2)" "${tree}_files=$(manifest "$tree" 3)"
done
wide_txt=$(manifest wide 4)
# A listing has 5 lines per folder block and one per entry; every folder
# but the top one is an entry of its parent.
lines_of_tree() { echo $((5 * $1 + $1 - 1 + $2)); }  # folders, files
lines_wide_all=$(lines_of_tree "$wide_folders" "$wide_files")
lines_wide_txt=$(lines_of_tree "$wide_folders" "$wide_txt")
# The folder list: the path rows "T:" and "many", then one row per subfolder.
rows_many=$((2 + many_folders - 1))

# Wine: the build folder's prefix, drive T: for the trees and U: for this
# run's own files, one live server.
export WINEPREFIX=$build/wineprefix
# (Wine's server and services outlive the programs: they must not hold the lock.)
[ -f "$WINEPREFIX/system.reg" ] || "$build/wine-setup.sh" >/dev/null 9>&-
ln -sfn "$data/trees" "$WINEPREFIX/dosdevices/t:"
ln -sfn "$out" "$WINEPREFIX/dosdevices/u:"
"$build/wine-setup.sh" >/dev/null 9>&-
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

# Runs one Windows program; its one output line goes to $result, and the
# wall time of the whole run, Wine's start included, to $outside. Fails
# (with the program's messages on standard error) when the program does.
result=
outside=
measure() {
    local before after
    before=$(date +%s.%N)
    if ! timeout 900 "$build/wine-run.sh" "$@" > "$out/last.out" 2> "$out/last.err" 9>&-; then
        echo "bench: failed: $*" >&2
        cat "$out/last.err" >&2
        return 1
    fi
    after=$(date +%s.%N)
    outside=$(awk -v a="$before" -v b="$after" 'BEGIN { printf "%.6f", b - a }')
    result=$(tr -d '\r' < "$out/last.out")
}

# Lines of a listing file (each ends with CR LF).
lines_of() { wc -l < "$out/$1"; }

# Appends one sample of this round to the measurements file, in the columns
# its header names; whether the counts match is for bench/summarise.py.
record() {  # tree, work, wall, cpu, peak, got, needed, check
    echo "$round $*" >> "$samples"
}

floor=$build/bench/bench_floor.exe
floor_window=$build/bench/bench_floor_window.exe
work=$build/bench/bench_work.exe
methods=(ansi basic handle)

# The measurements file opens with the run's settings and the columns'
# names (bench/summarise.py says what each column holds).
{
    echo "# rounds: $rounds"
    echo "# seed: $seed"
    echo "# machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(wine --version)"
    echo "# console program: $([ -n "$cli" ] && echo built || echo not built)"
    echo "round tree work wall cpu peak got needed check"
} > "$samples"

# One floor run over a tree: each way of reading it, in an order that turns
# from round to round, with the folders and files it saw against those of
# the tree as "<folders>/<files>" (ansi cannot reach some names and depths).
floor_run() {  # tree, walk|once, folders, files, [the floor program, when not bench_floor]
    local i method wall cpu peak folders files
    for ((i = 0; i < 3; i++)); do
        method=${methods[(i + round) % 3]}
        measure "${5:-$floor}" "$method" "$2" "T:\\$1" || exit 1
        read -r wall cpu peak folders files <<< "$result"
        record "$1" "floor:$method" "$wall" "$cpu" "$peak" "$folders/$files" "$3/$4" ok
    done
}

# One listing with every option on by bench_work, with its line count; a
# failed run is recorded as "failed" and the rounds go on.
list_run() {  # tree, name, start drive, filter, lines needed, extra arguments of bench_work list
    local tree=$1 name=$2 drive=$3 filter=$4 needed=$5 check=ok wall cpu peak
    shift 5
    if measure "$work" list "$@" "$drive\\$tree" "$filter" "U:\\$tree-$name.txt"; then
        read -r wall cpu peak <<< "$result"
        # Written through a handle, the listing must be the one written by path.
        if [ "$name" = handle ] && ! cmp -s "$out/$tree-all.txt" "$out/$tree-handle.txt"; then
            echo "bench: round $round: the listing of $tree through a handle differs from the one by path" >&2
            check=differs
        fi
        record "$tree" "$name" "$wall" "$cpu" "$peak" "$(lines_of "$tree-$name.txt")" "$needed" "$check"
    else
        record "$tree" "$name" - - - - "$needed" failed
    fi
}

# One fill of the folder list, with its row count.
fill_run() {  # tree, rows, drive (T: unless given)
    local wall cpu peak rows
    measure "$work" fill "${3:-T:}\\$1" || exit 1
    read -r wall cpu peak rows <<< "$result"
    record "$1" fill "$wall" "$cpu" "$peak" "$rows" "$2" ok
}

# bench_work's listing of wide timed from outside (Wine's start included),
# recorded as "listwall" with no CPU time, peak or count.
listwall_run() {
    measure "$work" list 'T:\wide' '*.*' 'U:\wide-listwall.txt' || exit 1
    record wide listwall "$outside" - - - - ok
}

# The console program between two of bench_work's listings, timed alike and
# recorded as "cliwall"; its file must be byte-identical to bench_work's.
cli_runs() {
    local check=ok
    listwall_run
    if measure "$cli" -s -q -o 'U:\wide-cli.txt' 'T:\wide'; then
        if ! cmp -s "$out/wide-listwall.txt" "$out/wide-cli.txt"; then
            echo "bench: round $round: the console program's listing of wide differs from RunListing's" >&2
            check=differs
        fi
        record wide cliwall "$outside" - - - - "$check"
    else
        record wide cliwall - - - - - failed
    fi
    listwall_run
}

# Each piece of work runs between two floor runs of its tree, so that its
# ratio compares it with the floor measured just before and just after; in
# the same way each of the console program's extras runs between two plain
# listings, and the console program between two runs of bench_work.
echo "bench: 1 warm-up round and $rounds measured rounds"
for ((round = 0; round <= rounds; round++)); do
    floor_run wide walk "$wide_folders" "$wide_files"
    list_run wide all T: '*.*' "$lines_wide_all"
    floor_run wide walk "$wide_folders" "$wide_files"
    list_run wide txt T: '*.txt' "$lines_wide_txt"
    floor_run wide walk "$wide_folders" "$wide_files"
    list_run wide plain T: '*.*' "$lines_wide_all"
    list_run wide utf8 T: '*.*' "$lines_wide_all" --utf8
    list_run wide plain T: '*.*' "$lines_wide_all"
    # Totals add at least one line per folder block; their form is the engine's.
    list_run wide totals T: '*.*' "$((lines_wide_all + wide_folders))+" --totals
    list_run wide plain T: '*.*' "$lines_wide_all"
    list_run wide handle T: '*.*' "$lines_wide_all" --handle
    list_run wide plain T: '*.*' "$lines_wide_all"
    [ -n "$cli" ] && cli_runs
    # The same program listing an empty folder: its memory at start-up.
    list_run empty all U: '*.*' 5
    for tree in flat deep intl; do
        folder_count=${tree}_folders file_count=${tree}_files
        floor_run "$tree" walk "${!folder_count}" "${!file_count}"
        list_run "$tree" all T: '*.*' "$(lines_of_tree "${!folder_count}" "${!file_count}")"
        floor_run "$tree" walk "${!folder_count}" "${!file_count}"
    done
    # A fill needs a window: its floor reads the folder in a program that has one.
    floor_run many once "$((many_folders - 1))" 0 "$floor_window"
    fill_run many "$rows_many"
    floor_run many once "$((many_folders - 1))" 0 "$floor_window"
    # The same program filling the list for an empty folder: its memory with a window.
    fill_run empty 2 U:
    [ "$round" = 0 ] && echo "bench: warm-up done" || echo "bench: round $round of $rounds done"
done

# The table, worked out from the measurements file alone (the rule for each
# figure is in bench/summarise.py).
echo "bench: measurements in $samples (bench/summarise.py <file> prints the table again)"
echo
/usr/bin/python3 bench/summarise.py "$samples"
# The comparison's own figures, under the lock this run holds.
if [ -n "$cli" ]; then BENCH_LOCK_HELD=1 bench/compare.sh "$build" "$data"; fi
