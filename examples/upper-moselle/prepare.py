#!/usr/bin/env python3
"""Writes the model inputs of the upper Moselle from the data folder.

Usage: prepare.py DATA_FOLDER RUN_FOLDER

DATA_FOLDER holds grids/, meteo/ and gauges/ as described in its README; it is
only read. RUN_FOLDER receives the subbasin grid derived from the D8 flow
directions, the other grids cut to the catchment of the outlet gauge, the
station files of temperature and precipitation, the observed discharge, and
the control file upper-moselle.ctl made from the template beside this script
with the generated tables (land use, soil, subbasin parameters, routing
descriptions, monthly Hamon factors) filled in.

Python 3 standard library only. Every value that is chosen rather than
derived from the data is a named constant below and listed in README.md.
"""

import csv
import json
import math
import os
import sys
import heapq
from collections import defaultdict, deque

# ---------------------------------------------------------------- choices
# Subbasins: a confluence splits the network where both branches drain at
# least this many cells (a search between these bounds picks the threshold
# that gives a count inside COUNT_RANGE).
COUNT_RANGE = (10, 40)
TARGET_COUNT = 25
# Travel velocity of runoff to the subbasin outlet for the flow-time zones (m/s).
CONCENTRATION_VELOCITY = 0.5
# Bankfull geometry from drainage area A (km2): width 2.70 A^0.352 m,
# depth 0.30 A^0.213 m (Bieger et al. 2015, all regions).
WIDTH_COEF, WIDTH_EXP = 2.70, 0.352
DEPTH_COEF, DEPTH_EXP = 0.30, 0.213
FLOODPLAIN_WIDTH_FACTOR = 10.0  # flood plain width / channel width
MANNING_MAIN = 30.0  # Strickler coefficient of the main channel, m^(1/3)/s (Chow 1959: clean, winding natural streams)
MANNING_FLOOD = 15.0  # flood plain with brush (Chow 1959)
STORAGE_MAIN_H = 1.0  # storage constant of the main channel (h)
# The flood plain takes the main channel's constant, as the run's figures were measured with;
# the two storages keep their own water whatever their constants.
STORAGE_FLOOD_H = 1.0  # of the flood plain (h)
MIN_SLOPE = 0.0002  # lower limit of the channel slope (1/1)
# River cells of the groundwater's exchange: cells that drain at least this area (km2); 1 km2
# gives a network of 0.73 km per km2 on the 500 m grid (half an area would put a river into
# half of all cells).
RIVER_SUPPORT_KM2 = 1.0
# Leakage coefficient of the river bed (1/s): conductivity 1e-5 m/s of a sandy-silty bed over
# a clogged layer of 1 m, inside the range of bed conductivities compiled by Calver (2001,
# Hydrological Processes 15).
RIVER_BED_LEAKAGE = 1e-5
# Organic matter for the pedotransfer function (%): the data give none.
ORGANIC_MATTER_TOP = 2.0
ORGANIC_MATTER_SUB = 0.5
# Layers: horizon 1 (0-0.3 m) in 3 layers of 0.1 m, horizon 2 (0.3-1.0 m) in
# 4 layers of 0.175 m, and horizon 2's material continued as a third horizon
# down to 1.9 m in 3 layers of 0.3 m.
SOIL_LAYERS = (3, 4, 3)
SOIL_THICKNESS = (0.1, 0.175, 0.3)
# Vegetation cover from the leaf area index: 1 - exp(-k LAI) with the extinction coefficient of
# a canopy of spherical leaf angle distribution, k = 0.5 (Campbell and Norman 1998, An
# Introduction to Environmental Biophysics, ch. 15).
CANOPY_EXTINCTION = 0.5
# Mid-month Julian days at which the monthly leaf area index holds.
MID_MONTH = (15, 46, 74, 105, 135, 166, 196, 227, 258, 288, 319, 349)

# Global parameters set by hand (README.md lists each with its reason).
GLOBAL_PARAMETERS = {
    "@KELSQD@": "12",  # storage constant of direct runoff (h)
    "@KELSQI@": "120",  # storage constant of interflow (h)
    "@DRAINAGE_DENSITY@": "1.0",  # channel network density, scales interflow
    # The soil column's own baseflow, used only with the groundwater module off.
    "@KELSQLAT@": "0.5",  # baseflow recession with the depth of the water table (m)
    "@QBRED@": "2",  # largest baseflow (mm per day)
    "@AQUIFER_THICKNESS@": "1.9",
    "@AQUIFER_K@": "1e-4",  # lateral conductivity of the groundwater layer (m/s)
    "@AQUIFER_S@": "0.15",
    "@GROUNDWATER_ON@": "1",
    # Exfiltration into the river cells (1) comes with the groundwater module; exchange both ways
    # (2) needs a single process.
    "@SURFACE_INTERACTION@": "1",
    "@HREDUDRY@": "4.5",  # suction (m) below which root water uptake is reduced
    "@ROUTING_SUBINTERVALS@": "1",  # time sub-intervals of the channel routing
    # Surface routing: the direct runoff flows over the terrain to the river cells; the inner
    # step is the stable one within these bounds (s, integer fractions of the day).
    "@SURFACE_ROUTING_ON@": "1",
    "@SR_MIN_STEP@": "60",
    "@SR_MAX_STEP@": "21600",
}
# What a run changes: its period, the state it reads, what it writes.
RUN_DEFAULTS = {
    "@START_DAY@": "1", "@START_MONTH@": "1", "@START_YEAR@": "1989",
    "@END_DAY@": "31", "@END_MONTH@": "12", "@END_YEAR@": "1993",
    "@FIT_OFFSET@": "365",
    "@READ_STATE@": "0",
    "@INI_GW_LEVEL@": "2",
    "@PRECIPITATION_WRITECODE@": "20",
    "@ETR_WRITECODE@": "20",
    "@RUNOFF_WRITECODE@": "20",
    "@BASEFLOW_WRITECODE@": "23",
    "@SWE_WRITECODE@": "2",
    "@STATE_WRITECODE@": "3",
    # Output grids as binary doubles: the sums and stores of every cell as the
    # model holds them, so that the balance closes (results.py writes the
    # yearly grids as ESRI ASCII).
    "@ASCII_GRIDS@": "0",
    "@DOUBLE_GRIDS@": "1",
    "@VELOCITY_WRITECODE@": "0",
}

