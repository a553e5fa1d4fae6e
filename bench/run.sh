#!/usr/bin/env bash
# bench/run.sh: the speed benchmark of the listing run, the console program
# and the folder list, and of fingerprinting.
#
#   bench/run.sh [trees] [hashes]     (neither: trees)
#
# trees: builds the benchmark programs in build-bench,
# generates the trees once per seed in a temporary folder outside the
# repository, runs interleaved rounds under Wine (each piece of work between
# two floor runs over the same tree) and writes every sample, with the
# counts it must match, to a measurements file in the trees' folder;
# bench/summarise.py then works out the table from that file (and can do so
# again later, from the file alone). The floor of a tree is the fastest of
# three ways of reading all of it (bench/floor.cpp) that saw the whole tree.
# hashes: makes a set of large files once (BENCH_HASH_MB MiB each, 512 by
# default, fewer when memory or disk is short), reads it into the page
# cache, and times the console program's listing of it with SHA-256 against
# the fingerprinting floor (bench/hash_floor.cpp) and Linux sha256sum, all
# three as whole processes from outside (bench/timed.py), over
# BENCH_HASH_ROUNDS (5) measured rounds after one warm-up.
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
hash_rounds=${BENCH_HASH_ROUNDS:-5}
hash_mb=${BENCH_HASH_MB:-512}
run_trees=false
run_hashes=false
[ $# -eq 0 ] && run_trees=true
for part in "$@"; do
    case "$part" in
    trees) run_trees=true ;;
    hashes) run_hashes=true ;;
    *) echo "usage: bench/run.sh [trees] [hashes]" >&2; exit 2 ;;
    esac
done

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
for tool in i686-w64-mingw32-g++-posix g++ /usr/bin/python3 cmake wine wineserver xvfb-run flock sha256sum; do
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
cmake --build "$build" --target bench_floor bench_floor_window bench_work bench_hash_floor -j"$(nproc)" >/dev/null
# The console program is timed when the build has it.
cli=
if grep -qw dirtally_cli <<< "$(cmake --build "$build" --target help)"; then
    if cmake --build "$build" --target dirtally_cli -j"$(nproc)" >/dev/null; then
        cli=$build/cli/dirtally-cli.exe
    else
        echo "bench: the console program does not build; its row is left out" >&2
    fi
fi
if $run_hashes && [ -z "$cli" ]; then
    echo "bench: the fingerprinting rows need the console program, which does not build" >&2
    exit 1
fi

# The fingerprinting set: 6 large files and 100 small ones (up to 64 KiB)
# of random bytes, made again only when their size changes. The large
# files' size is halved (down to 64 MiB) until the set and 1 GiB to spare
# fit both in the memory available for the page cache and on the disk.
hash_big=6
hash_small=100
hashset=$data/hashset
if $run_hashes; then
    available_mb=$(awk '/^MemAvailable:/ { print int($2 / 1024) }' /proc/meminfo)
    disk_mb=$(df -Pm "$data" | awk 'NR == 2 { print $4 }')
    [ -d "$hashset" ] && disk_mb=$((disk_mb + $(du -sm "$hashset" | cut -f1)))
    while [ "$hash_mb" -gt 64 ] && { [ $((hash_big * hash_mb + 1024 + 7)) -gt "$available_mb" ] ||
                                     [ $((hash_big * hash_mb + 1024 + 7)) -gt "$disk_mb" ]; }; do
        hash_mb=$((hash_mb / 2))
    done
    [ "$hash_mb" = "${BENCH_HASH_MB:-512}" ] ||
        echo "bench: $available_mb MB of memory and $disk_mb MB of disk available: large files of $hash_mb MiB"
    if [ "$(cat "$data/hashset.stamp" 2>/dev/null)" != "$hash_big $hash_mb $hash_small" ]; then
        echo "bench: making the fingerprinting set in $hashset ($hash_big files of $hash_mb MiB)"
        rm -rf "$hashset" "$data/hashset.stamp"
        mkdir -p "$hashset"
        for ((i = 1; i <= hash_big; i++)); do
            head -c "$((hash_mb * 1024 * 1024))" /dev/urandom > "$hashset/big-$i.bin"
        done
        for ((i = 1; i <= hash_small; i++)); do
            head -c "$(((i * 7919) % 65536))" /dev/urandom > "$hashset/small-$(printf %03d "$i").bin"
        done
        echo "$hash_big $hash_mb $hash_small" > "$data/hashset.stamp"
    fi
    hash_files=$(find "$hashset" -type f | wc -l)
    hash_bytes=$(find "$hashset" -type f -printf '%s\n' | awk '{ sum += $1 } END { printf "%.0f", sum }')
    # The digests every run must give; computing them brings the set into the page cache.
    echo "bench: reading the fingerprinting set ($((hash_bytes / 1048576)) MiB) into the page cache"
    sha256sum -- "$hashset"/* | sed 's|  .*/|  |' | sort -k2 > "$data/hashset.sums"
