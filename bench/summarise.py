#!/usr/bin/python3
"""bench/summarise.py: the benchmark's table, worked out from the
measurements file that bench/run.sh writes. Measuring and working out are
apart so that a saved run can be summarised again without measuring again:

    bench/summarise.py /tmp/dirtally-bench/measurements-<date>-<time>.txt

The file opens with "# key: value" lines on the run (rounds, hash rounds,
seed, machine, console program, hash set), then a line naming the columns, then one line per sample
in the order they were measured, columns apart by spaces, "-" where a
column does not apply:

    round   0 is the warm-up, left out of every figure
    tree    wide, flat, deep, intl, many, empty (start-up memory), or
            hash (the fingerprinting set)
    work    floor:<way of reading>, or the work timed (all, txt, plain, utf8,
            totals, handle, csv, jsonl, fill; listwall and cliwall are timed
            from outside); on hash: hashfloor, hashcli and sha256sum, each
            a whole process timed from outside
    wall    wall time in seconds
    cpu     the process's CPU time in seconds
    peak    the process's peak working set in KiB
    got     what the run counted: "<folders>/<files>" for a floor, lines of a
            listing, rows of the folder list; "<files>/<bytes>" hashed by
            hashfloor, files with the right digest for the others
    needed  what the tree needs, in the same form; "<n>+" means at least n
    check   ok, differs (its file is not the one it must equal) or failed

The table goes to standard output, a line per sample that missed part of its
tree to standard error. Standard library only.
"""
import argparse
from statistics import median
import sys
from typing import Dict, List, NamedTuple, Optional, Set, Tuple

COLUMNS = ["round", "tree", "work", "wall", "cpu", "peak", "got", "needed", "check"]
TREES = ("wide", "flat", "deep", "intl", "many")
METHODS = ("ansi", "basic", "handle")

# The ratio rows, in the table's order: tree, what was measured, the work,
# what it is compared with ("floor": the tree's floor; otherwise the runs of
# another work on the same tree just before and after it), the largest ratio
# that holds.
RATIO_ROWS = (
    ("wide", 'RunListing "*.*"', "all", "floor", 0.80),
    ("wide", "  on one thread", "one", "floor", 1.15),
    ("wide", 'RunListing "*.txt"', "txt", "floor", 1.8),
    ("flat", 'RunListing "*.*"', "all", "floor", 1.3),
    ("deep", 'RunListing "*.*"', "all", "floor", 1.3),
    ("intl", 'RunListing "*.*"', "all", "floor", 1.3),
    ("many", "FillFolderList", "fill", "floor", 1.5),
    ("wide", "  --encoding utf-8 / plain", "utf8", "plain", 1.10),
    ("wide", "  --totals / plain", "totals", "plain", 1.10),
    ("wide", "  to an open handle / by path", "handle", "plain", 1.05),
    ("wide", "  --format csv / plain", "csv", "plain", 1.10),
    ("wide", "  --format jsonl / plain", "jsonl", "plain", 1.10),
)
# The console program's row, shown only when the run could build it.
CLI_ROW = ("wide", "dirtally-cli / bench_work (*)", "cliwall", "listwall", 1.05)
# The fingerprinting rows, shown when the run measured them: the console
# program must keep at least 0.9 of the floor's throughput; sha256sum has no
# target (None).
HASH_ROWS = (
    ("hash", "dirtally-cli --hash sha256 (*)", "hashcli", "hashfloor", round(1 / 0.9, 2)),
    ("hash", "  sha256sum, Linux (*)", "sha256sum", "hashfloor", None),
)
# Works compared with a reference other than the floor: tree, reference, works.
INTERLEAVED = (
    ("wide", "plain", ("utf8", "totals", "handle", "csv", "jsonl")),
    ("wide", "listwall", ("cliwall",)),
    ("hash", "hashfloor", ("hashcli", "sha256sum")),
)
# Works compared with their tree's floor.
FLOOR_WORKS = ("all", "one", "txt", "fill")
# The works whose peak working set is set against that of their floor, and
# the most extra memory that holds.
PEAK_ROWS = (("wide", "all"), ("flat", "all"), ("deep", "all"), ("intl", "all"), ("many", "fill"))
PEAK_TARGET_MB = 8

