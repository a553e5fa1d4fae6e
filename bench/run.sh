#!/usr/bin/env bash
# bench/run.sh: the speed benchmark of the listing run and the folder list.
# Builds the two benchmark programs in build-bench, generates the trees once
# per seed in a temporary folder outside the repository, runs interleaved
# rounds under Wine (floor, then work, on the same tree), checks every
# listing's line count against the tree and prints the table.
# Settings (environment): BENCH_ROUNDS (9 measured rounds after one warm-up),
# BENCH_SEED, BENCH_DIR (the trees' folder, default $TMPDIR or /tmp, then
# dirtally-bench), BENCH_BUILD_DIR (build-bench).
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

echo "bench: building in $build"
toolchain=()
[ -f "$build/CMakeCache.txt" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake)
cmake -S "$repo" -B "$build" "${toolchain[@]}" \
      -DCMAKE_BUILD_TYPE=Release -DDIRTALLY_TESTS=OFF >/dev/null
have_work=no
if [ -f listing/CMakeLists.txt ] && [ -f browser/CMakeLists.txt ]; then
    cmake --build "$build" --target bench_floor bench_work -j"$(nproc)" >/dev/null
    have_work=yes
else
    echo "bench: the listing engine or the folder list is not in the tree yet; floor only"
    cmake --build "$build" --target bench_floor -j"$(nproc)" >/dev/null
fi

# Trees: regenerated only when the generator or the seed has changed.
mkdir -p "$data"
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
rm -rf "$data/trees/out"
mkdir -p "$data/trees/out/empty"

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

# Wine: the build folder's prefix, drive T: for the trees, one live server.
export WINEPREFIX=$build/wineprefix
[ -f "$WINEPREFIX/system.reg" ] || "$build/wine-setup.sh" >/dev/null
ln -sfn "$data/trees" "$WINEPREFIX/dosdevices/t:"
"$build/wine-setup.sh" >/dev/null
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

# Runs one Windows program; its one output line goes to $result.
result=
measure() {
    if ! timeout 900 "$build/wine-run.sh" "$@" > "$data/last.out" 2> "$data/last.err"; then
        echo "bench: failed: $*" >&2
        cat "$data/last.err" >&2
        exit 1
    fi
    result=$(tr -d '\r' < "$data/last.out")
}

# Stops the run when a count differs from what the tree holds.
check() {
    if [ "$2" != "$3" ]; then
        echo "bench: $1: got $2, the tree needs $3; no figure is reported" >&2
        exit 1
    fi
}

# Lines of a listing file (each ends with CR LF).
lines_of() { wc -l < "$data/trees/out/$1"; }

floor=$build/bench/bench_floor.exe
work=$build/bench/bench_work.exe
times=$data/times
: > "$times"
echo "bench: 1 warm-up round and $rounds measured rounds"
for ((round = 0; round <= rounds; round++)); do
    measure "$floor" walk 'T:\wide'
    read -r seconds peak folders files <<< "$result"
    check "floor walk of wide (folders)" "$folders" "$wide_folders"
    check "floor walk of wide (files)" "$files" "$wide_files"
    echo "$round floor_wide $seconds $peak" >> "$times"
    if [ $have_work = yes ]; then
        measure "$work" list 'T:\wide' '*.*' 'T:\out\wide-all.txt'
        check "listing of wide, *.* (lines)" "$(lines_of wide-all.txt)" "$lines_wide_all"
        echo "$round list_wide_all $result" >> "$times"
        measure "$work" list 'T:\wide' '*.txt' 'T:\out\wide-txt.txt'
        check "listing of wide, *.txt (lines)" "$(lines_of wide-txt.txt)" "$lines_wide_txt"
        echo "$round list_wide_txt $result" >> "$times"
        # The same program listing an empty folder: its memory at start-up.
        measure "$work" list 'T:\out\empty' '*.*' 'T:\out\empty.txt'
        check "listing of an empty folder (lines)" "$(lines_of empty.txt)" 5
        echo "$round list_empty $result" >> "$times"
    fi

    measure "$floor" walk 'T:\flat'
    read -r seconds peak folders files <<< "$result"
    check "floor walk of flat (files)" "$files" "$flat_files"
    echo "$round floor_flat $seconds $peak" >> "$times"
    if [ $have_work = yes ]; then
        measure "$work" list 'T:\flat' '*.*' 'T:\out\flat-all.txt'
        check "listing of flat, *.* (lines)" "$(lines_of flat-all.txt)" "$lines_flat_all"
        echo "$round list_flat_all $result" >> "$times"
    fi

    measure "$floor" once 'T:\many'
    read -r seconds peak folders files <<< "$result"
    check "one pass over many (folders)" "$folders" "$((many_folders - 1))"
    echo "$round floor_many $seconds $peak" >> "$times"
    if [ $have_work = yes ]; then
        measure "$work" fill 'T:\many'
        read -r seconds peak rows <<< "$result"
        check "folder list of many (rows)" "$rows" "$rows_many"
        echo "$round fill_many $seconds $peak" >> "$times"
    fi
    [ "$round" = 0 ] && echo "bench: warm-up done" || echo "bench: round $round of $rounds done"
