#!/usr/bin/env bash
# Runs one case of the real tavro binary in a fresh directory and checks its
# exit status, console and files. Usage: program_cases.sh CASE TAVRO MPIEXEC XMLLINT
set -u
case_name=$1 tavro=$2 mpiexec=$3 xmllint=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/tavro_program_XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fail() { echo "FAILED ($case_name): $*"; echo "--- console:"; cat out.txt err.txt 2>/dev/null; exit 1; }
run() { # run NP ARGS...: sets status
  local np=$1; shift
  "$mpiexec" -n "$np" "$tavro" "$@" >out.txt 2>err.txt </dev/null
  status=$?
}
run_with_input() { # run_with_input NP TEXT ARGS...: the text is standard input
  local np=$1 text=$2; shift 2
  printf '%s' "$text" | "$mpiexec" -n "$np" "$tavro" "$@" >out.txt 2>err.txt
  status=$?
}
examples=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../examples" && pwd)
# Copies the example catchment into the run directory example/run, as the
# example's script does. Optional: a section to drop from the control file.
# Every process reads the same speed from MpiSpeedFactor.dat, so the cases skip the
# speed benchmark of the decomposition (the plain example runs keep it).
copy_example_inputs() { cp "$examples"/*.asc "$examples"/*.dat "$1" && echo 1.0 >"$1/MpiSpeedFactor.dat"; }
# Ends the run of the control file $1 after four days: for cases that check the
# frame (files, processes, errors) rather than a month of the physics.
four_days() {
  grep -q -x '28 end day' "$1" || fail "no end day to change in $1"
  sed -i 's/^28 end day$/4 end day/' "$1"
}
prepare_example() {
  mkdir -p example/run && copy_example_inputs example/run/
  if [ $# -gt 0 ]; then
    awk -v drop="$1" '/^\[/ { skip = ($1 == drop) } !skip' "$examples/example.ctl" >example/run/example.ctl
  else
    cp "$examples/example.ctl" example/run/
  fi
  cd example/run || exit 1
}
# Puts one radioactive tracer into the control file $1 in place of the
# tracers of "[substance_transport]", wherever that section stands, and its
# concentration in the water input as a standard grid unless the file has one.
with_one_tracer() {
  awk -v line="$tracer_line" -v input="$tracer_input_line" -v has_input="$(grep -c concflux_tracer_1_input "$1")" '
    /^\[/ { section = $1 }
    section == "[substance_transport]" && done && !/^\[/ && NF > 0 { next }
    section == "[substance_transport]" && !done && !/^\[/ && NF > 0 {
      print "1 number of tracers"; print line; done = 1; next
    }
    section == "[standard_grids]" && !grids && has_input == 0 && !/^\[/ && NF > 0 {
      print ($1 + 1) " number of standard grids"; print input; grids = 1; next
    }
    { print }' "$1" >"$1.new" && mv "$1.new" "$1"
}
tracer_input_line="tracer_input.asc concflux_tracer_1_input readcode = 0 defaultValue = 0.5 fillcode = 0"
tracer_line="Cesium radioactive half_time = 11012 d non_evaporating min_conc = 0 max_conc = 1000 mg/l soilini = 0 gwini = 0 statcode = 2001 gridcode = 0 path = ./ statext = sta gridext = asc"
# The active modules among those that carry tracers: name and the first five
# characters of the name (in the names of the tracer files).
active_tracer_modules() {
  awk '/^\[/ { section = substr($1, 2, length($1) - 2); first = 1; next }
       first && NF > 0 { first = 0; if ($1 != 0) print section }' "$1" |
    grep -x -E 'irrigation|snow_model|interception_model|SiltingUpModel|groundwater_flow|unsatzon_model|SurfaceRoutingModel'
}
expect_no_fatal() { grep -q 'level="0"' "$1" && fail "$1 holds a FATAL entry"; return 0; }
expect_dialogue_once() {
  [ "$(grep -c "choose one of the above options" out.txt)" -eq 1 ] || fail "dialogue not shown once"
  [ "$(grep -c "Cntr-C pressed! please wait" out.txt)" -eq 1 ] || fail "Ctrl-C notice not shown once"
}
expect_status() { [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"; }
expect_console() { grep -q -F -- "$1" out.txt || fail "console lacks: $1"; }
expect_wellformed() { "$xmllint" --noout "$1" || fail "$1 is not well-formed XML"; }
# A whole diagnostics file whose FATAL entries hold the text.
expect_fatal_logged() {
  expect_wellformed Tavro_Diag_0.xml
  grep 'level="0"' Tavro_Diag_0.xml | grep -q -F -- "$1" || fail "Tavro_Diag_0.xml has no FATAL entry: $1"
}

case $case_name in
no_arguments)
  run 1
  expect_status 2
  expect_console "usage: tavrovz[o]<32|64>|dedudaze64 <1-st cntrl-file>"
  expect_console "-closeAfterDump: Tavro stops the program execution immediately"
  expect_console "Exception 2 caught at top level!"
  expect_console "Program aborted with exit code 2"
  expect_console "here is instance 1 of 1"
  expect_wellformed Tavro_Diag_0.xml
  grep -q 'level="0" description= "Exception 2 caught at top level!"/>' Tavro_Diag_0.xml ||
    fail "XML lacks the top-level FATAL line"
  ;;
only_dumpmode)
  run 1 -dumpmode
  expect_status 0
  expect_console "exitcode 0"
  expect_console "the end."
  grep -q "control file" out.txt && fail "an application was created"
  expect_wellformed Tavro_Diag_0.xml
  ;;
dumpmode_prefix_is_control_file)
  run 1 -dumpmodex
  [ "$status" -ne 0 ] || fail "a missing control file reported success"
  expect_console "-dumpmodex"
  expect_wellformed Tavro_Diag_0.xml
  ;;
last_diagfile_wins)
  run 1 -diagfile:a.xml -diagfile:b.xml -dumpmode
  expect_status 0
  [ -f b_0.xml ] || fail "b_0.xml missing"
  [ -e a_0.xml ] && fail "a_0.xml written"
  [ -e Tavro_Diag_0.xml ] && fail "default file written"
  expect_wellformed b_0.xml
  ;;
diaglevel_warning)
  run 1 -diaglevel:warning -dumpmode
  expect_status 0
  expect_wellformed Tavro_Diag_0.xml
  grep -q 'level="4"' Tavro_Diag_0.xml && fail "level 4 entries passed a WARNING threshold"
  run 1 -diaglevel:verbose -dumpmode
  grep -q 'level="4" description= "exitcode 0"' Tavro_Diag_0.xml || fail "verbose is not level 4"
  ;;
missing_control_file)
  run 1 no_such_file.ctl
  [ "$status" -ne 0 ] || fail "a missing control file reported success"
  expect_console "Program aborted with exit code"
  expect_wellformed Tavro_Diag_0.xml
  ;;
three_ranks_one_log)
  run 3 -dumpmode
  expect_status 0
  [ -f Tavro_Diag_0.xml ] || fail "rank 0 wrote no XML file"
  ls Tavro_Diag_[12].xml >/dev/null 2>&1 && fail "another rank wrote an XML file"
  [ "$(grep -c "exitcode 0" out.txt)" -eq 1 ] || fail "the log was written by more than one rank"
  expect_console "here is instance 2 of 3"
  expect_console "here is instance 3 of 3"
  expect_console "OpenMP threads total for MPI process 2"
  expect_wellformed Tavro_Diag_0.xml
  ;;
example_np1 | example_np3)
  prepare_example
  rm MpiSpeedFactor.dat # run as a user does, with the speed benchmark
  run "${case_name#example_np}" example.ctl
  expect_status 0
  expect_console "o.k."
  expect_console "the end."
  expect_console "exitcode 0"
  [ "$(grep -c "routing_model .*time of meteo data" out.txt)" -eq 28 ] || fail "not 28 daily steps"
  expect_console "routing_model 28.1.2012 0. h"
  # The code grids are renumbered to the records of their tables.
  expect_console "Code replacement in MultiLayer-Landuse 1: changed Layer-Code #1 from 30 to 2"
  expect_console "9 replaced by 2 ..."
  expect_console "ranking zones from zone.asc for unsatzon_model"
  # The soil water's initial state: equilibrium above a water table in layer 6.
  grep -q -F "soil water content (for control point r=5 c=3) at model-start: 563.135906 mm" \
    modell_0.log || fail "modell_0.log lacks the control cell's soil water"
  grep -q -F "mean soil water content for all cells at model-start: 0.513279 m^3/m^2" \
    modell_0.log || fail "modell_0.log lacks the mean soil water"
  grep -q -P '^YY\tMM\tDD\tHH\ttheta\[5\]\[3\]\[1\]\t\[2\]\t' soil_theta.txt ||
    fail "soil_theta.txt has no header"
  expect_console "number inbetween areas (routings)    : 2"
  expect_console "number of inflows              (ZL)  : 1"
  expect_console "reading routing description 2"
  grep -q "waterlevel-discharge-table for the channel of inflow 1 to the outlet of subbasin 3" \
    wq_tabZL.001 || fail "no table of the inflow channel"
  # The routed discharge of every subbasin in m3/s, one row a day, then the
  # four goodness-of-fit blocks of the outlet against its (made-up) observations.
  [ "$(sed -n 2p discharge.stat)" = "routed discharge [ m3 per sec ] _submodel:routing_model" ] ||
    fail "discharge.stat lacks its title"
  [ "$(grep -c -P '^2012\t 1\t[ 0-9]{2}\t 0\t[0-9.]+\t[0-9.]+\t[0-9.]+$' discharge.stat)" -eq 28 ] ||
    fail "discharge.stat lacks the 28 daily rows"
  for block in "LIN. R-SQUARE" "LOG. R-SQUARE" "COEFF.VAR.LIN" "COEFF.VAR.LOG"; do
    grep -q -P "^$block\t0\t-9999\.0000\t-9999\.0000\t-?[0-9]+\.[0-9]{4}$" discharge.stat ||
      fail "discharge.stat lacks the lag-0 row of $block for the outlet"
  done
  [ "$(head -1 soil_state.txt_0)" = "[routing_model]" ] || fail "the state file does not start with the routing"
  # Every day closes with the land-use parameters of that day.
  [ "$(grep -c "actual parameters .*\. h" out.txt)" -eq 28 ] || fail "not 28 day closes"
  expect_console "actual parameters 28.1.2012 0. h"
  # The air pressure, splined on its mesh of 3 x 3 points (method 8): the
  # linearised standard atmosphere 1013.25 - 0.12 z hPa on every cell.
  paste <(tail -n +7 air_pressure.mit | tr -s ' \t' '\n' | grep -v '^$') \
        <(tail -n +7 elevation.asc | tr -s ' \t' '\n' | grep -v '^$') |
    awk '$1 != -9999 { d = $1 - (1013.25 - 0.12 * $2); if (d < -0.005 || d > 0.005) bad = 1; ++n }
         END { exit bad || n != 114 }' ||
    fail "air_pressure.mit is not 1013.25 - 0.12 z on every cell"
  expect_wellformed Tavro_Diag_0.xml
  expect_no_fatal Tavro_Diag_0.xml
  ;;
example_binary_same_output_np1_np3)
  # With binary double grids every grid and stack file, written by rank 0 or
  # by all processes together through MPI-IO, is the same file under 1 and 3
  # processes: also the cells without owner at the start of every strip.
  prepare_example
  four_days example.ctl
  sed -i 's/^WriteAsciiGrids = 1/WriteAsciiGrids = 0/; s/^WriteDoubleGrids = 0/WriteDoubleGrids = 1/' example.ctl
  grep -q '^WriteDoubleGrids = 1' example.ctl || fail "the control file has no double-grid switch"
  OMP_NUM_THREADS=1 run 1 example.ctl
  expect_status 0
  mkdir ../np1 && mv -- * ../np1/
  cp ../np1/example.ctl . && copy_example_inputs .
  run 3 example.ctl
  expect_status 0
  # Binary stacks (no "stack" keyword at their start) among the files compared.
  stacks=0
  for f in ../np1/thet_2012*.000 ../np1/soil_temperature*.stack*; do
    [ -f "$f" ] && [ "$(head -c 5 "$f" | tr -d '\000')" != stack ] && stacks=$((stacks + 1))
  done
  [ "$stacks" -ge 5 ] || fail "the example wrote $stacks binary stacks"
  skip='^(MPIRegions_0|Tavro_Diag_0\.xml|out\.txt|err\.txt|example\.ctl.*|modell_0\.log|soil_state\.txt_[12])$'
  np1_files=$(cd ../np1 && ls | grep -v -E "$skip")
  np3_files=$(ls | grep -v -E "$skip")
  [ "$np1_files" = "$np3_files" ] || fail "different files: [$np1_files] vs [$np3_files]"
  for f in $np1_files; do cmp -s "../np1/$f" "$f" || fail "$f differs between 1 and 3 processes"; done
  ;;
example_same_output_np1_np3)
  # The strongest end-to-end check: output files do not depend on the number
  # of processes (the map of owning processes aside) nor on the number of
  # threads (one thread against two).
  prepare_example
  OMP_NUM_THREADS=1 run 1 example.ctl
  expect_status 0
  mkdir ../np1 && mv -- * ../np1/
  cp "$examples/example.ctl" . && copy_example_inputs .
  run 3 example.ctl
  expect_status 0
  for expected in terrain.asc terrain_height.stat soil_depth.min soil_depth.max soil_depth.mit \
    landuse_records.asc soil_records.asc points.txt wq_table.001 wq_table.002 wq_tabZL.001 discharge.stat \
    'zone.$csx' 'zone.$csy' 'zone.$rca' 'zone.$cx' 'zone.$cy' 'elevation.$sl' 'elevation.$ex' \
    'regions.$w1' 'regions.$r2' 'regions.$w2' \
    temperature.mit temperature.stat precipitation.sum precipitation.stat air_humidity.mit \
    air_humidity.stat global_radiation.mit global_radiation.stat sunshine_duration.mit \
    sunshine_duration.stat wind_speed.mit wind_speed.stat air_pressure.mit air_pressure.stat \
    radiation_correction.mit corr_temperature.mit leaf_area_index1.asc leaf_area_index1.mit \
    root_depth1.asc root_depth1.mit snow_storage.stat p_snow.stat p_rain.stat snow_outflow.stat \
    snow_melt.stat snow_days.stat albedo.stat snow_solid.asc snow_liquid.asc snow_total.asc \
    snow_outflow.sum snow_days.sum siltingup_disposition.mit rain_pause.asc kinetic_energy.asc \
    time_since_tillage.asc direct_runoff_siltingup.sum direct_runoff_siltingup.stat \
    gw_heads.asc gw_heads_old.asc gw_flow_x.asc gw_flow_y.asc gw_balance.asc baseflow.asc \
    gw_control_point.txt soil_temperature.txt thaw_depth.stat reservoir_1.txt abstraction_7.txt \
    irrigation_groundwater.stat irrigation_surface_water.stat \
    surface_direct_runoff.stat surface_interflow.stat surface_baseflow.stat \
    surface_total_runoff.stat surface_storage.stat velocity.stack fluxes.stack; do
    [ -f "../np1/$expected" ] || fail "the example wrote no $expected"
  done
  # Surface routing: the velocity stack of every day is among the files compared below.
  [ "$(ls ../np1/velo_2012*.000 2>/dev/null | wc -l)" -eq 28 ] ||
    fail "the example wrote no velocity stack a day"
  # The soil temperatures and thaw depths are among the files compared below.
  [ "$(ls ../np1/soil_temperature*.stack* ../np1/thaw_depth_2012*.000 2>/dev/null | wc -l)" -ge 29 ] ||
    fail "the example wrote no temperature stack or not a thaw-depth grid a day"
  # Irrigation from surface water on the meadows of subbasin 3 on 10, 17 and
  # 24 January only, none from groundwater; the reservoir gives its part on
  # the same days.
  awk -F'\t' '/^2012/ { day = $3 + 0; on = day == 10 || day == 17 || day == 24
      if ($5 != 0 || $6 != 0 || ($7 > 0) != on) bad = 1; n += on }
      END { exit bad || n != 3 }' ../np1/irrigation_surface_water.stat ||
    fail "irrigation_surface_water.stat is not subbasin 3 on the three days alone"
  awk -F'\t' '/^2012/ && ($5 != 0 || $6 != 0 || $7 != 0) { bad = 1 } END { exit bad }' \
    ../np1/irrigation_groundwater.stat || fail "irrigation_groundwater.stat is not all 0"
  awk -F'\t' '/^2012/ { day = $3 + 0; on = day == 10 || day == 17 || day == 24
      if (($14 > 0) != on) bad = 1 } END { exit bad }' ../np1/reservoir_1.txt ||
    fail "the reservoir's Irrig column is not positive on the irrigation days alone"
  # Record numbers, no land-use or soil codes, in the renumbered grids.
  grep -q -P '(^|\t)(100|200|5|9)(\t|$)' ../np1/landuse_records.asc ../np1/soil_records.asc &&
    fail "a renumbered grid holds a code of its table"
  # The time-stamped log and the state files of the other processes aside.
  skip='^(MPIRegions_0|Tavro_Diag_0\.xml|out\.txt|err\.txt|example\.ctl.*|modell_0\.log|soil_state\.txt_[12])$'
  [ "$(grep model-start ../np1/modell_0.log)" = "$(grep model-start modell_0.log)" ] ||
    fail "the start-of-run soil water differs between 1 and 3 processes"
  np1_files=$(cd ../np1 && ls | grep -v -E "$skip")
  np3_files=$(ls | grep -v -E "$skip")
  [ "$np1_files" = "$np3_files" ] || fail "different files: [$np1_files] vs [$np3_files]"
  for f in $np1_files; do cmp -s "../np1/$f" "$f" || fail "$f differs between 1 and 3 processes"; done
  grep -q -P '^2012\t 1\t28\t 0\t' terrain_height.stat || fail "no statistics row for the last day"
  # The soil-water step writes the theta stack and its runoff and step-count grids every day;
  # with water input the loam needs two internal steps, the sandy loam eight.
  for grid in thet direct_runoff interflow baseflow number_of_substeps; do
    [ "$(ls "${grid}"_2012*.000 | wc -l)" -eq 28 ] || fail "$grid is not written every step"
  done
  [ "$(tail -n +7 number_of_substeps_20120110.000 | tr -s ' \t' '\n' | grep -v -e '^$' -e -9999 |
    sort -u | tr '\n' ' ')" = "2 8 " ] || fail "the internal steps of 10 January are not 2 and 8"
  # One row a day: the terrain height at the two points inside, -9999 in the no-data corner.
  [ "$(grep -c -P '^2012\t1\t\d+\t0\t690\t355\t-9999\t' points.txt)" -eq 28 ] ||
    fail "points.txt lacks the 28 daily rows of the terrain height"
  # Snow lies in the upper subbasins by 20 January and melts from then on.
  grep -q -P '^2012\t 1\t20\t 0\t[1-9][0-9]\.' snow_storage.stat || fail "no snow on 20 January"
  [ "$(grep -c -P '^2012\t 1\t' snow_storage.stat)" -eq 28 ] || fail "snow_storage.stat lacks days"
  # Every interpolated variable has a statistics row for each of the 28 days.
  for variable in temperature precipitation air_humidity global_radiation sunshine_duration \
    wind_speed air_pressure; do
    [ "$(grep -c -P '^2012\t 1\t' "$variable.stat")" -eq 28 ] || fail "$variable.stat lacks days"
  done
  # Silting-up: the field (multilayer record 2) was harrowed on 10 January, 18 days before
  # the last step; the forest over grass has no tillage days.
  paste <(tail -n +7 landuse_records.asc | tr -s ' \t' '\n' | grep -v '^$') \
        <(tail -n +7 time_since_tillage.asc | tr -s ' \t' '\n' | grep -v '^$') |
    awk '($1 == 2 && $2 != 18) || ($1 == 1 && $2 != 0) { bad = 1 } END { exit bad }' ||
    fail "time_since_tillage.asc does not hold 18 days on the field and 0 elsewhere"
  [ "$(grep -c -P '^2012\t 1\t' direct_runoff_siltingup.stat)" -eq 28 ] ||
    fail "direct_runoff_siltingup.stat lacks days"
  # Surface routing hands the routing its total runoff: direct runoff that reached the river
  # cells of the last row, interflow and baseflow, every day and subbasin (to the tables'
  # rounding); the direct runoff of the thaw at the end of January reaches the rivers, and
  # subbasin 2, which has no river cell, passes its surface water to its neighbours.
  for table in surface_direct_runoff surface_interflow surface_baseflow surface_total_runoff \
    surface_storage; do
    [ "$(grep -c -P '^2012\t 1\t' "$table.stat")" -eq 28 ] || fail "$table.stat lacks days"
  done
  paste <(grep -P '^2012\t' surface_direct_runoff.stat) <(grep -P '^2012\t' surface_interflow.stat) \
        <(grep -P '^2012\t' surface_baseflow.stat) <(grep -P '^2012\t' surface_total_runoff.stat) |
    awk -F'\t' '{ for (k = 5; k <= 7; ++k) { d = $k + $(k + 8) + $(k + 16) - $(k + 24)
                     if (d < -2e-5 || d > 2e-5) bad = 1 }
                   if ($5 > 0.1 && $7 > 0.1) wet = 1; if ($6 != 0) bad = 1 }
         END { exit bad || !wet }' ||
    fail "surface_total_runoff.stat is not direct runoff + interflow + baseflow, or no direct runoff"
  # The gentle south-east slopes of the catchment get more of the low January sun than flat
  # ground: every correction factor of the run lies a little above 1.
  awk 'NR > 6 { for (i = 1; i <= NF; ++i) if ($i != -9999 && ($i <= 1 || $i > 1.5)) bad = 1 }
       END { exit bad }' radiation_correction.mit || fail "a correction factor outside (1, 1.5]"
  ;;
example_bad_silting_formula)
  # A formula that cannot be parsed, met by every thread of every process in its first cells:
  # one FATAL entry with the parser's message, the job ends with 403 (147 to the shell).
  prepare_example
  sed -i 's/^  X = 12.2 \* K^0.52/  X = 12.2 * K^^0.52/' example.ctl
  grep -q 'K^^0.52' example.ctl || fail "no formula to break"
  SECONDS=0
  OMP_NUM_THREADS=4 run 3 example.ctl
  expect_status $((403 % 256))
  [ "$SECONDS" -le 120 ] || fail "the job took $SECONDS s to end"
  expect_console "Program aborted with exit code 403"
  expect_wellformed Tavro_Diag_0.xml
  [ "$(grep -c 'Parser message' Tavro_Diag_0.xml)" -eq 1 ] || fail "not one entry with the parser message"
  grep -q -F 'level="0" description= ";--error--;in instance SiltingUpModel;expression X=12.2*K^^0.52*(100*L)^(-0.64) could not be parsed correctly. Parser message: Error: Unknown operator ^^ (col 9)' \
    Tavro_Diag_0.xml || fail "the FATAL entry lacks the formula or the parser's message"
  ;;
example_without_special_output)
  prepare_example "[special_output]"
  four_days example.ctl
  run 3 example.ctl
  expect_status 0
  expect_console "no section [special_output]: special output is off"
  expect_console "the end."
  expect_wellformed Tavro_Diag_0.xml
  expect_no_fatal Tavro_Diag_0.xml
  ;;
example_missing_module_section)
  prepare_example "[snow_model]"
  # Every rank meets the error by itself: the job ends in order, with every
  # entry on the console and in the file, under one and three processes.
  for np in 1 3; do
    run $np example.ctl
    expect_status 17
    expect_console "error in control file, [snow_model]; (EOF)not found!"
    expect_console "exceptions in ModellApplication::init() caught!"
    expect_console "Program aborted with exit code 17"
    expect_wellformed Tavro_Diag_0.xml
    grep -q 'description= "error in control file, \[snow_model\]; (EOF)not found!"' Tavro_Diag_0.xml ||
      fail "XML lacks the control-file error"
  done
  ;;
example_station_file_ends_early)
  # The temperature's file ends on 10 January, the other variables go on: every
  # process stops with the date mismatch's code, and the FATAL entry names the
  # file that ended instead of a variable whose date merely disagrees.
  prepare_example
  head -n 14 temperature.dat >cut.dat && mv cut.dat temperature.dat
  run 3 example.ctl
  expect_status 52
  expect_wellformed Tavro_Diag_0.xml
  grep 'level="0"' Tavro_Diag_0.xml | grep -q -F \
    'the data of temperature end with the row of 9.1.2012 0. h in temperature.dat, while other input files go on' ||
    fail "the FATAL entry does not name temperature.dat and its last row"
  grep -q -F "the end." out.txt && fail "the run reported its end"
  ;;
example_first_row_without_values)
  # The first rows of precipitation (method 11) and of the air humidity
  # (method 1) hold no valid value. Precipitation passes the missing marker
  # through its lower limit 0: the first step rains 0 mm, not the fill of the
  # grid's construction. The humidity would keep the previous grid, but there
  # is none yet: every process stops with 1050 (26 at the shell), naming the
  # file and the date.
  prepare_example
  sed -i 's/^2012 01 01 00 .*/2012 01 01 00  -99999  -99999/' precipitation.dat
  run 1 example.ctl
  expect_status 0
  expect_no_fatal Tavro_Diag_0.xml
  awk -F '\t' '$1 == 2012 && $2 == 1 && $3 == 1 { found = 1; for (i = 5; i <= NF; ++i) if ($i + 0 != 0) bad = 1 }
       END { exit !(found && !bad) }' precipitation.stat ||
    fail "precipitation.stat does not show 0 mm on 1 January: $(grep -m1 '^2012' precipitation.stat)"
  sed -i 's/^2012 01 01 00 .*/2012 01 01 00  -99999  -99999/' air_humidity.dat
  run 3 example.ctl
  expect_status $((1050 % 256))
  expect_wellformed Tavro_Diag_0.xml
  grep 'level="0"' Tavro_Diag_0.xml | grep -q -F \
    'no valid station value for air_humidity in the first row used, of 1.1.2012 0. h in air_humidity.dat: there is no previous grid to keep' ||
    fail "the FATAL entry does not name air_humidity.dat and 1.1.2012"
  grep -q -F "Exception 1050 caught at top level!" out.txt || fail "the console lacks code 1050"
  ;;
example_coupling_semaphore_unwritable)
  # The coupled example whose own semaphore file lies in a directory that does
  # not exist: the partner would wait for it without limit, so the run stops
  # after the first step's exchange with 1036 (12 at the shell) and names the
  # file. The partner's first grid and semaphore are there from the start.
  prepare_example
  sed 's|^tavro.sem own semaphore file|no_such_directory/tavro.sem own semaphore file|' \
    "$examples/coupling.section" >>example.ctl
  grep -q '^no_such_directory/tavro.sem' example.ctl || fail "the semaphore line was not replaced"
  {
    head -6 zone.asc
    awk -v n="$(awk 'tolower($1) == "ncols" { print $2 }' zone.asc)" \
      -v m="$(awk 'tolower($1) == "nrows" { print $2 }' zone.asc)" 'BEGIN {
      for (r = 1; r <= m; r++) { line = 1; for (c = 2; c <= n; c++) line = line " 1"; print line } }'
  } >partner_depth.asc
  echo "step 1" >partner.sem
  timeout 240 "$mpiexec" -n 1 "$tavro" example.ctl >out.txt 2>err.txt </dev/null
  status=$?
  expect_status $((1036 % 256))
  expect_wellformed Tavro_Diag_0.xml
  grep 'level="0"' Tavro_Diag_0.xml | grep -q -F 'error writing the semaphore file no_such_directory/tavro.sem' ||
    fail "the FATAL entry does not name the semaphore file"
  grep -q -F "Exception 1036 caught at top level!" out.txt || fail "the console lacks code 1036"
  [ ! -e partner.sem ] || fail "the partner's semaphore was not taken"
  [ -e tavro_height.asc ] || fail "the step's exchange grid was not written before the semaphore"
  ;;
