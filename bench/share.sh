#!/usr/bin/env bash
# bench/share.sh: reading ahead where folder reads wait. Mirrors the wide
# tree through bench/slowfs (a FUSE stand-in for a network share: every
# folder read waits DELAY ms first) and times the console program reading on
# one thread and on eight (a network folder's default), alternately, ROUNDS times; prints
# the medians and their ratio, and checks that both wrote the same bytes.
# Needs /dev/fuse and Debian's fuse3 and libfuse3-dev (scripts/install-deps.sh);
# run bench/run.sh once first, to build the programs and make the trees.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build=${BENCH_BUILD_DIR:-$repo/build-bench}
data=${BENCH_DIR:-${TMPDIR:-/tmp}/dirtally-bench}
delay=${BENCH_SHARE_DELAY_MS:-2}
rounds=${BENCH_SHARE_ROUNDS:-5}
tree=$data/trees/wide
[ -d "$tree" ] && [ -x "$build/wine-run.sh" ] || { echo "share: run bench/run.sh first" >&2; exit 1; }
gcc -O2 -Wall -Wextra -o "$build/slowfs" bench/slowfs.c $(pkg-config --cflags --libs fuse3)
mount=$data/share
mkdir -p "$mount"
fusermount3 -u "$mount" 2>/dev/null || true
"$build/slowfs" "$tree" "$mount" "$delay"
trap 'fusermount3 -u "$mount"' EXIT
cli=$build/cli/dirtally-cli.exe
run() {  # run THREADS OUTPUT: the wall time in seconds
    local start end
    start=$(date +%s.%N)
    "$build/wine-run.sh" "$cli" -s -q $1 -o "Z:$2" "Z:$mount" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
run --threads=1 "$data/share-one.txt" >/dev/null  # warm-up: the mirror's caches
one=() default=()
for ((i = 0; i < rounds; i++)); do
    one+=("$(run --threads=1 "$data/share-one.txt")")
    default+=("$(run --threads=8 "$data/share-default.txt")")
done
cmp -s "$data/share-one.txt" "$data/share-default.txt" || { echo "share: the outputs differ" >&2; exit 1; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }
m1=$(median "${one[@]}") md=$(median "${default[@]}")
echo "share (wide tree, folder reads wait $delay ms): one thread $m1 s, eight $md s, ratio $(echo "scale=2; $md / $m1" | bc)"