NODATA = -9999
D8 = {1: (0, 1), 2: (1, 1), 4: (1, 0), 8: (1, -1), 16: (0, -1), 32: (-1, -1), 64: (-1, 0), 128: (-1, 1)}


def fail(message):
    sys.stderr.write("prepare.py: FATAL: " + message + "\n")
    sys.exit(1)


def read_lines(path):
    try:
        with open(path) as f:
            return f.read().split("\n")
    except OSError as e:
        fail("cannot read %s (%s)" % (path, e.strerror))


# ---------------------------------------------------------------- grids
class AsciiGrid:
    def __init__(self, path):
        self.path = path
        try:
            with open(path) as f:
                lines = f.read().split("\n")
        except OSError as e:
            fail("cannot read grid %s (%s)" % (path, e.strerror))
        header = {}
        try:
            for i in range(6):
                key, value = lines[i].split()[:2]
                header[key.lower()] = float(value)
            self.ncols = int(header["ncols"])
            self.nrows = int(header["nrows"])
            self.xll = header["xllcorner"]
            self.yll = header["yllcorner"]
            self.cellsize = header["cellsize"]
            self.nodata = header["nodata_value"]
        except (ValueError, KeyError, IndexError):
            fail("grid %s: header of six lines (ncols ... nodata_value) not readable" % path)
        rows = [line.split() for line in lines[6:] if line.strip()]
        if len(rows) != self.nrows or any(len(r) != self.ncols for r in rows):
            fail("grid %s: %d rows of %s values, the header says %d rows of %d"
                 % (path, len(rows), sorted({len(r) for r in rows}), self.nrows, self.ncols))
        try:
            self.values = [[float(v) for v in r] for r in rows]
        except ValueError:
            fail("grid %s holds a value that is not a number" % path)

    def same_geometry(self, other):
        return (self.ncols, self.nrows, self.xll, self.yll, self.cellsize) == \
            (other.ncols, other.nrows, other.xll, other.yll, other.cellsize)


def write_grid(path, ref, values, fmt):
    with open(path, "w") as f:
        f.write("ncols %d\nnrows %d\nxllcorner %.1f\nyllcorner %.1f\ncellsize %.1f\nnodata_value %d\n"
                % (ref.ncols, ref.nrows, ref.xll, ref.yll, ref.cellsize, NODATA))
        for row in values:
            f.write(" ".join(str(NODATA) if v is None else fmt % v for v in row) + "\n")


def read_grids(data):
    names = ["dem", "slope", "aspect", "fdir", "facc", "idgauges", "lc_1991", "LAI_class", "soil_class"]
    grids = {n: AsciiGrid(os.path.join(data, "grids", n + ".asc")) for n in names}
    ref = grids["dem"]
    for n, g in grids.items():
        if not g.same_geometry(ref):
            fail("grid %s: %d x %d cells at (%g, %g) of %g m, dem.asc has %d x %d at (%g, %g) of %g m"
                 % (g.path, g.ncols, g.nrows, g.xll, g.yll, g.cellsize,
                    ref.ncols, ref.nrows, ref.xll, ref.yll, ref.cellsize))
    return grids


# ---------------------------------------------------------------- network
def gauge_cell(data):
    path = os.path.join(data, "gauges", "00398.csv")
    try:
        with open(path) as f:
            first = f.readline()
    except OSError as e:
        fail("cannot read %s (%s)" % (path, e.strerror))
    try:
        words = first.replace(",", " ").split()
        row = int(words[words.index("row") + 1])
        col = int(words[words.index("column") + 1])
    except (ValueError, IndexError):
        fail("%s: first line does not name the gauge cell (row R, column C)" % path)
    return row - 1, col - 1


def downstream(fdir, r, c):
    d = int(fdir.values[r][c])
    if d not in D8:
        return None
    dr, dc = D8[d]
    r2, c2 = r + dr, c + dc
    if 0 <= r2 < fdir.nrows and 0 <= c2 < fdir.ncols:
        return r2, c2
    return None


