#!/usr/bin/env python3
"""Summarises a run of the upper Moselle in its run folder.

Usage: results.py RUN_FOLDER [WALL_SECONDS]
       results.py --balance RUN_FOLDER START_FOLDER

Writes into RUN_FOLDER/results/:
- outlet_discharge.txt: date, simulated and observed daily discharge (m3/s);
- fit.txt: Nash-Sutcliffe efficiency, that of the logarithms and the volume
  error over 1990-1993 (the run's own goodness-of-fit blocks are at the end of
  discharge.stat);
- water_balance.txt: the balance over 1990-1993 of the catchment and of its
  parts (mm over the catchment): fluxes from the yearly sum grids (binary
  doubles), the stores at the end of 1993 from the run's state grids and state
  files, those at the end of 1989 from RUN_FOLDER/end_1989 (the spin-up year
  run alone, kept by run.sh);
- evapotranspiration_YYYY.asc, runoff_YYYY.asc, max_swe_YYYY.asc: yearly
  grids (sums in mm, the largest snow water equivalent in mm);
- figures (SVG, drawn by svg_figures.py beside this script): hydrograph.svg
  (simulated against observed discharge at the outlet, 1990-1993, the fit in
  its title), a map NAME.svg of every yearly grid NAME.asc, and
  water_balance.svg (each year's P, ET, Q and change of storage).
results.py --figures RUN_FOLDER writes the outlet's discharge, the yearly grids
and the figures of a run of any period (the fit over its days with
observations), without the fit summary and the balance table.
Python 3 standard library only.
"""

import datetime
import math
import os
import re
import struct
import sys
from collections import defaultdict

import svg_figures

FIRST_YEAR, LAST_YEAR = 1990, 1993  # the years compared (1989 is spin-up)
SPIN_UP_STATE = "end_1989"  # grids and state file of the spin-up year run alone


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
    """A grid file as written by the model: ESRI ASCII, or binary doubles (a
    header of twelve doubles: ncols, nrows, xllcorner, yllcorner, cellsize,
    nodata and statistics, then the rows from the top, each west to east).
    Returns the ESRI ASCII header lines, the rows and the nodata value."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"ncol":
        if len(data) < 96:
            fail("%s is neither an ASCII nor a binary grid" % path)
        head = struct.unpack("<12d", data[:96])
        ncols, nrows = int(head[0]), int(head[1])
        if len(data) != 96 + 8 * ncols * nrows:
            fail("%s: %d bytes, not a binary double grid of %d x %d cells"
                 % (path, len(data), ncols, nrows))
        cells = struct.unpack("<%dd" % (ncols * nrows), data[96:])
        values = [list(cells[r * ncols:(r + 1) * ncols]) for r in range(nrows)]
        header = ["ncols %d" % ncols, "nrows %d" % nrows, "xllcorner %s" % repr(head[2]),
                  "yllcorner %s" % repr(head[3]), "cellsize %s" % repr(head[4]),
                  "NODATA_value %d" % head[5]]
        return header, values, head[5]
    lines = data.decode().split("\n")
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
        parts = [os.path.join(run, "%s_%s.sum" % (n, yy)) for n in ("direct_runoff", "interflow")]
        baseflow = os.path.join(run, "baseflow_%s.sum" % yy)
        if all(os.path.exists(p) for p in parts + [baseflow]):
            header, acc, nodata = combine(parts, lambda a, b: a + b)
            # With the groundwater module the baseflow grid sums its hand-over
            # rates (m/s, a day each; the rate of the last day of the year moves
            # water on the first of the next, that of the last day before it on
            # this year's first).
            scale = DAY_MM if os.path.exists(os.path.join(run, "gw_balance_%s.sum" % yy)) else 1.0
            _, values, _ = read_grid(baseflow)
            acc = [[a if a == nodata else a + scale * v for a, v in zip(ra, rv)]
                   for ra, rv in zip(acc, values)]
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


def grid_sum(path):
    """The exact sum (math.fsum) and count of a grid's cells, None when absent."""
    if not os.path.exists(path):
        return None
    _, values, nodata = read_grid(path)
    cells = [v for row in values for v in row if v != nodata]
    return math.fsum(cells), len(cells)


def grid_mean(path):
    """The mean over the catchment's cells of a grid (all cells are alike)."""
    s = grid_sum(path)
    return s[0] / s[1] if s and s[1] else None


