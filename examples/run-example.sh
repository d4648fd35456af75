#!/usr/bin/env bash
# Runs the example catchment with the given tavro binary under mpiexec -n 2.
set -euo pipefail
tavro=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
run="$here/run"
rm -rf "$run" && mkdir -p "$run" && cd "$run"
set +e
mpiexec -n 2 "$tavro" "$here/example.ctl"
status=$?
set -e
echo "tavro finished with exit status $status; output in $run"
exit $status
