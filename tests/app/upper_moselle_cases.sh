#!/usr/bin/env bash
# Cases of the upper Moselle catchment on the real data, each in a fresh
# directory: a month under one and three processes with identical output
# files, a run split through the state file against the run in one piece, and
# broken inputs as a new user meets them.
# Usage: upper_moselle_cases.sh CASE TAVRO MPIEXEC DATA_FOLDER
# Exit status 77 (skipped) when the data folder is not there.
set -u
case_name=$1 tavro=$2 mpiexec=$3 data=$4
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
  # December 1991 and January 1992 in one run, and split at 1991-12-31
  # through the state file: January's outputs equal.
  # The state grids are written as binary doubles, so that nothing is rounded.
  # Surface routing is off here: its state section holds the flow-time zones
  # and linear storages but not the velocities and outflow shares that each
  # cell's next inner step starts from, so a run split while water flows
  # over the surface can differ from the run in one piece.
  local_keys="FIT_OFFSET=0 SWE_WRITECODE=3 ASCII_GRIDS=0 DOUBLE_GRIDS=1 SURFACE_ROUTING_ON=0"
  prepare long
  control long both.ctl START_YEAR=1991 START_MONTH=12 END_YEAR=1992 END_MONTH=1 $local_keys
  cp -r long split
  control split first.ctl START_YEAR=1991 START_MONTH=12 END_YEAR=1991 END_MONTH=12 END_DAY=31 \
    $local_keys
  control split second.ctl START_YEAR=1992 START_MONTH=1 END_YEAR=1992 END_MONTH=1 READ_STATE=1 \
    $local_keys
  run long 2 both.ctl; expect_ok long
  run split 2 first.ctl; expect_ok split
  run split 2 second.ctl; expect_ok split
  for table in discharge.stat total_runoff.stat etr.stat snow_storage.stat soil_moisture_profile.stat; do
    grep -P '^1992\t' "long/$table" >long.rows
    grep -P '^1992\t' "split/$table" >split.rows
    [ -s long.rows ] || fail "no 1992 rows in long/$table"
    cmp -s long.rows split.rows || { diff long.rows split.rows | head -5; fail "$table differs"; }
  done
  # The state at the end of January, binary doubles and the state file: bit for bit.
  for f in theta.stack hydraulic_heads.stack groundwater_distance.asc groundwater_level.asc \
    baseflow.asc snow_solid.asc snow_liquid.asc snow_days.asc interception_storage.asc \
    daily_swe/snow_total.asc soil_state.txt_0 soil_state.txt_1; do
    [ -f "long/$f" ] || fail "long/$f missing"
    cmp -s "long/$f" "split/$f" || fail "$f differs between the long and the split run"
  done
  echo "January 1992 and the final state equal in the long and the split run"
  ;;
water_balance)
  # January 1990 in two legs through the state file: the first day, then the
  # rest with whole-run sum grids. The snow, interception and soil columns
  # with the aquifer and the water on their surface (groundwater module on:
  # the exfiltration into the river cells leaves them; surface routing on: the
  # direct runoff that reached the river cells leaves them) close their
  # balance over the second leg to the digits of the outputs, and the table
  # holds the water in transit.
  prepare run
  control run day.ctl START_YEAR=1990 END_YEAR=1990 END_MONTH=1 END_DAY=1 FIT_OFFSET=0
  control run rest.ctl START_YEAR=1990 START_DAY=2 END_YEAR=1990 END_MONTH=1 FIT_OFFSET=0 \
    READ_STATE=1 PRECIPITATION_WRITECODE=10 ETR_WRITECODE=10 RUNOFF_WRITECODE=10 BASEFLOW_WRITECODE=13
  run run 2 day.ctl; expect_ok run
  mkdir -p start && cp run/*.stat start/
  run run 2 rest.ctl; expect_ok run
  python3 "$example/results.py" --balance run start >balance.txt 2>&1 || { cat balance.txt; fail "no balance"; }
  cat run/results/water_balance.txt
  python3 - run/results/water_balance.txt <<'PY' || fail "the balance does not close"
import sys
tables = open(sys.argv[1]).read().split("\n\n")
def run_row(heading):
    table = [t for t in tables if t.startswith(heading)][0].split("\n")
    names = [t for t in table if t.startswith("period")][0].split("\t")
    values = [r for r in table if r.startswith("run\t")][0].split("\t")
    return {n: float(v) for n, v in zip(names[1:], values[1:])}
catchment, columns = run_row("Catchment"), run_row("Snow, interception")
transit = run_row("Water in transit")
assert catchment["P"] > 10.0, catchment
assert abs(columns["residual/P"]) < 3e-5, columns
# The water standing on the surface is one of the storages (it grows in January).
assert catchment["dS_surface"] > 0.1, catchment
# The water in transit is what the catchment residual holds beyond the columns'.
held = transit["concentration_dS"] + transit["routing_dS"]
assert abs(catchment["residual"] - columns["residual"] - held) < 1e-3, (catchment, transit)
print("columns' residual %.1e of P; in transit %.4f mm" % (columns["residual/P"], held))
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
  # The files disagree on the date from the cut on: the run stops there.
  [ "$status" -eq 52 ] || fail "exit status $status, expected 52"
  expect_fatal_naming $status run/Tavro_Diag_0.xml "error in date columns of precipitation"
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