example_one_tracer)
  # A copy of the example with one radioactive tracer: every active module
  # that carries tracers writes the header of its concentration statistics,
  # the same under 1 and 3 processes. Each run has a directory of its own.
  for np in 1 3; do
    mkdir -p "$work/np$np" && cd "$work/np$np" || exit 1
    prepare_example
    with_one_tracer example.ctl
    modules=$(active_tracer_modules example.ctl)
    [ -n "$modules" ] || fail "no active module carries tracers"
    run "$np" example.ctl
    expect_status 0
    expect_console "reading parameters for tracer 1 ..."
    expect_console "done."
    expect_console "the end."
    expect_wellformed Tavro_Diag_0.xml
    expect_no_fatal Tavro_Diag_0.xml
    for module in $modules; do
      file="ces${module:0:5}.sta"
      title="tracer concentration for tracer 1 (ces) _submodel:$module"
      if [ "$module" = groundwater_flow ]; then
        # The groundwater module keeps one table per aquifer layer.
        file="ces${module:0:4}1.sta"
        title="tracer concentration for tracer 1 in layer 1 (ces) _submodel:$module"
      fi
      [ -f "$file" ] || fail "-n $np: no statistics $file of $module"
      [ "$(sed -n 2p "$file")" = "$title" ] ||
        fail "-n $np: $file lacks its title"
      head -1 "$file" | grep -q -P '^YY\tMM\tDD\tHH\t.*\ttot_average$' || fail "-n $np: $file lacks its columns"
      if [ "$np" = 3 ]; then
        cmp -s "$work/np1/example/run/$file" "$file" || fail "$file differs between 1 and 3 processes"
      fi
    done
  done
  ;;