ROW = "%-5s %-30s %-22s %-22s %-6s %-6s %-6s %s"
LEGEND = r"""floor: the fastest of three ways of reading every folder of the tree with one pass each, writing
nothing (for many: one pass over the folder): ansi = FindFirstFileA entering each folder, basic =
FindFirstFileExW (basic, large fetch) over \\?\ paths, handle = GetFileInformationByHandleEx on
each open folder; ratio: the median over the rounds of work / the mean of the floor runs just before
and after, in wall time (the target) and in the process's CPU time (cpu; the CPU clock ticks in 10 ms
steps); the rows with a slash compare likewise with the runs of the work after the slash just
before and after; (*) timed from outside, Wine's start included"""
HASH_LEGEND = """hash: the fingerprinting set, in the page cache; its floor (hashfloor) reads each file once in
1 MiB blocks and hashes it with the same CNG calls on one thread; the three programs are whole
processes timed from outside, their CPU time and peak (the largest resident set, which Wine reports as
the peak working set) from the system"""


class Sample(NamedTuple):
    round: int
    tree: str
    work: str
    wall: Optional[float]
    cpu: Optional[float]
    peak: Optional[float]
    status: str  # ok, incomplete, differs or failed


class BadFile(Exception):
    pass


# A number column, or None for "-".
def number(text: str) -> Optional[float]:
    return None if text == "-" else float(text)


# Whether a count is what the tree needs: equal, or at least n for "<n>+".
def complete(got: str, needed: str) -> bool:
    if got == needed:
        return True
    return needed.endswith("+") and got.isdigit() and int(got) >= int(needed[:-1])


# What a check that failed is called in the warning: the unit of the count.
def counted(tree: str, work: str) -> str:
    if tree == "hash":
        return f"fingerprinting set, {work} (files)"
    return f"folder list of {tree} (rows)" if work == "fill" else f"listing of {tree}, {work} (lines)"


# Reads a measurements file: the run's "# key: value" lines and its samples,
# each with its status. A work whose count falls short of its tree is
# "incomplete" and said so on standard error (a floor's way of reading that
# misses part of a tree is expected, and only marked in the table).
def read_measurements(path: str) -> Tuple[Dict[str, str], List[Sample]]:
    run: Dict[str, str] = {}
    samples: List[Sample] = []
    header = False
    with open(path, encoding="utf-8") as lines:
        for number_of_line, line in enumerate(lines, 1):
            line = line.strip()
            if not line:
                continue
            if line.startswith("#"):
                key, _, value = line[1:].partition(":")
                run[key.strip()] = value.strip()
                continue
            fields = line.split()
            if not header:
                if fields != COLUMNS:
                    raise BadFile(f"{path}:{number_of_line}: expected the columns {' '.join(COLUMNS)}")
                header = True
                continue
            if len(fields) != len(COLUMNS):
                raise BadFile(f"{path}:{number_of_line}: {len(fields)} columns, expected {len(COLUMNS)}")
            row = dict(zip(COLUMNS, fields))
            try:
                sample = sample_of(row)
            except ValueError as error:
                raise BadFile(f"{path}:{number_of_line}: {error}") from None
            if sample.status == "incomplete" and sample.round > 0 and not sample.work.startswith("floor:"):
                print(f"bench: round {sample.round}: {counted(sample.tree, sample.work)}: got {row['got']}, "
                      f"the tree needs {row['needed']}; reported as incomplete", file=sys.stderr)
            samples.append(sample)
    if not header:
        raise BadFile(f"{path}: no line naming the columns: not a measurements file")
    return run, samples