def catchment(fdir, outlet):
    """Cells that drain to the outlet, and for each its upstream neighbours."""
    upstream = defaultdict(list)
    for r in range(fdir.nrows):
        for c in range(fdir.ncols):
            if fdir.values[r][c] == fdir.nodata:
                continue
            d = downstream(fdir, r, c)
            if d is not None:
                upstream[d].append((r, c))
    inside = set([outlet])
    queue = deque([outlet])
    while queue:
        cell = queue.popleft()
        for u in upstream[cell]:
            if u not in inside:
                inside.add(u)
                queue.append(u)
    return inside, upstream


# Rise of the filled elevation model from a cell to the next one upstream on flats and in
# filled depressions (m): one unit of the grid's two decimals, so that the overland flow
# finds a lower neighbour in every cell (priority-flood with epsilon: Barnes, Lehman and
# Mulla 2014, Computers & Geosciences 62, 117-127).
FILL_RISE_CM = 1


def filled_elevation(dem, cells, outlet):
    """The elevation of the catchment's cells (m, two decimals) with its pits and
    flats filled so that every cell but the outlet has a neighbour (of eight,
    inside the catchment) at least FILL_RISE_CM lower: a flood from the outlet
    that always takes the lowest cell of its shore next, raising it to its
    neighbour's height plus the rise when it lies lower. Works in whole
    centimetres, so that the rise survives the grid's two decimals exactly."""
    own = {cell: round(dem.values[cell[0]][cell[1]] * 100.0) for cell in cells}
    filled = {outlet: own[outlet]}
    shore = [(own[outlet], outlet)]
    while shore:
        height, (r, c) = heapq.heappop(shore)
        for dr in (-1, 0, 1):
            for dc in (-1, 0, 1):
                n = (r + dr, c + dc)
                if n in cells and n not in filled:
                    filled[n] = max(own[n], height + FILL_RISE_CM)
                    heapq.heappush(shore, (filled[n], n))
    for cell in cells:
        if cell != outlet and not any(
                filled.get((cell[0] + dr, cell[1] + dc), filled[cell]) < filled[cell]
                for dr in (-1, 0, 1) for dc in (-1, 0, 1)):
            fail("filled elevation model: no lower neighbour at row %d, column %d"
                 % (cell[0] + 1, cell[1] + 1))
    raised = [(filled[c] - own[c]) / 100.0 for c in cells if filled[c] != own[c]]
    return ({c: v / 100.0 for c, v in filled.items()},
            (len(raised), max(raised, default=0.0), sum(raised) / len(cells)))


def accumulation(cells, upstream, outlet):
    """Number of cells draining through each cell (itself included)."""
    order = []
    stack = [outlet]
    while stack:  # pre-order from the outlet; reversed it is upstream first
        cell = stack.pop()
        order.append(cell)
        stack.extend(u for u in upstream[cell] if u in cells)
    acc = {}
    for cell in reversed(order):
        acc[cell] = 1 + sum(acc[u] for u in upstream[cell] if u in cells)
    return acc, order


def choose_outlets(cells, upstream, acc, outlet):
    # A confluence splits at threshold T when its second largest branch drains
    # at least T cells; its branches of at least T cells then start subbasins.
    confluences = []
    for cell in cells:
        branches = sorted((acc[u] for u in upstream[cell] if u in cells), reverse=True)
        if len(branches) >= 2:
            confluences.append((branches[1], cell))
    confluences.sort(reverse=True)

    def outlets_for(threshold):
        outlets = {outlet}
        for second, cell in confluences:
            if second < threshold:
                break
            outlets.update(u for u in upstream[cell] if u in cells and acc[u] >= threshold)
        return outlets

    best = None
    for threshold in sorted({int(len(cells) * f / 1000) for f in range(2, 400)}):
        n = len(outlets_for(threshold))
        if COUNT_RANGE[0] <= n <= COUNT_RANGE[1]:
            if best is None or abs(n - TARGET_COUNT) < abs(best[1] - TARGET_COUNT):
                best = (threshold, n)
    if best is None:
        fail("no confluence threshold gives %d to %d subbasins" % COUNT_RANGE)
    return best[0], outlets_for(best[0])


def step_length(a, b, cellsize):
    return cellsize * (math.sqrt(2.0) if a[0] != b[0] and a[1] != b[1] else 1.0)


