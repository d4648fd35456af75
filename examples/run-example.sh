#!/usr/bin/env bash
# Runs the example catchment with the given tavro binary under mpiexec -n 2
# (or -n NP when given as second argument) in examples/run/.
set -euo pipefail
tavro=$(realpath "$1")
np=${2:-2}
here=$(cd "$(dirname "$0")" && pwd)
run="$here/run"
rm -rf "$run" && mkdir -p "$run" && cd "$run"
# The program writes its substituted copy next to the control file and its
# derived grids next to their sources: run on copies of all inputs.
cp "$here/example.ctl" "$here"/*.asc "$here"/*.dat .
set +e
mpiexec -n "$np" "$tavro" example.ctl
status=$?
set -e
echo "tavro finished with exit status $status; output in $run"
exit $status