# One line of the file as a sample. A failed run has no figures; a short
# count comes before a differing file, since a short listing differs anyway.
def sample_of(row: Dict[str, str]) -> Sample:
    if row["check"] == "failed":
        status = "failed"
    elif not complete(row["got"], row["needed"]):
        status = "incomplete"
    elif row["check"] in ("ok", "differs"):
        status = row["check"]
    else:
        raise ValueError(f"unknown check {row['check']!r}")
    return Sample(int(row["round"]), row["tree"], row["work"], number(row["wall"]), number(row["cpu"]),
                  number(row["peak"]), status)


class Summary:
    """The figures of the measured rounds: times, peaks and ratios per
    (tree, work), each tree's floor runs per way of reading and the way
    chosen as its floor."""

    # Gathers the figures and works out the floors and the ratios.
    def __init__(self, samples: List[Sample]):
        self.measured = [s for s in samples if s.round > 0]
        self.rounds = len({s.round for s in self.measured})
        self.walls: Dict[Tuple[str, str], List[float]] = {}
        self.peaks: Dict[Tuple[str, str], float] = {}
        self.status: Dict[Tuple[str, str], str] = {}  # the first that is not ok
        self.seen: Set[Tuple[str, str]] = set()
        self.partial: Set[Tuple[str, str]] = set()   # floors that missed part of the tree
        self.methods: Dict[str, List[str]] = {}      # each tree's ways of reading, as first met
        self.ratios: Dict[Tuple[str, str], List[float]] = {}
        self.cpu_ratios: Dict[Tuple[str, str], List[float]] = {}
        self.chosen: Dict[str, str] = {}
        self.gather()
        self.choose_floors()
        for tree in self.methods:
            if tree in self.chosen:
                self.interleave(tree, "floor:" + self.chosen[tree], FLOOR_WORKS)
        for tree, reference, works in INTERLEAVED:
            self.interleave(tree, reference, works)

    # The floor runs of each way of reading and the times, peaks and status
    # of each work; a failed run counts only as seen.
    def gather(self) -> None:
        for s in self.measured:
            key = (s.tree, s.work)
            if s.work.startswith("floor:"):
                methods = self.methods.setdefault(s.tree, [])
                if s.work[6:] not in methods:
                    methods.append(s.work[6:])
                if s.status != "ok":
                    self.partial.add(key)
            else:
                self.seen.add(key)
                if s.status != "ok":
                    self.status.setdefault(key, s.status)
                if s.status == "failed":
                    continue
            self.walls.setdefault(key, []).append(s.wall)
            if s.peak is not None:
                self.peaks[key] = max(self.peaks.get(key, 0.0), s.peak)

    # Each tree's floor: the way of reading with the smallest median wall
    # time among those that saw the whole tree in every round; on a tie the
    # first met.
    def choose_floors(self) -> None:
        for tree, methods in self.methods.items():
            for method in methods:
                key = (tree, "floor:" + method)
                if key in self.partial:
                    continue
                best = self.chosen.get(tree)
                if best is None or median(self.walls[key]) < median(self.walls[(tree, "floor:" + best)]):
                    self.chosen[tree] = method

    # The ratios of `works` on `tree` to the mean of the runs of `reference`
    # just before and just after each of them, in wall and in CPU time.
    def interleave(self, tree: str, reference: str, works: Tuple[str, ...]) -> None:
        waiting: List[Tuple[Sample, Optional[Sample]]] = []  # each with the reference run before it
        before: Optional[Sample] = None
        for s in self.measured:
            if s.tree != tree or s.status == "failed":
                continue
            if s.work == reference:
                for done, ref in waiting:
                    if ref is None:
                        continue
                    key = (tree, done.work)
                    self.ratios.setdefault(key, []).append(done.wall / ((ref.wall + s.wall) / 2))
                    if done.cpu is not None and ref.cpu is not None and s.cpu is not None and ref.cpu + s.cpu > 0:
                        self.cpu_ratios.setdefault(key, []).append(done.cpu / ((ref.cpu + s.cpu) / 2))
                waiting = []
                before = s
            elif s.work in works:
                waiting.append((s, before))

    # The floors table: each way of reading's median on each tree, "*" for
    # one that missed part of the tree, and the way chosen.
    def floors(self) -> List[str]:
        lines = ["floors, median wall time (s) of each way of reading the whole tree"
                 " (* incomplete: it missed part of the tree):",
                 "%-5s %-9s %-9s %-9s %s" % ("tree", "ansi", "basic", "handle", "floor")]
        for tree in TREES:
            line = "%-5s" % tree
            for method in METHODS:
                key = (tree, "floor:" + method)
                walls = self.walls.get(key)
                figure = "%.3f%s" % (median(walls), "*" if key in self.partial else "") if walls else "-"
                line += " %-9s" % figure
            lines.append(line + " " + self.chosen.get(tree, "none"))
        return lines

    # One ratio row: the work `work` on `tree` against its floor or against
    # the work `base` of the same tree.
    def row(self, tree: str, what: str, work: str, base: str, target: Optional[float]) -> str:
        against = (tree, "floor:" + self.chosen.get(tree, "")) if base == "floor" else (tree, base)
        limit = "<=%g" % target if target is not None else "-"
        if (tree, work) not in self.seen:
            return ROW % (tree, what, span(self.walls.get(against)), "not built", "-", "-", limit, "-")
        if base == "floor" and tree not in self.chosen:
            return ROW % (tree, what, "no complete floor", span(self.walls.get((tree, work))), "-", "-", limit, "-")
        ratios = self.ratios.get((tree, work))
        ratio = median(ratios) if ratios else 0.0
        cpu_ratios = self.cpu_ratios.get((tree, work))
        cpu = "%.2f" % median(cpu_ratios) if cpu_ratios else "-"
        result = self.status.get((tree, work)) or ("-" if target is None else "holds" if ratio <= target else "MISSED")
        return ROW % (tree, what, span(self.walls.get(against)), span(self.walls.get((tree, work))),
                      "%-6.2f" % ratio, cpu, limit, result)

    # The ratio table, with the console program's row when it was built.
    def ratio_table(self, cli_built: bool, trees: bool) -> List[str]:
        lines = [ROW % ("tree", "measured work", "floor or base (s)", "work (s)", "ratio", "(cpu)", "target",
                        "result")]
        if trees:
            lines += [self.row(*row) for row in RATIO_ROWS]
            if cli_built:
                lines.append(self.row(*CLI_ROW))
            else:
                lines.append("%-5s %-30s %s" % (CLI_ROW[0], CLI_ROW[1], "not built"))
        if self.hashed():
            lines += [self.row(*row) for row in HASH_ROWS]
        return lines

    # Whether the run measured fingerprinting.
    def hashed(self) -> bool:
        return ("hash", "hashfloor") in self.walls

    # Each fingerprinting program's throughput over the set, from its median
    # wall time, and the console program's share of the floor's.
    def throughput(self, set_bytes: int) -> List[str]:
        def rate(work: str) -> float:
            walls = self.walls.get(("hash", work))
            return set_bytes / 1e6 / median(walls) if walls and set_bytes else 0.0
        floor, cli, linux = rate("hashfloor"), rate("hashcli"), rate("sha256sum")
        ratios = self.ratios.get(("hash", "hashcli"))
        share = "%.2f" % (1 / median(ratios)) if ratios else "-"
        return ["hash  throughput (MB/s, from median wall times): floor %.0f, dirtally-cli %.0f, sha256sum %.0f;"
                " dirtally-cli keeps %s of the floor's (target >= 0.9)" % (floor, cli, linux, share)]

    # The peak working set of each work against that of its floor, then the
    # same program's memory for an empty folder.
    def memory(self) -> List[str]:
        lines = ["peak working set against that of the floor:"]
        for tree, work in PEAK_ROWS:
            if (tree, work) not in self.seen or tree not in self.chosen:
                continue
            peak = self.peaks.get((tree, work), 0.0)
            floor = self.peaks.get((tree, "floor:" + self.chosen[tree]), 0.0)
            extra = (peak - floor) / 1024
            result = self.status.get((tree, work)) or ("holds" if extra <= PEAK_TARGET_MB else "MISSED")
            lines.append("%-5s %-14s work %6.1f MB, floor %6.1f MB, difference %+5.1f MB (target <= +%d MB): %s"
                         % (tree, work, peak / 1024, floor / 1024, extra, PEAK_TARGET_MB, result))
        if ("hash", "hashcli") in self.seen and ("hash", "hashfloor") in self.peaks:
            peak = self.peaks.get(("hash", "hashcli"), 0.0)
            floor = self.peaks[("hash", "hashfloor")]
            extra = (peak - floor) / 1024
            result = self.status.get(("hash", "hashcli")) or ("holds" if extra <= PEAK_TARGET_MB else "MISSED")
            lines.append("%-5s %-14s work %6.1f MB, floor %6.1f MB, difference %+5.1f MB (target <= +%d MB): %s"
                         % ("hash", "hashcli (*)", peak / 1024, floor / 1024, extra, PEAK_TARGET_MB, result))
            if ("hash", "sha256sum") in self.peaks:
                lines.append("  sha256sum over the same files: %.1f MB" % (self.peaks[("hash", "sha256sum")] / 1024))
        if ("empty", "all") in self.seen:
            lines.append("  the same program listing an empty folder: %.1f MB (its start-up: the system libraries"
                         " it loads)" % (self.peaks.get(("empty", "all"), 0.0) / 1024))
        if ("empty", "fill") in self.seen:
            lines.append("  the same program filling the list for an empty folder: %.1f MB (with its window)"
                         % (self.peaks.get(("empty", "fill"), 0.0) / 1024))
        return lines