# ---------------------------------------------------------------- soil
def woesten(clay, silt, bd, om, topsoil):
    """Continuous pedotransfer functions of Woesten et al. (1999, Geoderma 90):
    van Genuchten theta_s, alpha (1/cm), n and Ks (cm/d) from clay, silt,
    organic matter (%), bulk density (g/cm3) and the topsoil flag."""
    C, S, OM, D, t = clay, max(silt, 1.0), om, bd, 1.0 if topsoil else 0.0
    ths = (0.7919 + 0.001691 * C - 0.29619 * D - 0.000001491 * S * S + 0.0000821 * OM * OM
           + 0.02427 / C + 0.01113 / S + 0.01472 * math.log(S) - 0.0000733 * OM * C
           - 0.000619 * D * C - 0.001183 * D * OM - 0.0001664 * t * S)
    a = (-14.96 + 0.03135 * C + 0.0351 * S + 0.646 * OM + 15.29 * D - 0.192 * t - 4.671 * D * D
         - 0.000781 * C * C - 0.00687 * OM * OM + 0.0449 / OM + 0.0663 * math.log(S)
         + 0.1482 * math.log(OM) - 0.04546 * D * S - 0.4852 * D * OM + 0.00673 * t * C)
    n = (-25.23 - 0.02195 * C + 0.0074 * S - 0.1940 * OM + 45.5 * D - 7.24 * D * D
         + 0.0003658 * C * C + 0.002885 * OM * OM - 12.81 / D - 0.1524 / S - 0.01958 / OM
         - 0.2876 * math.log(S) - 0.0709 * math.log(OM) - 44.6 * math.log(D) - 0.02264 * D * C
         + 0.0896 * D * OM + 0.00718 * t * C)
    k = (7.755 + 0.0352 * S + 0.93 * t - 0.967 * D * D - 0.000484 * C * C - 0.000322 * S * S
         + 0.001 / S - 0.0748 / OM - 0.643 * math.log(S) - 0.01398 * D * C - 0.1673 * D * OM
         + 0.02986 * t * C - 0.03305 * t * S)
    return ths, math.exp(a), 1.0 + math.exp(n), math.exp(k)


def soil_table(data, codes):
    path = os.path.join(data, "grids", "soil_classdefinition.txt")
    horizons = defaultdict(dict)
    lines = read_lines(path)
    for line in lines[2:]:
        w = line.split()
        if not w:
            continue
        try:
            unit, h = int(w[0]), int(w[1])
            horizons[unit][h] = tuple(float(v) for v in w[2:7])
        except (ValueError, IndexError):
            fail("%s: line '%s' is not 'unit horizon upper lower clay sand density'" % (path, line))
    records = []
    for code in sorted(codes):
        if code not in horizons or 1 not in horizons[code] or 2 not in horizons[code]:
            fail("%s: soil unit %d of soil_class.asc has not two horizons" % (path, code))
        params = []
        for h, om in ((1, ORGANIC_MATTER_TOP), (2, ORGANIC_MATTER_SUB)):
            upper, lower, clay, sand, bd = horizons[code][h]
            silt = 100.0 - clay - sand
            ths, alpha_cm, n, ks_cm_d = woesten(clay, silt, bd, om, h == 1)
            params.append((ths, alpha_cm * 100.0, n, ks_cm_d / 100.0 / 86400.0, clay, silt, sand))
        p = params + [params[1]]
        records.append((code, p))
    out = ["[soil_table]",
           "%d soil types: the units of soil_class.asc, van Genuchten parameters by the continuous "
           "pedotransfer functions of Woesten et al. (1999) per horizon (alpha in 1/m, ksat in m/s)"
           % len(records)]
    for code, p in records:
        fmt = lambda i, f: " ".join(f % q[i] for q in p)
        c, si, sa = p[0][4] / 100.0, p[0][5] / 100.0, p[0][6] / 100.0
        out.append("%d unit_%d { method = MultipleHorizons; layers = %s; thickness = %s; "
                   "theta_sat = %s; theta_res = 0 0 0; alpha = %s; Par_n = %s; ksat = %s; "
                   "GrainSizeDist = %.4f %.4f %.4f 0 0 0 0; }"
                   % (code, code, " ".join(str(x) for x in SOIL_LAYERS),
                      " ".join(str(x) for x in SOIL_THICKNESS), fmt(0, "%.4f"), fmt(1, "%.4f"),
                      fmt(2, "%.4f"), fmt(3, "%.4e"), sa, si, 1.0 - sa - si))
    return "\n".join(out)


# ---------------------------------------------------------------- land use
# Per vegetation class of LAI_classdefinition.txt: name, albedo, surface
# resistance rsc (s/m), roughness z0 (m), root depth (m). Albedo and z0 after
# Brutsaert (1982) and Oke (1987), root depths after Canadell et al. (1996),
# limited to the soil profile. The vegetation cover follows the monthly leaf
# area index (CANOPY_EXTINCTION).
VEGETATION = {
    1: ("coniferous_forest", 0.12, 70, 1.5, 1.2),
    2: ("deciduous_forest", 0.16, 60, 1.5, 1.2),
    3: ("mixed_forest", 0.14, 65, 1.5, 1.2),
    4: ("sparse_forest", 0.16, 70, 0.8, 1.0),
    5: ("sealed_or_water", 0.10, 200, 0.05, 0.2),
    6: ("viniculture", 0.18, 80, 0.3, 0.9),
    7: ("orchards", 0.18, 70, 0.5, 0.9),
    8: ("pasture", 0.20, 60, 0.05, 0.5),
    9: ("fields", 0.20, 60, 0.1, 0.8),
    10: ("wetlands", 0.15, 60, 0.1, 0.4),
}
COVER = {1: "forest", 2: "sealed", 3: "open"}
# Strickler coefficients of overland flow, K_ST = 1/n (m^(1/3)/s), from the Manning n of
# sheet flow (USDA SCS 1986, TR-55, table 3-1, after Engman 1986, J. Irrig. Drain. Eng.
# 112(1)): woods with light underbrush 0.40, smooth surfaces (asphalt, concrete) 0.011,
# cultivated soil with little residue 0.06, short-grass prairie 0.15, dense grass 0.24,
# natural range 0.13. Sealed land cover takes the smooth surfaces' value whatever its class.
OVERLAND_MANNING_N = {
    1: 0.40, 2: 0.40, 3: 0.40, 4: 0.40,  # forests
    5: 0.011,  # sealed or water
    6: 0.06,  # viniculture: cultivated soil between the rows
    7: 0.15,  # orchards: short grass under the trees
    8: 0.24,  # pasture: dense grass
    9: 0.06,  # fields: cultivated soil with little residue
    10: 0.13,  # wetlands: natural range
}
SEALED_MANNING_N = 0.011