fi

if $run_trees; then
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
fi

# This run's own folder, drive U:: the listings, an empty folder, the times.
out=$build/bench-out
rm -rf "$out"
mkdir -p "$out/empty"

if $run_trees; then
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
fi

# Wine: the build folder's prefix, drive T: for the trees, U: for this
# run's own files and V: for the fingerprinting set, one live server.
. "$repo/bench/drives.sh"
bench_drives "$build" t="$data/trees" u="$out" v="$hashset"
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
hash_floor=$build/bench/bench_hash_floor.exe
methods=(ansi basic handle)

# The measurements file opens with the run's settings and the columns'
# names (bench/summarise.py says what each column holds).
{
    if $run_trees; then echo "# rounds: $rounds"; fi
    if $run_hashes; then echo "# hash rounds: $hash_rounds"; fi
    echo "# seed: $seed"
    echo "# machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(wine --version)"
    echo "# console program: $([ -n "$cli" ] && echo built || echo not built)"
    if $run_hashes; then
        echo "# hash set: $hash_files files, $hash_bytes bytes ($hash_big of $hash_mb MiB, $hash_small small)"
    fi
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

# Runs one process, Windows or Linux, timed from outside by bench/timed.py,
# its standard output to `output`; its "<wall> <cpu> <peak>" goes to
# $result. Fails (with its messages on standard error) when the process does.
measure_process() {  # output, command...
    local output=$1
    shift
    if ! timeout 900 "$repo/bench/timed.py" "$output" "$@" > "$out/last.out" 2> "$out/last.err" 9>&-; then
        echo "bench: failed: $*" >&2
        cat "$out/last.err" >&2
        return 1
    fi
    result=$(cat "$out/last.out")
}

# "<digest>  <name>" lines of a file, sorted by name, for comparing with
# the set's digests.
sorted_digests() { sed 's|  .*/|  |' "$1" | sort -k2; }

# One run of the fingerprinting floor over the set, with the files and
# bytes it hashed; its digests must be the set's.
hash_floor_run() {
    local wall cpu peak files bytes check=ok
    measure_process "$out/hash-floor.out" "$build/wine-run.sh" "$hash_floor" sha256 "V:\\" 'U:\hash-floor.txt' || exit 1
    read -r wall cpu peak <<< "$result"
    read -r _ _ _ files bytes < <(tr -d '\r' < "$out/hash-floor.out")
    if ! cmp -s <(sorted_digests "$out/hash-floor.txt") "$data/hashset.sums"; then
        echo "bench: round $round: the fingerprinting floor's digests differ from sha256sum's" >&2
        check=differs
    fi
    record hash hashfloor "$wall" "$cpu" "$peak" "$files/$bytes" "$hash_files/$hash_bytes" "$check"
}

# The console program's listing of the set with SHA-256, with the digests
# it wrote; they must be the set's.
hash_cli_run() {
    local wall cpu peak check=ok
    if measure_process "$out/hash-cli.out" "$build/wine-run.sh" "$cli" --hash sha256 -q -o 'U:\hash-cli.txt' "V:\\"; then
        read -r wall cpu peak <<< "$result"
        # An entry line ends with the digest; its first field is the path.
        tr -d '\r' < "$out/hash-cli.txt" |
            awk 'length($NF) == 64 && $NF ~ /^[0-9a-f]+$/ { name = $1; sub(/.*\\/, "", name); print $NF "  " name }' |
            sort -k2 > "$out/hash-cli.sums"
        if ! cmp -s "$out/hash-cli.sums" "$data/hashset.sums"; then
            echo "bench: round $round: the console program's digests differ from sha256sum's" >&2
            check=differs
        fi
        record hash hashcli "$wall" "$cpu" "$peak" "$(wc -l < "$out/hash-cli.sums")" "$hash_files" "$check"
    else
        record hash hashcli - - - - "$hash_files" failed
    fi
}

# Linux sha256sum over the same files, for comparison.
sha256sum_run() {
    local wall cpu peak check=ok
    measure_process "$out/hash-sha256sum.txt" sha256sum -- "$hashset"/* || exit 1
    read -r wall cpu peak <<< "$result"
    cmp -s <(sorted_digests "$out/hash-sha256sum.txt") "$data/hashset.sums" || check=differs
    record hash sha256sum "$wall" "$cpu" "$peak" "$(wc -l < "$out/hash-sha256sum.txt")" "$hash_files" "$check"
}

# Each piece of work runs between two floor runs of its tree, so that its
# ratio compares it with the floor measured just before and just after; in
# the same way each of the console program's extras runs between two plain
# listings, and the console program between two runs of bench_work.
$run_trees && echo "bench: 1 warm-up round and $rounds measured rounds over the trees"
$run_trees || rounds=-1
for ((round = 0; round <= rounds; round++)); do
    floor_run wide walk "$wide_folders" "$wide_files"
    list_run wide all T: '*.*' "$lines_wide_all"
    floor_run wide walk "$wide_folders" "$wide_files"
    # The same listing with every folder read on the run's own thread.
    list_run wide one T: '*.*' "$lines_wide_all" --one-thread
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
    # The catalogues for other programs: a header and a row per folder and
    # file; JSON Lines a description first and the totals last.
    list_run wide csv T: '*.*' "$((1 + wide_folders + wide_files))" --csv
    list_run wide plain T: '*.*' "$lines_wide_all"
    list_run wide jsonl T: '*.*' "$((2 + wide_folders + wide_files))" --jsonl
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

# Fingerprinting: the console program and sha256sum, each between two runs
# of the floor.
$run_hashes && echo "bench: 1 warm-up round and $hash_rounds measured rounds of fingerprinting"
$run_hashes || hash_rounds=-1
for ((round = 0; round <= hash_rounds; round++)); do
    hash_floor_run
    hash_cli_run
    hash_floor_run
    sha256sum_run
    hash_floor_run
    [ "$round" = 0 ] && echo "bench: warm-up done" || echo "bench: fingerprinting round $round of $hash_rounds done"
done

# The table, worked out from the measurements file alone (the rule for each
# figure is in bench/summarise.py).
echo "bench: measurements in $samples (bench/summarise.py <file> prints the table again)"
echo
/usr/bin/python3 bench/summarise.py "$samples"

# The web-page catalogue's sizes, writing cost and browser times (its own table).
BENCH_BUILD_DIR="$build" BENCH_DIR="$data" "$repo/bench/html.sh" 9>&-
# The comparison's own figures, under the lock this run holds.
if [ -n "$cli" ]; then BENCH_LOCK_HELD=1 bench/compare.sh "$build" "$data"; fi