# Sum grids of the run (binary doubles: every cell's sum as the model holds it).
FLUX_GRIDS = (("P", "precipitation"), ("ET", "etr"), ("QD", "direct_runoff"),
              ("QI", "interflow"), ("QB", "baseflow"))
# The river exchange of the groundwater module: exfiltration into the river
# cells (the subbasins' baseflow when the module is on) and infiltration from
# them. A run without the module writes neither grid; both are 0 there.
RIVER_GRIDS = (("GWEX", "river_exfiltration"), ("GWIN", "river_infiltration"))
# The groundwater module's own balance per cell (mm): the storage change of the
# layer that its lateral inflows do not explain; absent without the module.
GROUNDWATER_BALANCE = ("GWB", "gw_balance")
# The stores of the columns, from the grids written at the end of a run
# (binary doubles): the snow pack's solid and liquid water, the interception
# store, the water of the soil profile (mm; the aquifer is the profile below
# the water table).
STATE_GRIDS = (("snow", ("snow_solid.asc", "snow_liquid.asc")),
               ("interception", ("interception_storage.asc",)),
               ("soil", ("soil_moisture_profile.asc",)))
# The soil's water, exactly: the water contents of the layers (theta.stack)
# times their thicknesses (the differences of geodetic_heads.stack, whose
# levels are the surface and the lower boundary of every layer), binary
# stacks written at the end of a run. The profile grid of the soil
# (soil_moisture_profile.asc) integrates the water down to 1e-8 m above the
# bottom of the column, so its change misses that of the lowest sliver (the
# lateral groundwater flow and the river exchange change the bottom layer);
# it gives the cells of the catchment.
SOIL_STACKS = ("theta.stack", "geodetic_heads.stack")
STATE_FILE = "soil_state.txt"  # the state file of the control file; each process appends _<rank>
# Surface routing (its section in the state file): the water standing on the
# cells that are no river cells at the end of a step (mm; the soil takes it
# back in the next step, and the overland flow's depth is this water), and the
# subbasins' runoff Qg handed to the routing in place of the soil module's.
SURFACE_SECTION = "SurfaceRoutingModel"
SURFACE_GRID = "surface_storage.asc"
SURFACE_QG = "surface_total_runoff.stat"


def flux_sums(run, suffixes):
    """Catchment means (mm) of the sum grids NAME<suffix>.sum added over the
    suffixes (per cell, exactly); None unless all are there."""
    out = {}
    for key, name in FLUX_GRIDS + RIVER_GRIDS:
        total, count = [], None
        for suffix in suffixes:
            s = grid_sum(os.path.join(run, "%s%s.sum" % (name, suffix)))
            if s is None:
                break
            total.append(s[0])
            count = s[1]
        if len(total) < len(suffixes):
            if (key, name) in RIVER_GRIDS:
                out[key] = 0.0
                continue
            return None
        out[key] = math.fsum(total) / count
    key, name = GROUNDWATER_BALANCE
    parts = [grid_sum(os.path.join(run, "%s%s.sum" % (name, suffix))) for suffix in suffixes]
    out[key] = (math.fsum(p[0] for p in parts) / parts[0][1]
                if all(p is not None for p in parts) else None)
    return out


# With the groundwater module on, "baseflow" is its hand-over to the columns:
# at the end of every day the grid holds the rate (m/s) at which each column
# gives water (negative: takes it) on the next day, and the sum grids add
# those rates. The water the columns moved laterally from the first to the
# last day of a period is therefore the rates summed, less that of the last
# day (moved after the period), plus the rate handed over on the day before
# the first (the grid baseflow.asc that the run ending there left), times the
# seconds of a day; in mm.
HAND_OVER = "baseflow.asc"
DAY_MM = 86400.0 * 1000.0  # a rate in m/s over a day, in mm


def lateral_baseflow(run, start, suffixes):
    """The catchment mean (mm) of the water the columns gave through the
    groundwater module's hand-over over the period of the sum grids
    baseflow<suffix>.sum; None when a grid is missing."""
    parts = [grid_sum(os.path.join(run, "baseflow%s.sum" % suffix)) for suffix in suffixes]
    end = grid_sum(os.path.join(run, HAND_OVER))
    begin = grid_sum(os.path.join(start, HAND_OVER))
    if any(part is None for part in parts) or end is None or begin is None:
        return None
    total = math.fsum([part[0] for part in parts] + [-end[0], begin[0]])
    return total * DAY_MM / parts[0][1]