example_glacier)
  # The glacier variant of the example: melt and runoff of a dynamic glacier
  # and one yearly update (20 January), identical under 1 process of one
  # thread and 3 processes of two threads.
  for np in 1 3; do
    mkdir -p "$work/np$np" && cd "$work/np$np" || exit 1
    prepare_example
    bash "$examples/glacier-variant.sh" example.ctl
    if [ "$np" = 1 ]; then OMP_NUM_THREADS=1 run 1 example.ctl; else run 3 example.ctl; fi
    expect_status 0
    expect_no_fatal Tavro_Diag_0.xml
    grep -q "yearly update of the dynamic glaciers on 20.1.2012" Tavro_Diag_0.xml ||
      fail "-n $np: no yearly update on 20 January"
    [ "$(grep -c "yearly update of the dynamic glaciers" Tavro_Diag_0.xml)" -eq 1 ] ||
      fail "-n $np: not one yearly update"
    for f in glacier_runoff.stat glacier_ice_melt.stat glacier_firn_melt.stat firn.stk \
      glacier_mass_balance.asc glacier_fraction_end.asc glacier_codes_end.asc; do
      [ -f "$f" ] || fail "-n $np: the glacier variant wrote no $f"
    done
    # Runoff from subbasin 1 (the glacier's) only.
    awk -F'\t' 'NR > 3 && $5 > 0 { found = 1 } NR > 3 && ($6 != 0 || $7 != 0) { bad = 1 }
      END { exit !(found && !bad) }' glacier_runoff.stat ||
      fail "-n $np: glacier runoff is not in subbasin 1 alone"
  done
  skip='^(MPIRegions_0|Tavro_Diag_0\.xml|out\.txt|err\.txt|example\.ctl.*|modell_0\.log|soil_state\.txt_[12])$'
  np1_files=$(cd "$work/np1/example/run" && ls | grep -v -E "$skip")
  np3_files=$(ls | grep -v -E "$skip")
  [ "$np1_files" = "$np3_files" ] || fail "different files: [$np1_files] vs [$np3_files]"
  for f in $np1_files; do
    cmp -s "$work/np1/example/run/$f" "$f" || fail "$f differs between 1 and 3 processes"
  done
  ;;
