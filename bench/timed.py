#!/usr/bin/python3
"""bench/timed.py: runs one command and prints "<wallSeconds> <cpuSeconds>
<peakKiB>" for it, as the benchmark programs print their own figures:

    bench/timed.py <standardOutputFile> <command> [<argument>...]

The wall time is the whole run, start-up included; the CPU time is the
user and system time of the process (with any it waited for); the peak is
its largest resident set, which is what Wine reports to a Windows program
as its peak working set (both come from the same counter), so a Windows
program and a Linux one are measured alike. The command's standard output
goes to the file, its standard error passes through; the exit code is the
command's. Standard library only.
"""
import os
import sys
import time


# Runs the command and prints its figures.
def main() -> int:
    if len(sys.argv) < 3:
        print("usage: bench/timed.py <standardOutputFile> <command> [<argument>...]", file=sys.stderr)
        return 2
    with open(sys.argv[1], "wb") as output:
        start = time.monotonic()
        pid = os.fork()
        if pid == 0:
            os.dup2(output.fileno(), 1)
            try:
                os.execvp(sys.argv[2], sys.argv[2:])
            except OSError as error:
                print(f"timed: {sys.argv[2]}: {error}", file=sys.stderr)
            os._exit(127)
        _, status, usage = os.wait4(pid, 0)
        wall = time.monotonic() - start
    print("%.6f %.6f %d" % (wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss))
    return os.waitstatus_to_exitcode(status) & 0xFF


if __name__ == "__main__":
    sys.exit(main())
