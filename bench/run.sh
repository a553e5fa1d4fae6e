#!/usr/bin/env bash
# bench/run.sh: the speed benchmark of the listing run, the console program
# and the folder list. Builds the benchmark programs in build-bench,
# generates the trees once per seed in a temporary folder outside the
# repository, runs interleaved rounds under Wine (each piece of work between
# two floor runs over the same tree), checks every count against the tree
# and prints the table. The floor of a tree is the fastest of three ways of
# reading all of it (bench/floor.cpp) that saw the whole tree.
# Settings (environment): BENCH_ROUNDS (9 measured rounds after one warm-up),
# BENCH_SEED, BENCH_DIR (the trees' folder, default $TMPDIR or /tmp, then
# dirtally-bench), BENCH_BUILD_DIR (build-bench). The listings and the raw
# times stay in <build>/bench-out. Runs that share the trees' folder take
# turns, so that neither measures the other.
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

# "ok" when a count is what the tree needs ("<n>+": at least n); otherwise
# says so on standard error and gives "incomplete", so that the other
# figures are still reported.
status_of() {  # what, got, needed
    if [ "$2" = "$3" ] || { [ "${3%+}" != "$3" ] && [ "$2" -ge "${3%+}" ]; }; then
        echo ok
    else
        echo "bench: $1: got $2, the tree needs $3; reported as incomplete" >&2
        echo incomplete
    fi
}

floor=$build/bench/bench_floor.exe
floor_window=$build/bench/bench_floor_window.exe
work=$build/bench/bench_work.exe
times=$out/times
: > "$times"
methods=(ansi basic handle)

# One floor run over a tree: each way of reading it, in an order that turns
# from round to round, recorded as "<round> <tree> floor:<method>
# <wallSeconds> <cpuSeconds> <peakKiB> <status>"; a way that does not see
# the whole tree (ansi cannot reach some names and depths) is "incomplete".
floor_run() {  # tree, walk|once, folders, files, [the floor program, when not bench_floor]
    local i method status wall cpu peak folders files
    for ((i = 0; i < 3; i++)); do
        method=${methods[(i + round) % 3]}
        measure "${5:-$floor}" "$method" "$2" "T:\\$1" || exit 1
        read -r wall cpu peak folders files <<< "$result"
        status=ok
        [ "$folders $files" = "$3 $4" ] || status=incomplete
        echo "$round $1 floor:$method $wall $cpu $peak $status" >> "$times"
    done
}

# One listing with every option on by bench_work, its line count checked,
# recorded like a floor run; a failed run is recorded as "failed".
list_run() {  # tree, name, start drive, filter, lines needed, extra arguments of bench_work list
    local tree=$1 name=$2 drive=$3 filter=$4 needed=$5 status
    shift 5
    if measure "$work" list "$@" "$drive\\$tree" "$filter" "U:\\$tree-$name.txt"; then
        status=$(status_of "listing of $tree, $name (lines)" "$(lines_of "$tree-$name.txt")" "$needed")
        # Written through a handle, the listing is the one written by path.
        if [ "$name" = handle ] && [ "$status" = ok ] && ! cmp -s "$out/$tree-all.txt" "$out/$tree-handle.txt"; then
            echo "bench: the listing of $tree written through a handle differs from the one written by path" >&2
            status=differs
        fi
        echo "$round $tree $name $result $status" >> "$times"
    else
        echo "$round $tree $name 0 0 0 failed" >> "$times"
    fi
}

# One fill of the folder list, its row count checked, recorded like a listing.
fill_run() {  # tree, rows, drive (T: unless given)
    local status wall cpu peak rows
    measure "$work" fill "${3:-T:}\\$1" || exit 1
    read -r wall cpu peak rows <<< "$result"
    status=$(status_of "folder list of $1 (rows)" "$rows" "$2")
    echo "$round $1 fill $wall $cpu $peak $status" >> "$times"
}

# bench_work's listing of wide timed from outside (Wine's start included),
# recorded as "<round> wide listwall <wallSeconds> - - ok".
listwall_run() {
    measure "$work" list 'T:\wide' '*.*' 'U:\wide-listwall.txt' || exit 1
    echo "$round wide listwall $outside - - ok" >> "$times"
}