done

# The table: medians and ranges of the measured rounds, the median of the
# per-round ratios work / floor, and the target each ratio must meet.
echo
echo "Dirtally benchmark: $rounds rounds after a warm-up, seed $seed; seconds as median (min..max)"
echo "machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(wine --version)"
awk -v rounds="$rounds" '
function median(list, n,    sorted, i, j, t) {
    for (i = 1; i <= n; i++) sorted[i] = list[i]
    for (i = 2; i <= n; i++)
        for (j = i; j > 1 && sorted[j - 1] > sorted[j]; j--) { t = sorted[j]; sorted[j] = sorted[j - 1]; sorted[j - 1] = t }
    return n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
}
function span(kind,    i, lo, hi, list) {
    for (i = 1; i <= rounds; i++) {
        list[i] = t[kind, i]
        if (i == 1 || list[i] < lo) lo = list[i]
        if (i == 1 || list[i] > hi) hi = list[i]
    }
    return sprintf("%.3f (%.3f..%.3f)", median(list, rounds), lo, hi)
}
function row(tree, what, floorKind, workKind, target,    i, ratios, r) {
    if (!((workKind, 1) in t)) {
        printf "%-5s %-22s %-22s %-22s %-6s %-6s %s\n", tree, what, span(floorKind), "not built", "-", target, "-"
        return
    }
    for (i = 1; i <= rounds; i++) ratios[i] = t[workKind, i] / t[floorKind, i]
    r = median(ratios, rounds)
    printf "%-5s %-22s %-22s %-22s %-6.2f %-6s %s\n", tree, what, span(floorKind), span(workKind), r, "<=" target, (r <= target ? "holds" : "MISSED")
}
$1 > 0 { t[$2, $1] = $3; if ($4 > peak[$2]) peak[$2] = $4 }
END {
    printf "%-5s %-22s %-22s %-22s %-6s %-6s %s\n", "tree", "measured work", "floor", "work", "ratio", "target", "result"
    row("wide", "WriteListing \"*.*\"", "floor_wide", "list_wide_all", 1.15)
    row("wide", "WriteListing \"*.txt\"", "floor_wide", "list_wide_txt", 1.8)
    row("flat", "WriteListing \"*.*\"", "floor_flat", "list_flat_all", 1.3)
    row("many", "FillFolderList", "floor_many", "fill_many", 1.5)
    if ("list_wide_all" in peak) {
        extra = (peak["list_wide_all"] - peak["floor_wide"]) / 1024
        printf "peak working set, wide \"*.*\": listing %.1f MB, floor %.1f MB, difference %+.1f MB (target <= +8 MB): %s\n",
               peak["list_wide_all"] / 1024, peak["floor_wide"] / 1024, extra, (extra <= 8 ? "holds" : "MISSED")
        printf "  the same program listing an empty folder: %.1f MB (its start-up: the system libraries it loads)\n",
               peak["list_empty"] / 1024
    }
}' "$times"
echo "floor: the same folders read with one pass each and nothing written (for many: one pass over the"
echo "folder); ratio: the median over the rounds of work / floor, both measured in the same round"
