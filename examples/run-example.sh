#!/usr/bin/env bash
# Runs the example catchment with the given tavro binary under mpiexec -n 2
# (or -n NP when given as second argument) in examples/run/. A third argument
# runs a variant: "spin-up" (spin-up.section appended to the control file),
# "coupling" (coupling.section appended, one process, beside the partner
# script tests/app/coupling_partner.sh) or "glacier" (glacier.section
# appended, the glacier grids added to [standard_grids], silting-up off).
set -euo pipefail
tavro=$(realpath "$1")
np=${2:-2}
variant=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
run="$here/run"
rm -rf "$run" && mkdir -p "$run" && cd "$run"
# The program writes its substituted copy next to the control file and its
# derived grids next to their sources: run on copies of all inputs.
cp "$here/example.ctl" "$here"/*.asc "$here"/*.dat .
case $variant in
"") ;;
spin-up) cat "$here/spin-up.section" >>example.ctl ;;
coupling) cat "$here/coupling.section" >>example.ctl ;;
glacier) bash "$here/glacier-variant.sh" example.ctl ;;
*) echo "unknown variant $variant (spin-up, coupling or glacier)" >&2; exit 2 ;;
esac
set +e
if [ "$variant" = coupling ]; then
  mpiexec -n 1 "$tavro" example.ctl &
  tavro_pid=$!
  bash "$here/../tests/app/coupling_partner.sh" 28 zone.asc
  wait "$tavro_pid"
else
  mpiexec -n "$np" "$tavro" example.ctl
fi
status=$?
set -e
echo "tavro finished with exit status $status; output in $run"
exit $status
