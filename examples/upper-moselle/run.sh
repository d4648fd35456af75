#!/usr/bin/env bash
# Runs the upper Moselle, 1989 to 1993, with the given tavro binary:
#   examples/upper-moselle/run.sh TAVRO [PROCESSES] [DATA_FOLDER]
# PROCESSES defaults to 4, DATA_FOLDER to $UPPER_MOSELLE_DATA or, beside the
# repository, ../shared/data/upper-moselle. The inputs are prepared once into
# examples/upper-moselle/run/ (again when prepare.py or the control template
# changed); the spin-up year runs alone first (its stores at its end are
# those of the water balance's start), then the five-year run writes there,
# and results.py adds the fit summary, the water-balance table, the yearly
# grids and their figures (SVG, Python's standard library only: nothing to
# install).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 1 ]; then
  echo "usage: $0 TAVRO [PROCESSES] [DATA_FOLDER]" >&2
  exit 2
fi
tavro=$(realpath "$1")
np=${2:-4}
data=${3:-${UPPER_MOSELLE_DATA:-$here/../../../shared/data/upper-moselle}}
run=${UPPER_MOSELLE_RUN:-$here/run}
if [ ! -d "$data" ]; then
  echo "FATAL: data folder $data not found (give it as third argument or in UPPER_MOSELLE_DATA)" >&2
  exit 1
fi
data=$(realpath "$data")

mkdir -p "$run"
stamp="$run/prepared.stamp"
if [ ! -f "$stamp" ] || [ "$here/prepare.py" -nt "$stamp" ] || [ "$here/upper-moselle.ctl.in" -nt "$stamp" ]; then
  rm -f "$stamp"
  python3 "$here/prepare.py" "$data" "$run"
  echo "$data" >"$stamp"
fi

cd "$run"
# Leftovers of an earlier run would look like results of this one.
clean() {
  rm -rf results daily_swe && mkdir -p daily_swe
  rm -f ./*.stat ./*.sum ./*.max ./*.txt_* modell_0.log Tavro_Diag_0.xml snow_total_*
}
# The stores at the end of the spin-up year, for the water balance of
# 1990-1993: the year 1989 alone writes its state file and state grids (binary
# doubles) at its end, which equal those of the five-year run on that day bit
# for bit (a run continued from the state file equals one long run). They are
# kept in end_1989/; the five-year run itself stays one call.
clean
rm -rf end_1989
python3 "$here/prepare.py" --control "$run" spin-up.ctl END_YEAR=1989 FIT_OFFSET=0
start=$(date +%s.%N)
set +e
mpiexec -n "$np" "$tavro" spin-up.ctl >console-spin-up.txt 2>&1
status=$?
set -e
end=$(date +%s.%N)
spin_up_wall=$(python3 -c "print('%.1f' % ($end - $start))")
echo "spin-up year alone ended with status $status after $spin_up_wall s (console in console-spin-up.txt)"
if [ "$status" -ne 0 ]; then
  tail -20 console-spin-up.txt
  exit "$status"
fi
mkdir end_1989
# The state files of every process and, beside them, surface routing's
# per-cell state (soil_state.txt_SurfaceRouting*: velocities, outflow weights
# and fluxes of the overland flow, binary doubles of the whole raster).
mv soil_state.txt_* end_1989/
if [ -f end_1989/soil_state.txt_0 ] && grep -q '^\[SurfaceRoutingModel\]' end_1989/soil_state.txt_0 &&
  [ ! -f end_1989/soil_state.txt_SurfaceRoutingVelocity ]; then
  echo "FATAL: surface routing wrote no per-cell state beside soil_state.txt" >&2
  exit 1
fi
cp snow_solid.asc snow_liquid.asc interception_storage.asc soil_moisture_profile.asc end_1989/
# The soil's water contents and layer boundaries (its exact water), and the
# groundwater module's hand-over rates of the last day.
cp theta.stack geodetic_heads.stack end_1989/
if [ -f baseflow.asc ]; then cp baseflow.asc end_1989/; fi
# The water standing on the surface, written when surface routing is on.
if [ -f surface_storage.asc ]; then cp surface_storage.asc end_1989/; fi

clean
start=$(date +%s.%N)
set +e
mpiexec -n "$np" "$tavro" upper-moselle.ctl 2>&1 | tee console.txt
status=${PIPESTATUS[0]}
set -e
end=$(date +%s.%N)
wall=$(python3 -c "print('%.1f' % ($end - $start))")
echo "tavro ended with status $status after $wall s on $np processes (OMP_NUM_THREADS=${OMP_NUM_THREADS:-unset})"
if [ "$status" -ne 0 ]; then
  exit "$status"
fi
python3 "$here/results.py" "$run" "$wall"
