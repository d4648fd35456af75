#!/usr/bin/env python3
"""Speed and scaling of the whole model on the upper Moselle at 100 m cells.

Usage: catchment_bench.py TAVRO [options]   (--help lists them)

1. Prepares the upper-Moselle inputs at 500 m with examples/upper-moselle/
   prepare.py (once; again when it or the control template changed).
2. Refines them to 100 m: every cell of every grid split into 5 x 5 cells with
   its value copied (46,545 valid cells become 1,163,625); the subbasins,
   station files and tables stay as they are. What depends on the cell size is
   adjusted: the grid headers (cell size, rows, columns) and the control point
   (the centre cell of the old one). Flow times, routing lengths and areas are
   physical quantities and keep their values.
3. Runs the same configuration for a number of daily steps (30) under each
   layout processes x threads, every layout in its own folder, and prints per
   layout the wall time of the set-up and per model step, the speed-up and
   parallel efficiency of the step loop against the first layout (1x1), the
   peak resident memory per process, and whether every output file equals the
   one of the first layout.
4. Prints what holds on a busy machine too: the CPU time per step of every
   process's threads in the step loop (sampled by rank_usage.py; the runs use
   OMP_WAIT_POLICY=passive, so that an idle thread sleeps), and the resident
   memory that the set-up's grids and each module add per million cells.

Python 3 standard library only. Writes below --work (default
bench/catchment/work in the repository; about 3 GB with the daily grids of
all layouts).
"""

import argparse
import datetime
import filecmp
import json
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, "..", ".."))
EXAMPLE = os.path.join(REPO, "examples", "upper-moselle")
DEFAULT_DATA = os.path.normpath(os.path.join(REPO, "..", "shared", "data", "upper-moselle"))
DEFAULT_LAYOUTS = "1x1,1x8,2x4,4x2,8x1"
START = datetime.date(1989, 1, 1)

# Files of a run that are not results: logs, the decomposition grids, the
# control-file copies, per-process state files and what the bench writes.
NOT_COMPARED = [
    r"modell_0\.log", r"Tavro_Diag_0\.xml", r"console\.txt", r"usage/.*", r"MPIRegions.*",
    r"MPIHelper.*", r"MPIHalo.*", r"MpiSpeedFactor\.dat", r".*\.ctl.*", r".*_\d+$",
]


def fail(message):
    sys.stderr.write("catchment_bench.py: FATAL: " + message + "\n")
    sys.exit(1)


# ---------------------------------------------------------------- inputs
def stale(stamp, sources):
    return not os.path.exists(stamp) or any(os.path.getmtime(s) > os.path.getmtime(stamp)
                                            for s in sources)


def prepare(data, folder):
    stamp = os.path.join(folder, "prepared.stamp")
    sources = [os.path.join(EXAMPLE, "prepare.py"), os.path.join(EXAMPLE, "upper-moselle.ctl.in")]
    if not stale(stamp, sources):
        return
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    print("preparing the 500 m inputs in %s" % folder, flush=True)
    subprocess.run([sys.executable, sources[0], data, folder], check=True)
    with open(stamp, "w") as f:
        f.write(data + "\n")


def refine_grid(source, target, factor):
    """Splits every cell of an ESRI ASCII grid into factor x factor cells."""
    with open(source) as f:
        header = [f.readline() for _ in range(6)]
        keys = {}
        for line in header:
            words = line.split()
            if len(words) < 2:
                fail("grid %s: header of six lines expected" % source)
            keys[words[0].lower()] = words[1]
        try:
            ncols, nrows = int(keys["ncols"]), int(keys["nrows"])
            cellsize = float(keys["cellsize"])
        except (KeyError, ValueError):
            fail("grid %s: ncols, nrows and cellsize not readable" % source)
        new = {"ncols": str(ncols * factor), "nrows": str(nrows * factor),
               "cellsize": repr(cellsize / factor)}
        with open(target, "w") as out:
            for line in header:
                key = line.split()[0]
                out.write("%s %s\n" % (key, new.get(key.lower(), line.split()[1])))
            rows = 0
            for line in f:
                values = line.split()
                if not values:
                    continue
                if len(values) != ncols:
                    fail("grid %s: row %d holds %d values, expected %d"
                         % (source, rows + 1, len(values), ncols))
                wide = " ".join(" ".join([v] * factor) for v in values) + "\n"
                out.write(wide * factor)
                rows += 1
            if rows != nrows:
                fail("grid %s: %d rows, expected %d" % (source, rows, nrows))