example_spin_up)
  # A copy of the example in spin-up mode: the period twice, response units
  # from the terrain height in classes of 100 m. The unit grid is the same
  # under 1 and 3 processes; the masters are each process's own.
  for np in 1 3; do
    mkdir -p "$work/np$np" && cd "$work/np$np" || exit 1
    prepare_example
    cat "$examples/spin-up.section" >>example.ctl
    run "$np" example.ctl
    expect_status 0
    expect_console "SpinUp reached end of defined time range for run #1, resetting inputs and starting again now (repetition 2 of 2)"
    [ "$(grep -c "routing_model .*time of meteo data" out.txt)" -eq 56 ] || fail "-n $np: not twice 28 daily steps"
    expect_no_fatal Tavro_Diag_0.xml
    for ((rank = 0; rank < np; rank++)); do
      for grid in All_HydrologicResponseUnits Master_HydrologicResponseUnits; do
        [ -f "$(printf '%s_%03d' "$grid" "$rank")" ] || fail "-n $np: no $grid of rank $rank"
      done
    done
    [ -f Master_HydrologicResponseUnits ] || fail "-n $np: no gathered master grid"
    # One unit per class of the terrain height: the pairs of unit and class
    # of every valid cell form a one-to-one map.
    pairs=$(paste <(tail -n +7 elevation.asc | tr -s ' \t' '\n' | grep -v '^$') \
                  <(tail -n +7 All_HydrologicResponseUnits | tr -s ' \t' '\n' | grep -v '^$') |
            awk '$2 != -9999 { print $2, int($1 / 100) }' | sort -u)
    [ -n "$pairs" ] || fail "-n $np: no units"
    [ "$(echo "$pairs" | cut -d' ' -f1 | sort -u | wc -l)" -eq "$(echo "$pairs" | wc -l)" ] ||
      fail "-n $np: a unit holds two classes"
    [ "$(echo "$pairs" | cut -d' ' -f2 | sort -u | wc -l)" -eq "$(echo "$pairs" | wc -l)" ] ||
      fail "-n $np: a class forms two units"
    if [ "$np" = 3 ]; then
      cmp -s "$work/np1/example/run/All_HydrologicResponseUnits" All_HydrologicResponseUnits ||
        fail "the unit grid differs between 1 and 3 processes"
    fi
  done
  # The temperature pre-spin-up walks "temperature" (the first variable) and
  # needs the soil heat model, here switched off in the copy.
  sed -i 's/^0 doTemperaturePreSpinUp/1 doTemperaturePreSpinUp/' example.ctl
  grep -q '^1 doTemperaturePreSpinUp' example.ctl || fail "no pre-spin-up switch to set"
  sed -i 's/^1 heat transfer model on/0 heat transfer model off/' example.ctl
  grep -q '^0 heat transfer model off' example.ctl || fail "no heat model switch to set"
  run 1 example.ctl
  expect_status $((1040 % 256))
  expect_console "heat transfer model not active in unsatzon_model. This is required for pre-SpinUp!"
  # 1040 reaches the shell as 16: the FATAL entry of the log tells it.
  grep -q -F 'level="0" description= "heat transfer model not active in unsatzon_model. This is required for pre-SpinUp!' \
    Tavro_Diag_0.xml || fail "the log lacks the FATAL entry of the pre-spin-up without heat"
  expect_console "Exception in Modellapplication::run() caught!"
  ;;
