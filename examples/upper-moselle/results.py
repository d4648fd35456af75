#!/usr/bin/env python3
"""Summarises a run of the upper Moselle in its run folder.

Usage: results.py RUN_FOLDER [WALL_SECONDS]

Writes into RUN_FOLDER/results/:
- outlet_discharge.txt: date, simulated and observed daily discharge (m3/s);
- fit.txt: Nash-Sutcliffe efficiency, that of the logarithms and the volume
  error over 1990-1993 (the run's own goodness-of-fit blocks are at the end of
  discharge.stat);
- water_balance.txt: the catchment balance per year and over 1990-1993 from
  the run's tables (mm over the catchment);
- evapotranspiration_YYYY.asc, runoff_YYYY.asc, max_swe_YYYY.asc: yearly
  grids (sums in mm, the largest snow water equivalent in mm).
Python 3 standard library only.
"""

import math
import os
import re
import sys
from collections import defaultdict

FIRST_YEAR, LAST_YEAR = 1990, 1993  # the years compared (1989 is spin-up)


def fail(message):
    sys.stderr.write("results.py: FATAL: " + message + "\n")
    sys.exit(1)


def read_table(path):
    """A statistics table: the zone codes of its header and its dated rows."""
    try:
        with open(path) as f:
            lines = f.read().split("\n")
    except OSError as e:
        fail("cannot read %s (%s)" % (path, e.strerror))
    codes = None
    rows = []
    for line in lines:
        w = line.split("\t")
        if len(w) > 4 and w[:4] == ["YY", "MM", "DD", "HH"] and codes is None:
            codes = [c.strip('"') for c in w[4:]]
            continue
        if codes is None or len(w) < 5:
            continue
        try:
            date = tuple(int(v) for v in w[:3])
            values = [float(v) for v in w[4:4 + len(codes)]]
        except ValueError:
            continue  # the goodness-of-fit blocks
        if len(values) == len(codes):
            rows.append((date, values))
    if codes is None:
        fail("%s has no header line" % path)
    return codes, rows


def column(path, code):
    codes, rows = read_table(path)
    if code not in codes:
        fail("%s has no column %s" % (path, code))
    i = codes.index(code)
    return {d: v[i] for d, v in rows}


def read_observed(path):
    observed = {}
    with open(path) as f:
        for line in f.read().split("\n")[2:]:
            w = line.split()
            if len(w) == 5:
                observed[(int(w[0]), int(w[1]), int(w[2]))] = float(w[4])
    return observed


def full_year(y):
    return y + 1900 if y < 1000 else y


def fit(sim, obs):
    pairs = [(s, o) for s, o in zip(sim, obs) if o > 0]
    n = len(pairs)
    mean_o = sum(o for _, o in pairs) / n
    sse = sum((s - o) ** 2 for s, o in pairs)
    sso = sum((o - mean_o) ** 2 for _, o in pairs)
    log_pairs = [(math.log(s), math.log(o)) for s, o in pairs if s > 0]
    mean_lo = sum(o for _, o in log_pairs) / len(log_pairs)
    lsse = sum((s - o) ** 2 for s, o in log_pairs)
    lsso = sum((o - mean_lo) ** 2 for _, o in log_pairs)
    volume = (sum(s for s, _ in pairs) - sum(o for _, o in pairs)) / sum(o for _, o in pairs)
    return n, 1.0 - sse / sso, 1.0 - lsse / lsso, volume


def read_grid(path):
    with open(path) as f:
        lines = f.read().split("\n")
    header = lines[:6]
    values = [[float(v) for v in line.split()] for line in lines[6:] if line.strip()]
    nodata = float(header[5].split()[1])
    return header, values, nodata


def write_grid(path, header, values, nodata):
    with open(path, "w") as f:
        f.write("\n".join(header) + "\n")
        for row in values:
            f.write(" ".join("%d" % nodata if v == nodata else "%.6g" % v for v in row) + "\n")


def combine(paths, reduce_cells):
    header, acc, nodata = read_grid(paths[0])
    for p in paths[1:]:
        _, values, _ = read_grid(p)
        for r, row in enumerate(values):
            for c, v in enumerate(row):
                if acc[r][c] != nodata:
                    acc[r][c] = reduce_cells(acc[r][c], v)
    return header, acc, nodata


def yearly_grids(run, out):
    written = []
    for year in range(1989, LAST_YEAR + 1):
        yy = "%02d00" % (year % 100)
        etr = os.path.join(run, "etr_%s.sum" % yy)
        if os.path.exists(etr):
            write_grid(os.path.join(out, "evapotranspiration_%d.asc" % year), *read_grid(etr))
            written.append("evapotranspiration_%d.asc" % year)
        parts = [os.path.join(run, "%s_%s.sum" % (n, yy)) for n in ("direct_runoff", "interflow", "baseflow")]
        if all(os.path.exists(p) for p in parts):
            write_grid(os.path.join(out, "runoff_%d.asc" % year), *combine(parts, lambda a, b: a + b))
            written.append("runoff_%d.asc" % year)
    # Largest snow water equivalent of each year from the daily grids, which
    # are removed once reduced.
    daily = defaultdict(list)
    folder = os.path.join(run, "daily_swe")
    for name in os.listdir(folder) if os.path.isdir(folder) else []:
        m = re.search(r"(\d{4})(\d{2})(\d{2})", name)
        if m:
            daily[int(m.group(1))].append(os.path.join(folder, name))
    for year, paths in sorted(daily.items()):
        write_grid(os.path.join(out, "max_swe_%d.asc" % year), *combine(sorted(paths), max))
        written.append("max_swe_%d.asc" % year)
        for p in paths:
            os.remove(p)
    return written