def state_sections(folder):
    """The sections of the state file of rank 0 (which holds the delay lines of
    the runoff concentration and the routing) by name, as lists of lines."""
    path = os.path.join(folder, STATE_FILE + "_0")
    if not os.path.exists(path):
        path = os.path.join(folder, STATE_FILE)
    if not os.path.exists(path):
        return None
    sections, name = {}, None
    with open(path) as f:
        for line in f.read().split("\n"):
            if line.startswith("["):
                name = line.strip().strip("[]")
                sections[name] = []
            elif name is not None:
                sections[name].append(line)
    return sections


def numbers(line):
    """The numbers of a state line before its annotation in parentheses."""
    return [float(v) for v in line.split("(")[0].split()]


def concentration_storage(lines, cells, step_minutes, surface_lines=None):
    """Water in the runoff concentration (mm over the catchment) from the
    soil-water module's state section, or with surface_lines from surface
    routing's (which concentrates the water of the river cells and the
    interflow itself, with the soil module's subbasins and storage constants):
    zones 2 and later of the flow-time zones of every subbasin (sx, weighted
    runoff, over the weight that zone 1 carries in every step: what the zone
    gives when it leaves), and the two linear storages, whose content is
    a / (1 - a) times their outflow (a = exp(-step / storage constant)), as the
    module keeps its balance. With surface routing on, the soil module's own
    zones and storages pass their inflow on (one zone, a = 0): only surface
    routing's hold water."""
    n = int(numbers(lines[0])[0])
    codes = [int(v) for v in numbers(lines[1])]
    kelsqd, kelsqi = numbers(lines[2]), numbers(lines[3])
    if surface_lines is None:
        i = 8
        if int(numbers(lines[i])[0]) < 0:
            fail("unexpected state section")
        i += 2  # the tracer count and the "0 (0=runoff...)" line
    else:
        lines = surface_lines
        if int(numbers(lines[0])[0]) != n:
            fail("surface routing's state section holds %s subbasins, the soil's %d"
                 % (lines[0].split()[0], n))
        i = 3  # the subbasin count, the tracer count and the "0 (0=runoff...)" line
    total_cells = sum(cells.values())
    held = []
    for k in range(n):
        max_zone = int(numbers(lines[i])[1])
        zones = [numbers(l) for l in lines[i + 1:i + 1 + 2 * max_zone]]
        i += 1 + 2 * max_zone
        qdd, qii = numbers(lines[i])[0], numbers(lines[i + 1])[0]
        i += 2
        weight = zones[0][4]
        in_zones = math.fsum(z[1] for z in zones[2:]) / weight if weight > 0 else 0.0
        ad = math.exp(-step_minutes / kelsqd[k]) if kelsqd[k] > 0 else 0.0
        ai = math.exp(-step_minutes / kelsqi[k]) if kelsqi[k] > 0 else 0.0
        content = in_zones + ad / (1.0 - ad) * qdd + ai / (1.0 - ai) * qii
        held.append(content * cells[codes[k]] / total_cells)
    return math.fsum(held)


def routing_channels(control):
    """The channels of the routing description: tributary code -> (storage
    constants of the main channel and the flood plain in h, drained area AE in km2)."""
    channels = {}
    with open(control) as f:
        for line in f:
            m = re.match(r"OL\s+(\d+)\s.*kh=\s*(\S+)\s+kv=\s*(\S+).*AE=\s*(\S+)", line)
            if m:
                channels[int(m.group(1))] = (float(m.group(2)), float(m.group(3)),
                                             float(m.group(4)))
    return channels