example_coupling)
  # A copy of the example coupled to the partner script: in every step the
  # partner's grid becomes soil_depth (its value is the step number), and
  # tavro answers with the terrain height ("Sum" of one step) and the mean
  # terrain height per subbasin.
  prepare_example
  cat "$examples/coupling.section" >>example.ctl
  "$mpiexec" -n 1 "$tavro" example.ctl >out.txt 2>err.txt </dev/null &
  tavro_pid=$!
  timeout 240 bash "$(dirname "${BASH_SOURCE[0]}")/coupling_partner.sh" 28 zone.asc >partner.txt 2>&1
  partner_status=$?
  wait "$tavro_pid"
  status=$?
  expect_status 0
  [ "$partner_status" -eq 0 ] || fail "partner failed: $(cat partner.txt)"
  [ "$(grep -c "waiting for external synchronisation file partner.sem...found it! " out.txt)" -eq 28 ] ||
    fail "not 28 waits for the partner"
  expect_no_fatal Tavro_Diag_0.xml
  for gone in partner.sem partner_depth.asc tavro.sem Tavro_Brenk_temporary_semaphore.file; do
    [ ! -e "$gone" ] || fail "$gone is left"
  done
  # soil_depth held the partner's step numbers 1..28: its run minimum,
  # maximum and mean in every valid cell.
  for check in "soil_depth.min 1" "soil_depth.max 28" "soil_depth.mit 14.5"; do
    set -- $check
    tail -n +7 "$1" | tr -s ' \t' '\n' | grep -v '^$' | awk -v v="$2" '$1 != -9999 && $1 != v { bad = 1 } END { exit bad }' ||
      fail "$1 is not $2 in every valid cell"
  done
  cmp -s <(tail -n +7 tavro_height.asc | tr -s ' \t' '\n') <(tail -n +7 terrain.asc | tr -s ' \t' '\n') ||
    fail "tavro_height.asc is not the terrain height"
  [ "$(head -1 received_28.txt)" = "terrain_height_submodel:(default); 3 zones" ] ||
    fail "the statistics file lacks its header: $(head -1 received_28.txt)"
  # One line per subbasin, with the mean of the last row of terrain_height.stat.
  paste <(tail -n +2 received_28.txt) <(tail -1 terrain_height.stat | cut -f5-7 | tr '\t' '\n') |
    awk 'BEGIN { n = 0 } { n++; d = $2 - $3; if ($1 != n || d > 0.01 || d < -0.01) bad = 1 } END { exit bad || n != 3 }' ||
    fail "the statistics file does not hold the three subbasins' means"
  ;;
