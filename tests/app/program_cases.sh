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
*)
  fail "unknown case"
  ;;
esac
echo "PASSED ($case_name)"