def valid_cells(grid):
    with open(grid) as f:
        header = {l.split()[0].lower(): l.split()[1] for l in (f.readline() for _ in range(6))}
        nodata = header["nodata_value"]
        return sum(sum(1 for v in line.split() if v != nodata) for line in f)


def refine(prepared, folder, factor):
    stamp = os.path.join(folder, "refined.stamp")
    if not stale(stamp, [os.path.join(prepared, "prepared.stamp")]) and \
            open(stamp).read().strip() == str(factor):
        return
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    print("refining every cell into %d x %d cells in %s" % (factor, factor, folder), flush=True)
    for name in sorted(os.listdir(prepared)):
        source = os.path.join(prepared, name)
        if name.endswith(".asc"):
            refine_grid(source, os.path.join(folder, name), factor)
        elif name.endswith(".dat") or name == "control-values.json":
            shutil.copy(source, folder)  # stations, observed discharge, tables: unchanged
        elif name == "subbasins.txt":
            refine_subbasin_list(source, os.path.join(folder, name), factor)
    with open(stamp, "w") as f:
        f.write("%d\n" % factor)


def refine_subbasin_list(source, target, factor):
    """The outlets move to the centre of their refined cell, the counts grow."""
    with open(source) as f, open(target, "w") as out:
        out.write(f.readline())
        for line in f:
            w = line.split()
            if len(w) != 6:
                continue
            out.write("%s %d %d %d %s %s\n" % (w[0], centre(int(w[1]), factor),
                                              centre(int(w[2]), factor), int(w[3]) * factor ** 2,
                                              w[4], w[5]))


def centre(index, factor):
    """1-based row or column of the centre of a refined cell."""
    return (index - 1) * factor + (factor + 1) // 2


def control_point(prepared):
    with open(os.path.join(prepared, "control-values.json")) as f:
        row, col = json.load(f)["values"]["@CONTROL_POINT@"].split()
    return int(row), int(col)


def write_control(folder, prepared, factor, steps):
    row, col = control_point(prepared)
    end = START + datetime.timedelta(days=steps - 1)  # the end day is a step of the run
    overrides = {
        "START_DAY": START.day, "START_MONTH": START.month, "START_YEAR": START.year,
        "END_DAY": end.day, "END_MONTH": end.month, "END_YEAR": end.year,
        "CONTROL_POINT": "%d %d" % (centre(row, factor), centre(col, factor)),
    }
    subprocess.run([sys.executable, os.path.join(EXAMPLE, "prepare.py"), "--control", folder,
                    "bench.ctl"] + ["%s=%s" % kv for kv in overrides.items()], check=True)


# ---------------------------------------------------------------- runs
class Layout:
    def __init__(self, text):
        m = re.fullmatch(r"(\d+)x(\d+)", text)
        if not m or int(m.group(1)) < 1 or int(m.group(2)) < 1:
            fail("layout %s is not PROCESSESxTHREADS" % text)
        self.name = text
        self.processes, self.threads = int(m.group(1)), int(m.group(2))
        self.cores = self.processes * self.threads


