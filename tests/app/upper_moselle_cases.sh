#!/usr/bin/env bash
# Cases of the upper Moselle catchment on the real data, each in a fresh
# directory: a month under one and three processes with identical output
# files, a run split through the state file against the run in one piece, the
# figures of the results, and broken inputs as a new user meets them.
# Usage: upper_moselle_cases.sh CASE TAVRO MPIEXEC DATA_FOLDER [XMLLINT]
# Exit status 77 (skipped) when the data folder is not there.
set -u
case_name=$1 tavro=$2 mpiexec=$3 data=$4 xmllint=${5:-xmllint}
example=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../examples/upper-moselle" && pwd)
if [ ! -d "$data/grids" ]; then
  echo "SKIPPED: data folder $data not found (configure with -DTAVRO_UPPER_MOSELLE_DATA=...)"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/tavro_moselle_XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fail() { echo "FAILED ($case_name): $*"; exit 1; }
prepare() { # prepare FOLDER [DATA]: the catchment's inputs
  python3 "$example/prepare.py" "${2:-$data}" "$1" >"$1.prepare.txt" 2>&1 ||
    { cat "$1.prepare.txt"; fail "preparation failed"; }
}
control() { # control FOLDER NAME KEY=VALUE...: another control file of a prepared folder
  python3 "$example/prepare.py" --control "$@" || fail "control file $2 not written"
}
run() { # run FOLDER NP CONTROL [THREADS]: sets status
  (cd "$1" && mkdir -p daily_swe &&
    OMP_NUM_THREADS=${4:-${OMP_NUM_THREADS:-2}} "$mpiexec" -n "$2" "$tavro" "$3" >console.txt 2>&1 </dev/null)
  status=$?
}
# Output files of a run folder, inputs, logs and per-process files aside.
outputs() {
  (cd "$1" && find . -type f -newer "../$(basename "$1").inputs" ! -name '*.$$$' \
    ! -name 'MPIRegions_*' ! -name 'modell_*.log' ! -name 'Tavro_Diag_*.xml' \
    ! -name 'console.txt' ! -name '*_state.txt_[1-9]*' | sort)
}
mark_inputs() { sleep 1; touch "$1.inputs"; sleep 1; }
same_outputs() { # same_outputs A B: every output file of A is in B, identical
  local list
  list=$(outputs "$1")
  [ -n "$list" ] || fail "no output files in $1"
  [ "$list" = "$(outputs "$2")" ] || fail "other output files in $1 and $2"
  for f in $list; do
    cmp -s "$1/$f" "$2/$f" || fail "$f differs between $1 and $2"
  done
  echo "$(echo "$list" | wc -l) output files identical in $1 and $2"
}
expect_ok() {
  [ "$status" -eq 0 ] || { tail -20 "$1/console.txt"; fail "exit status $status in $1"; }
  grep -q "o.k." "$1/console.txt" || fail "no o.k. in $1/console.txt"
}
# A copy of the data folder with one file replaced by the output of a command.
broken_data() { # broken_data NAME FILE COMMAND...: FILE is relative to the data folder
  local name=$1 file=$2
  shift 2
  mkdir -p "$name" && cp -r "$data"/. "$name"/ && chmod -R u+w "$name"
  "$@" <"$data/$file" >"$name/$file"
}
expect_fatal_naming() { # expect_fatal_naming STATUS OUTPUT TEXT: a FATAL entry holding TEXT
  [ "$1" -ne 0 ] || fail "status 0 for a broken input"
  grep -q 'FATAL\|level="0"' "$2" || { cat "$2"; fail "no FATAL entry"; }
  grep 'FATAL\|level="0"' "$2" | grep -q -- "$3" || { cat "$2"; fail "the FATAL entry does not name $3"; }
}

case $case_name in
month_np1_np3)
  # January 1990 under one process of one thread and three of two threads,
  # surface routing on: the overland flow's inner steps run on the smallest
  # stable step of all processes.
  prepare one
  control one month.ctl START_YEAR=1990 END_YEAR=1990 END_MONTH=1 FIT_OFFSET=0
  cp -r one three
  mark_inputs one && mark_inputs three
  run one 1 month.ctl 1; expect_ok one
  run three 3 month.ctl 2; expect_ok three
  [ -f one/discharge.stat ] && [ -f one/etr.stat ] || fail "discharge.stat or etr.stat missing"
  grep -q "routed discharge" one/discharge.stat || fail "discharge.stat without its title"
  [ "$(ls one/daily_swe | grep -c 199001)" -eq 31 ] || fail "not 31 daily snow grids"
  grep -q "Surface_Storage" one/surface_storage.stat || fail "surface routing wrote no storage table"
  same_outputs one three
  ;;