def areal_mean(path):
    """The catchment mean column of a statistics table by date."""
    codes, rows = read_table(path)
    i = codes.index("tot_average") if "tot_average" in codes else len(codes) - 1
    return {(full_year(d[0]), d[1], d[2]): v[i] for d, v in rows}


def water_balance(run, out, area_km2, outlet):
    series = {}
    for key, name in (("P", "precipitation.stat"), ("ET", "etr.stat"), ("snow", "snow_storage.stat"),
                      ("interception", "interception_storage.stat"),
                      ("soil", "soil_moisture_profile.stat")):
        path = os.path.join(run, name)
        if os.path.exists(path):
            series[key] = areal_mean(path)
    q = column(os.path.join(run, "discharge.stat"), outlet)
    q = {(full_year(d[0]), d[1], d[2]): v * 86400.0 / (area_km2 * 1e3) for d, v in q.items()}
    dates = sorted(q)
    lines = ["catchment water balance of the upper Moselle (mm over %.2f km2)" % area_km2,
             "storages at the end of each period; dS = change over the period; "
             "residual = P - ET - Q - dS",
             "period\tP\tET\tQ\tdS_snow\tdS_interception\tdS_soil\tresidual\tresidual/P"]

    def period(label, first, last):
        sel = [d for d in dates if first <= d <= last]
        if not sel:
            return
        before = [d for d in dates if d < first]
        s = {k: sum(series[k].get(d, 0.0) for d in sel) for k in ("P", "ET") if k in series}
        flow = sum(q[d] for d in sel)
        ds = {}
        for k in ("snow", "interception", "soil"):
            if k in series:
                end = series[k][sel[-1]]
                start = series[k][before[-1]] if before else float("nan")
                ds[k] = end - start
        residual = s.get("P", 0) - s.get("ET", 0) - flow - sum(ds.values())
        lines.append("%s\t%.3f\t%.3f\t%.3f\t%s\t%.3f\t%.2e" % (
            label, s.get("P", float("nan")), s.get("ET", float("nan")), flow,
            "\t".join("%.3f" % ds.get(k, float("nan")) for k in ("snow", "interception", "soil")),
            residual, residual / s["P"] if s.get("P") else float("nan")))

    for year in range(1989, LAST_YEAR + 1):
        period(str(year), (year, 1, 1), (year, 12, 31))
    period("%d-%d" % (FIRST_YEAR, LAST_YEAR), (FIRST_YEAR, 1, 1), (LAST_YEAR, 12, 31))
    lines.append("not in the tables: water in transit in the runoff concentration and the "
                 "river channels (its change is part of the residual)")
    with open(os.path.join(out, "water_balance.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    return lines


def main():
    if len(sys.argv) < 2:
        sys.stderr.write("usage: results.py RUN_FOLDER [WALL_SECONDS]\n")
        sys.exit(2)
    run = sys.argv[1]
    wall = sys.argv[2] if len(sys.argv) > 2 else "?"
    out = os.path.join(run, "results")
    os.makedirs(out, exist_ok=True)
    observed = read_observed(os.path.join(run, "observed.dat"))
    with open(os.path.join(run, "subbasins.txt")) as f:
        last = f.read().split("\n")[-2].split()
    outlet, area = last[0], float(last[5])
    q = column(os.path.join(run, "discharge.stat"), outlet)
    q = {(full_year(d[0]), d[1], d[2]): v for d, v in q.items()}
    with open(os.path.join(out, "outlet_discharge.txt"), "w") as f:
        f.write("date\tsimulated_m3s\tobserved_m3s\n")
        for d in sorted(q):
            f.write("%04d-%02d-%02d\t%.5f\t%.3f\n" % (d + (q[d], observed.get(d, -9999.0))))
    if not q or max(q) < (LAST_YEAR, 12, 31):
        fail("discharge.stat ends at %s, before %d-12-31: the run did not cover the period"
             % ("-".join(str(v) for v in max(q)) if q else "its start", LAST_YEAR))
    compared = [d for d in sorted(q) if FIRST_YEAR <= d[0] <= LAST_YEAR]
    n, nse, lnse, volume = fit([q[d] for d in compared], [observed.get(d, -1.0) for d in compared])
    text = ("daily discharge at the outlet (subbasin %s), %d-%d, %d days\n"
            "Nash-Sutcliffe efficiency\t%.4f\nNSE of the logarithms\t%.4f\n"
            "volume error (sim - obs) / obs\t%+.2f %%\nwall time of the run (s)\t%s\n"
            % (outlet, FIRST_YEAR, LAST_YEAR, n, nse, lnse, 100.0 * volume, wall))
    with open(os.path.join(out, "fit.txt"), "w") as f:
        f.write(text)
    sys.stdout.write(text)
    balance = water_balance(run, out, area, outlet)
    sys.stdout.write("\n".join(balance) + "\n")
    grids = yearly_grids(run, out)
    sys.stdout.write("yearly grids in %s: %s\n" % (out, " ".join(grids)))


if __name__ == "__main__":
    main()