def run_layout(tavro, inputs, folder, layout, steps, bind, schedule, wait_policy, measure_speed):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "usage"))
    os.makedirs(os.path.join(folder, "daily_swe"))
    if not measure_speed:
        # Every process reads the same time: the cores are alike, and the
        # speed benchmark of a busy machine would weight the strips by noise.
        with open(os.path.join(folder, "MpiSpeedFactor.dat"), "w") as f:
            f.write("1\n")
    for name in os.listdir(inputs):
        if not name.endswith(".stamp"):
            os.symlink(os.path.join(inputs, name), os.path.join(folder, name))
    env = dict(os.environ, OMP_NUM_THREADS=str(layout.threads))
    if schedule:
        env["OMP_SCHEDULE"] = schedule
    if wait_policy:
        env["OMP_WAIT_POLICY"] = wait_policy
    command = ["mpiexec", "-n", str(layout.processes)]
    if bind:
        command += ["-bind-to", "core:%d" % layout.threads]
        env.update(OMP_PROC_BIND="close", OMP_PLACES="cores")
    command += [sys.executable, os.path.join(HERE, "rank_usage.py"), "usage", tavro, "bench.ctl"]
    # Every console line is stamped on arrival: the first step's progress line
    # ends the set-up, the line after the last step the step loop.
    stamps = []
    start = time.monotonic()
    with open(os.path.join(folder, "console.txt"), "w") as console:
        process = subprocess.Popen(command, cwd=folder, env=env, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True, bufsize=1)
        for line in process.stdout:
            stamps.append((time.monotonic() - start, line))
            console.write(line)
        status = process.wait()
    total = time.monotonic() - start
    if status != 0:
        tail = "".join(line for _, line in stamps[-15:])
        fail("layout %s: tavro ended with status %d (%s/console.txt):\n%s"
             % (layout.name, status, folder, tail))
    step_lines = [t for t, line in stamps if STEP_LINE.search(line)]
    ends = [t for t, line in stamps if END_LINE.search(line)]
    if len(step_lines) != steps:
        fail("layout %s: %d step lines in the console output, expected %d (%s)"
             % (layout.name, len(step_lines), steps, STEP_LINE.pattern))
    if len(ends) != 1:
        fail("layout %s: no line '%s' in the console output" % (layout.name, END_LINE.pattern))
    usage = []
    for name in sorted(os.listdir(os.path.join(folder, "usage"))):
        with open(os.path.join(folder, "usage", name)) as f:
            usage.append(json.load(f))
    usage.sort(key=lambda u: u["rank"])
    if len(usage) != layout.processes:
        fail("layout %s: usage of %d processes recorded, expected %d"
             % (layout.name, len(usage), layout.processes))
    begin, end = start + step_lines[0], start + ends[0]
    return {"total": total, "setup": step_lines[0], "loop": ends[0] - step_lines[0],
            "busy": [loop_busy(u, begin, end, layout.threads) for u in usage],
            "rss_loop_start_mib": [resident_at(u["samples"], begin) for u in usage],
            "modules": module_memory(stamps),
            "end": total - ends[0], "segments": segments(stamps, step_lines[0], ends[0]),
            "strips": [count for _, count in sorted(
                (int(m.group(2)), int(m.group(1)))
                for m in (STRIP_LINE.search(line) for _, line in stamps) if m)],
            "rss_mib": [u["max_rss_kib"] / 1024.0 for u in usage]}


# The decomposition's cell count of each process (weighted by the measured speed).
STRIP_LINE = re.compile(r"MPI num cells: (\d+) for instance:? *(\d+)")
# The line after the last step.
END_LINE = re.compile(r"reached end of simulation")
# Console lines of every process begin with its rank.
RANK_TAG = r"^(?:\(mpi-rank\s+\d+\))?"
# The progress line that the first module of a step writes to the console.
STEP_LINE = re.compile(RANK_TAG + r"\s*temperature\s+\d+\.\d+\.\d+")
# The progress line that every module writes as it starts its part of a step.
MODULE_LINE = re.compile(RANK_TAG + r"\s*(\S.*?)\s+\d+\.\d+\.\d+ \d+\. h")


def thread_seconds_at(samples, moment):
    """CPU seconds of every thread of a process at a moment, interpolated
    between the samples around it (a thread gone by the later sample has
    stopped using CPU)."""
    before = [s for s in samples if s["t"] <= moment]
    after = [s for s in samples if s["t"] > moment]
    if not before:
        return {}
    a = before[-1]["threads"]
    if not after:
        return dict(a)
    b = after[0]["threads"]
    share = (moment - before[-1]["t"]) / (after[0]["t"] - before[-1]["t"])
    return {tid: a.get(tid, 0.0) + share * (b.get(tid, a.get(tid, 0.0)) - a.get(tid, 0.0))
            for tid in set(a) | set(b)}