# "median (min..max)" of a list of times, or "-" for none.
def span(values: Optional[List[float]]) -> str:
    if not values:
        return "-"
    return "%.3f (%.3f..%.3f)" % (median(values), min(values), max(values))


# Prints the whole table of one measurements file.
def main() -> int:
    parser = argparse.ArgumentParser(description="Prints the benchmark's table from a file of measurements "
                                                 "written by bench/run.sh.")
    parser.add_argument("measurements", help="the file bench/run.sh wrote (it names it at the end of a run)")
    path = parser.parse_args().measurements
    try:
        run, samples = read_measurements(path)
    except (OSError, BadFile) as error:
        print(f"summarise: {error}", file=sys.stderr)
        return 1
    summary = Summary(samples)
    trees = len({s.round for s in summary.measured if s.tree != "hash"})
    hash_rounds = len({s.round for s in summary.measured if s.tree == "hash"})
    for key, held in (("rounds", trees), ("hash rounds", hash_rounds)):
        planned = run.get(key, "")
        if planned.isdigit() and int(planned) != held:
            print(f"summarise: the file holds {held} of the {planned} {key} the run meant to measure",
                  file=sys.stderr)
    parts = []
    if trees:
        parts.append("%d rounds after a warm-up, seed %s" % (trees, run.get("seed", "?")))
    if hash_rounds:
        parts.append("%d rounds of fingerprinting after a warm-up over %s" % (hash_rounds, run.get("hash set", "?")))
    lines = ["Dirtally benchmark: %s; seconds as median (min..max)" % "; ".join(parts),
             "machine: " + run.get("machine", "?")]
    if trees:
        lines += summary.floors() + [""]
    lines += summary.ratio_table(run.get("console program") == "built", trees > 0)
    if summary.hashed():
        set_bytes = run.get("hash set", "").split(" files, ")[-1].split(" bytes")[0]
        lines += summary.throughput(int(set_bytes) if set_bytes.isdigit() else 0)
    lines += [""] + summary.memory()
    if trees:
        lines.append(LEGEND)
    if summary.hashed():
        lines.append(HASH_LEGEND)
    print("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