def channel_storage(lines, channels, area_km2):
    """Water in the channels (mm over the catchment) from the routing's state
    section, per tributary's channel (mm over its drained area AE):
    - the translation: the chain elements behind the part that drained in the
      last step, up to the end position of the held water, in every
      sub-channel (part length = (chain length - K) / sub-channels);
    - every sub-channel's linear storage, c / (1 - c) times its outflow of the
      last step (c = exp(-1 / k), k in h): the main channel's with its part of
      the outflow, the flood plain's with its own (a state without the flood
      plain's part needs equal constants)."""
    blocks, current, chain_open = [], None, False
    for line in lines:
        m = re.match(r"\s*(\d+) (\d+) \(tracer/flow index and (tributary subbasin|external inflow)\)",
                     line)
        if m:
            if m.group(3) != "tributary subbasin":
                fail("the balance does not know the storage of external inflows")
            chain_open = m.group(1) == "0"
            if chain_open:
                current = {"code": int(m.group(2)), "chain": [], "parts": []}
                blocks.append(current)
            continue
        if ".Qaus[subchannel" in line:
            chain_open = False
            current["parts"].append([numbers(line), None])
        elif "].qvzuq[subchannel" in line:
            # " end position N" and, since the flood plain keeps its own water,
            # " flood plain outflow v1 .. vK" (its part of the outflows).
            rest = line.split("end position")[1].split("flood plain outflow")
            current["parts"][-1][1] = int(rest[0])
            current["parts"][-1].append(numbers(rest[1]) if len(rest) > 1 else None)
        elif chain_open:
            current["chain"] += numbers(line)
    held = []
    for block in blocks:
        kh, kv, area = channels[block["code"]]
        cm, cf = math.exp(-1.0 / kh), math.exp(-1.0 / kv)
        k = len(block["parts"][0][0])
        part_length = (len(block["chain"]) - k) // len(block["parts"])
        water = []
        for sc, (outflow, end, flood) in enumerate(block["parts"], start=1):
            base = (sc - 1) * part_length
            water += block["chain"][base + k:end]  # elements base+K+1 .. end (1-based)
            if flood is None:
                if kh != kv:
                    fail("channel %d: the balance needs the flood plain's outflow" % block["code"])
                flood = [0.0] * len(outflow)
            water += [cm / (1.0 - cm) * (q - f) + cf / (1.0 - cf) * f
                      for q, f in zip(outflow, flood)]
        held.append(math.fsum(water) * area / area_km2)
    return math.fsum(held)


def read_stack(path):
    """A binary double stack: a header of twelve doubles (ncols, nrows, ...,
    the highest level in the seventh), then the levels 0..L of every cell,
    rows from the top, each west to east. Returns the levels of every cell as
    one list per cell, row by row; None when the file is absent."""
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        data = f.read()
    head = struct.unpack("<12d", data[:96])
    ncols, nrows = int(head[0]), int(head[1])
    levels = (len(data) - 96) // 8 // (ncols * nrows)
    if len(data) != 96 + 8 * ncols * nrows * levels:
        fail("%s: %d bytes, not a binary double stack of %d x %d cells" % (path, len(data), ncols,
                                                                           nrows))
    values = struct.unpack("<%dd" % (ncols * nrows * levels), data[96:])
    return [values[i * levels:(i + 1) * levels] for i in range(ncols * nrows)]


def soil_water(folder):
    """The mean water of the soil columns (mm), from the stacks of folder over
    the cells of its profile grid; None when a file is missing."""
    theta, geodetic = (read_stack(os.path.join(folder, name)) for name in SOIL_STACKS)
    path = os.path.join(folder, STATE_GRIDS[2][1][0])
    if theta is None or geodetic is None or not os.path.exists(path):
        return None
    _, profile, nodata = read_grid(path)
    ncols = len(profile[0])
    water = []
    for r, row in enumerate(profile):
        for c, v in enumerate(row):
            if v == nodata:
                continue
            t, z = theta[r * ncols + c], geodetic[r * ncols + c]
            water.extend(t[k] * (z[k - 1] - z[k]) * 1000.0 for k in range(1, len(t)))
    return math.fsum(water) / sum(1 for row in profile for v in row if v != nodata)


def storages(folder, run, area_km2, cells, step_minutes):
    """Every store of the catchment (mm) at the end of the run that left its
    grids and state file in folder; None when something is missing. With
    surface routing on, the water on the surface is one of the columns' stores
    and its runoff concentration replaces the soil module's (whose storages
    then pass their inflow on)."""
    out = {}
    for key, names in STATE_GRIDS:
        means = [grid_mean(os.path.join(folder, n)) for n in names]
        if any(m is None for m in means):
            return None
        out[key] = math.fsum(means)
    out["soil"] = soil_water(folder)
    if out["soil"] is None:
        return None
    sections = state_sections(folder)
    if sections is None or "unsatzon_model" not in sections or "routing_model" not in sections:
        return None
    if SURFACE_SECTION in sections:
        out["surface"] = grid_mean(os.path.join(folder, SURFACE_GRID))
        if out["surface"] is None:
            return None
        out["concentration"] = concentration_storage(sections["unsatzon_model"], cells, step_minutes,
                                                     sections[SURFACE_SECTION])
    else:
        out["surface"] = 0.0
        out["concentration"] = concentration_storage(sections["unsatzon_model"], cells, step_minutes)
    out["channels"] = channel_storage(sections["routing_model"],
                                      routing_channels(os.path.join(run, "upper-moselle.ctl")),
                                      area_km2)
    return out