ctrl_c_answer_0 | ctrl_c_answer_3 | ctrl_c_answer_x)
  run_with_input 2 "${case_name#ctrl_c_answer_}
"
  expect_status 0
  expect_dialogue_once
  expect_console "rank 0: run returned 0 after 3 steps"
  expect_console "rank 1: run returned 0 after 3 steps"
  ;;
ctrl_c_answer_eof)
  run 2
  expect_status 0
  expect_dialogue_once
  expect_console "rank 0: run returned 0 after 3 steps"
  expect_console "rank 1: run returned 0 after 3 steps"
  ;;
ctrl_c_answer_1)
  run_with_input 2 "1
"
  expect_status 99
  expect_dialogue_once
  expect_console "rank 0: run returned 99 after 1 steps"
  expect_console "rank 1: run returned 99 after 1 steps"
  ;;
ctrl_c_answer_2)
  run_with_input 2 "2
"
  expect_status 98
  expect_dialogue_once
  expect_console "program manually killed by pressing Ctrl-C and selecting 2!"
  grep -q "run returned" out.txt && fail "the run went on after choice 2"
  expect_wellformed Tavro_Diag_0.xml
  ;;
zone_nodata_same_output)
  # Zone grids whose nodata value is 0 or 1000 divide and run like the
  # example under 1, 2 and 3 processes. Their grid files differ from the
  # example's only in the nodata value; the statistics of the nodata-0 grid
  # are the example's, those of the nodata-1000 grid name the codes 1001 to
  # 1003 (and count every height, all below 1000, as a hole).
  source "$(dirname "${BASH_SOURCE[0]}")/example_variants.sh"
  # The time-stamped log and the state files of the processes other than 0 aside.
  skip='^(MPIRegions_0|MpiSpeedFactor\.dat|Tavro_Diag_0\.xml|out\.txt|err\.txt|example\.ctl.*|modell_0\.log|soil_state\.txt_[12])$'
  outputs() { (cd "$1" && ls | grep -v -E "$skip"); }
  for name in example zone_nodata_zero zone_nodata_thousand; do
    for np in 1 2 3; do
      make_variant "$name" "$work/$name$np" || fail "no input $name"
      four_days "$work/$name$np/run/example.ctl"
      (cd "$work/$name$np/run" && "$mpiexec" -n "$np" "$tavro" example.ctl >out.txt 2>err.txt </dev/null)
      status=$?
      cd "$work/$name$np/run" || exit 1
      expect_status 0
      expect_wellformed Tavro_Diag_0.xml
      expect_no_fatal Tavro_Diag_0.xml
      [ "$(outputs .)" = "$(outputs "$work/example1/run")" ] || fail "$name np$np: other files"
      for f in $(outputs .); do
        cmp -s "$f" "$work/${name}1/run/$f" || fail "$name: $f differs between 1 and $np processes"
      done
    done
  done
  cd "$work" || exit 1
  for name_nodata in zone_nodata_zero:0 zone_nodata_thousand:1000; do
    name=${name_nodata%:*} nodata=${name_nodata#*:}
    for f in terrain.asc soil_depth.min soil_depth.max soil_depth.mit; do
      awk -v nodata="$nodata" 'BEGIN { FS = OFS = "\t" }
        { for (i = 1; i <= NF; ++i) if ($i == "-9999") $i = nodata; print }' \
        "example1/run/$f" >expected.txt
      cmp -s expected.txt "${name}1/run/$f" || fail "$name: $f differs from the example's"
    done
  done
  cmp -s example1/run/terrain_height.stat zone_nodata_zero1/run/terrain_height.stat ||
    fail "zone_nodata_zero: terrain_height.stat differs from the example's"
  grep -q -P '^YY\tMM\tDD\tHH\t"1001"\t"1002"\t"1003"\ttot_average$' \
    zone_nodata_thousand1/run/terrain_height.stat || fail "the statistics lack the codes 1001 to 1003"
  ;;
fatal_end_rank1_alone)
  # Rank 1 fails while ranks 0 and 2 wait in a collective: the job still ends
  # with its code, within a few seconds.
  SECONDS=0
  run 3 1:17
  expect_status 17
  [ "$SECONDS" -le 20 ] || fail "the job took $SECONDS s to end"
  grep -q -F "(mpi-rank  1) probe failure of mpi-rank 1" err.txt || fail "rank 1's entry is missing"
  grep -q -F "(mpi-rank  1) Program aborted with exit code 17" err.txt ||
    fail "rank 1's abort entry is missing"
  ;;
