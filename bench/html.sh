#!/usr/bin/env bash
# bench/html.sh: the web-page catalogue at scale. Measures, in one run:
#   - the page's size against the default text listing (-s) of the same
#     tree, for the wide tree (100,000 files) and for a generated tree of a
#     million files;
#   - the cost of writing the page against writing the text listing of the
#     same tree, rounds of one text run and one page run in turn under Wine
#     (wall time of the console program, medians), for both trees;
#   - in headless Chromium: how long after navigation the million-file page
#     shows its root folder (the page's own performance mark, set in the
#     first animation frame after the tree and table are made), and how long
#     a search for a name that occurs once takes from the key to the results
#     drawn (the next animation frame after them), medians of several loads.
# Called by bench/run.sh after its own rounds; can be run alone. Settings as
# for bench/run.sh (BENCH_DIR, BENCH_BUILD_DIR), and BENCH_HTML_ROUNDS (5).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build=${BENCH_BUILD_DIR:-build-bench}
case "$build" in /*) ;; *) build=$repo/$build ;; esac
data=${BENCH_DIR:-${TMPDIR:-/tmp}/dirtally-bench}
rounds=${BENCH_HTML_ROUNDS:-5}
[ -n "${LANG:-}${LC_ALL:-}${LC_CTYPE:-}" ] || export LANG=C.UTF-8

for tool in /usr/bin/python3 chromium chromedriver cmake wine g++; do
    if ! command -v "$tool" >/dev/null; then
        echo "bench/html: $tool is missing; scripts/install-deps.sh installs it (run it as root)" >&2
        exit 1
    fi
done

echo "bench/html: building the console program in $build"
toolchain=()
[ -f "$build/CMakeCache.txt" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake)
cmake -S "$repo" -B "$build" "${toolchain[@]}" -DCMAKE_BUILD_TYPE=Release -DDIRTALLY_TESTS=OFF >/dev/null
cmake --build "$build" --target dirtally_cli -j"$(nproc)" >/dev/null
cli=$build/cli/dirtally-cli.exe

# The wide tree is bench/run.sh's (made here when it is not there yet); the
# million-file tree is this script's, made once: 11,111 folders four levels
# deep, 90 files in each, names, sizes and times drawn as bench/gentree.cpp
# draws them, and one name that occurs nowhere else.
mkdir -p "$data"
if [ ! -f "$data/trees/manifest" ]; then
    echo "bench/html: generating the benchmark trees in $data/trees"
    g++ -O2 -std=c++17 -o "$build/gentree" bench/gentree.cpp
    rm -rf "$data/trees" && mkdir -p "$data/trees"
    "$build/gentree" "$data/trees" 20261206
fi
needle="needle 7f3a (only one).dat"
million=$data/html-trees/million
if [ ! -f "$data/html-trees/done" ]; then
    echo "bench/html: generating a tree of a million files in $million (a minute or two)"
    rm -rf "$data/html-trees" && mkdir -p "$million"
    /usr/bin/python3 - "$million" "$needle" <<'EOF'
import os, random, sys
root, needle = sys.argv[1], sys.argv[2]
rng = random.Random(20261206)
letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
others = "0123456789  _-()!&#+,"
extensions = ["txt", "TXT", "mp3", "jpg", "JPEG", "html", "c", "h", "gz", "tar.gz", "doc", "pdf", "md",
              "log", "dat", "bak", "x", "cfg", "Ini", "Txt"]
base, spread = 1577934245, 10 * 365 * 86400

def name(taken, extension):
    while True:
        ext = "." + rng.choice(extensions) if extension and rng.random() < 0.5 else ""
        body = "".join(rng.choice(letters) if rng.random() < 7 / 8 else rng.choice(others)
                       for _ in range(rng.randint(1, 40 - len(ext)))).strip(" .")
        if body and (body + ext).lower() not in taken:
            taken.add((body + ext).lower())
            return body + ext

def fill(folder, depth):
    taken = set()
    subfolders = [name(taken, False) for _ in range(10)] if depth < 4 else []
    for _ in range(90):
        path = os.path.join(folder, name(taken, True))
        fd = os.open(path, os.O_WRONLY | os.O_CREAT, 0o644)
        os.ftruncate(fd, rng.randint(0, 8192))
        os.close(fd)
        stamp = base + rng.randrange(spread)
        os.utime(path, (stamp, stamp))
    for sub in subfolders:
        os.mkdir(os.path.join(folder, sub))
        fill(os.path.join(folder, sub), depth + 1)
        os.utime(os.path.join(folder, sub), (base, base))

fill(root, 0)
# The needle replaces one file deep in the tree.
deepest = root
while True:
    subs = sorted(e.name for e in os.scandir(deepest) if e.is_dir())
    if not subs:
        break
    deepest = os.path.join(deepest, subs[len(subs) // 2])
first = sorted(e.name for e in os.scandir(deepest) if e.is_file())[0]
os.rename(os.path.join(deepest, first), os.path.join(deepest, needle))
EOF
    touch "$data/html-trees/done"
fi

# Wine: T: the trees, K: the million-file tree's folder, V: this run's output.
out=$build/bench-html
rm -rf "$out" && mkdir -p "$out"
. "$repo/bench/drives.sh"
bench_drives "$build" t="$data/trees" k="$data/html-trees" v="$out"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

# Runs the console program; prints its wall time in seconds.
timed() {
    local before after
    before=$(date +%s.%N)
    "$build/wine-run.sh" "$cli" -s -q "$@" >/dev/null 2>"$out/last.err" || { cat "$out/last.err" >&2; exit 1; }
    after=$(date +%s.%N)
    awk -v a="$before" -v b="$after" 'BEGIN { printf "%.4f", b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Rounds of one text listing and one page of a tree, in turn, after one
# warm-up; sets text_wall and page_wall to the medians.
write_rounds() {  # tree, drive, rounds
    local round t p text_times=() page_times=()
    for ((round = 0; round <= $3; round++)); do
        t=$(timed -o "V:\\$1.txt" "$2\\$1")
        p=$(timed --format html -o "V:\\$1.html" "$2\\$1")
        if [ "$round" -gt 0 ]; then text_times+=("$t"); page_times+=("$p"); fi
    done
    text_wall=$(printf '%s\n' "${text_times[@]}" | median)
    page_wall=$(printf '%s\n' "${page_times[@]}" | median)
}
echo "bench/html: writing the wide tree's listing and page, $rounds rounds after one warm-up"
write_rounds wide T: "$rounds"
wide_text_wall=$text_wall wide_page_wall=$page_wall
echo "bench/html: writing the million-file tree's listing and page, 2 rounds after one warm-up"
write_rounds million K: 2
million_text_wall=$text_wall million_page_wall=$page_wall

echo "bench/html: opening the million-file page in headless Chromium"
/usr/bin/python3 - "$out/million.html" "$needle" "$rounds" > "$out/browser.txt" <<'EOF'
import statistics, sys, time
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
page, needle, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
options = Options()
for argument in ["--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1400,900"]:
    options.add_argument(argument)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
driver.set_script_timeout(60)
shown, searched, found = [], [], []
for round in range(rounds + 1):
    driver.get("file://" + page)
    wait = time.time() + 60
    while not driver.execute_script("return !!window.catalogueIndexed") and time.time() < wait:
        time.sleep(0.05)
    mark = driver.execute_script("var m = performance.getEntriesByName('catalogue-shown'); return m.length ? m[0].startTime : null")
    # From the input event to the frame after the results.
    ms, total = driver.execute_async_script("""
        var query = arguments[0], done = arguments[1], box = document.getElementById('search'), began = performance.now();
        box.value = query;
        box.dispatchEvent(new Event('input'));
        (function wait() {
            var last = window.lastSearch;
            if (last && last.query === query) requestAnimationFrame(function () { done([performance.now() - began, last.total]); });
            else setTimeout(wait, 1);
        })();""", needle)
    if round > 0:
        shown.append(mark)
        searched.append(ms)
        found.append(total)
driver.quit()
print("%.0f %.1f %s" % (statistics.median(shown), statistics.median(searched), ",".join(map(str, found))))
EOF
read -r shown_ms search_ms matches < "$out/browser.txt"

size() { stat -c %s "$out/$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
verdict() { awk -v v="$1" -v limit="$2" 'BEGIN { print (v <= limit) ? "ok" : "OVER" }'; }
wide_ratio=$(ratio "$(size wide.html)" "$(size wide.txt)")
million_ratio=$(ratio "$(size million.html)" "$(size million.txt)")
cost=$(ratio "$wide_page_wall" "$wide_text_wall")
million_cost=$(ratio "$million_page_wall" "$million_text_wall")
echo
echo "| Web-page catalogue | Measured | Limit | |"
echo "|---|---|---|---|"
echo "| Page / text listing, wide tree (100,000 files) | $(size wide.html) / $(size wide.txt) bytes = $wide_ratio | 0.2 | $(verdict "$wide_ratio" 0.2) |"
echo "| Page / text listing, 1,000,000 files | $(size million.html) / $(size million.txt) bytes = $million_ratio | 0.2 | $(verdict "$million_ratio" 0.2) |"
echo "| Writing the page / the text listing, wide tree | $wide_page_wall s / $wide_text_wall s = $cost | 1.3 | $(verdict "$cost" 1.3) |"
echo "| Writing the page / the text listing, 1,000,000 files | $million_page_wall s / $million_text_wall s = $million_cost | 1.3 | $(verdict "$million_cost" 1.3) |"
echo "| Root folder shown after navigation, 1,000,000 files | $shown_ms ms | 1500 ms | $(verdict "$shown_ms" 1500) |"
echo "| Search for a name that occurs once (matches: $matches) | $search_ms ms | 200 ms | $(verdict "$search_ms" 200) |"
