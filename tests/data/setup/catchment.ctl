# Small catchment of 22 cells in three zones (3, 7 and 10) for the set-up tests.

[output_interval]
1 hour divisor
1 warnings
0 further switch
30 minutes to the interval end
WriteAsciiGrids = 1
WriteDoubleGrids = 0

[output_list]
2
3
10

[coordinates]
47.5 latitude
8.25 longitude
15 reference meridian
1 time shift

[meteo_data_count]
2

[meteo_names]
temperature_interpolation
precipitation_interpolation

[zone_grid]
zone.asc

[elevation_model]
elevation.asc

[standard_grids]
4 number of standard grids
soil_depth.asc   soil_depth   0   statfile = soil_depth.stat   statcode = 2001
created.asc      created_five readcode = 0 defaultValue = 5 fillcode = 0 outname = five_out
albedo.asc       albedo       fillcode = 0 periodicity = 1 D 1 persistent = 0 2
river.asc        river_links  0

[model_time]
0
1
1
2001
23
31
12
2001

[landuse_table]
0 land-use types

[soil_table]
0 soil types

[irrigation]
0 no irrigation

[radiation_correction]
1

[region_transition_distance]
2000 transition distance between regions (m)

[variable_grids]
2 number of variable grids
vg_read.asc  vg_read  0  0
0 Writegrid
1 Readgrid
vg_made.asc  vg_made  0  2.5  the rest of the line is skipped
11 Writegrid
0 Readgrid
