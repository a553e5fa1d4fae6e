#!/usr/bin/env bash
# bench/compare.sh: the two figures of the comparison, measured under Wine.
#  1. Speed: the console program comparing the wide tree (100,000 files)
#     with its own JSON Lines catalogue, against writing that catalogue.
#     Each comparison runs between two writings; the figure is the median
#     of compare / (mean of the writings around it), both timed from outside
#     with Wine's start. Every comparison must find no difference.
#  2. Memory: comparing two generated JSON Lines catalogues of 1,000,000
#     files each (10,100 folders, SHA-256 digests, 20,000 files changed):
#     the peak resident size of the Wine process (Wine's own included) per
#     entry of both sides, and the same less a comparison of two empty
#     catalogues.
# Usage: bench/compare.sh [BUILD_DIR [TREES_DIR]]; bench/run.sh calls it with
# its own folders after its table. Standalone it takes the trees' lock as
# bench/run.sh does, and generates the trees when they are missing.
# Settings: BENCH_ROUNDS (9 measured rounds after one warm-up).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build=${1:-${BENCH_BUILD_DIR:-build-bench}}
case "$build" in /*) ;; *) build=$repo/$build ;; esac
data=${2:-${BENCH_DIR:-${TMPDIR:-/tmp}/dirtally-bench}}
rounds=${BENCH_ROUNDS:-9}
[ -z "${LANG:-}${LC_ALL:-}${LC_CTYPE:-}" ] && export LANG=C.UTF-8

for tool in i686-w64-mingw32-g++-posix g++ /usr/bin/python3 /usr/bin/time cmake wine wineserver flock; do
    if ! command -v "$tool" >/dev/null; then
        echo "bench: $tool is missing; scripts/install-deps.sh installs it (run it as root)" >&2
        exit 1
    fi
done

mkdir -p "$data"
if [ -z "${BENCH_LOCK_HELD:-}" ]; then
    exec 9> "$data/lock"
    if ! flock -n 9; then
        echo "bench: waiting for another benchmark run on $data"
        flock 9
    fi
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
          -DCMAKE_BUILD_TYPE=Release -DDIRTALLY_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target dirtally_cli -j"$(nproc)" >/dev/null
cli=$build/cli/dirtally-cli.exe
if [ ! -d "$data/trees/wide" ]; then
    echo "bench: generating the trees in $data/trees"
    g++ -O2 -std=c++17 -o "$build/gentree" bench/gentree.cpp
    mkdir -p "$data/trees"
    "$build/gentree" "$data/trees" "${BENCH_SEED:-20261206}"
fi

# The catalogues of a million files: made once, again when this script changes.
big=$data/compare-catalogues
stamp=$(md5sum < bench/compare.sh | cut -d' ' -f1)
if [ "$(cat "$big/stamp" 2>/dev/null)" != "$stamp" ]; then
    echo "bench: generating two catalogues of 1,000,000 files in $big"
    rm -rf "$big" && mkdir -p "$big"
    /usr/bin/python3 - "$big" <<'EOF'
import random, sys
folder = sys.argv[1]
HEAD = ('{"format":"dirtally-catalogue","formatVersion":1,"program":"1.1","startFolders":["C:\\\\catalogued"],'
        '"made":"2026-01-01T00:00:00Z","filter":"*.*","excludes":[],"subfolders":true,"maxDepth":null,'
        '"files":true,"sort":"name","reverse":false,"hashes":["sha256"]}\n'
        '{"type":"folder","path":"C:\\\\catalogued","name":"catalogued","attributes":""}\n')
LETTERS = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_ -"
# Names of 7 to 33 characters; the later catalogue has every 97th file grown by a byte.
def write(name, files, later):
    r = random.Random(20261207)
    with open(folder + "/" + name, "w", newline="\n") as out:
        out.write(HEAD)
        for top in range(100 if files else 0):
            top_path = "C:\\\\catalogued\\\\Folder %03d" % top
            out.write('{"type":"folder","path":"%s","name":"Folder %03d","modified":"2020-01-02T03:04:05Z","attributes":""}\n' % (top_path, top))
            for sub in range(100):
                path = top_path + "\\\\sub%02d" % sub
                out.write('{"type":"folder","path":"%s","name":"sub%02d","modified":"2020-01-02T03:04:05Z","attributes":""}\n' % (path, sub))
                for i in range(files // 10000):
                    name = "".join(r.choice(LETTERS) for _ in range(r.randint(6, 30))) + "%d.dat" % i
                    size = r.randint(0, 1 << 30) + (1 if later and i % 97 == 0 else 0)
                    out.write('{"type":"file","path":"%s\\\\%s","name":"%s","modified":"2021-05-06T07:08:09Z",'
                              '"attributes":"A","size":%d,"sha256":"%064x"}\n' % (path, name, name, size, r.getrandbits(256)))
        out.write('{"type":"totals","folders":0,"files":%d,"bytes":0,"excluded":0,"unreadFolders":0,"unreadFiles":0}\n' % files)
write("old.jsonl", 1000000, False)
write("new.jsonl", 1000000, True)
write("empty.jsonl", 0, False)
EOF
    echo "$stamp" > "$big/stamp"
fi

out=$build/bench-compare
rm -rf "$out" && mkdir -p "$out"
. "$repo/bench/drives.sh"
bench_drives "$build" t="$data/trees" u="$out" v="$big"
[ -n "${BENCH_LOCK_HELD:-}" ] || trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

# Runs the console program; its wall time (Wine's start included) to
# $seconds. Fails unless it exits with one of the codes given first.
seconds=
timed() {  # codes (e.g. "0" or "0 3"), arguments
    local codes=$1 before after code=0
    shift
    before=$(date +%s.%N)
    timeout 900 "$build/wine-run.sh" "$cli" "$@" > "$out/last.out" 2> "$out/last.err" 9>&- || code=$?
    after=$(date +%s.%N)
    if ! grep -qw "$code" <<< "$codes"; then
        echo "bench: failed with exit code $code: $*" >&2
        cat "$out/last.err" >&2
        exit 1
    fi
    seconds=$(awk -v a="$before" -v b="$after" 'BEGIN { printf "%.4f", b - a }')
}

echo "bench: comparing the wide tree with its catalogue, 1 warm-up round and $rounds measured rounds"
ratios=()
same=$'0 added, 0 removed, 0 changed, 0 moved, 0 unreadable\r'
for ((round = 0; round <= rounds; round++)); do
    timed 0 -s -q --format jsonl -o 'U:\wide.jsonl' 'T:\wide'
    first=$seconds
    timed 0 --compare 'U:\wide.jsonl' -o 'U:\wide-diff.txt'
    compare=$seconds
    if [ "$(cat "$out/wide-diff.txt")" != "$same" ]; then
        echo "bench: the wide tree differs from its own catalogue:" >&2
        head -5 "$out/wide-diff.txt" >&2
        exit 1
    fi
    timed 0 -s -q --format jsonl -o 'U:\wide.jsonl' 'T:\wide'
    ratio=$(awk -v c="$compare" -v a="$first" -v b="$seconds" 'BEGIN { printf "%.3f", c / ((a + b) / 2) }')
    echo "bench: round $round: write $first s, compare $compare s, write $seconds s: ratio $ratio"
    [ "$round" = 0 ] || ratios+=("$ratio")
done
median=$(printf '%s\n' "${ratios[@]}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
range=$(printf '%s\n' "${ratios[@]}" | sort -n | awk 'NR == 1 { lo = $1 } { hi = $1 } END { print lo ".." hi }')

echo "bench: comparing two catalogues of 1,000,000 files each"
peak() {  # catalogue, catalogue: the peak resident KiB of the comparison, to $kib
    /usr/bin/time -f %M -o "$out/time.txt" "$build/wine-run.sh" "$cli" --compare "$1" "$2" -o 'U:\big-diff.txt' \
        > /dev/null 2> "$out/last.err" 9>&- || true
    kib=$(tail -1 "$out/time.txt")
}
peak 'V:\empty.jsonl' 'V:\empty.jsonl'
empty=$kib
peak 'V:\old.jsonl' 'V:\new.jsonl'
full=$kib
counts=$(tail -1 "$out/big-diff.txt" | tr -d '\r')
if [ "$counts" != "0 added, 0 removed, 20,000 changed, 0 moved, 0 unreadable" ]; then
    echo "bench: the big comparison found: $counts" >&2
    exit 1
fi
entries=2000000
echo
echo "| Comparison | Figure | Limit |"
echo "|---|---|---|"
echo "| wide (100,000 files) with its own catalogue, against writing it | $median x (range $range, $rounds rounds) | <= 1.3 |"
awk -v f="$full" -v e="$empty" -v n="$entries" 'BEGIN {
    printf "| two catalogues of 1,000,000 files, peak memory per entry | %.0f bytes (%.0f without the %d MiB of an empty comparison) | < 150 |\n",
           f * 1024 / n, (f - e) * 1024 / n, e / 1024 }'
