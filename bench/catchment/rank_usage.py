#!/usr/bin/env python3
"""Runs one MPI process of the model and records what it used.

Usage (under mpiexec): rank_usage.py USAGE_FOLDER PROGRAM ARGUMENTS...

Starts PROGRAM as a child, waits for it and writes USAGE_FOLDER/rank_<R>.json
with its peak resident memory, user and system CPU time and exit status (R is
the rank from the launcher's PMI_RANK). The child inherits the standard
streams and the environment, so the program runs as it would without this
wrapper; the wrapper's own memory is not counted. Exits with the child's status.
"""

import json
import os
import sys


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
    _, status, usage = os.wait4(pid, 0)
    code = os.waitstatus_to_exitcode(status)
    with open(os.path.join(folder, "rank_%s.json" % rank), "w") as f:
        # ru_maxrss is in KiB on Linux.
        json.dump({"rank": int(rank), "max_rss_kib": usage.ru_maxrss, "user_s": usage.ru_utime,
                   "system_s": usage.ru_stime, "exit": code}, f)
    sys.exit(code if code >= 0 else 128 - code)


if __name__ == "__main__":
    main()
