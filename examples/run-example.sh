#!/usr/bin/env bash
# Runs the example catchment with the given tavro binary under mpiexec -n 2
# (or -n NP when given as second argument): example.ctl in examples/run/,
# then the regional superposition of example-superposition.ctl in
# examples/run-superposition/. A third argument runs one variant of
# example.ctl alone: "spin-up" (spin-up.section appended to the control file),
# "coupling" (coupling.section appended, one process, beside the partner
# script tests/app/coupling_partner.sh) or "glacier" (glacier.section
# appended, the glacier grids added to [standard_grids], silting-up and
# surface routing off).
set -euo pipefail
tavro=$(realpath "$1")
np=${2:-2}
variant=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
# Threads that wait passively: the processes share the cores, and the modules
# with short parallel loops in many inner steps slow down badly when idle
# threads of one process spin on the cores the other one needs.
export OMP_WAIT_POLICY=${OMP_WAIT_POLICY:-passive}
case $variant in
"" | spin-up | coupling | glacier) ;;
*) echo "unknown variant $variant (spin-up, coupling or glacier)" >&2; exit 2 ;;
esac

# run_in DIR CONTROL: runs CONTROL (a file of examples/) in DIR on copies of
# all inputs: the program writes its substituted copy next to the control
# file and its derived grids next to their sources.
run_in() {
  local run=$1 control=$2
  rm -rf "$run" && mkdir -p "$run" && cd "$run"
  cp "$here/$control" "$here"/*.asc "$here"/*.dat .
  case $variant in
  spin-up) cat "$here/spin-up.section" >>"$control" ;;
  coupling) cat "$here/coupling.section" >>"$control" ;;
  glacier) bash "$here/glacier-variant.sh" "$control" ;;
  esac
  set +e
  if [ "$variant" = coupling ]; then
    mpiexec -n 1 "$tavro" "$control" &
    local tavro_pid=$!
    bash "$here/../tests/app/coupling_partner.sh" 28 zone.asc
    wait "$tavro_pid"
  else
    mpiexec -n "$np" "$tavro" "$control"
  fi
  status=$?
  set -e
  echo "tavro finished with exit status $status; output in $run"
}

run_in "$here/run" example.ctl
if [ "$status" -ne 0 ] || [ -n "$variant" ]; then
  exit $status
fi
run_in "$here/run-superposition" example-superposition.ctl
exit $status