fatal_end_rank0_alone)
  # Rank 0 fails alone: it closes its log before the job is aborted.
  run 3 0:21
  expect_status 21
  expect_wellformed Tavro_Diag_0.xml
  grep -q 'level="0" description= "Program aborted with exit code 21"' Tavro_Diag_0.xml ||
    fail "XML lacks the abort entry"
  ;;
fatal_end_ranks12_disagree)
  # Ranks 1 and 2 fail with different codes: the lowest failing rank's wins.
  run 3 1:22 2:23
  expect_status 22
  ;;
fatal_end_all_disagree)
  # Every rank fails, each with its own code: the job ends in order with
  # rank 0's code, and every entry reaches the console and the file.
  run 3 0:17 1:22 2:23
  expect_status 17
  expect_console "probe failure of mpi-rank 0"
  expect_console "Program aborted with exit code 17"
  grep -q -F "(mpi-rank  2) Program aborted with exit code 23" err.txt ||
    fail "rank 2's abort entry is missing"
  expect_wellformed Tavro_Diag_0.xml
  grep -q 'level="0" description= "Program aborted with exit code 17"' Tavro_Diag_0.xml ||
    fail "XML lacks the abort entry"
  ;;
example_state_missing_on_rank1)
  # A two-day run leaves the soil water's state grids and the state files of
  # the three processes; the next run reads them, but the file of rank 1 is
  # gone. Every process ends with its code, and rank 0's file names the file.
  prepare_example
  sed -i 's/^28 end day/2 end day/' example.ctl
  awk '/^\[/ { soil = ($1 == "[unsatzon_model]" || $1 == "[heat_transfer]") }
       soil && state { sub(/^[0-9]+ its writecode/, "3 its writecode"); state = 0 }
       soil && $1 ~ /^(geodetic_heads|hydraulic_heads|theta|soil_temperature)\.stack$|^(groundwater_distance|groundwater_level|theta_in_groundwater_level|baseflow)\.asc$/ { state = 1 }
       { print }' example.ctl >example.new && mv example.new example.ctl
  run 3 example.ctl
  expect_status 0
  sed -i 's/^0 readgrids (0: the initial state is computed from ini_gw_level)/1 readgrids/' example.ctl
  grep -q '^1 readgrids$' example.ctl || fail "no readgrids line to set"
  rm soil_state.txt_1 || fail "the first run wrote no state file of rank 1"
  run 3 example.ctl
  expect_status 64
  grep -q -F "(mpi-rank  1) error opening storage content file soil_state.txt_1" err.txt ||
    fail "rank 1 did not meet the missing file"
  expect_fatal_logged "error opening storage content file soil_state.txt_1"
  ;;
example_control_point_soil_rank2 | example_control_point_groundwater_rank2)
  # The control cell lies in row 2, among the cells of rank 2, and its file
  # cannot be created there: every process ends with 62, and rank 0's file
  # holds the FATAL entry of rank 2.
  prepare_example
  if [ "$case_name" = example_control_point_soil_rank2 ]; then
    sed -i -e 's|^5 3 control point|2 3 control point|' \
      -e 's|^soil_theta.txt control point|missing_directory/soil_theta.txt control point|' example.ctl
    grep -q '^missing_directory/soil_theta.txt' example.ctl || fail "no control-point file to change"
    reason="error opening file for soil theta (single point)"
  else
    sed -i -e 's|^5 6 control row and column|2 6 control row and column|' \
      -e 's|^gw_control_point.txt name|missing_directory/gw_control_point.txt name|' example.ctl
    grep -q '^missing_directory/gw_control_point.txt' example.ctl || fail "no control-point file to change"
    reason="error opening file for gw-fluxes (single point)"
  fi
  grep -q '^2 [36] control' example.ctl || fail "no control cell to move"
  run 3 example.ctl
  expect_status 62
  grep -q -F "(mpi-rank  2) $reason" err.txt || fail "rank 2 did not meet the file"
  expect_fatal_logged "$reason"
  expect_console "Program aborted with exit code 62"
  ;;
