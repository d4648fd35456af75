# The example catchment with one change each: the inputs of the program tests
# of failed and unusual runs. Sourced by program_cases.sh and failure_stress.sh.
#
# make_variant NAME DIR: copies the example into DIR/run (control file and
#   control file in DIR/run, where it is run) and applies the change NAME.
# variant_status NAME: the exit status a run of the variant ends with.
# variant_entry NAME: a FATAL entry the failed run logs (empty for a success).

example_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../examples" && pwd)

variant_names="substeps_zero zone_nodata_half zone_rows_1e9 variable_grid_count station_year_overflow zone_nodata_zero zone_nodata_thousand heat_longest_step_zero heat_longest_step_negative routing_min_step_zero tuning_iterations_zero gw_layers_million gw_layers_2e9 groundwater_over_relaxation elevation_nan observed_day_missing observed_value_unreadable silting_divide_by_zero"

make_variant() {
  local name=$1 dir=$2
  mkdir -p "$dir/run" && cp "$example_dir"/*.asc "$example_dir"/*.dat "$dir/run/" &&
    cp "$example_dir/example.ctl" "$dir/run/" || return 1
  # Every process reads the same speed: no benchmark, so that runs are quick.
  echo 1.0 >"$dir/run/MpiSpeedFactor.dat"
  case $name in
  example) ;;
  substeps_zero) printf '\n[soil_surface_groundwater_substeps]\n0\n' >>"$dir/run/example.ctl" ;;
  zone_nodata_half) sed -i 's/^nodata_value -9999$/nodata_value 0.5/' "$dir/run/zone.asc" ;;
  # The header announces 1e9 rows; the file holds ten.
  zone_rows_1e9) sed -i 's/^nrows 10$/nrows 1e9/' "$dir/run/zone.asc" ;;
  variable_grid_count)
    sed -i 's/^0 number of variable grids$/2000000000 number of variable grids/' "$dir/run/example.ctl" ;;
  station_year_overflow) sed -i 's/^2012 01 10 00 /9223372036854775807 01 10 00 /' "$dir/run/temperature.dat" ;;
  # A valid zone grid with nodata 0: the cells outside hold 0.
  zone_nodata_zero)
    sed -i -e 's/^nodata_value -9999$/nodata_value 0/' -e '/^[-0-9 ]*$/ s/-9999/0/g' "$dir/run/zone.asc" ;;
  # A valid zone grid with nodata 1000 and the codes 1001 to 1003. The run's
  # nodata is the zone grid's, and no code lies at or below it: the land-use
  # and soil codes of the grids and tables, the zones of the output list and of
  # the silting-up's rain pauses, the subbasins of the routing descriptions
  # and of the observed column move above 1000 as well.
  zone_nodata_thousand)
    sed -i -e 's/^nodata_value -9999$/nodata_value 1000/' \
      -e '/^[-0-9 ]*$/ { s/\b\([123]\)\b/100\1/g; s/-9999/1000/g }' "$dir/run/zone.asc"
    sed -i -e '/^[-0-9 ]*$/ { s/\b\(100\|200\)\b/1&/g }' "$dir/run/landuse.asc"
    sed -i -e '/^[-0-9 ]*$/ { s/\b\([59]\)\b/100&/g }' "$dir/run/soil_types.asc"
    sed -i -e '/^[-0-9 ]*$/ { s/\b\([123]\)\b/100\1/g }' "$dir/run/river_links.asc"
    sed -i -e 's/^\(100\|200\) \(forest_over_grass\|arable_field\) /1&/' \
      -e 's/Landuse_Layers = 30, 10;/Landuse_Layers = 1030, 1010;/' \
      -e 's/Landuse_Layers = 40, -9999;/Landuse_Layers = 1040, -9999;/' \
      -e 's/^1 3 zone codes/1001 1003 zone codes/' \
      -e 's/^\(10\|30\|40\) \(grass\|deciduous_forest\|winter_wheat\) /10&/' \
      -e 's/^\([59]\) \(loam\|sandy_loam\) /100&/' \
      -e 's/^1 2 3 subbasin codes/1001 1002 1003 subbasin codes/' \
      -e 's/^3 1 the outlet/1003 1 the outlet/' \
      -e 's/^\(TG\|OL\) \([123]\) /\1 100\2 /' "$dir/run/example.ctl"
    # The zones of the output list, after its count line.
    awk '/^\[/ { list = ($1 == "[output_list]"); line = 0; print; next }
      list && ++line > 1 && $1 ~ /^[123]$/ { $1 = "100" $1 } { print }' "$dir/run/example.ctl" \
      >"$dir/run/example.ctl.new" && mv "$dir/run/example.ctl.new" "$dir/run/example.ctl" ;;
  # Step limits and iteration limits that would never be met.
  heat_longest_step_zero) sed -i 's/^1800 dTModLongestStep:/0 dTModLongestStep:/' "$dir/run/example.ctl" ;;
  heat_longest_step_negative) sed -i 's/^1800 dTModLongestStep:/-1 dTModLongestStep:/' "$dir/run/example.ctl" ;;
  routing_min_step_zero) sed -i 's/^10 minimum inner time step (s)$/0 minimum inner time step (s)/' "$dir/run/example.ctl" ;;
  tuning_iterations_zero) printf '\n[unsatzon_tuning]\nmax_iterations = 0\n\n' >>"$dir/run/example.ctl" ;;
  # Layer counts far beyond the layer lines of the section.
  gw_layers_million) sed -i 's/^1 number of layers$/1000000 number of layers/' "$dir/run/example.ctl" ;;
  gw_layers_2e9) sed -i 's/^1 number of layers$/2000000000 number of layers/' "$dir/run/example.ctl" ;;
  # Over-relaxation beyond 2 makes the groundwater solve diverge to 1e32 m.
  groundwater_over_relaxation)
    sed -i 's/^0 sor-parameter/2.5 sor-parameter/' "$dir/run/example.ctl" ;;
  # A NaN in a valid cell of an input grid (row 3, column 4).
  elevation_nan) sed -i '9 s/^\(\([^ ]* \)\{3\}\)[^ ]*/\1nan/' "$dir/run/elevation.asc" ;;
  # The observed discharge of 2 January is missing; on 3 January a value is no number.
  observed_day_missing) sed -i '/^2012 1 2 0 /d' "$dir/run/observed.dat" ;;
  observed_value_unreadable) sed -i 's/^\(2012 1 3 0\) .*/\1 x/' "$dir/run/observed.dat" ;;
  # A silting-up formula that divides by zero: the disposition becomes infinite.
  silting_divide_by_zero) sed -i 's|^  Z = 0.013 \* |  Z = 0.013 / 0 * |' "$dir/run/example.ctl" ;;
  *) echo "unknown variant $name" >&2; return 1 ;;
  esac
}

