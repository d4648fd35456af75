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
        # What leaves each column, as in the balance table: the river exchange of
        # the groundwater module counts when the run wrote it.
        parts = [os.path.join(run, "%s_%s.sum" % (n, yy)) for n in ("direct_runoff", "interflow", "baseflow")]
        if all(os.path.exists(p) for p in parts):
            header, acc, nodata = combine(parts, lambda a, b: a + b)
            for name, sign in (("river_exfiltration", 1.0), ("river_infiltration", -1.0)):
                path = os.path.join(run, "%s_%s.sum" % (name, yy))
                if os.path.exists(path):
                    _, values, _ = read_grid(path)
                    acc = [[a if a == nodata else a + sign * v for a, v in zip(ra, rv)]
                           for ra, rv in zip(acc, values)]
            write_grid(os.path.join(out, "runoff_%d.asc" % year), header, acc, nodata)
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


def grid_mean(path):
    """The mean over the catchment's cells of a grid (all cells are alike)."""
    if not os.path.exists(path):
        return None
    _, values, nodata = read_grid(path)
    cells = [v for row in values for v in row if v != nodata]
    return sum(cells) / len(cells) if cells else None


# Sum grids of the run and the statistics tables of the storages.
FLUX_GRIDS = (("P", "precipitation"), ("ET", "etr"), ("QD", "direct_runoff"),
              ("QI", "interflow"), ("QB", "baseflow"))
# The river exchange of the groundwater module: exfiltration into the river
# cells (the subbasins' baseflow when the module is on) and infiltration from
# them. A run without the module writes neither grid; both are 0 there.
RIVER_GRIDS = (("GWEX", "river_exfiltration"), ("GWIN", "river_infiltration"))
STORAGES = (("snow", "snow_storage.stat"), ("interception", "interception_storage.stat"),
            ("soil", "soil_moisture_profile.stat"))
# Surface routing: the water standing on the cells that are no river cells (the soil takes it
# back the next step), and the subbasins' runoff handed to the routing in place of the soil
# module's. With it on, the direct runoff grid holds what reached the river cells.
SURFACE_STORAGE = ("surface", "surface_storage.stat")
SURFACE_QG = "surface_total_runoff.stat"


def storage_tables(run):
    """The storages' statistics tables of a run; the surface's only with surface routing."""
    names = STORAGES + ((SURFACE_STORAGE,) if os.path.exists(os.path.join(run, SURFACE_STORAGE[1])) else ())
    return {k: areal_mean(os.path.join(run, name)) for k, name in names}


def flux_sums(run, suffix):
    """Catchment means (mm) of the sum grids NAME<suffix>.sum, None unless all are there."""
    sums = {k: grid_mean(os.path.join(run, "%s%s.sum" % (name, suffix))) for k, name in FLUX_GRIDS}
    if any(v is None for v in sums.values()):
        return None
    river = {k: grid_mean(os.path.join(run, "%s%s.sum" % (name, suffix))) for k, name in RIVER_GRIDS}
    sums.update({k: 0.0 if v is None else v for k, v in river.items()})
    return sums


def storages_at(tables, date):
    """The storages (mm) at the end of the last step dated date or before."""
    out = {}
    for k, series in tables.items():
        before = [d for d in series if d <= date]
        if not before:
            return None
        out[k] = series[max(before)]
    return out


