# Example catchment: 12 x 10 cells of 1 km in three subbasins, four weeks of
# daily weather (January 2012) at two stations. Run it from examples/run/
# (scripts/run-example.sh copies the input files there): every file name
# below is relative to that directory, so derived grids, written beside their
# source, land there too.

[output_interval]
1 hour divisor: progress line in every step
1 warnings of the interpolation
0 further switch
1440 minutes from the time stamp of the data to the end of the step
WriteAsciiGrids = 1
WriteDoubleGrids = 0

[output_list]
3
1 (the count's line holds only the count)
2
3

[coordinates]
47.6 geographic latitude
-122.3 geographic longitude
-120 reference meridian
0 time shift of data time to local time

[meteo_data_count]
7

[meteo_names]
temperature
precipitation
air_humidity
global_radiation
sunshine_duration
wind_speed
air_pressure

[zone_grid]
zone.asc

[elevation_model]
elevation.asc

[standard_grids]
3 number of standard grids
elevation.asc terrain_height fillcode = 0 writecode = 3 outname = terrain.asc statfile = terrain_height.stat statcode = 2001
soil_depth.asc soil_depth readcode = 0 defaultValue = 1.5 fillcode = 0 writecode = 350 outname = soil_depth.asc
regions.asc regression_regions fillcode = 0

[variable_grids]
0 number of variable grids

[model_time]
0 starting hour
1 starting day
1 starting month
2012 starting year
0 end hour
28 end day
1 end month
2012 end year

[landuse_table]
0 land-use types

[soil_table]
0 soil types

[irrigation]
0 flow control parameter (0: no irrigation)
1440 time interval in minutes

[radiation_correction]
1 flow control parameter (1: the factors go to evapotranspiration and snow)
1440 time interval in minutes
2 method of correction (2: slope, aspect and cast shadows; temperature too)
corr_temperature.asc file of the corrected temperature
50 its writecode: run mean
1.0 scaling factor of the temperature correction (K per unit of ln(factor) and sunshine)
radiation_correction.asc file of the correction factors
50 its writecode: run mean
shadow.asc file of the shadows of the last sub-step
0 its writecode: not written
1 number of time steps from one correction to the next
24 number of splittings: sub-steps of a step

[region_transition_distance]
3000 width in m of the band in which the regions' values blend

[temperature]
12 interpolation method (Thiessen with an elevation lapse rate)
temperature.dat AdditionalColumns=0 station data file
-0.0065 lapse rate (K/m)
temperature.asc result grid
50 grid write code: run mean
1.0 scaling factor
temperature.stat 2001 statistics file and code: every zone and the areal mean, every step
9999 nodata value
2 idw-weight
0.5 fraction of idw (method 3 only)
50000 maximum distance (m)
0 slope of the main axis of the anisotropy ellipse (degrees)
1 anisotropy b/a
-60 lower limit of results
-60 lower replacement
60 upper limit of results
60 upper replacement
0 SzenUse

[precipitation]
1 interpolation method (idw)
precipitation.dat AdditionalColumns=0 station data file
regression.dat regression file (not used by idw)
precipitation.asc result grid
10 grid write code: run sum
1.0 scaling factor
precipitation.stat 2001 statistics file and code: every zone and the areal mean, every step
9999 nodata value
2 idw-weight
0.5 fraction of idw (method 3 only)
50000 maximum distance (m)
0 slope of the main axis of the anisotropy ellipse (degrees)
1 anisotropy b/a
0 lower limit of results
0 lower replacement
500 upper limit of results
500 upper replacement
0 SzenUse

[air_humidity]
1 interpolation method (idw)
air_humidity.dat AdditionalColumns=0 station data file
regression.dat regression file (not used by idw)
air_humidity.asc result grid
50 grid write code: run mean
1.0 scaling factor
air_humidity.stat 2001 statistics file and code: every zone and the areal mean, every step
9999 nodata value
2 idw-weight
0.5 fraction of idw (method 3 only)
50000 maximum distance (m)
0 slope of the main axis of the anisotropy ellipse (degrees)
1 anisotropy b/a
0 lower limit of results
0 lower replacement
1 upper limit of results
1 upper replacement
0 SzenUse

[global_radiation]
1 interpolation method (idw)
global_radiation.dat AdditionalColumns=0 station data file
regression.dat regression file (not used by idw)
global_radiation.asc result grid
50 grid write code: run mean
1.0 scaling factor
global_radiation.stat 2001 statistics file and code: every zone and the areal mean, every step
9999 nodata value
2 idw-weight
0.5 fraction of idw (method 3 only)
50000 maximum distance (m)
0 slope of the main axis of the anisotropy ellipse (degrees)
1 anisotropy b/a
0 lower limit of results
0 lower replacement
20000 upper limit of results
20000 upper replacement
0 SzenUse

[sunshine_duration]
1 interpolation method (idw)
sunshine_duration.dat AdditionalColumns=0 station data file
regression.dat regression file (not used by idw)
sunshine_duration.asc result grid
50 grid write code: run mean
1.0 scaling factor
sunshine_duration.stat 2001 statistics file and code: every zone and the areal mean, every step
9999 nodata value
2 idw-weight
0.5 fraction of idw (method 3 only)
50000 maximum distance (m)
0 slope of the main axis of the anisotropy ellipse (degrees)
1 anisotropy b/a
0 lower limit of results
0 lower replacement
1 upper limit of results
1 upper replacement
0 SzenUse

[wind_speed]
4 interpolation method (Thiessen: nearest station)
wind_speed.dat AdditionalColumns=0 station data file
regression.dat regression file (not used by Thiessen)
wind_speed.asc result grid
50 grid write code: run mean
1.0 scaling factor
wind_speed.stat 2001 statistics file and code: every zone and the areal mean, every step
9999 nodata value
2 idw-weight
0.5 fraction of idw (method 3 only)
50000 maximum distance (m)
0 slope of the main axis of the anisotropy ellipse (degrees)
1 anisotropy b/a
0 lower limit of results
0 lower replacement
100 upper limit of results
100 upper replacement
0 SzenUse

[air_pressure]
12 interpolation method (Thiessen with an elevation lapse rate)
air_pressure.dat AdditionalColumns=0 station data file
-0.12 lapse rate (hPa/m)
air_pressure.asc result grid
50 grid write code: run mean
1.0 scaling factor
air_pressure.stat 2001 statistics file and code: every zone and the areal mean, every step
9999 nodata value
2 idw-weight
0.5 fraction of idw (method 3 only)
50000 maximum distance (m)
0 slope of the main axis of the anisotropy ellipse (degrees)
1 anisotropy b/a
500 lower limit of results
500 lower replacement
1100 upper limit of results
1100 upper replacement
0 SzenUse

[substance_transport]
0 number of tracers

[precipitation_correction]
0 do_it (0: no correction)
1.0 threshold temperature
0.0 constant for rain
0.0 slope for rain
0.0 constant for snow
0.0 slope for snow

[RegionalSuperposition]
0 flow control parameter
1440 time interval in minutes

[evapotranspiration]
1 flow control parameter
1440 time interval in minutes

[snow_model]
1 flow control parameter
1440 time interval in minutes

[interception_model]
1 flow control parameter
1440 time interval in minutes

[SiltingUpModel]
0 flow control parameter
1440 time interval in minutes

[unsatzon_model]
1 flow control parameter
1440 time interval in minutes

[SurfaceRoutingModel]
0 flow control parameter
1440 time interval in minutes

[groundwater_flow]
0 flow control parameter
1440 time interval in minutes

[routing_model]
1 flow control parameter
1440 time interval in minutes

[special_output]
0 flow control parameter
1440 time interval in minutes