variant_status() {
  case $1 in
  substeps_zero | variable_grid_count | heat_longest_step_zero | heat_longest_step_negative | \
    routing_min_step_zero | tuning_iterations_zero | gw_layers_million | gw_layers_2e9) echo 17 ;;
  zone_nodata_half) echo 3 ;;
  zone_rows_1e9 | elevation_nan) echo 22 ;;
  groundwater_over_relaxation | silting_divide_by_zero) echo 140 ;;
  observed_day_missing | observed_value_unreadable) echo 203 ;;
  station_year_overflow) echo 49 ;;
  *) echo 0 ;;
  esac
}

variant_entry() {
  case $1 in
  substeps_zero)
    echo "error in control file, sub step counter in [soil_surface_groundwater_substeps] must be at least 1, found 0" ;;
  zone_nodata_half) echo "invalid zone code in zone.asc!" ;;
  zone_rows_1e9)
    echo "error reading zone.asc: the header announces 1000000000 rows and 12 columns, which need at least 24000000000 bytes, but the file holds" ;;
  variable_grid_count)
    echo "number of variable grids in [variable_grids] is 2000000000, but the grid registry holds at most 999 grids" ;;
  heat_longest_step_zero)
    echo "error in control file, dTModLongestStep (must be above 0, found 0); [heat_transfer]" ;;
  heat_longest_step_negative)
    echo "error in control file, dTModLongestStep (must be above 0, found -1); [heat_transfer]" ;;
  routing_min_step_zero)
    echo "error in control file, MinSubTimeStep (must be above 0, found 0); SurfaceRoutingModel" ;;
  tuning_iterations_zero)
    echo "error in control file, max_iterations (must be above 0, found 0); [unsatzon_tuning]" ;;
  gw_layers_million)
    echo "in modul groundwater_flow: the number of layers (1000000) must be at most 90, as the grid registry holds at most 999 grids and each layer needs 11" ;;
  gw_layers_2e9)
    echo "in modul groundwater_flow: the number of layers (2000000000) must be at most 90, as the grid registry holds at most 999 grids and each layer needs 11" ;;
  groundwater_over_relaxation)
    echo "groundwater_flow: water out of range on 1.1.2012 0h: gw_head_1 holds 2.59667e+32 at row 1, col 3" ;;
  silting_divide_by_zero)
    echo "SiltingUpModel: water out of range on 1.1.2012 0h: SiltingUpDisposition holds nan at row 1, col 3" ;;
  elevation_nan) echo "error reading elevation.asc: the value at row 3, col 4 is nan, not a finite number" ;;
  observed_day_missing)
    echo "observed runoff: row 2 of observed.dat holds 3.1.2012 0h, but the model date is 2.1.2012 0h (a missing or an extra row)" ;;
  observed_value_unreadable)
    echo "error reading observed.dat at row 3: a date and 1 values expected (e.g. a value missing or not a number)" ;;
  station_year_overflow)
    echo "error reading station data file temperature.dat, line 15: no date (year month day hour) could be read" ;;
  esac
}
