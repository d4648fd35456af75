#!/usr/bin/env bash
# Runs the upper Moselle, 1989 to 1993, with the given tavro binary:
#   examples/upper-moselle/run.sh TAVRO [PROCESSES] [DATA_FOLDER]
# PROCESSES defaults to 4, DATA_FOLDER to $UPPER_MOSELLE_DATA or, beside the
# repository, ../shared/data/upper-moselle. The inputs are prepared once into
# examples/upper-moselle/run/ (again when prepare.py or the control template
# changed); the run writes there, and results.py adds the fit summary, the
# water-balance table and the yearly grids.
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
rm -rf results daily_swe && mkdir -p daily_swe
rm -f ./*.stat ./*.sum ./*.max ./*.txt_* modell_0.log Tavro_Diag_0.xml snow_total_*
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
