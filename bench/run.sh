#!/usr/bin/env bash
# bench/run.sh: the speed benchmark of the listing run and the folder list.
# Builds the two benchmark programs in build-bench, generates the trees once
# per seed in a temporary folder outside the repository, runs interleaved
# rounds under Wine (each piece of work between two floor runs over the same
# tree), checks every count against the tree and prints the table.
# Settings (environment): BENCH_ROUNDS (9 measured rounds after one warm-up),
# BENCH_SEED, BENCH_DIR (the trees' folder, default $TMPDIR or /tmp, then
# dirtally-bench), BENCH_BUILD_DIR (build-bench). The listings and the raw
# times stay in <build>/bench-out. Runs that share the trees' folder take
# turns, so that neither measures the other.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build=$repo/${BENCH_BUILD_DIR:-build-bench}
rounds=${BENCH_ROUNDS:-9}
seed=${BENCH_SEED:-20261206}
data=${BENCH_DIR:-${TMPDIR:-/tmp}/dirtally-bench}

# The folder list needs a window station with a display.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$repo/bench/run.sh" "$@"
fi

# The cross tools and Wine, as for the tests; the tree generator is a host
# program and needs the host's C++ compiler as well.
echo "bench: checking the build tools"
./scripts/install-deps.sh >/dev/null
if ! command -v g++ >/dev/null; then
    echo "bench: installing the host C++ compiler (g++)"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends g++ >/dev/null
fi

# One run at a time per trees' folder: two at once would share the CPUs
# and the trees (building, too, would disturb the other's figures).
mkdir -p "$data"
exec 9> "$data/lock"
if ! flock -n 9; then
    echo "bench: waiting for another benchmark run on $data"
    flock 9
fi

echo "bench: building in $build"
toolchain=()
[ -f "$build/CMakeCache.txt" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake)
cmake -S "$repo" -B "$build" "${toolchain[@]}" \
      -DCMAKE_BUILD_TYPE=Release -DDIRTALLY_TESTS=OFF >/dev/null
cmake --build "$build" --target bench_floor bench_work -j"$(nproc)" >/dev/null

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
wide_folders=$(manifest wide 2); wide_files=$(manifest wide 3); wide_txt=$(manifest wide 4)
flat_files=$(manifest flat 3); many_folders=$(manifest many 2)
# A listing has 5 lines per folder block and one per entry; every folder
# but the top one is an entry of its parent.
lines_wide_all=$((5 * wide_folders + wide_folders - 1 + wide_files))
lines_wide_txt=$((5 * wide_folders + wide_folders - 1 + wide_txt))
lines_flat_all=$((5 + flat_files))
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

# Runs one Windows program; its one output line goes to $result.
result=
measure() {
    if ! timeout 900 "$build/wine-run.sh" "$@" > "$out/last.out" 2> "$out/last.err" 9>&-; then
        echo "bench: failed: $*" >&2
        cat "$out/last.err" >&2
        exit 1
    fi
    result=$(tr -d '\r' < "$out/last.out")
}

# Stops the run when a count differs from what the tree holds.
check() {
    if [ "$2" != "$3" ]; then
        echo "bench: $1: got $2, the tree needs $3; no figure is reported" >&2
        exit 1
    fi
}

# Lines of a listing file (each ends with CR LF).
lines_of() { wc -l < "$out/$1"; }

floor=$build/bench/bench_floor.exe
work=$build/bench/bench_work.exe
times=$out/times
: > "$times"

# One floor run over a tree, its counts checked, recorded as
# "<round> <tree> floor <wallSeconds> <cpuSeconds> <peakKiB>".
floor_run() {  # tree, walk|once, folders, files
    measure "$floor" "$2" "T:\\$1"
    read -r wall cpu peak folders files <<< "$result"
    check "floor $2 of $1 (folders)" "$folders" "$3"
    check "floor $2 of $1 (files)" "$files" "$4"
    echo "$round $1 floor $wall $cpu $peak" >> "$times"
}

# One listing with every option on, its line count checked, recorded as
# "<round> <tree> <name> <wallSeconds> <cpuSeconds> <peakKiB>".
list_run() {  # tree, filter, name, lines, drive
    measure "$work" list "$5\\$1" "$2" "U:\\$1-$3.txt"
    check "listing of $1, $2 (lines)" "$(lines_of "$1-$3.txt")" "$4"
    echo "$round $1 $3 $result" >> "$times"
}

# One fill of the folder list, its row count checked, recorded like a listing.
fill_run() {  # tree, rows
    measure "$work" fill "T:\\$1"
    read -r wall cpu peak rows <<< "$result"
    check "folder list of $1 (rows)" "$rows" "$2"
    echo "$round $1 fill $wall $cpu $peak" >> "$times"
}