def loop_busy(usage, begin, end, threads):
    """CPU seconds of a process's threads between two moments: the main
    thread's and the busiest `threads` - 1 others', largest first. With
    OMP_WAIT_POLICY=passive that is the time each OpenMP thread computed in
    the step loop; MPI waits poll, so the main thread's share also holds the
    time it waited for other processes, the other threads' none."""
    samples = usage["samples"]
    first, last = thread_seconds_at(samples, begin), thread_seconds_at(samples, end)
    main = str(usage["pid"])
    spent = {tid: last[tid] - first.get(tid, 0.0) for tid in last}
    others = sorted((v for tid, v in spent.items() if tid != main), reverse=True)
    return [spent.get(main, 0.0)] + (others + [0.0] * threads)[:threads - 1]


def resident_at(samples, moment):
    """Resident MiB of the last sample before a moment."""
    before = [s["rss_kib"] for s in samples if s["t"] <= moment]
    return before[-1] / 1024.0 if before else 0.0


# What each part of the set-up adds to a process's resident memory.
MEMORY_LINE = re.compile(r"resident memory of (.+) on process (\d+): (-?\d+) KiB")


def module_memory(stamps):
    """MiB that each part of the set-up added, summed over the processes, in
    the order of the set-up."""
    parts = {}
    for _, line in stamps:
        m = MEMORY_LINE.search(line)
        if m:
            parts[m.group(1)] = parts.get(m.group(1), 0.0) + int(m.group(3)) / 1024.0
    return parts


def segments(stamps, loop_start, loop_end):
    """Seconds of the step loop between a module's progress line and the next
    progress line, summed over the steps, by module (rank 0's view: a module's
    share also holds what runs after it up to the next module's line, such as
    the soil-water sub-steps and the grid output at the end of a step)."""
    marks = [(t, MODULE_LINE.match(line).group(1)) for t, line in stamps
             if loop_start <= t < loop_end and MODULE_LINE.match(line)]
    sums = {}
    for (t, name), (t_next, _) in zip(marks, marks[1:] + [(loop_end, None)]):
        sums[name] = sums.get(name, 0.0) + t_next - t
    return sums


def output_files(folder):
    skip = re.compile("|".join("(?:%s)" % p for p in NOT_COMPARED))
    found = []
    for root, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(root, name)
            relative = os.path.relpath(path, folder)
            if os.path.islink(path) or skip.fullmatch(relative):
                continue
            found.append(relative)
    return sorted(found)


def compare(reference, folder):
    """Names of the output files that differ from the reference run or exist in one only."""
    ours, theirs = output_files(reference), output_files(folder)
    differ = sorted(set(ours) ^ set(theirs))
    for name in sorted(set(ours) & set(theirs)):
        if not filecmp.cmp(os.path.join(reference, name), os.path.join(folder, name),
                           shallow=False):
            differ.append(name)
    return differ, len(ours)


# ---------------------------------------------------------------- main
def arguments():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("tavro", help="the tavro program (e.g. build/app/tavro)")
    p.add_argument("--data", default=os.environ.get("UPPER_MOSELLE_DATA", DEFAULT_DATA),
                   help="the upper-Moselle data folder (default: $UPPER_MOSELLE_DATA or %(default)s)")
    p.add_argument("--work", default=os.path.join(HERE, "work"),
                   help="folder of the inputs and runs (default: %(default)s)")
    p.add_argument("--steps", type=int, default=30, help="daily steps per run (default 30)")
    p.add_argument("--layouts", default=None,
                   help="PxT,... (default %s, and 1xN, N/2x2, Nx1 on a machine with N > 8 cores)"
                   % DEFAULT_LAYOUTS)
    p.add_argument("--factor", type=int, default=5,
                   help="cells per side of a refined cell (default 5: 500 m to 100 m)")
    p.add_argument("--schedule", default="dynamic",
                   help="OMP_SCHEDULE of the cell loops (default %(default)s: the soil columns "
                   "differ in work; '' keeps the environment's, static when unset)")
    p.add_argument("--wait-policy", default="passive",
                   help="OMP_WAIT_POLICY (default %(default)s: an idle OpenMP thread sleeps, so "
                   "that its CPU time is the time it computed; '' keeps the environment's)")
    p.add_argument("--measure-speed", action="store_true",
                   help="let the model weight the strips by its speed benchmark (default: every "
                   "process gets the same weight through MpiSpeedFactor.dat)")
    p.add_argument("--bind", action="store_true",
                   help="bind each process to its threads' cores (mpiexec -bind-to core:T)")
    return p.parse_args()