def subbasin_cells(run):
    cells = {}
    with open(os.path.join(run, "subbasins.txt")) as f:
        for line in f.read().split("\n")[1:]:
            w = line.split()
            if len(w) >= 4:
                cells[int(w[0])] = int(w[3])
    return cells


def water_balance(run, out, area_km2, outlet, start, first, last, suffixes):
    """The catchment balance and each module's from first to last (dates),
    fluxes from the sum grids NAME<suffix>.sum of run added over suffixes, the
    stores at the start from the folder start (grids and state file of a run
    that ended the day before first), those at the end from run. Returns the
    lines written and the rows (None when something is missing)."""
    cells = subbasin_cells(run)
    begin = storages(start, run, area_km2, cells, 1440.0)
    end = storages(run, run, area_km2, cells, 1440.0)
    sums = flux_sums(run, suffixes)
    if begin is None or end is None or sums is None:
        return [], None
    q = column(os.path.join(run, "discharge.stat"), outlet)
    q = {(full_year(d[0]), d[1], d[2]): v for d, v in q.items()}
    surface = SURFACE_SECTION in state_sections(run)
    qg = areal_mean(os.path.join(run, SURFACE_QG if surface else "total_runoff.stat"))
    days = [d for d in sorted(q) if first <= d <= last]
    mm = 86400.0 / (area_km2 * 1e3)  # m3/s over a day -> mm over the catchment
    r = dict(sums)
    coupled = r["GWB"] is not None  # the groundwater module's balance grids exist
    if coupled:
        r["QB"] = lateral_baseflow(run, start, suffixes)
        if r["QB"] is None:
            return [], None
    r["Q"] = math.fsum(q[d] for d in days) * mm
    r["Qg"] = math.fsum(qg[d] for d in days)
    r["R"] = r["QD"] + r["QI"] + r["QB"] + r["GWEX"] - r["GWIN"]
    # What reaches the runoff concentration: with the groundwater module the
    # baseflow moves water between the columns (its sum is what the module's
    # solver leaves unbalanced), and the rivers get the exfiltration instead.
    r["lateral"] = r["QB"] if coupled else 0.0
    r["Rriver"] = r["R"] - r["lateral"]
    for k in end:
        r["d" + k] = end[k] - begin[k]
    columns = r["dsnow"] + r["dinterception"] + r["dsoil"] + r["dsurface"]
    transit = r["dconcentration"] + r["dchannels"]
    r["residual"] = r["P"] - r["ET"] - r["Q"] - columns - transit
    r["columns"] = r["P"] - r["ET"] - r["R"] - columns
    r["transit"] = r["Rriver"] - r["Q"] - transit
    r["concentration"] = r["Rriver"] - r["Qg"] - r["dconcentration"]
    r["routing"] = r["Qg"] - r["Q"] - r["dchannels"]
    # Q is written with five decimals in m3/s: each day's value is off by at
    # most half a unit of the last one, independently of the others.
    half = 0.5e-5 * mm
    r["Q_bound"] = len(days) * half
    r["Q_expected"] = math.sqrt(len(days) / 3.0) * half
    # total_runoff.stat: six decimals of mm.
    r["Qg_expected"] = math.sqrt(len(days) / 3.0) * 0.5e-6
    p = r["P"]

    def rel(v):
        return "%.2e" % (v / p) if p else "nan"

    label = "%04d-%02d-%02d..%04d-%02d-%02d" % (first + last)
    lines = ["Water balance of the upper Moselle, mm over the catchment (%.2f km2), %s (%d days)"
             % (area_km2, label, len(days)),
             "",
             "Catchment: residual = P - ET - Q - dS, dS the change of every store (snow,",
             "interception, soil columns with the aquifer, the water standing on the surface",
             "of the cells that are no river cells (surface routing), runoff concentration,",
             "channels)",
             "P\tET\tQ\tdS_snow\tdS_interception\tdS_soil\tdS_surface\tdS_concentration\tdS_channels\t"
             "residual\tresidual/P",
             "%.9f\t%.9f\t%.9f\t%.9f\t%.9f\t%.9f\t%.9f\t%.9f\t%.9f\t%.6e\t%s" % (
                 p, r["ET"], r["Q"], r["dsnow"], r["dinterception"], r["dsoil"], r["dsurface"],
                 r["dconcentration"], r["dchannels"], r["residual"], rel(r["residual"])),
             "",
             "Snow, interception and soil columns with the aquifer (the groundwater module's",
             "layer is the soil profile below the water table, so its water is in dS_soil):",
             "in P; out ET and the runoff R that leaves the columns: direct runoff QD +",
             "interflow QI + QB + exfiltration into the river cells GWEX - infiltration from",
             "them GWIN. QB is the column's own baseflow without the groundwater module, with",
             "it the net lateral groundwater outflow of the cells (0 over a closed catchment),",
             "the water the columns gave through the module's hand-over (its rates from",
             "the day before the first to the day before the last, from the sum grids and",
             "the grids baseflow.asc at both ends).",
             "With surface routing the water standing on the surface is one of the columns'",
             "stores (dS holds dS_surface) and QD is the direct runoff that reached the river",
             "cells; residual = P - ET - R - dS",
             "P\tET\tQD\tQI\tQB\tGWEX\tGWIN\tR\tdS\tresidual\tresidual/P",
             "%.9f\t%.9f\t%.9f\t%.9f\t%.9f\t%.9f\t%.9f\t%.9f\t%.9f\t%.6e\t%s" % (
                 p, r["ET"], r["QD"], r["QI"], r["QB"], r["GWEX"], r["GWIN"], r["R"], columns,
                 r["columns"], rel(r["columns"])),
             ] + ([] if r["GWB"] is None else [
             "The groundwater module's own balance: the storage change of its layer that",
             "the lateral inflows do not explain, summed over the cells (its solver stops",
             "at a head change of maxerror_allowed):",
             "GW_balance\t%.6e\t%s" % (r["GWB"], rel(r["GWB"])),
             "Its lateral flow over the catchment: QB, what the columns gave less what they",
             "took, which is that balance a day later (catchment residual = columns +",
             "water in transit + QB):",
             "GW_lateral\t%.6e\t%s" % (r["lateral"], rel(r["lateral"]))]) + [
             "",
             "Water in transit: runoff concentration (flow-time zones and linear storages of",
             "every subbasin, surface routing's when it is on) and channels together: in R",
             "(less QB with the groundwater module: that water stays in the columns), out Q",
             "at the outlet;",
             "residual = R - Q - dS_concentration - dS_channels",
             "R\tQ\tdS\tresidual\tresidual/P",
             "%.9f\t%.9f\t%.9f\t%.6e\t%s" % (r["Rriver"], r["Q"], transit, r["transit"],
                                             rel(r["transit"])),
             "",
             "Each on its own, through the subbasins' runoff Qg (%s, six" % (
                 SURFACE_QG if surface else "total_runoff.stat"),
             "decimals of mm a day: expected rounding %.1e of P over these days):" % (
                 r["Qg_expected"] / p if p else 0.0),
             "module\tin\tout\tdS\tresidual\tresidual/P",
             "concentration\t%.9f\t%.9f\t%.9f\t%.6e\t%s" % (
                 r["Rriver"], r["Qg"], r["dconcentration"], r["concentration"],
                 rel(r["concentration"])),
             "channels\t%.9f\t%.9f\t%.9f\t%.6e\t%s" % (
                 r["Qg"], r["Q"], r["dchannels"], r["routing"], rel(r["routing"])),
             "",
             "Sources: P, ET and R from the sum grids (binary doubles, added exactly over the",
             "cells); the stores at both ends from the grids written at the end of a run",
             "(binary doubles) and the state file (round-trip digits); Q from",
             "discharge.stat, five decimals of m3/s: rounding at most %.1e of P, expected" % (
                 r["Q_bound"] / p if p else 0.0),
             "%.1e of P (independent roundings of the %d days)." % (
                 r["Q_expected"] / p if p else 0.0, len(days))]
    with open(os.path.join(out, "water_balance.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")
    return lines, r


def outlet_and_area(run):
    with open(os.path.join(run, "subbasins.txt")) as f:
        last = f.read().split("\n")[-2].split()
    return last[0], float(last[5])


def balance_only(args):
    """results.py --balance RUN_FOLDER START_FOLDER: the water balance table of
    a run with whole-run sum grids over its whole period, the stores at its
    start from START_FOLDER (grids and state file of the run that ended where
    this one began), without the fit and the grids."""
    run, start = args[0], args[1]
    out = os.path.join(run, "results")
    os.makedirs(out, exist_ok=True)
    outlet, area = outlet_and_area(run)
    dates = sorted((full_year(d[0]), d[1], d[2])
                   for d in column(os.path.join(run, "discharge.stat"), outlet))
    if not dates:
        fail("%s/discharge.stat has no rows" % run)
    lines, rows = water_balance(run, out, area, outlet, start, dates[0], dates[-1], [""])
    if not rows:
        fail("%s: no sum grids or no stores at both ends (%s)" % (run, start))
    sys.stdout.write("\n".join(lines) + "\n")


MM_PER_M3S_DAY = 86400.0 * 1e-3  # m3/s over a day, over 1 km2, in mm

# The yearly grids and their maps: title, what a cell holds, whether it is a
# sum over the year's days (else the largest value of those days).
MAPPED_GRIDS = (
    ("evapotranspiration", "Actual evapotranspiration", "sum of the days", True),
    ("runoff", "Runoff from the columns",
     "direct runoff + interflow + baseflow + exfiltration - infiltration, sum of the days", True),
    ("max_swe", "Largest snow water equivalent", "largest of the daily grids", False))


def hydrograph_figure(out, outlet, area, days, q, observed):
    """hydrograph.svg: simulated and observed discharge at the outlet over the
    days (consecutive dates), the fit over those with observations in its
    title. Returns the fit (n, NSE, NSE of the logarithms, volume error) or
    None without observations."""
    first = datetime.date(*days[0])
    count = (datetime.date(*days[-1]) - first).days + 1
    dates = [first + datetime.timedelta(days=i) for i in range(count)]
    keys = [(d.year, d.month, d.day) for d in dates]
    sim = [q.get(k) for k in keys]
    obs = [observed[k] if observed.get(k, -1.0) >= 0.0 else None for k in keys]
    measured = [k for k in keys if observed.get(k, -1.0) > 0.0 and k in q]
    result = fit([q[k] for k in measured], [observed[k] for k in measured]) if measured else None
    if result:
        n, nse, lnse, volume = result
        subtitle = ("Nash-Sutcliffe efficiency %.3f, of the logarithms %.3f, volume error %+.1f %%"
                    " (%d days)" % (nse, lnse, 100.0 * volume, n))
    else:
        subtitle = "no observed discharge in this period"
    title = ("Daily discharge at the outlet (subbasin %s, %s km\u00b2), %s to %s"
             % (outlet, "{:,.0f}".format(area), dates[0].isoformat(), dates[-1].isoformat()))
    svg_figures.hydrograph(os.path.join(out, "hydrograph.svg"), title, subtitle, first,
                           [("observed", obs, "#222222", 1.0), ("simulated", sim, "#e66101", 1.2)],
                           "m\u00b3/s")
    return result


def map_figures(out, grids, days):
    """A map NAME.svg of every yearly grid NAME.asc written, on one scale per
    quantity over its years; days: the dates of the run."""
    written = []
    for prefix, title, what, summed in MAPPED_GRIDS:
        names = sorted(g for g in grids if re.fullmatch(prefix + r"_\d{4}\.asc", g))
        if not names:
            continue
        loaded = {name: read_grid(os.path.join(out, name)) for name in names}
        scale = svg_figures.class_breaks([v for _, rows, nodata in loaded.values()
                                          for row in rows for v in row if v != nodata])
        for name in names:
            header, rows, nodata = loaded[name]
            year = int(name[-8:-4])
            n = sum(1 for d in days if d[0] == year)
            full = n in (365, 366)
            unit = ("mm per year" if full else "mm in %d days" % n) if summed else "mm"
            note = "%s of %d%s" % (what, year, "" if full else " in the run (%d days)" % n)
            svg = name[:-4] + ".svg"
            svg_figures.grid_map(os.path.join(out, svg), "%s, %d" % (title, year), rows, nodata,
                                 scale, unit, note, float(header[4].split()[1]))
            written.append(svg)
    return written


def balance_figure(run, out, area, q, years):
    """water_balance.svg: each year's P and ET (catchment means of the yearly
    sum grids), Q (the outlet's discharge over the year's days of the run)
    and the change of storage that closes them, dS = P - ET - Q. Returns the
    rows, or None when no year has its sum grids."""
    groups = []
    mm = MM_PER_M3S_DAY / area
    for year in years:
        yy = "_%02d00" % (year % 100)
        p = grid_mean(os.path.join(run, "precipitation%s.sum" % yy))
        et = grid_mean(os.path.join(run, "etr%s.sum" % yy))
        if p is None or et is None:
            continue
        discharge = math.fsum(v for d, v in q.items() if d[0] == year) * mm
        groups.append((str(year), [p, et, discharge, p - et - discharge]))
    if not groups:
        return None
    svg_figures.bar_chart(os.path.join(out, "water_balance.svg"),
                          "Water balance of the upper Moselle, mm over the catchment",
                          "each year's precipitation P, evapotranspiration ET, discharge Q at the "
                          "outlet and change of storage dS = P - ET - Q",
                          groups, ["P", "ET", "Q", "dS"], ["#4575b4", "#1a9850", "#74add1",
                                                           "#999999"], "mm")
    return groups


def figures(run, out, outlet, area, days, q, observed, grids, years):
    """The figures of the results: the hydrograph over days, a map of every
    yearly grid, the water balance of the years."""
    hydrograph_figure(out, outlet, area, days, q, observed)
    written = ["hydrograph.svg"] + map_figures(out, grids, sorted(q))
    if balance_figure(run, out, area, q, years):
        written.append("water_balance.svg")
    return written


def outlet_discharge(run, out):
    """Writes outlet_discharge.txt; returns the outlet, its drained area, the
    simulated discharge by date and the observed one."""
    observed = read_observed(os.path.join(run, "observed.dat"))
    outlet, area = outlet_and_area(run)
    q = column(os.path.join(run, "discharge.stat"), outlet)
    q = {(full_year(d[0]), d[1], d[2]): v for d, v in q.items()}
    with open(os.path.join(out, "outlet_discharge.txt"), "w") as f:
        f.write("date\tsimulated_m3s\tobserved_m3s\n")
        for d in sorted(q):
            f.write("%04d-%02d-%02d\t%.5f\t%.3f\n" % (d + (q[d], observed.get(d, -9999.0))))
    return outlet, area, q, observed


def figures_only(run):
    """results.py --figures RUN_FOLDER: the outlet's discharge, the yearly
    grids and the figures of a run of any period."""
    out = os.path.join(run, "results")
    os.makedirs(out, exist_ok=True)
    outlet, area, q, observed = outlet_discharge(run, out)
    if not q:
        fail("%s/discharge.stat has no rows" % run)
    grids = yearly_grids(run, out)
    days = sorted(q)
    written = figures(run, out, outlet, area, days, q, observed, grids,
                      sorted(set(d[0] for d in days)))
    sys.stdout.write("figures in %s: %s\n" % (out, " ".join(written)))


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "--balance":
        balance_only(sys.argv[2:])
        return
    if len(sys.argv) == 3 and sys.argv[1] == "--figures":
        figures_only(sys.argv[2])
        return
    if len(sys.argv) < 2:
        sys.stderr.write("usage: results.py RUN_FOLDER [WALL_SECONDS]\n"
                         "       results.py --balance RUN_FOLDER START_FOLDER\n"
                         "       results.py --figures RUN_FOLDER\n")
        sys.exit(2)
    run = sys.argv[1]
    wall = sys.argv[2] if len(sys.argv) > 2 else "?"
    out = os.path.join(run, "results")
    os.makedirs(out, exist_ok=True)
    outlet, area, q, observed = outlet_discharge(run, out)
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
    # The stores at the end of the spin-up year come from the run of that year
    # alone, which run.sh kept in SPIN_UP_STATE (it equals the five-year run on
    # that day bit for bit: a run continued from the state file equals one long run).
    balance, rows = water_balance(run, out, area, outlet, os.path.join(run, SPIN_UP_STATE),
                                  (FIRST_YEAR, 1, 1), (LAST_YEAR, 12, 31),
                                  ["_%02d00" % (y % 100) for y in range(FIRST_YEAR, LAST_YEAR + 1)])
    if rows is None:
        fail("no water balance: sum grids or the stores of %s or of the run's end missing"
             % SPIN_UP_STATE)
    sys.stdout.write("\n".join(balance) + "\n")
    grids = yearly_grids(run, out)
    sys.stdout.write("yearly grids in %s: %s\n" % (out, " ".join(grids)))
    written = figures(run, out, outlet, area, compared, q, observed, grids,
                      range(FIRST_YEAR, LAST_YEAR + 1))
    sys.stdout.write("figures in %s: %s\n" % (out, " ".join(written)))


if __name__ == "__main__":
    main()