split_run)
  # 22 December 1991 to 10 January 1992 in one run, and split at 1991-12-31
  # through the state file: January's outputs equal. (Ten days on each side of
  # the split: what carries over is the state, not the length of the run.)
  # The state grids are written as binary doubles, so that nothing is rounded.
  # Surface routing is on: its state section holds the flow-time zones and
  # linear storages, the water on the surface is the state grid
  # surface_storage.asc, and the velocities, outflow weights and fluxes that
  # each cell's next inner step starts from are the binary stacks beside the
  # state file (soil_state.txt_SurfaceRouting*).
  local_keys="FIT_OFFSET=0 SWE_WRITECODE=3 ASCII_GRIDS=0 DOUBLE_GRIDS=1"
  prepare long
  control long both.ctl START_YEAR=1991 START_MONTH=12 START_DAY=22 END_YEAR=1992 END_MONTH=1 \
    END_DAY=10 $local_keys
  cp -r long split
  control split first.ctl START_YEAR=1991 START_MONTH=12 START_DAY=22 END_YEAR=1991 END_MONTH=12 \
    END_DAY=31 $local_keys
  control split second.ctl START_YEAR=1992 START_MONTH=1 END_YEAR=1992 END_MONTH=1 END_DAY=10 \
    READ_STATE=1 $local_keys
  run long 2 both.ctl; expect_ok long
  run split 2 first.ctl; expect_ok split
  run split 2 second.ctl; expect_ok split
  for table in discharge.stat total_runoff.stat etr.stat snow_storage.stat soil_moisture_profile.stat \
    surface_total_runoff.stat surface_storage.stat; do
    grep -P '^1992\t' "long/$table" >long.rows
    grep -P '^1992\t' "split/$table" >split.rows
    [ -s long.rows ] || fail "no 1992 rows in long/$table"
    cmp -s long.rows split.rows || { diff long.rows split.rows | head -5; fail "$table differs"; }
  done
  # The state at the end of the run, binary doubles and the state file: bit for bit.
  for f in theta.stack hydraulic_heads.stack groundwater_distance.asc groundwater_level.asc \
    baseflow.asc snow_solid.asc snow_liquid.asc snow_days.asc interception_storage.asc \
    daily_swe/snow_total.asc soil_state.txt_0 soil_state.txt_1 surface_storage.asc \
    soil_state.txt_SurfaceRoutingVelocity soil_state.txt_SurfaceRoutingWeights \
    soil_state.txt_SurfaceRoutingFluxes; do
    [ -f "long/$f" ] || fail "long/$f missing"
    cmp -s "long/$f" "split/$f" || fail "$f differs between the long and the split run"
  done
  echo "January 1992 and the final state equal in the long and the split run"
  ;;