def water_balance(run, out, area_km2, outlet, start_run=None):
    """The catchment balance and each module's over every year that the run's
    yearly sum grids cover, over FIRST_YEAR-LAST_YEAR and over the whole run
    when its whole-run sums are there; the storages at the start of the run
    come from the tables of START_RUN (a run that ended where this one began)
    when given. Returns the lines written and the rows by period."""
    tables = storage_tables(run)
    daily = {k: areal_mean(os.path.join(run, name))
             for k, name in (("P", "precipitation.stat"), ("ET", "etr.stat"))}
    start_tables = storage_tables(start_run) if start_run else None
    surface = "surface" in tables
    qg = areal_mean(os.path.join(run, SURFACE_QG if surface else "total_runoff.stat"))
    q = column(os.path.join(run, "discharge.stat"), outlet)
    q = {(full_year(d[0]), d[1], d[2]): v * 86400.0 / (area_km2 * 1e3) for d, v in q.items()}
    dates = sorted(q)
    rows = {}

    def period(label, first, last, sums):
        before = (first[0] - 1, 12, 31) if first[1:] == (1, 1) else None
        begin = storages_at(tables, before) if before and before >= dates[0] else None
        if begin is None and start_tables is not None and first == dates[0]:
            begin = storages_at(start_tables, first)
        end = storages_at(tables, last)
        if sums is None or begin is None or end is None:
            return
        sel = [d for d in dates if first <= d <= last]
        r = dict(sums)
        # With the groundwater module on, "baseflow" is the water that the lateral
        # groundwater flow took out of (positive) or brought into each cell, which
        # over the catchment is what crossed its border (0 here: no fixed heads); the
        # water that leaves for the rivers is the exfiltration.
        r["R"] = sums["QD"] + sums["QI"] + sums["QB"] + sums["GWEX"] - sums["GWIN"]
        r["Qg"] = sum(qg[d] for d in sel)
        r["Q"] = sum(q[d] for d in sel)
        for k in tables:
            r["d" + k] = end[k] - begin[k]
        r.setdefault("dsurface", 0.0)
        ds = r["dsnow"] + r["dinterception"] + r["dsoil"] + r["dsurface"]
        r["residual"] = r["P"] - r["ET"] - r["Q"] - ds
        r["columns"] = r["P"] - r["ET"] - r["R"] - ds
        r["concentration"] = r["R"] - r["Qg"]
        r["routing"] = r["Qg"] - r["Q"]
        rows[label] = r

    years = sorted({d[0] for d in dates})
    for year in years:
        period(str(year), (year, 1, 1), (year, 12, 31), flux_sums(run, "_%02d00" % (year % 100)))
    compared = [str(y) for y in range(FIRST_YEAR, LAST_YEAR + 1)]
    if all(y in rows for y in compared):
        sums = {k: sum(rows[y][k] for y in compared) for k, _ in FLUX_GRIDS + RIVER_GRIDS}
        period("%d-%d" % (FIRST_YEAR, LAST_YEAR), (FIRST_YEAR, 1, 1), (LAST_YEAR, 12, 31), sums)
    period("run", dates[0], dates[-1], flux_sums(run, ""))

    def rel(v, p):
        return "%.2e" % (v / p) if p else "nan"

    lines = ["Water balance of the upper Moselle, mm over the catchment (%.2f km2)" % area_km2,
             "",
             "Catchment: residual = P - ET - Q - dS (snow, interception, soil columns, the",
             "water on the surface of the cells that are no river cells with surface routing)",
             "period\tP\tET\tQ\tdS_snow\tdS_interception\tdS_soil\tdS_surface\tresidual\tresidual/P"]
    for label, r in rows.items():
        lines.append("%s\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%s" % (
            label, r["P"], r["ET"], r["Q"], r["dsnow"], r["dinterception"], r["dsoil"],
            r["dsurface"], r["residual"], rel(r["residual"], r["P"])))
    lines += ["",
              "Snow, interception and soil columns, with the aquifer (the groundwater module's",
              "layer is the soil profile below the water table, so its water is in dS_soil):",
              "in P; out ET and the runoff R that leaves the columns: direct runoff QD +",
              "interflow QI + QB + exfiltration into the river cells GWEX - infiltration from",
              "them GWIN. QB is the column's own baseflow without the groundwater module, with",
              "it the net lateral groundwater outflow of the cells (0 over a closed catchment);",
              "With surface routing the surface of the cells is part of the columns",
              "(dS holds dS_surface) and QD is the direct runoff that reached the river cells.",
              "residual = P - ET - R - dS",
              "period\tP\tET\tQD\tQI\tQB\tGWEX\tGWIN\tR\tdS\tresidual\tresidual/P"]
    for label, r in rows.items():
        ds = r["dsnow"] + r["dinterception"] + r["dsoil"] + r["dsurface"]
        lines.append("%s\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%s" % (
            label, r["P"], r["ET"], r["QD"], r["QI"], r["QB"], r["GWEX"], r["GWIN"], r["R"], ds,
            r["columns"], rel(r["columns"], r["P"])))
    lines += ["",
              "Water in transit (the model writes no table of it; each is in - out):",
              "runoff concentration: in R, out the subbasins' runoff Qg; held in the flow-time",
              "zones and linear storages. River routing: in Qg, out Q at the outlet; held in",
              "the channels. The catchment residual is the columns' residual plus both.",
              "period\tR\tQg\tQ\tconcentration_dS\trouting_dS\tboth/P"]
    for label, r in rows.items():
        lines.append("%s\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%s" % (
            label, r["R"], r["Qg"], r["Q"], r["concentration"], r["routing"],
            rel(r["concentration"] + r["routing"], r["P"])))
    lines += drift_lines(tables, daily, qg, q)
    lines += ["",
              "Sources: P, ET and R from the run's sum grids (six significant digits per",
              "cell), the storages at the ends of each period from the statistics tables",
              "(three to five decimals), Qg from total_runoff.stat (surface_total_runoff.stat",
              "with surface routing), Q from discharge.stat.",
              "These digits bound what the residuals can show (the columns of a month",
              "close to about 1e-5 of P)."]
    with open(os.path.join(out, "water_balance.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    return lines, rows


def drift_lines(tables, daily, qg, q):
    """Water held in transit on the day of each year with the lowest outlet
    discharge, from the daily tables, relative to the end of the first step:
    stores that keep their water come back to the same low content every dry
    season, a leak drifts from year to year."""
    precipitation, evapotranspiration = daily["P"], daily["ET"]
    dates = [d for d in sorted(q) if d in qg and all(d in t for t in tables.values())
             and d in precipitation and d in evapotranspiration]
    if len(dates) < 2:
        return []
    held_zones, held_channels = 0.0, 0.0
    by_date = {}
    for a, b in zip(dates, dates[1:]):
        ds = sum(t[b] - t[a] for t in tables.values())
        held_zones += precipitation[b] - evapotranspiration[b] - ds - qg[b]
        held_channels += qg[b] - q[b]
        by_date[b] = (held_zones, held_channels)
    lines = ["",
             "Drift: on the day of each year with the lowest outlet discharge, the water in",
             "transit relative to the end of the first step (daily tables, mm); a store that",
             "keeps its water returns to the same low content every dry season, a leak drifts.",
             "year\tday\tQ\tconcentration\trouting"]
    for year in sorted({d[0] for d in by_date}):
        days = [d for d in by_date if d[0] == year]
        low = min(days, key=lambda d: (q[d], d))
        lines.append("%d\t%04d-%02d-%02d\t%.4f\t%.4f\t%.4f" % ((year,) + low + (q[low],) + by_date[low]))
    return lines


def outlet_and_area(run):
    with open(os.path.join(run, "subbasins.txt")) as f:
        last = f.read().split("\n")[-2].split()
    return last[0], float(last[5])


def balance_only(args):
    """results.py --balance RUN_FOLDER [START_RUN_FOLDER]: the water balance
    table of any run, without the fit and the grids."""
    run = args[0]
    out = os.path.join(run, "results")
    os.makedirs(out, exist_ok=True)
    outlet, area = outlet_and_area(run)
    lines, rows = water_balance(run, out, area, outlet, args[1] if len(args) > 1 else None)
    if not rows:
        fail("%s: no period with sum grids and the storages at both ends" % run)
    sys.stdout.write("\n".join(lines) + "\n")


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "--balance":
        balance_only(sys.argv[2:])
        return
    if len(sys.argv) < 2:
        sys.stderr.write("usage: results.py RUN_FOLDER [WALL_SECONDS]\n"
                         "       results.py --balance RUN_FOLDER [START_RUN_FOLDER]\n")
        sys.exit(2)
    run = sys.argv[1]
    wall = sys.argv[2] if len(sys.argv) > 2 else "?"
    out = os.path.join(run, "results")
    os.makedirs(out, exist_ok=True)
    observed = read_observed(os.path.join(run, "observed.dat"))
    outlet, area = outlet_and_area(run)
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
    balance, _ = water_balance(run, out, area, outlet)
    sys.stdout.write("\n".join(balance) + "\n")
    grids = yearly_grids(run, out)
    sys.stdout.write("yearly grids in %s: %s\n" % (out, " ".join(grids)))


if __name__ == "__main__":
    main()