example_state_unwritable | example_state_unwritable_np3)
  # The state file of the routing, the soil water and the snow lies in a
  # directory that does not exist: the run ends with the write error (18),
  # but only after every module has finished its run. Every table, the
  # routing's goodness of fit among them, equals that of a run whose state
  # can be written; the soil water reports its end of the run and surface
  # routing writes its section into its own file.
  np=1
  [ "$case_name" = example_state_unwritable_np3 ] && np=3
  prepare_example
  run "$np" example.ctl
  expect_status 0
  mkdir ../written && mv -- * ../written/
  cp "$examples/example.ctl" . && copy_example_inputs .
  # The soil water's line names the file; surface routing keeps its own.
  sed -i '0,/^soil_state.txt state file/s||missing_directory/soil_state.txt state file|' example.ctl
  [ "$(grep -c '^missing_directory/soil_state.txt' example.ctl)" -eq 1 ] ||
    fail "not one state file line changed"
  run "$np" example.ctl
  expect_status 18
  expect_wellformed Tavro_Diag_0.xml
  grep -q 'level="0" description= "write error missing_directory/soil_state.txt_0 ! (1)' \
    Tavro_Diag_0.xml || fail "no FATAL entry naming the state file"
  [ "$(grep -c -P '^2012\t 1\t' discharge.stat)" -eq 28 ] || fail "discharge.stat lacks rows of the run"
  cmp -s ../written/discharge.stat discharge.stat || fail "discharge.stat is not complete"
  grep -q 'at model-end' modell_0.log || fail "the soil water did not report the end of the run"
  grep -q -x '\[SurfaceRoutingModel\]' soil_state.txt_0 || fail "surface routing wrote no section"
  skip='^(MPIRegions_0|MpiSpeedFactor\.dat|Tavro_Diag_0\.xml|out\.txt|err\.txt|example\.ctl.*|modell_0\.log|soil_state\.txt_[0-9])$'
  written_files=$(cd ../written && ls | grep -v -E "$skip")
  [ "$written_files" = "$(ls | grep -v -E "$skip")" ] || fail "not the files of a run whose state is written"
  for f in $written_files; do
    cmp -s "../written/$f" "$f" || fail "$f differs from a run whose state is written"
  done
  ;;
example_default_threads)
  # Without OMP_NUM_THREADS each of the three processes takes a third of the
  # machine's cores (at least one thread), and the log says so first.
  prepare_example
  four_days example.ctl
  given=${OMP_NUM_THREADS-}
  unset OMP_NUM_THREADS # before nproc, which also reads it
  threads=$(($(nproc) / 3))
  [ "$threads" -ge 1 ] || threads=1
  run 3 example.ctl
  export OMP_NUM_THREADS=$given
  expect_status 0
  plural=threads
  [ "$threads" -eq 1 ] && plural=thread
  expect_console "3 processes x $threads $plural per node (threads: the node's cores shared among its processes)"
  expect_console "There are $threads OpenMP threads total for MPI process 0"
  grep -q "3 processes x $threads $plural per node" Tavro_Diag_0.xml || fail "the log lacks the layout"
  ;;
example_wind_as_grid)
  # Wind speed as a standard grid instead of an interpolated variable: the
  # station values cannot be corrected, so the grid is, after the
  # interpolation, and the log says so.
  prepare_example
  sed -i -e '/^\[meteo_data_count\]$/ { n; s/^7$/6/ }' -e '/^wind_speed$/d' \
    -e 's/^\([0-9]*\) number of standard grids$/\1 number of standard grids\nwind.asc wind_speed readcode = 0 defaultValue = 4 fillcode = 0/' \
    example.ctl
  awk '!done && / number of standard grids$/ { $1 = $1 + 1; done = 1 } { print }' example.ctl >example.new
  mv example.new example.ctl
  run 1 example.ctl
  expect_status 0
  expect_no_fatal Tavro_Diag_0.xml
  grep -q -F 'level="3" description= "precipitation correction: temperature, wind speed or precipitation exists only as a grid' \
    Tavro_Diag_0.xml || fail "no INFO entry on the correction of the grid"
  [ "$(grep -c -P '^2012\t 1\t' precipitation.stat)" -eq 28 ] || fail "precipitation.stat lacks days"
  ;;
example_superposition)
  # The regional superposition of example-superposition.ctl: precipitation by
  # inverse distance and by Thiessen blended by region, registered as
  # "precipitation" and corrected on the grid. Its grids and tables are the
  # same under one process of one thread and three processes of two.
  mkdir -p example/run && copy_example_inputs example/run/
  cp "$examples/example-superposition.ctl" example/run/
  cd example/run || exit 1
  OMP_NUM_THREADS=1 run 1 example-superposition.ctl
  expect_status 0
  expect_no_fatal Tavro_Diag_0.xml
  mkdir ../np1 && mv -- * ../np1/
  cp "$examples/example-superposition.ctl" . && copy_example_inputs .
  run 3 example-superposition.ctl
  expect_status 0
  for f in precipitation.sum precipitation.stat precipitation_idw.sum precipitation_idw.stat \
    precipitation_thiessen.sum precipitation_thiessen.stat 'zone.$w1' 'zone.$r2' 'zone.$w2' \
    'zone.$r3' 'zone.$w3' snow_storage.stat p_rain.stat; do
    [ -f "$f" ] || fail "the run wrote no $f"
    cmp -s "../np1/$f" "$f" || fail "$f differs between 1 and 3 processes"
  done
  # The entity's table: its header and a row of four decimals for each day.
  grep -q -F "precipitation_submodel:RegionalSuperposition" precipitation.stat ||
    fail "precipitation.stat lacks the entity's header"
  [ "$(grep -c -P '^2012\t 1\t[ \d]\d\t 0\t\d+\.\d{4}\t' precipitation.stat)" -eq 28 ] ||
    fail "precipitation.stat lacks the 28 daily rows of four decimals"
  ;;
*)
  fail "unknown case"
  ;;
esac
echo "PASSED ($case_name)"