water_balance)
  # January 1990 in two legs through the state file (the first day, then the
  # rest with whole-run sum grids), with the groundwater module on (the
  # catchment's configuration) and off. The table's stores come from the grids
  # and state files at the ends of the legs, its fluxes from binary double sum
  # grids, so the water in transit (runoff concentration and channels, R - Q)
  # and, without the groundwater module, the columns and the catchment close
  # to the digits of the outlet discharge. Surface routing is on in both: the
  # water standing on the surface is a store of the columns, and its runoff
  # concentration holds the water in transit to the channels. With the module
  # on, the columns with the aquifer close as they do without it (each gives or
  # takes exactly the water the module booked for it), and the module's layer
  # and its lateral flow leave its solver's tolerance.
  prepare on
  cp -r on off
  legs() { # legs FOLDER KEY=VALUE...: the two legs, the stores after the first in FOLDER.start
    local folder=$1
    shift
    control "$folder" day.ctl START_YEAR=1990 END_YEAR=1990 END_MONTH=1 END_DAY=1 FIT_OFFSET=0 "$@"
    control "$folder" rest.ctl START_YEAR=1990 START_DAY=2 END_YEAR=1990 END_MONTH=1 FIT_OFFSET=0 \
      READ_STATE=1 PRECIPITATION_WRITECODE=10 ETR_WRITECODE=10 RUNOFF_WRITECODE=10 \
      BASEFLOW_WRITECODE=13 "$@"
    run "$folder" 2 day.ctl; expect_ok "$folder"
    mkdir -p "$folder.start" && cp "$folder"/*.asc "$folder"/*.stack "$folder"/soil_state.txt_* "$folder.start"/
    run "$folder" 2 rest.ctl; expect_ok "$folder"
    python3 "$example/results.py" --balance "$folder" "$folder.start" >"$folder.balance" 2>&1 ||
      { cat "$folder.balance"; fail "no balance of $folder"; }
    cat "$folder/results/water_balance.txt"
  }
  legs on
  legs off GROUNDWATER_ON=0 SURFACE_INTERACTION=0
  python3 - on/results/water_balance.txt off/results/water_balance.txt <<'PY' || fail "the balance does not close"
import sys
def rows(path):
    text = open(path).read().split("\n")
    out = {}
    for i, line in enumerate(text):
        if line.startswith("P\tET\tQ\t"):
            out["catchment"] = dict(zip(line.split("\t"), map(float, text[i + 1].split("\t"))))
        elif line.startswith("P\tET\tQD\t"):
            out["columns"] = dict(zip(line.split("\t"), map(float, text[i + 1].split("\t"))))
        elif line.startswith("R\tQ\tdS\t"):
            out["transit"] = dict(zip(line.split("\t"), map(float, text[i + 1].split("\t"))))
        elif line.startswith("GW_balance\t"):
            out["groundwater"] = float(line.split("\t")[1])
        elif line.startswith("GW_lateral\t"):
            out["lateral"] = float(line.split("\t")[1])
        elif "rounding at most" in line:
            out["q_bound"] = float(line.split("rounding at most ")[1].split()[0])
    return out
on, off = rows(sys.argv[1]), rows(sys.argv[2])
p = on["catchment"]["P"]
assert p > 10.0, on
# The water standing on the surface is one of the stores (it grows in January).
assert on["catchment"]["dS_surface"] > 0.1, on["catchment"]
# The catchment's residual is that of the columns plus that of the water in
# transit, plus with the groundwater module the water its lateral flow left
# over the catchment (its solver's tolerance).
for r in (on, off):
    parts = r["columns"]["residual"] + r["transit"]["residual"] + r.get("lateral", 0.0)
    assert abs(r["catchment"]["residual"] - parts) < 1e-12 * p + 1e-5 * abs(parts), r
# Groundwater module on: the water in transit closes to the rounding of the
# outlet discharge, the module's own layer and its lateral flow to 1e-9 of P,
# and with them the catchment.
assert abs(on["transit"]["residual"]) <= on["q_bound"] * p, (on["transit"], on["q_bound"])
assert abs(on["groundwater"]) < 1e-9 * p, on["groundwater"]
assert abs(on["lateral"]) < 1e-9 * p, on["lateral"]
assert abs(on["catchment"]["residual"]) <= (1e-9 + on["q_bound"]) * p, on["catchment"]
# The columns with the aquifer give the groundwater module exactly what it
# booked for them, and close as they do without it (-5.7e-14 of P this month).
assert abs(on["columns"]["residual"]) < 1e-12 * p, on["columns"]
# Groundwater module off: the columns close; the catchment and the water in
# transit to the rounding of the outlet discharge's five decimals.
assert abs(off["columns"]["residual"]) < 1e-9 * p, off["columns"]
assert abs(off["transit"]["residual"]) <= off["q_bound"] * p, (off["transit"], off["q_bound"])
assert abs(off["catchment"]["residual"]) <= (1e-9 + off["q_bound"]) * p, off["catchment"]
print("in transit %.1e of P (module on), %.1e (off); columns %.1e (on), %.1e (off); "
      "groundwater layer %.1e, its lateral flow %.1e; catchment %.1e (on), %.1e (off)"
      % (on["transit"]["residual"] / p, off["transit"]["residual"] / p,
         on["columns"]["residual"] / p, off["columns"]["residual"] / p, on["groundwater"] / p,
         on["lateral"] / p, on["catchment"]["residual"] / p, off["catchment"]["residual"] / p))
PY
  ;;
figures)
  # The figures of results.py on a short run across a year's end (so that the
  # yearly sum grids of 1989 are written, and daily snow grids of both years):
  # every SVG well-formed, the hydrograph's plotted points those of
  # outlet_discharge.txt (its axis transform inverted) with the fit of those
  # days in its title, every map drawing the data cells of its grid with a
  # legend in mm, and the balance bars closing P - ET - Q.
  prepare fig
  control fig figures.ctl START_YEAR=1989 START_MONTH=12 START_DAY=25 END_YEAR=1990 END_MONTH=1 \
    END_DAY=10 FIT_OFFSET=0
  run fig 1 figures.ctl; expect_ok fig
  python3 "$example/results.py" --figures fig >figures.txt 2>&1 || { cat figures.txt; fail "no figures"; }
  cat figures.txt
  for f in hydrograph water_balance evapotranspiration_1989 runoff_1989 max_swe_1989 max_swe_1990; do
    [ -s "fig/results/$f.svg" ] || fail "$f.svg not written"
    "$xmllint" --noout "fig/results/$f.svg" || fail "$f.svg is not well-formed XML"
  done
  python3 - fig <<'PY' || fail "the figures do not show the results"
import datetime, math, os, re, sys
import xml.etree.ElementTree as ET
results = os.path.join(sys.argv[1], "results")
NS = "{http://www.w3.org/2000/svg}"
def svg(name):
    root = ET.parse(os.path.join(results, name)).getroot()
    assert root.tag == NS + "svg", (name, root.tag)
    return root
table = {}
for line in open(os.path.join(results, "outlet_discharge.txt")).read().split("\n")[1:]:
    if line:
        d, s, o = line.split("\t")
        table[d] = (float(s), float(o))
assert len(table) == 17, len(table)
# The hydrograph: read every plotted point back through its panel's transform.
root = svg("hydrograph.svg")
texts = [t.text for t in root.iter(NS + "text")]
plotted = {}
for g in root.iter(NS + "g"):
    axis = g.get("data-panel")
    if axis is None:
        continue
    first = datetime.date.fromisoformat(g.get("data-first-day"))
    x0, sx = map(float, g.get("data-x").split())
    bottom, ymin, sy = map(float, g.get("data-y").split())
    for line in g.iter(NS + "path"):
        column = {"simulated": 0, "observed": 1}[line.get("class")]
        # "Mx y" then "l" and the steps to each next point (or "h0": one point).
        head, _, steps = line.get("d")[1:].partition("l")
        numbers = [float(v) for v in head.replace("h0", "").split() + steps.split()]
        x, y = numbers[0], numbers[1]
        points = [(x, y)]
        for dx, dy in zip(numbers[2::2], numbers[3::2]):
            x, y = x + dx, y + dy
            points.append((x, y))
        for x, y in points:
            i = round((x - x0) / sx)
            assert abs(x - x0 - i * sx) <= 0.051, (x, i)
            day = (first + datetime.timedelta(days=i)).isoformat()
            value = ymin + (bottom - y) / sy
            expected = table[day][column]
            if axis == "log10":
                expected = math.log10(expected)
            # Positions in tenths of a pixel; the table rounds to its own decimals.
            assert abs(value - expected) <= 0.051 / sy + 1e-6, (axis, day, column, value, expected)
            key = (axis, day, column)
            assert key not in plotted, key
            plotted[key] = value
for axis in ("linear", "log10"):
    sim = sorted(d for a, d, c in plotted if a == axis and c == 0)
    obs = sorted(d for a, d, c in plotted if a == axis and c == 1)
    assert sim == sorted(table), (axis, sim)
    # Observations start in 1990 (-9999 in the spin-up year: a gap, not a point).
    assert obs == sorted(d for d in table if table[d][1] > 0), (axis, obs)
# The fit of the observed days in the title.
pairs = [v for v in table.values() if v[1] > 0]
mean = sum(o for _, o in pairs) / len(pairs)
nse = 1 - sum((s - o) ** 2 for s, o in pairs) / sum((o - mean) ** 2 for _, o in pairs)
volume = sum(s - o for s, o in pairs) / sum(o for _, o in pairs)
title = [t for t in texts if t and "Nash-Sutcliffe efficiency" in t]
assert title and "%.3f" % nse in title[0] and "%+.1f %%" % (100 * volume) in title[0], (title, nse)
assert "(%d days)" % len(pairs) in title[0], title
# Maps: the cells drawn are the data cells of the grid, with a legend in mm.
for name in ("evapotranspiration_1989", "runoff_1989", "max_swe_1989", "max_swe_1990"):
    root = svg(name + ".svg")
    lines = open(os.path.join(results, name + ".asc")).read().split("\n")
    nodata = float(lines[5].split()[1])
    cells = sum(1 for l in lines[6:] for v in l.split() if float(v) != nodata)
    drawn = 0
    for g in root.iter(NS + "g"):
        if g.get("data-map") == "cells":
            for path in g.iter(NS + "path"):
                drawn += sum(int(w) for w in re.findall(r"h(\d+)v", path.get("d")))
    assert drawn == cells == 46545, (name, drawn, cells)
    texts = [t.text or "" for t in root.iter(NS + "text")]
    assert any(t.startswith("mm") for t in texts), (name, texts)
    assert any(" to " in t for t in texts), (name, texts)
# The balance of 1989 (the run's days of that year): dS closes P - ET - Q, and
# Q is the outlet's discharge of those days.
root = svg("water_balance.svg")
bars = {r.get("data-name"): float(r.get("data-value")) for r in root.iter(NS + "rect")
        if r.get("data-name")}
assert set(bars) == {"P", "ET", "Q", "dS"}, bars
area = float(open(os.path.join(sys.argv[1], "subbasins.txt")).read().split("\n")[-2].split()[5])
q = sum(v[0] for d, v in table.items() if d.startswith("1989")) * 86.4 / area
assert abs(bars["Q"] - q) < 2e-3, (bars, q)
assert abs(bars["dS"] - (bars["P"] - bars["ET"] - bars["Q"])) < 2e-3, bars
print("%d plotted points read back; NSE %.3f in the title; 4 maps of 46545 cells; balance bars %s"
      % (len(plotted), nse, bars))
PY
  ;;
missing_data_folder)
  bash "$example/run.sh" "$tavro" 1 "$work/no-such-folder" >out.txt 2>&1
  expect_fatal_naming $? out.txt "no-such-folder"
  [ ! -e "$example/run/results" ] || [ "$example/run/results" -ot out.txt ] ||
    fail "results written"
  ;;
station_file_cut_short)
  broken_data cut meteo/tavg.csv head -n 1000
  python3 "$example/prepare.py" cut run >out.txt 2>&1
  expect_fatal_naming $? out.txt "tavg.csv"
  [ ! -f run/upper-moselle.ctl ] || fail "a control file was written"
  ;;
prepared_station_file_cut_short)
  # The model's own station file, cut in the middle of the run's period.
  prepare run
  head -n 380 run/temperature.dat >cut.dat && mv cut.dat run/temperature.dat
  control run month.ctl START_YEAR=1990 END_YEAR=1990 END_MONTH=1 FIT_OFFSET=0
  run run 1 month.ctl
  # The temperature ends before the other variables: the run stops there and
  # names the file.
  [ "$status" -eq 52 ] || fail "exit status $status, expected 52"
  expect_fatal_naming $status run/Tavro_Diag_0.xml "temperature.dat"
  grep -q "the data of temperature end with the row of" run/Tavro_Diag_0.xml ||
    fail "no entry saying that the temperature ended"
  ;;
grid_of_another_size)
  # One column less: the header says 287 and every row has 287 values.
  broken_data small grids/soil_class.asc python3 -c '
import sys
for i, line in enumerate(sys.stdin):
    w = line.split()
    print("ncols 287" if i == 0 else " ".join(w if i < 6 else w[:-1]))'
  python3 "$example/prepare.py" small run >out.txt 2>&1
  expect_fatal_naming $? out.txt "soil_class.asc"
  [ ! -f run/upper-moselle.ctl ] || fail "a control file was written"
  ;;
*)
  fail "unknown case"
  ;;
esac
echo "PASSED ($case_name)"
