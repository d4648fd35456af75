#!/usr/bin/env python3
"""Runs one MPI process of the model and records what it used.

Usage (under mpiexec): rank_usage.py USAGE_FOLDER PROGRAM ARGUMENTS...

Starts PROGRAM as a child, waits for it and writes USAGE_FOLDER/rank_<R>.json
with its peak resident memory, user and system CPU time and exit status (R is
the rank from the launcher's PMI_RANK). While the child runs, it samples every
SAMPLE_SECONDS the child's resident memory and the CPU time of each of its
threads (from /proc), stamped with the system's monotonic clock, so that the
caller can tell what each thread was busy with between two moments of the run
(with OMP_WAIT_POLICY=passive an idle OpenMP thread sleeps and uses no CPU).
The child inherits the standard streams and the environment, so the program
runs as it would without this wrapper; the wrapper's own memory is not counted.
Exits with the child's status.
"""

import json
import os
import sys
import time

SAMPLE_SECONDS = 0.25
TICKS = os.sysconf("SC_CLK_TCK")
PAGE_KIB = os.sysconf("SC_PAGE_SIZE") // 1024


def thread_seconds(pid):
    """CPU seconds (user + system) of every thread of pid, by thread id."""
    seconds = {}
    try:
        tids = os.listdir("/proc/%d/task" % pid)
    except OSError:
        return seconds
    for tid in tids:
        try:
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                # Fields after the command name, which is in parentheses.
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        seconds[tid] = (int(fields[11]) + int(fields[12])) / TICKS
    return seconds


def resident_kib(pid):
    try:
        with open("/proc/%d/statm" % pid) as f:
            return int(f.read().split()[1]) * PAGE_KIB
    except (OSError, IndexError, ValueError):
        return None


def sample(pid, samples):
    rss = resident_kib(pid)
    threads = thread_seconds(pid)
    if rss is not None and threads:
        samples.append({"t": time.monotonic(), "rss_kib": rss, "threads": threads})


def main():
    if len(sys.argv) < 3:
        sys.stderr.write("usage: rank_usage.py USAGE_FOLDER PROGRAM ARGUMENTS...\n")
        sys.exit(2)
    folder, program = sys.argv[1], sys.argv[2:]
    rank = os.environ.get("PMI_RANK", os.environ.get("OMPI_COMM_WORLD_RANK", "0"))
    pid = os.fork()
    if pid == 0:
        try:
            os.execvp(program[0], program)
        finally:
            os._exit(127)
    samples = []
    while True:
        done, status, usage = os.wait4(pid, os.WNOHANG)
        if done == pid:
            break
        sample(pid, samples)
        time.sleep(SAMPLE_SECONDS)
    code = os.waitstatus_to_exitcode(status)
    with open(os.path.join(folder, "rank_%s.json" % rank), "w") as f:
        # ru_maxrss is in KiB on Linux.
        json.dump({"rank": int(rank), "max_rss_kib": usage.ru_maxrss, "user_s": usage.ru_utime,
                   "system_s": usage.ru_stime, "exit": code, "pid": pid, "samples": samples}, f)
    sys.exit(code if code >= 0 else 128 - code)


if __name__ == "__main__":
    main()