def overland_strickler(cover, veg):
    return 1.0 / (SEALED_MANNING_N if cover == 2 else OVERLAND_MANNING_N[veg])


def lai_classes(data):
    path = os.path.join(data, "grids", "LAI_classdefinition.txt")
    lai = {}
    lines = read_lines(path)
    for line in lines[2:]:
        w = line.split()
        if len(w) >= 14:
            try:
                lai[int(w[0])] = [float(v) for v in w[2:14]]
            except ValueError:
                fail("%s: line '%s' is not 'id name and twelve monthly LAI'" % (path, line))
    if sorted(lai) != sorted(VEGETATION):
        fail("%s: classes %s, expected 1 to 10" % (path, sorted(lai)))
    return lai


def landuse_tables(codes, lai):
    table = ["[landuse_table]",
             "%d land-use types: land cover 1991 (forest, sealed, open) x vegetation class, "
             "monthly LAI of the data set at mid-month" % len(codes)]
    # Hamon's method needs vegetation of one layer: each type has one.
    multi = ["[multilayer_landuse]", "%d multilayer land-use types (one layer each)" % len(codes)]
    for code in sorted(codes):
        cover, veg = divmod(code, 100)
        name, albedo, rsc, z0, root = VEGETATION[veg]
        leaf = lai[veg]
        # The share of the cell that transpires follows the month's leaf area (gap fraction of a
        # canopy of spherical leaf angles), so that fields after harvest and deciduous forest in
        # winter do not transpire as if in leaf.
        covers = [1.0 - math.exp(-CANOPY_EXTINCTION * v) for v in leaf]
        if cover == 2:  # sealed: little to transpire, shallow roots
            root, leaf = 0.1, [min(v, 0.5) for v in leaf]
            covers = [0.1] * 12
        rep = lambda v: " ".join(("%g" % v,) * 12)
        table.append("%d %s_%s { method = VariableDayCount; RootDist = 1.0; TReduWet = 0.95; "
                     "HReduDry = @HREDUDRY@; JulDays = %s; Albedo = %s; rsc = %s; LAI = %s; Z0 = %s; "
                     "VCF = %s; RootDepth = %s; AltDep = %s; SR_cultivation = other; SR_K_ST = %.4g; }"
                     % (code, COVER[cover], name, " ".join(str(d) for d in MID_MONTH), rep(albedo),
                        rep(rsc), " ".join("%g" % max(v, 0.01) for v in leaf), rep(z0),
                        " ".join("%.3f" % v for v in covers),
                        rep(root), rep(0), overland_strickler(cover, veg)))
        multi.append("%d %s_%s { Landuse_Layers = %d; }" % (code + 10000, COVER[cover], name, code))
    return "\n".join(table), "\n".join(multi)


# ---------------------------------------------------------------- meteo
def read_stations(data):
    path = os.path.join(data, "meteo", "stations.csv")
    try:
        with open(path) as f:
            rows = list(csv.DictReader(f))
        return [(r["station"], float(r["x_m"]), float(r["y_m"]), float(r["elevation_m"]),
                 int(r["catchment_cells"])) for r in rows]
    except OSError as e:
        fail("cannot read %s (%s)" % (path, e.strerror))
    except (KeyError, ValueError, TypeError):
        fail("%s: not 'station,x_m,y_m,elevation_m,catchment_cells' in every row" % path)


def read_series(data, name, stations):
    path = os.path.join(data, "meteo", name)
    try:
        with open(path) as f:
            rows = list(csv.reader(f))
    except OSError as e:
        fail("cannot read %s (%s)" % (path, e.strerror))
    if not rows or rows[0][1:] != [s[0] for s in stations]:
        fail("%s: the header does not list the %d stations of stations.csv" % (path, len(stations)))
    series = []
    for i, r in enumerate(rows[1:], start=2):
        if len(r) != len(stations) + 1:
            fail("%s: line %d has %d values, expected %d" % (path, i, len(r) - 1, len(stations)))
        try:
            y, m, d = (int(v) for v in r[0].split("-"))
            series.append(((y, m, d), [float(v) for v in r[1:]]))
        except ValueError:
            fail("%s: line %d is not 'date,values'" % (path, i))
    if not series or series[0][0] != (1989, 1, 1) or series[-1][0] != (1993, 12, 31) \
            or len(series) != 1826:
        fail("%s: %d days from %s to %s, expected 1826 days from 1989-01-01 to 1993-12-31"
             % (path, len(series), series[0][0] if series else "-", series[-1][0] if series else "-"))
    return series


