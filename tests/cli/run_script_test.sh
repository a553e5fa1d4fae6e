#!/usr/bin/env bash
# scripts/run.sh without a display, as on a headless server: with arguments it
# writes the listing into a file named relative to the caller's directory;
# alone it writes the caller's directory's listing, and nothing else, to
# standard output, and with nothing to build it says nothing; a usage error is
# its exit code; a locale that is not UTF-8 does not mangle names; stopped by
# SIGTERM or SIGHUP it leaves no file behind.
# Usage: run_script_test.sh BUILD_DIR DIRTALLY_CLI_EXE
set -euo pipefail
build=$1 cli=$2
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/run.sh
scratch=$build/testdrives/run-script
rm -rf "$scratch" && mkdir -p "$scratch/Music/Rock" "$scratch/out"
printf 'abc' > "$scratch/Music/a.mp3" && printf 'defg' > "$scratch/Music/Rock/b.mp3"
TZ=UTC touch -d '2001-02-03 04:05:06' "$scratch/Music/a.mp3" "$scratch/Music/Rock/b.mp3" "$scratch/Music/Rock"
failed=0
fail() { echo "run_script_test: $*" >&2; failed=1; }
headless() { env -u DISPLAY TZ=UTC BUILD_DIR="$build" "$script" "$@"; }

# With arguments, from out/: every name on its own line, the listing written out by hand.
top="Z:${scratch//\//\\}\\Music"
underline() { printf '%*s' "${#1}" '' | tr ' ' '='; }
expected=$(printf '%s\r\n%s\r\n\r\n%s\r\n%s\r\n\r\n\r\n%s\r\n%s\r\n\r\n%s\r\n\r\n\r\n' "$top" "$(underline "$top")" \
    "$top\\ROCK" "$top\\a.mp3" "$top\\ROCK" "$(underline "$top\\ROCK")" "$top\\ROCK\\b.mp3" | od -c)
cd "$scratch/out"
headless -s --no-details ../Music -o music.txt 2>run.err || fail "with arguments: exit $? ($(tail -1 run.err))"
[ "$(od -c < music.txt)" = "$expected" ] || fail "with arguments: music.txt differs: $(cat music.txt)"

# Alone, in the folder: the program's own listing of it with the default options.
cd "$scratch/Music"
headless > "$scratch/alone.txt" 2>"$scratch/alone.err" || fail "alone: exit $? ($(tail -1 "$scratch/alone.err"))"
"$build/wine-run.sh" "$cli" "$top" > "$scratch/direct.txt" 2>/dev/null
[ -s "$scratch/direct.txt" ] && cmp -s "$scratch/alone.txt" "$scratch/direct.txt" \
    || fail "alone: standard output is not the listing: $(cat "$scratch/alone.txt")"
[ ! -s "$scratch/alone.err" ] || fail "nothing to install or build, yet it said: $(head -3 "$scratch/alone.err")"

# Names in Cyrillic and Arabic, listed in a locale that is not UTF-8: the listing made in C.UTF-8.
mkdir -p "$scratch/intl/Папка" "$scratch/intl/مجلد"
printf 'x' > "$scratch/intl/Папка/файл.txt" && printf 'yz' > "$scratch/intl/مجلد/ملف.txt"
"$build/wine-run.sh" "$cli" -s --encoding utf-8 --totals "Z:${scratch//\//\\}\\intl" > "$scratch/intl.txt" 2>/dev/null
grep -q 'Папка.файл.txt' "$scratch/intl.txt" || fail "the C.UTF-8 listing lacks the names: $(cat "$scratch/intl.txt")"
for locale in "LC_ALL=C LANG=C.UTF-8" "LC_ALL= LC_CTYPE=POSIX LANG=C.UTF-8" "LC_ALL= LC_CTYPE= LANG=C"; do
    env $locale env -u DISPLAY TZ=UTC BUILD_DIR="$build" "$script" -s --encoding utf-8 --totals ../intl \
        > "$scratch/intl-c.txt" 2>/dev/null || fail "$locale: exit $?"
    cmp -s "$scratch/intl.txt" "$scratch/intl-c.txt" || fail "$locale: names mangled: $(cat "$scratch/intl-c.txt")"
done

# Stopped by SIGTERM (timeout sends it to the whole process group) or SIGHUP once the file exists: the
# program stops as on Ctrl+C, removing its incomplete file, and the exit code is 130. The tree takes a few
# seconds to make and is kept between test runs.
big=$build/testdrives/run-script-big
[ -e "$big/d400/f250" ] || { rm -rf "$big" && mkdir -p "$big" && (cd "$big" && for d in $(seq 400); do
    mkdir d$d && (cd d$d && seq -f f%g 250 | xargs touch); done); }
cd "$scratch/out"
for signal in TERM HUP; do
    rm -f stopped.txt
    setsid env -u DISPLAY BUILD_DIR="$build" "$script" -s -q "$big" -o stopped.txt 2>/dev/null & run=$!
    until [ -e stopped.txt ] || ! kill -0 $run 2>/dev/null; do sleep 0.01; done
    kill -$signal -- -$run
    status=0 && wait $run || status=$?
    [ $status = 130 ] && [ ! -e stopped.txt ] || fail "SIG$signal: exit $status, $(ls stopped.txt 2>&1)"
done

# Option values pass as they are, -o - is standard output, and a comparison's other side defaults to the
# catalogue's own start folder (not the caller's directory).
cd "$scratch/out"
headless -s --format jsonl --hash sha256 --max-depth 1 ../Music -o music.jsonl 2>/dev/null || fail "machine form: exit $?"
headless --compare music.jsonl > compare.txt 2>/dev/null || fail "comparison with its own folder: exit $? ($(cat compare.txt))"
[ "$(headless --format CSV -o - ../Music 2>/dev/null | head -c 22)" = $'\xef\xbb\xbfPath,Name,Type,Size' ] \
    || fail "--format CSV -o - is not CSV on standard output"

status=0 && headless --sort weight >/dev/null 2>&1 || status=$?
[ "$status" = 2 ] || fail "a usage error gave exit $status, not 2"
[ $failed = 0 ] && echo "run_script_test: passed"
exit $failed
