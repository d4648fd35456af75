#!/usr/bin/env bash
# A partner model for the coupling test, run beside tavro in its working
# directory. In each of STEPS steps it writes the grid partner_depth.asc
# (every cell holds the step number, on the raster of ZONE_GRID) and then its
# semaphore partner.sem, waits for tavro's semaphore tavro.sem, keeps a copy
# of tavro's statistics file and deletes the semaphore.
# Usage: coupling_partner.sh STEPS ZONE_GRID
set -u
steps=$1 zone=$2
header=$(head -6 "$zone")
ncols=$(awk 'tolower($1) == "ncols" { print $2 }' "$zone")
nrows=$(awk 'tolower($1) == "nrows" { print $2 }' "$zone")
for ((step = 1; step <= steps; step++)); do
  {
    echo "$header"
    awk -v n="$ncols" -v m="$nrows" -v v="$step" 'BEGIN {
      for (r = 1; r <= m; r++) { line = v; for (c = 2; c <= n; c++) line = line " " v; print line } }'
  } >partner_depth.tmp
  mv partner_depth.tmp partner_depth.asc
  echo "step $step" >partner.tmp && mv partner.tmp partner.sem
  waited=0
  until [ -f tavro.sem ]; do
    sleep 0.02
    waited=$((waited + 1))
    [ "$waited" -lt 6000 ] || { echo "partner: no tavro.sem in step $step"; exit 1; }
  done
  [ "$(cat tavro.sem)" = step_done ] || { echo "partner: tavro.sem holds $(cat tavro.sem)"; exit 1; }
  # tavro read the grid and deleted it and the semaphore before answering.
  [ ! -e partner_depth.asc ] || { echo "partner: partner_depth.asc not deleted in step $step"; exit 1; }
  [ ! -e partner.sem ] || { echo "partner: partner.sem not deleted in step $step"; exit 1; }
  cp tavro_height.txt "received_$step.txt"
  rm tavro.sem
done
echo "partner: $steps steps exchanged"
