#!/usr/bin/env bash
# Turns a copy of the example's control file into the glacier variant: the
# section of glacier.section appended, the glacier grids glacier_fraction.asc
# and glacier_codes.asc added to [standard_grids], and the silting-up module
# switched off (it refuses to run beside glaciers).
set -euo pipefail
ctl=$1
here=$(cd "$(dirname "$0")" && pwd)
cat "$here/glacier.section" >>"$ctl"
# Two grids more than the example lists, whatever its count.
count=$(sed -n 's/^\([0-9]*\) number of standard grids.*/\1/p' "$ctl")
sed -i -e "s/^$count number of standard grids/$((count + 2)) number of standard grids/" \
  -e '/^surface_storage.asc SurfStorSiltingUp/a glacier_fraction.asc GlacierizedCells fillcode = 0 writecode = 3 outname = glacier_fraction_end.asc\nglacier_codes.asc GlacierCodes fillcode = 0 writecode = 3 outname = glacier_codes_end.asc' \
  -e '/^\[SiltingUpModel\]/{n;s/^1 flow control parameter/0 flow control parameter/}' "$ctl"