# Each piece of work runs between two floor runs of its tree, so that its
# ratio compares it with the floor measured just before and just after.
echo "bench: 1 warm-up round and $rounds measured rounds"
for ((round = 0; round <= rounds; round++)); do
    floor_run wide walk "$wide_folders" "$wide_files"
    list_run wide '*.*' all "$lines_wide_all" T:
    floor_run wide walk "$wide_folders" "$wide_files"
    list_run wide '*.txt' txt "$lines_wide_txt" T:
    floor_run wide walk "$wide_folders" "$wide_files"
    # The same program listing an empty folder: its memory at start-up.
    list_run empty '*.*' all 5 U:
    floor_run flat walk 1 "$flat_files"
    list_run flat '*.*' all "$lines_flat_all" T:
    floor_run flat walk 1 "$flat_files"
    floor_run many once "$((many_folders - 1))" 0
    fill_run many "$rows_many"
    floor_run many once "$((many_folders - 1))" 0
    [ "$round" = 0 ] && echo "bench: warm-up done" || echo "bench: round $round of $rounds done"
done

# The table: medians and ranges of the measured wall times; each work's
# ratio is the median over the rounds of the work's time divided by the mean
# of the floor runs on either side of it, for the wall time (the target) and
# for the process's CPU time (a cross-check against other load).
echo
echo "Dirtally benchmark: $rounds rounds after a warm-up, seed $seed; seconds as median (min..max)"
echo "machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(wine --version)"
awk '
function median(list, n,    sorted, i, j, swap) {
    for (i = 1; i <= n; i++) sorted[i] = list[i]
    for (i = 2; i <= n; i++)
        for (j = i; j > 1 && sorted[j - 1] > sorted[j]; j--) {
            swap = sorted[j]; sorted[j] = sorted[j - 1]; sorted[j - 1] = swap
        }
    return n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
}
function add(key, value) { values[key, ++count[key]] = value }
function span(key,    i, lo, hi, list) {
    for (i = 1; i <= count[key]; i++) {
        list[i] = values[key, i]
        if (i == 1 || list[i] < lo) lo = list[i]
        if (i == 1 || list[i] > hi) hi = list[i]
    }
    return sprintf("%.3f (%.3f..%.3f)", median(list, count[key]), lo, hi)
}
function medianOf(key,    i, list) {
    for (i = 1; i <= count[key]; i++) list[i] = values[key, i]
    return median(list, count[key])
}
function row(tree, what, name, target,    r) {
    if (!count[tree " " name]) {
        printf "%-5s %-22s %-22s %-22s %-6s %-6s %-6s %s\n", tree, what, span(tree " floor"), "not built", "-", "-",
               "<=" target, "-"
        return
    }
    r = medianOf("ratio " tree " " name)
    printf "%-5s %-22s %-22s %-22s %-6.2f %-6.2f %-6s %s\n", tree, what, span(tree " floor"), span(tree " " name), r,
           medianOf("cpu ratio " tree " " name), "<=" target, (r <= target ? "holds" : "MISSED")
}
$1 > 0 { add($2 " " $3, $4); if ($6 > peak[$2 " " $3]) peak[$2 " " $3] = $6 }
$1 > 0 && $3 == "floor" {
    for (i = 1; i <= waiting[$2]; i++) {
        add("ratio " $2 " " waitName[$2, i], waitWall[$2, i] / ((waitFloorWall[$2, i] + $4) / 2))
        add("cpu ratio " $2 " " waitName[$2, i], waitCpu[$2, i] / ((waitFloorCpu[$2, i] + $5) / 2))
    }
    waiting[$2] = 0
}
$1 > 0 && $3 != "floor" {
    i = ++waiting[$2]
    waitName[$2, i] = $3
    waitWall[$2, i] = $4; waitFloorWall[$2, i] = lastWall[$2]
    waitCpu[$2, i] = $5; waitFloorCpu[$2, i] = lastCpu[$2]
}
$3 == "floor" { lastWall[$2] = $4; lastCpu[$2] = $5 }
END {
    printf "%-5s %-22s %-22s %-22s %-6s %-6s %-6s %s\n", "tree", "measured work", "floor (s)", "work (s)", "ratio",
           "(cpu)", "target", "result"
    row("wide", "WriteListing \"*.*\"", "all", 1.15)
    row("wide", "WriteListing \"*.txt\"", "txt", 1.8)
    row("flat", "WriteListing \"*.*\"", "all", 1.3)
    row("many", "FillFolderList", "fill", 1.5)
    if ("wide all" in peak) {
        extra = (peak["wide all"] - peak["wide floor"]) / 1024
        printf "peak working set, wide \"*.*\": listing %.1f MB, floor %.1f MB, difference %+.1f MB (target <= +8 MB): %s\n",
               peak["wide all"] / 1024, peak["wide floor"] / 1024, extra, (extra <= 8 ? "holds" : "MISSED")
        printf "  the same program listing an empty folder: %.1f MB (its start-up: the system libraries it loads)\n",
               peak["empty all"] / 1024
    }
}' "$times"
echo "floor: the same folders read with one pass each and nothing written (for many: one pass over the"
echo "folder); ratio: the median over the rounds of work / the mean of the floor runs just before and after,"
echo "in wall time (the target) and in the process's CPU time (cpu; the CPU clock ticks in 10 ms steps)"
