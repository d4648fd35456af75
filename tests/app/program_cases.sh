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
copy_example_inputs() { cp "$examples"/*.asc "$examples"/*.dat "$1"; }
prepare_example() {
  mkdir -p example/run && copy_example_inputs example/run/
  if [ $# -gt 0 ]; then
    awk -v drop="$1" '/^\[/ { skip = ($1 == drop) } !skip' "$examples/example.ctl" >example/run/example.ctl
  else
    cp "$examples/example.ctl" example/run/
  fi
  cd example/run || exit 1
}
expect_no_fatal() { grep -q 'level="0"' "$1" && fail "$1 holds a FATAL entry"; return 0; }
expect_dialogue_once() {
  [ "$(grep -c "choose one of the above options" out.txt)" -eq 1 ] || fail "dialogue not shown once"
  [ "$(grep -c "Cntr-C pressed! please wait" out.txt)" -eq 1 ] || fail "Ctrl-C notice not shown once"
}
expect_status() { [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"; }
expect_console() { grep -q -F -- "$1" out.txt || fail "console lacks: $1"; }
expect_wellformed() { "$xmllint" --noout "$1" || fail "$1 is not well-formed XML"; }

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
  run "${case_name#example_np}" example.ctl
  expect_status 0
  expect_console "o.k."
  expect_console "the end."
  expect_console "exitcode 0"
  [ "$(grep -c "routing_model .*time of meteo data" out.txt)" -eq 28 ] || fail "not 28 daily steps"
  expect_console "routing_model 28.1.2012 0. h"
  expect_wellformed Tavro_Diag_0.xml
  expect_no_fatal Tavro_Diag_0.xml
  ;;
example_same_output_np1_np3)
  # The strongest end-to-end check: output files do not depend on the number
  # of processes or threads (the map of owning processes aside).
  prepare_example
  # One process with one thread against three processes with two threads each.
  OMP_NUM_THREADS=1 run 1 example.ctl
  expect_status 0
  mkdir ../np1 && mv -- * ../np1/
  cp "$examples/example.ctl" . && copy_example_inputs .
  run 3 example.ctl
  expect_status 0
  for expected in terrain.asc terrain_height.stat soil_depth.min soil_depth.max soil_depth.mit \
    'zone.$csx' 'zone.$csy' 'zone.$rca' 'zone.$cx' 'zone.$cy' \
    temperature.mit temperature.stat precipitation.sum precipitation.stat air_humidity.mit \
    air_humidity.stat global_radiation.mit global_radiation.stat sunshine_duration.mit \
    sunshine_duration.stat wind_speed.mit wind_speed.stat air_pressure.mit air_pressure.stat \
    radiation_correction.mit corr_temperature.mit; do
    [ -f "../np1/$expected" ] || fail "the example wrote no $expected"
  done
  skip='^(MPIRegions_0|Tavro_Diag_0\.xml|out\.txt|err\.txt|example\.ctl.*)$'
  np1_files=$(cd ../np1 && ls | grep -v -E "$skip")
  np3_files=$(ls | grep -v -E "$skip")
  [ "$np1_files" = "$np3_files" ] || fail "different files: [$np1_files] vs [$np3_files]"
  for f in $np1_files; do cmp -s "../np1/$f" "$f" || fail "$f differs between 1 and 3 processes"; done
  grep -q -P '^2012\t 1\t28\t 0\t' terrain_height.stat || fail "no statistics row for the last day"
  # Every interpolated variable has a statistics row for each of the 28 days.
  for variable in temperature precipitation air_humidity global_radiation sunshine_duration \
    wind_speed air_pressure; do
    [ "$(grep -c -P '^2012\t 1\t' "$variable.stat")" -eq 28 ] || fail "$variable.stat lacks days"
  done
  # The gentle south-east slopes of the catchment get more of the low January sun than flat
  # ground: every correction factor of the run lies a little above 1.
  awk 'NR > 6 { for (i = 1; i <= NF; ++i) if ($i != -9999 && ($i <= 1 || $i > 1.5)) bad = 1 }
       END { exit bad }' radiation_correction.mit || fail "a correction factor outside (1, 1.5]"
  ;;
example_without_special_output)
  prepare_example "[special_output]"
  run 3 example.ctl
  expect_status 0
  expect_console "no section [special_output]: special output is off"
  expect_console "the end."
  expect_wellformed Tavro_Diag_0.xml
  expect_no_fatal Tavro_Diag_0.xml
  ;;
example_missing_module_section)
  prepare_example "[snow_model]"
  # Under three processes every rank stops with the code; which rank's
  # MPI_Abort ends the job first (and cuts the others' output) is open, so
  # the entries are checked with one process.
  run 3 example.ctl
  expect_status 17
  run 1 example.ctl
  expect_status 17
  expect_console "error in control file, [snow_model]; (EOF)not found!"
  expect_console "exceptions in ModellApplication::init() caught!"
  expect_console "Program aborted with exit code 17"
  grep -q 'description= "error in control file, \[snow_model\]; (EOF)not found!"' Tavro_Diag_0.xml ||
    fail "XML lacks the control-file error"
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
*)
  fail "unknown case"
  ;;
esac
echo "PASSED ($case_name)"
