#!/usr/bin/env bash
# Turns a copy of the example's control file into the glacier variant: the
# section of glacier.section appended, the glacier grids glacier_fraction.asc
# and glacier_codes.asc added to [standard_grids], and the silting-up and
# surface-routing modules switched off (they refuse to run beside glaciers).
set -euo pipefail
ctl=$1
here=$(cd "$(dirname "$0")" && pwd)
cat "$here/glacier.section" >>"$ctl"
# The count of standard grids grows by the two glacier grids, whatever it was.
awk '!done && / number of standard grids/ { $1 = $1 + 2; done = 1 } { print }' "$ctl" >"$ctl.new"
mv "$ctl.new" "$ctl"
sed -i -e '/^surface_storage.asc SurfStorSiltingUp/a glacier_fraction.asc GlacierizedCells fillcode = 0 writecode = 3 outname = glacier_fraction_end.asc\nglacier_codes.asc GlacierCodes fillcode = 0 writecode = 3 outname = glacier_codes_end.asc' \
  -e '/^\[SiltingUpModel\]/{n;s/^1 flow control parameter/0 flow control parameter/}' \
  -e '/^\[SurfaceRoutingModel\]/{n;s/^1 flow control parameter/0 flow control parameter/}' "$ctl"