# The console program between two of bench_work's listings, timed alike and
# recorded as "cliwall"; its file must be byte-identical to bench_work's.
cli_runs() {
    local status=ok
    listwall_run
    if measure "$cli" -s -q -o 'U:\wide-cli.txt' 'T:\wide'; then
        cmp -s "$out/wide-listwall.txt" "$out/wide-cli.txt" || status=differs
        [ "$status" = ok ] || echo "bench: the console program's listing of wide differs from RunListing's" >&2
        echo "$round wide cliwall $outside - - $status" >> "$times"
    else
        echo "$round wide cliwall 0 - - failed" >> "$times"
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

# The table. Each tree's floor is the way of reading it with the smallest
# median wall time among those that saw the whole tree in every round. Each
# work's ratio is the median over the rounds of the work's time divided by
# the mean of that floor's runs on either side of it, for the wall time (the
# target) and for the process's CPU time (a cross-check against other load);
# the console program's extras are compared with the plain listings just
# before and after them instead, and the console program with bench_work's
# listings around it, all three timed from outside.
echo
echo "Dirtally benchmark: $rounds rounds after a warm-up, seed $seed; seconds as median (min..max)"
echo "machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(wine --version)"
awk -v cli="$cli" '
function median(list, n,    sorted, i, j, swap) {
    if (n == 0) return 0
    for (i = 1; i <= n; i++) sorted[i] = list[i]
    for (i = 2; i <= n; i++)
        for (j = i; j > 1 && sorted[j - 1] > sorted[j]; j--) {
            swap = sorted[j]; sorted[j] = sorted[j - 1]; sorted[j - 1] = swap
        }
    return n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
}
function add(key, value) { values[key, ++count[key]] = value }
function medianOf(key,    i, list) {
    for (i = 1; i <= count[key]; i++) list[i] = values[key, i]
    return median(list, count[key])
}
function span(key,    i, lo, hi) {
    if (!count[key]) return "-"
    for (i = 1; i <= count[key]; i++) {
        if (i == 1 || values[key, i] < lo) lo = values[key, i]
        if (i == 1 || values[key, i] > hi) hi = values[key, i]
    }
    return sprintf("%.3f (%.3f..%.3f)", medianOf(key), lo, hi)
}
# One row: the work `name` on `tree` against its floor (base "floor") or
# against the work `base` of the same round.
function row(tree, what, name, base, target,    r, c, result, against) {
    against = base == "floor" ? "floor " tree " " chosen[tree] : tree " " base
    if (!seen[tree " " name]) {
        printf "%-5s %-30s %-22s %-22s %-6s %-6s %-6s %s\n", tree, what, span(against), "not built", "-", "-",
               "<=" target, "-"
        return
    }
    if (base == "floor" && chosen[tree] == "") {
        printf "%-5s %-30s %-22s %-22s %-6s %-6s %-6s %s\n", tree, what, "no complete floor", span(tree " " name),
               "-", "-", "<=" target, "-"
        return
    }
    r = medianOf("ratio " tree " " name)
    c = count["cpu ratio " tree " " name] ? sprintf("%.2f", medianOf("cpu ratio " tree " " name)) : "-"
    result = status[tree " " name] != "" ? status[tree " " name] : (r <= target ? "holds" : "MISSED")
    printf "%-5s %-30s %-22s %-22s %-6.2f %-6s %-6s %s\n", tree, what, span(against), span(tree " " name), r, c,
           "<=" target, result
}
# The peak working set of the work `name` on `tree` against that of its floor.
function peakRow(tree, name,    extra) {
    if (!seen[tree " " name] || chosen[tree] == "") return
    extra = (peak[tree " " name] - peak["floor " tree " " chosen[tree]]) / 1024
    printf "%-5s %-14s work %6.1f MB, floor %6.1f MB, difference %+5.1f MB (target <= +8 MB): %s\n", tree, name,
           peak[tree " " name] / 1024, peak["floor " tree " " chosen[tree]] / 1024, extra,
           status[tree " " name] != "" ? status[tree " " name] : (extra <= 8 ? "holds" : "MISSED")
}
# The ratios of the works named in `names` (" a b ") on `tree` against the
# mean of the runs of `reference` just before and just after each of them.
function interleave(tree, reference, names,    i, j, n, f, lastWall, lastCpu, queueName, queueWall, queueCpu,
                    queueRefWall, queueRefCpu) {
    n = 0
    lastWall = ""
    for (i = 1; i <= total; i++) {
        split(lines[i], f, " ")
        if (f[1] == 0 || f[2] != tree || f[7] == "failed") continue
        if (f[3] == reference) {
            for (j = 1; j <= n; j++) {
                if (queueRefWall[j] == "") continue
                add("ratio " tree " " queueName[j], queueWall[j] / ((queueRefWall[j] + f[4]) / 2))
                if (queueCpu[j] != "-" && queueRefCpu[j] + f[5] > 0)
                    add("cpu ratio " tree " " queueName[j], queueCpu[j] / ((queueRefCpu[j] + f[5]) / 2))
            }
            n = 0
            lastWall = f[4]; lastCpu = f[5]
        } else if (index(names, " " f[3] " ")) {
            ++n
            queueName[n] = f[3]; queueWall[n] = f[4]; queueCpu[n] = f[5]
            queueRefWall[n] = lastWall; queueRefCpu[n] = lastCpu
        }
    }
}
{ lines[++total] = $0 }
END {
    # Pass 1: the floor runs of each way of reading, and the status of each work.
    for (i = 1; i <= total; i++) {
        split(lines[i], f, " ")
        if (f[1] == 0) continue
        if (f[3] ~ /^floor:/) {
            method = substr(f[3], 7)
            key = "floor " f[2] " " method
            add(key, f[4])
            if (f[6] > peak[key]) peak[key] = f[6]
            if (f[7] != "ok") partial[key] = 1
            if (!((f[2], method) in known)) { known[f[2], method] = 1; methodsOf[f[2]] = methodsOf[f[2]] " " method }
        } else {
            seen[f[2] " " f[3]] = 1
            if (f[7] != "ok" && status[f[2] " " f[3]] == "") status[f[2] " " f[3]] = f[7]
            if (f[7] != "failed") {
                add(f[2] " " f[3], f[4])
                if (f[6] != "-" && f[6] > peak[f[2] " " f[3]]) peak[f[2] " " f[3]] = f[6]
            }
        }
    }
    for (tree in methodsOf) {
        n = split(methodsOf[tree], list, " ")
        for (j = 1; j <= n; j++) {
            key = "floor " tree " " list[j]
            if (!partial[key] && (chosen[tree] == "" || medianOf(key) < medianOf("floor " tree " " chosen[tree])))
                chosen[tree] = list[j]
        }
    }
    # Pass 2: each work against the chosen floor just before and just after,
    # the extras against the plain listings around them, the console program
    # against the listings timed from outside around it.
    for (tree in methodsOf)
        if (chosen[tree] != "") interleave(tree, "floor:" chosen[tree], " all txt fill ")
    interleave("wide", "plain", " utf8 totals handle ")
    interleave("wide", "listwall", " cliwall ")

    printf "floors, median wall time (s) of each way of reading the whole tree (* incomplete: it missed part of the tree):\n"
    printf "%-5s %-9s %-9s %-9s %s\n", "tree", "ansi", "basic", "handle", "floor"
    split("wide flat deep intl many", trees, " ")
    for (t = 1; t <= 5; t++) {
        line = sprintf("%-5s", trees[t])
        split("ansi basic handle", list, " ")
        for (j = 1; j <= 3; j++) {
            key = "floor " trees[t] " " list[j]
            line = line sprintf(" %-9s", count[key] ? sprintf("%.3f%s", medianOf(key), partial[key] ? "*" : "") : "-")
        }
        print line " " (chosen[trees[t]] != "" ? chosen[trees[t]] : "none")
    }
    print ""
    printf "%-5s %-30s %-22s %-22s %-6s %-6s %-6s %s\n", "tree", "measured work", "floor or base (s)", "work (s)",
           "ratio", "(cpu)", "target", "result"
    row("wide", "RunListing \"*.*\"", "all", "floor", 1.15)
    row("wide", "RunListing \"*.txt\"", "txt", "floor", 1.8)
    row("flat", "RunListing \"*.*\"", "all", "floor", 1.3)
    row("deep", "RunListing \"*.*\"", "all", "floor", 1.3)
    row("intl", "RunListing \"*.*\"", "all", "floor", 1.3)
    row("many", "FillFolderList", "fill", "floor", 1.5)
    row("wide", "  --encoding utf-8 / plain", "utf8", "plain", 1.10)
    row("wide", "  --totals / plain", "totals", "plain", 1.10)
    row("wide", "  to an open handle / by path", "handle", "plain", 1.05)
    if (cli != "") row("wide", "dirtally-cli / bench_work (*)", "cliwall", "listwall", 1.05)
    else printf "%-5s %-30s %s\n", "wide", "dirtally-cli / bench_work (*)", "not built"
    print ""
    print "peak working set against that of the floor:"
    peakRow("wide", "all"); peakRow("flat", "all"); peakRow("deep", "all"); peakRow("intl", "all"); peakRow("many", "fill")
    if (seen["empty all"])
        printf "  the same program listing an empty folder: %.1f MB (its start-up: the system libraries it loads)\n",
               peak["empty all"] / 1024
    if (seen["empty fill"])
        printf "  the same program filling the list for an empty folder: %.1f MB (with its window)\n",
               peak["empty fill"] / 1024
}' "$times"
echo "floor: the fastest of three ways of reading every folder of the tree with one pass each, writing"
echo "nothing (for many: one pass over the folder): ansi = FindFirstFileA entering each folder, basic ="
echo "FindFirstFileExW (basic, large fetch) over \\\\?\\ paths, handle = GetFileInformationByHandleEx on"
echo "each open folder; ratio: the median over the rounds of work / the mean of the floor runs just before"
echo "and after, in wall time (the target) and in the process's CPU time (cpu; the CPU clock ticks in 10 ms"
echo "steps); the rows with a slash compare likewise with the runs of the work after the slash just"
echo "before and after; (*) timed from outside, Wine's start included"