def default_layouts():
    names = DEFAULT_LAYOUTS.split(",")
    n = os.cpu_count() or 1
    if n > 8:
        names += ["1x%d" % n, "%dx2" % (n // 2), "%dx1" % n]
    return names


def main():
    args = arguments()
    tavro = os.path.abspath(args.tavro)
    if not os.access(tavro, os.X_OK):
        fail("%s is not an executable program" % tavro)
    if not os.path.isdir(args.data):
        fail("data folder %s not found (give --data or UPPER_MOSELLE_DATA)" % args.data)
    if args.steps < 1 or args.factor < 1:
        fail("--steps and --factor must be at least 1")
    layouts = [Layout(t) for t in (args.layouts.split(",") if args.layouts else default_layouts())]
    work = os.path.abspath(args.work)
    prepared = os.path.join(work, "prepared-500m")
    inputs = os.path.join(work, "refined-x%d" % args.factor)
    prepare(os.path.abspath(args.data), prepared)
    refine(prepared, inputs, args.factor)
    write_control(inputs, prepared, args.factor, args.steps)
    cells = valid_cells(os.path.join(inputs, "zone.asc"))
    print("%d valid cells of %g m, %d daily steps from %s; %d cores on this machine; "
          "OMP_SCHEDULE=%s%s" % (cells, 500.0 / args.factor, args.steps, START, os.cpu_count() or 0,
                                 args.schedule or os.environ.get("OMP_SCHEDULE", "(unset)"),
                                 ", processes bound to cores" if args.bind else ""), flush=True)

    results = []
    for layout in layouts:
        folder = os.path.join(work, "runs", layout.name)
        print("running %s (%d processes x %d threads) in %s"
              % (layout.name, layout.processes, layout.threads, folder), flush=True)
        r = run_layout(tavro, inputs, folder, layout, args.steps, args.bind, args.schedule,
                       args.wait_policy, args.measure_speed)
        r["differ"], r["compared"] = compare(os.path.join(work, "runs", layouts[0].name), folder)
        results.append((layout, r))
        print("  %.1f s (set-up %.1f s, %.3f s per step, end %.1f s)"
              % (r["total"], r["setup"], r["loop"] / args.steps, r["end"]), flush=True)
    print_table(results, args.steps, cells, layouts[0])
    print_segments(results, args.steps)
    print_busy(results, args.steps)
    print_memory(results, cells)
    if any(r["differ"] for _, r in results):
        sys.exit(1)


def print_table(results, steps, cells, reference):
    base = results[0][1]["loop"]
    print()
    print("Whole model, %d cells, %d daily steps; speed-up and efficiency of the step loop "
          "against %s" % (cells, steps, reference.name))
    print("%-7s %5s %7s %8s %6s %9s %8s %10s %11s %10s  %s"
          % ("layout", "cores", "set-up", "loop", "end", "per step", "speed-up", "efficiency",
             "peak MiB/p", "MiB/Mcell", "outputs"))
    for layout, r in results:
        speed = base / r["loop"]
        same = "identical (%d files)" % r["compared"] if not r["differ"] else \
            "DIFFER: %s" % ", ".join(r["differ"][:5]) + (" ..." if len(r["differ"]) > 5 else "")
        print("%-7s %5d %6.1fs %7.1fs %5.1fs %8.3fs %8.2f %9.0f%% %11.0f %10.0f  %s"
              % (layout.name, layout.cores, r["setup"], r["loop"], r["end"], r["loop"] / steps,
                 speed, 100.0 * speed * reference.cores / layout.cores, max(r["rss_mib"]),
                 sum(r["rss_mib"]) / (cells / 1e6), same))
    print("set-up: from the start of mpiexec to the first step's progress line; loop: from there "
          "to \"reached end of simulation\"; end: the rest (final output, freeing).")
    print("peak MiB/p: the largest peak resident memory of one process; MiB/Mcell: the peaks "
          "of all processes summed, per million valid cells.")
    for layout, r in results:
        if layout.processes > 1 and r["strips"]:
            mean = sum(r["strips"]) / len(r["strips"])
            print("%s: cells per process %s (largest %.2f times the mean), peak MiB %s"
                  % (layout.name, " ".join(str(c) for c in r["strips"]), max(r["strips"]) / mean,
                     " ".join("%.0f" % m for m in r["rss_mib"])))


def print_segments(results, steps):
    """Where the step loop's time goes on rank 0, for the first and the fastest layout."""
    shown = [results[0]]
    best = min(results, key=lambda lr: lr[1]["loop"])
    if best is not results[0]:
        shown.append(best)
    names = []
    for _, r in shown:
        names += [n for n in r["segments"] if n not in names]
    print()
    print("Step loop on rank 0 by module, seconds per step (from each module's progress line to "
          "the next; \"real evapotranspir.\" also holds the soil-water sub-steps, \"routing_model\" "
          "the grid output and statistics at the end of the step)")
    print("%-28s" % "module" + "".join("%16s" % l.name for l, _ in shown))
    for name in names:
        print("%-28s" % name + "".join("%15.3fs" % (r["segments"].get(name, 0.0) / steps)
                                       for _, r in shown))



def print_busy(results, steps):
    """CPU seconds per step of each process's OpenMP threads in the step loop."""
    print()
    print("Busy time in the step loop, CPU seconds per step (OMP_WAIT_POLICY=passive: idle "
          "threads sleep; MPI waits poll and count on the main thread)")
    print("%-7s %4s %9s %9s %9s %9s %9s %8s %8s"
          % ("layout", "rank", "sum", "main", "thr.mean", "thr.max", "thr.min", "max/mean",
             "in use"))
    for layout, r in results:
        for rank, busy in enumerate(r["busy"]):
            mean = sum(busy) / len(busy)
            print("%-7s %4d %8.3fs %8.3fs %8.3fs %8.3fs %8.3fs %8.2f %7.0f%%"
                  % (layout.name, rank, sum(busy) / steps, busy[0] / steps, mean / steps,
                     max(busy) / steps, min(busy) / steps, max(busy) / mean if mean > 0 else 0.0,
                     100.0 * sum(busy) / (layout.threads * r["loop"])))
        workers = [sum(b[1:]) for b in r["busy"]]
        if layout.processes > 1 and layout.threads > 1 and sum(workers) > 0:
            print("%-7s      other threads' computation per process %s s per step: the largest "
                  "%.2f times the mean" % (layout.name, " ".join("%.3f" % (w / steps)
                                                                  for w in workers),
                                           max(workers) * len(workers) / sum(workers)))
    print("sum: all threads of the process; main: its main thread; thr.: one OpenMP thread; "
          "in use: the sum against threads x wall time of the loop (below 100 %: threads "
          "waited for work, for a serial section or for the CPU of a busy machine). The other "
          "threads compute only in parallel loops, so their sums compare the processes' work "
          "there (rank 0's also hold the formatting of its whole-raster ASCII output).")


def print_memory(results, cells):
    print()
    print("Resident memory per million cells by module, MiB, summed over the processes: what "
          "each part of the set-up added, and what the step loop added up to the peak "
          "(output copies on rank 0, workspaces)")
    names = []
    for _, r in results:
        names += [n for n in r["modules"] if n not in names]
    per = cells / 1e6
    print("%-42s" % "part" + "".join("%9s" % l.name for l, _ in results))
    for name in names:
        print("%-42s" % name[:42] + "".join(
            "%9.0f" % (r["modules"][name] / per) if name in r["modules"] else "%9s" % "-"
            for _, r in results))
    print("%-42s" % "the step loop (peak minus after set-up)" + "".join(
        "%9.0f" % ((sum(r["rss_mib"]) - sum(r["rss_loop_start_mib"])) / per) for _, r in results))
    print()
    print("Resident memory per process, MiB: after set-up (at the first step) and the peak of the "
          "run; per million cells: summed over the processes")
    for layout, r in results:
        print("%-7s after set-up %s; peak %s; per Mcell %.0f after set-up, %.0f peak"
              % (layout.name, " ".join("%.0f" % m for m in r["rss_loop_start_mib"]),
                 " ".join("%.0f" % m for m in r["rss_mib"]),
                 sum(r["rss_loop_start_mib"]) / (cells / 1e6), sum(r["rss_mib"]) / (cells / 1e6)))


if __name__ == "__main__":
    main()