def write_station_file(path, title, stations, series):
    with open(path, "w") as f:
        f.write(title + "\n")
        f.write("YY MM DD HH " + " ".join("%.1f" % s[3] for s in stations) + "\n")
        f.write("YY MM DD HH " + " ".join("%.1f" % s[1] for s in stations) + "\n")
        f.write("YY MM DD HH " + " ".join("%.1f" % s[2] for s in stations) + "\n")
        f.write("YY MM DD HH " + " ".join(s[0] for s in stations) + "\n")
        for (y, m, d), values in series:
            f.write("%d %02d %02d 00 %s\n" % (y, m, d, " ".join("%.2f" % v for v in values)))


def day_of_year(y, m, d):
    days = [31, 29 if y % 4 == 0 else 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31]
    return sum(days[:m - 1]) + d


def hamon_factors(temperature, pet, stations, latitude):
    """Monthly Hamon factors that give the data set's potential
    evapotranspiration in the catchment mean: the ratio of the mean of pet.csv
    to the mean of Hamon's formula with factor 1, month by month."""
    weights = [s[4] for s in stations]
    total = float(sum(weights))
    sums = defaultdict(lambda: [0.0, 0.0])
    phi = math.radians(latitude)
    for ((y, m, d), t), (_, p) in zip(temperature, pet):
        decl = 0.409 * math.sin(2.0 * math.pi * day_of_year(y, m, d) / 365.0 - 1.39)
        ws = math.acos(max(-1.0, min(1.0, -math.tan(phi) * math.tan(decl))))
        day_hours = 24.0 * ws / math.pi
        h = 0.0
        for w, tv in zip(weights, t):
            es = 6.1078 * math.exp(17.269 * tv / (tv + 237.3))
            h += w / total * max(0.0, 0.1651 * day_hours / 12.0 * 216.7 * es / (tv + 273.3))
        sums[m][0] += sum(w / total * v for w, v in zip(weights, p))
        sums[m][1] += h
    return [sums[m][0] / sums[m][1] if sums[m][1] > 0 else 1.0 for m in range(1, 13)]


def observed_discharge(data, path):
    src = os.path.join(data, "gauges", "00398.csv")
    lines = read_lines(src)
    values = {}
    for i, line in enumerate(lines[2:], start=3):
        if not line.strip():
            continue
        try:
            date, q = line.split(",")
            y, m, d = (int(v) for v in date.split("-"))
            values[(y, m, d)] = float(q)
        except ValueError:
            fail("%s: line %d is not 'date,discharge'" % (src, i))
    if len(values) != 1461:
        fail("%s: %d days, expected 1461 days from 1990-01-01 to 1993-12-31" % (src, len(values)))
    return values


# ---------------------------------------------------------------- control
def write_control(out, name, overrides):
    """Writes the control file NAME into the run folder from the template and
    values stored there by the preparation, with some values replaced."""
    path = os.path.join(out, "control-values.json")
    try:
        with open(path) as f:
            stored = json.load(f)
    except (OSError, ValueError):
        fail("%s missing or unreadable: run the preparation first" % path)
    values = dict(stored["values"])
    values.update({"@%s@" % k: str(v) for k, v in overrides.items()})
    text = stored["template"]
    # Per-subbasin constants: the template gives one value, every subbasin takes it.
    lines = []
    for line in text.split("\n"):
        if line.startswith("@PER_SUBBASIN "):
            w = line.split(None, 2)
            line = " ".join([w[1]] * stored["subbasins"]) + " " + w[2]
        lines.append(line)
    text = "\n".join(lines)
    for _ in range(2):  # the generated tables hold keys of their own
        for key, value in values.items():
            text = text.replace(key, value)
    left = [w for w in text.split() if w.startswith("@") and w.endswith("@") and len(w) > 2]
    if left:
        fail("control template: no value for %s" % ", ".join(sorted(set(left))))
    with open(os.path.join(out, name), "w") as f:
        f.write(text)


# ---------------------------------------------------------------- main
def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "--control":
        # prepare.py --control RUN_FOLDER NAME KEY=VALUE...: another control
        # file of the prepared catchment (another period, state read, ...).
        overrides = dict(kv.split("=", 1) for kv in sys.argv[4:])
        write_control(sys.argv[2], sys.argv[3], overrides)
        return
    if len(sys.argv) != 3:
        sys.stderr.write("usage: prepare.py DATA_FOLDER RUN_FOLDER\n"
                         "       prepare.py --control RUN_FOLDER NAME KEY=VALUE...\n")
        sys.exit(2)
    data, out = sys.argv[1], sys.argv[2]
    if not os.path.isdir(data):
        fail("data folder %s not found" % data)
    os.makedirs(out, exist_ok=True)
    here = os.path.dirname(os.path.abspath(__file__))

    grids = read_grids(data)
    dem, fdir = grids["dem"], grids["fdir"]
    outlet = gauge_cell(data)
    cells, upstream = catchment(fdir, outlet)
    for n in ("dem", "slope", "aspect", "lc_1991", "LAI_class", "soil_class"):
        g = grids[n]
        missing = [c for c in cells if g.values[c[0]][c[1]] == g.nodata]
        if missing:
            fail("grid %s: no value at %d catchment cells (first: row %d, column %d)"
                 % (g.path, len(missing), missing[0][0] + 1, missing[0][1] + 1))
    acc, order = accumulation(cells, upstream, outlet)
    threshold, outlets = choose_outlets(cells, upstream, acc, outlet)
    # Codes 1..n upstream first: a subbasin's outlet drains fewer cells than the one below.
    ranked = sorted(outlets, key=lambda c: (acc[c], c))
    code_of_outlet = {c: i + 1 for i, c in enumerate(ranked)}
    nsub = len(ranked)
    # Subbasin of every cell: the first outlet at or below it (pre-order from the outlet).
    zone = {}
    for cell in order:
        if cell in code_of_outlet:
            zone[cell] = code_of_outlet[cell]
        else:
            zone[cell] = zone[downstream(fdir, *cell)]
    # Flow path length of every cell to its subbasin's outlet (m).
    path_len = {}
    for cell in order:
        if cell in code_of_outlet:
            path_len[cell] = 0.0
        else:
            below = downstream(fdir, *cell)
            path_len[cell] = path_len[below] + step_length(cell, below, dem.cellsize)

    rows, cols = dem.nrows, dem.ncols
    inside = lambda r, c: (r, c) in cells
    cell_km2 = dem.cellsize ** 2 / 1e6
    write_grid(os.path.join(out, "zone.asc"), dem,
               [[zone[(r, c)] if inside(r, c) else None for c in range(cols)] for r in range(rows)], "%d")
    # The elevation model with its pits and flats filled: the overland flow leaves no water
    # standing in them. Every module that reads the elevation takes it (the changes are
    # small; prepare.py prints them).
    elevation, (raised, largest, mean_rise) = filled_elevation(dem, cells, outlet)
    print("elevation model filled: %d of %d cells raised, by at most %.2f m, %.4f m on average "
          "over the catchment" % (raised, len(cells), largest, mean_rise))
    write_grid(os.path.join(out, "elevation.asc"), dem,
               [[elevation[(r, c)] if inside(r, c) else None for c in range(cols)] for r in range(rows)], "%.2f")
    # The data set's slope and aspect: the model's own derivation leaves
    # no-data at cells whose neighbours lie outside the catchment.
    for n in ("slope", "aspect"):
        g = grids[n]
        write_grid(os.path.join(out, n + ".asc"), dem,
                   [[g.values[r][c] if inside(r, c) else None for c in range(cols)] for r in range(rows)], "%.4f")
    write_grid(os.path.join(out, "flow_times.asc"), dem,
               [[path_len[(r, c)] / CONCENTRATION_VELOCITY if inside(r, c) else None
                 for c in range(cols)] for r in range(rows)], "%.0f")
    lc, laig, soil = grids["lc_1991"], grids["LAI_class"], grids["soil_class"]
    landuse_code = lambda r, c: 100 * int(lc.values[r][c]) + int(laig.values[r][c])
    for n, g, ok in (("lc_1991", lc, lambda v: v in COVER), ("LAI_class", laig, lambda v: v in VEGETATION)):
        bad = [c for c in cells if not ok(int(g.values[c[0]][c[1]]))]
        if bad:
            fail("grid %s: unknown class %d at row %d, column %d"
                 % (g.path, g.values[bad[0][0]][bad[0][1]], bad[0][0] + 1, bad[0][1] + 1))
    landuse_codes = {landuse_code(*c) for c in cells}
    write_grid(os.path.join(out, "landuse.asc"), dem,
               [[landuse_code(r, c) + 10000 if inside(r, c) else None for c in range(cols)]
                for r in range(rows)], "%d")
    soil_codes = {int(soil.values[r][c]) for r, c in cells}
    write_grid(os.path.join(out, "soil_types.asc"), dem,
               [[soil.values[r][c] if inside(r, c) else None for c in range(cols)] for r in range(rows)], "%d")
    # The groundwater's fixed heads: none (no-data everywhere; any other value holds the head of
    # its cell). The aquifer drains into the river cells, whose exchange the soil-water module
    # books as the baseflow of their subbasins.
    write_grid(os.path.join(out, "fixed_heads.asc"), dem,
               [[None for c in range(cols)] for r in range(rows)], "%.2f")

    # River cells of the groundwater's exchange: bankfull depth and width of the cell's own
    # drained area, the leakage of the bed, and the subbasin whose river it is.
    def river_grid(value):
        return [[(value(r, c) if acc[(r, c)] * cell_km2 >= RIVER_SUPPORT_KM2 else 0.0)
                 if inside(r, c) else None for c in range(cols)] for r in range(rows)]
    write_grid(os.path.join(out, "river_depth.asc"), dem,
               river_grid(lambda r, c: DEPTH_COEF * (acc[(r, c)] * cell_km2) ** DEPTH_EXP), "%.3f")
    write_grid(os.path.join(out, "river_width.asc"), dem,
               river_grid(lambda r, c: WIDTH_COEF * (acc[(r, c)] * cell_km2) ** WIDTH_EXP), "%.3f")
    write_grid(os.path.join(out, "kolmation.asc"), dem, river_grid(lambda r, c: RIVER_BED_LEAKAGE), "%g")
    write_grid(os.path.join(out, "river_links.asc"), dem, river_grid(lambda r, c: zone[(r, c)]), "%d")

    # Routing: every subbasin with tributaries gets a description; its
    # channels carry each tributary's outflow from the tributary's outlet to
    # its own outlet.
    area_km2 = {code_of_outlet[o]: acc[o] * cell_km2 for o in ranked}
    tributaries = defaultdict(list)
    for o in ranked:
        below = downstream(fdir, *o)
        if o != outlet:
            tributaries[zone[below]].append(o)
    routing = []
    for o in ranked:
        code = code_of_outlet[o]
        if not tributaries[code]:
            continue
        routing.append("TG %d (subbasin %d) A= %.2f F= 1" % (code, code, area_km2[code]))
        for t in tributaries[code]:
            length, cell = 0.0, t
            while cell != o:
                below = downstream(fdir, *cell)
                length += step_length(cell, below, dem.cellsize)
                cell = below
            drop = dem.values[t[0]][t[1]] - dem.values[o[0]][o[1]]
            slope = max(MIN_SLOPE, drop / length)
            a = area_km2[code_of_outlet[t]]
            width = WIDTH_COEF * a ** WIDTH_EXP
            depth = DEPTH_COEF * a ** DEPTH_EXP
            routing.append("OL %d kh= %g kv= %g Bm= %.2f Bv= %.2f Tm= %.2f Mm= %g Mv= %g I= %.5f L= %.0f AE= %.2f"
                           % (code_of_outlet[t], STORAGE_MAIN_H, STORAGE_FLOOD_H, width,
                              FLOODPLAIN_WIDTH_FACTOR * width, depth, MANNING_MAIN, MANNING_FLOOD,
                              slope, length, a))

    stations = read_stations(data)
    temperature = read_series(data, "tavg.csv", stations)
    precipitation = read_series(data, "pre.csv", stations)
    pet = read_series(data, "pet.csv", stations)
    write_station_file(os.path.join(out, "temperature.dat"),
                       "daily mean air temperature (deg C), upper Moselle 1989-1993", stations, temperature)
    write_station_file(os.path.join(out, "precipitation.dat"),
                       "daily precipitation (mm), upper Moselle 1989-1993", stations, precipitation)
    observed = observed_discharge(data, out)
    with open(os.path.join(out, "observed.dat"), "w") as f:
        f.write("observed daily mean discharge (m3/s) at gauge 398, the outlet (subbasin %d); "
                "-9999 in the spin-up year\nYY MM DD HH Q%d\n" % (nsub, nsub))
        for (y, m, d), _ in temperature:
            f.write("%d %d %d 0 %.3f\n" % (y, m, d, observed.get((y, m, d), -9999.0)))

    # Latitude of the catchment's centre from LAEA Europe (approximate inverse
    # is enough for the day length).
    latitude = 48.4
    factors = hamon_factors(temperature, pet, stations, latitude)
    landuse, multilayer = landuse_tables(landuse_codes, lai_classes(data))
    codes = list(range(1, nsub + 1))
    per = lambda v: " ".join(v for _ in codes)
    values = dict(GLOBAL_PARAMETERS)
    values.update(RUN_DEFAULTS)
    values.update({
        "@LANDUSE_TABLE@": landuse,
        "@MULTILAYER_LANDUSE@": multilayer,
        "@SOIL_TABLE@": soil_table(data, soil_codes),
        "@HAMON_FACTORS@": " ".join("%.3f" % f for f in factors),
        "@SUBBASIN_CODES@": " ".join(str(c) for c in codes),
        "@OUTLET@": str(nsub),
        "@ROUTING@": "\n".join(routing),
        "@CONTROL_POINT@": "%d %d" % (outlet[0] + 1, outlet[1] + 1),
    })
    template_path = os.path.join(here, "upper-moselle.ctl.in")
    with open(template_path) as f:
        template = f.read()
    with open(os.path.join(out, "control-values.json"), "w") as f:
        json.dump({"template": template, "values": values, "subbasins": nsub}, f)
    write_control(out, "upper-moselle.ctl", {})
    with open(os.path.join(out, "subbasins.txt"), "w") as f:
        f.write("code outlet_row outlet_column cells area_km2 upstream_km2\n")
        own = defaultdict(int)
        for cell in cells:
            own[zone[cell]] += 1
        for o in ranked:
            code = code_of_outlet[o]
            f.write("%d %d %d %d %.2f %.2f\n" % (code, o[0] + 1, o[1] + 1, own[code],
                                                 own[code] * cell_km2, area_km2[code]))
    print("prepared %d cells in %d subbasins (confluence threshold %d cells = %.0f km2), "
          "%d land-use types, %d soil types, %d stations; Hamon factors %s"
          % (len(cells), nsub, threshold, threshold * cell_km2, len(landuse_codes), len(soil_codes),
             len(stations), " ".join("%.2f" % f for f in factors)))


if __name__ == "__main__":
    main()
