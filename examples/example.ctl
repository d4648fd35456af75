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
22 number of standard grids
elevation.asc terrain_height fillcode = 0 writecode = 3 outname = terrain.asc statfile = terrain_height.stat statcode = 2001
soil_depth.asc soil_depth readcode = 0 defaultValue = 1.5 fillcode = 0 writecode = 350 outname = soil_depth.asc
landuse.asc landuse fillcode = 0 writecode = 3 outname = landuse_records.asc
soil_types.asc soil_types fillcode = 0 writecode = 3 outname = soil_records.asc
zone.asc zonegrid_soilmodel fillcode = 0
regions.asc regression_regions fillcode = 0
albedo.asc albedo readcode = 0 defaultValue = 0.2 fillcode = 0
leaf_area_index1.asc leaf_area_index1 readcode = 0 defaultValue = 0 fillcode = 0 writecode = 53
root_depth1.asc root_depth1 readcode = 0 defaultValue = 0 fillcode = 0 writecode = 53
surface_storage.asc SurfStorSiltingUp readcode = 0 defaultValue = 0 fillcode = 0
aquifer_thickness_1.asc aquifer_thickness_1 readcode = 0 defaultValue = 1.5 fillcode = 0
gw_k_x_1.asc gw_k_x_1 readcode = 0 defaultValue = 1e-4 fillcode = 0
gw_k_y_1.asc gw_k_y_1 readcode = 0 defaultValue = 1e-4 fillcode = 0
gw_storage_coeff_1.asc gw_storage_coeff_1 readcode = 0 defaultValue = 0.15 fillcode = 0
gw_boundary_fix_q_1.asc gw_boundary_fix_q_1 readcode = 0 defaultValue = 0 fillcode = 0
fixed_heads.asc gw_boundary_fix_h_1 fillcode = 0
flow_times.asc flow_times fillcode = 0
irrigation_codes.asc irrigation_codes fillcode = 0
river_depth.asc river_depth fillcode = 0
river_width.asc river_width fillcode = 0
river_links.asc river_links fillcode = 0
chloride_input.asc concflux_tracer_1_input readcode = 0 defaultValue = 4 fillcode = 0

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

[multilayer_landuse]
2 multilayer land-use types (codes of the grid landuse)
100 forest_over_grass { Landuse_Layers = 30, 10; k_extinct = 0.5; LAI_scale = 8; }
200 arable_field { Landuse_Layers = 40, -9999; }

[landuse_table]
3 land-use types: grass in the one-line form (code, name, albedo, rsc January to December, four Julian days, LAI, Z0, VCF and root depth at those days, root distribution, HReduDry); deciduous forest whose leaves come out once the spring warmth after 1 March passes F* (fix point 2 is that day, fix point 3 thirty days later); winter wheat on a field ploughed on 16 October and harrowed on 10 January (SoilTillage)
10 grass 0.20 80 80 75 70 65 60 60 60 65 70 75 80 110 170 250 330 1.0 2.5 3.0 1.5 0.02 0.05 0.06 0.03 0.8 0.9 0.9 0.8 0.2 0.3 0.3 0.2 1.0 4.5
30 deciduous_forest { method = DynamicPhenology_1;
  RootDist = 1.0; TReduWet = 0.95; HReduDry = 4.5;
  JulDays = 60 -1 30 290 320;
  F* = 150; DP1_t1_dorm = 60; DP1_T_Bf = 0; JDReset_TStart = 300; maxStartJDforDP1 = 160;
  Albedo = 0.15 0.15 0.15 0.15 0.15;
  rsc = 150 120 70 70 150;
  LAI = 0.5 0.5 5.0 5.0 0.5;
  Z0 = 1.0 1.0 1.5 1.5 1.0;
  VCF = 0.7 0.7 0.9 0.9 0.7;
  RootDepth = 0.8 0.8 1.0 1.0 0.8;
  AltDep = 0.01 0 0 -0.01 -0.01;
}
40 winter_wheat { method = VariableDayCount;
  RootDist = 1.0; TReduWet = 0.95; HReduDry = 4.5;
  JulDays = 60 120 180 220 290;
  Albedo = 0.20 0.20 0.18 0.22 0.20;
  rsc = 120 80 60 100 120;
  LAI = 0.5 2.0 5.0 1.0 0.3;
  Z0 = 0.02 0.05 0.15 0.05 0.02;
  VCF = 0.3 0.6 0.95 0.5 0.2;
  RootDepth = 0.3 0.6 1.0 0.8 0.3;
  AltDep = 0 0 0 0 0;
  SoilTillage = 10 290;
  SR_ResidCovrg = 0.3 0.2 0.1 0.4 0.1;
  SR_cultivation = other; SR_K_ST = 15;
}

[soil_table]
2 soil types: the class means of Carsel and Parrish (1988) in ten layers of 0.15 m (van Genuchten alpha in 1/m, saturated conductivity in m/s)
5 loam { method = MultipleHorizons; layers = 10; thickness = 0.15; theta_sat = 0.43; theta_res = 0.078; alpha = 3.6; Par_n = 1.56; ksat = 2.89e-6; DryHeatCapacity = 840; DryDensity = 1450; DryThermalConduct = 1.6; }
9 sandy_loam { method = MultipleHorizons; layers = 10; thickness = 0.15; theta_sat = 0.41; theta_res = 0.065; alpha = 7.5; Par_n = 1.89; ksat = 1.23e-5; DryHeatCapacity = 800; DryDensity = 1550; DryThermalConduct = 2.2; }

[irrigation]
1 flow control parameter (1: irrigation on the cells of irrigation_codes)
1440 time interval in minutes
irrigation_groundwater.stat 2001 statistics file and code of the water from groundwater: every zone and the areal mean, every step
irrigation_surface_water.stat 2001 statistics file and code of the water from rivers and reservoirs

[irrigation_table]
1 irrigation type: code, name, method (1: a table of dates), origin (2: surface water), psi_dry and psi_wet (unused by method 1), then the number of dates and per date month, day and mm per day
5 meadows_by_the_river 1 2 0 0
3
1 10 12.0
1 17 12.0
1 24 12.0

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
11 interpolation method (IDW + EDR from station data)
precipitation.dat AdditionalColumns=0 station data file
500 1000 100 0 50 elevation regression: split height between the two stations (m), upper inversion (m), tolerance (m), overlap, cluster range (m)
precipitation.asc result grid
10 grid write code: run sum
1.0 scaling factor
precipitation.stat 2001 statistics file and code: every zone and the areal mean, every step
9999 nodata value
2 idw-weight
0.5 fraction of idw (methods 3 and 11): half regression, half inverse distance
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
8 interpolation method (splines of the residuals plus splines of the gradients times the elevation)
air_pressure_mesh.dat AdditionalColumns=0 station data file of the residuals (hPa at 0 m)
air_pressure_gradient.dat AdditionalColumns=0 station data file of the gradients (hPa/m)
regression.dat regression file (not used by the splines)
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
1 number of tracers
Chloride non_radioactive half_time = 0 d non_evaporating min_conc = 0 max_conc = 1000 mg/l soilini = 2 gwini = 5 statcode = 2001 gridcode = 3 path = ./ statext = sta gridext = asc

[precipitation_correction]
1 do_it: precipitation measured in wind is corrected for the catch deficit
1.0 threshold temperature (deg C): above it rain, else snow
1.0 constant for rain (factor at calm)
0.02 slope for rain (per m/s of wind speed)
1.0 constant for snow
0.10 slope for snow (per m/s of wind speed)

[RegionalSuperposition]
0 flow control parameter
1440 time interval in minutes

[evapotranspiration]
1 flow control parameter
1440 time interval in minutes
1 Methode fuer evapotranspiration (1: Penman-Monteith for each vegetation layer, day and night)
1.0 1.0 1.1 1.2 1.3 1.4 1.4 1.3 1.2 1.1 1.0 1.0
0.22 0.22 0.22 0.29 0.29 0.28 0.26 0.25 0.23 0.22 0.22 0.22
1.0 fk - Coastfactor (WENDLING); the two rows above hold the monthly factors of Hamon and Haude
etp.asc Name of the ETP-Grids: potential transpiration, layers etp_Layer_1.asc, etp_Layer_2.asc
0 Writegrid ETP
etp.stat 2001 Name of ETP-stat.file: every zone and the areal mean, every step
etr.asc Name of the ETR-Grids: real evapotranspiration (layer 0) and transpiration
0 Writegrid ETR
etr.stat 2001 Name of the ETR-stat.file
evap.asc Name of the evaporation_potential-grid (soil surface)
0 Writegrid EVAP
evap.stat 0 Name of the evaporation_potential-stat.files
evar.asc Name of the evaporation_real grid
0 Writegrid evaporation real
evar.stat 0 Name of the evaporation_real-stat.files
snowevap.asc Name of the snow evaporation grid
0 Writegrid snow evaporation
snowevap.stat 0 Name of the snow evaporation stat.file
eip.asc Name of the EIP-Grids: potential evaporation of intercepted water
0 Writegrid EIP
eip.stat 0 Name of EIP-stat.file
rgex.stat 0 Name of the RGEX-stat.file (global radiation corrected for exposure)
0.25 0.75 0 0 relative global radiation from relative sunshine: c0 (diffuse share) to c3
0.072 -0.808 1.749 -0.239 relative sunshine from relative global radiation: CS[0] to CS[3]
0.75 0.05 transmissivity of the clear sky: mean and seasonal amplitude
1000 elevation scale of the day-night temperature amplitude (m)
7 8 9 10 11 11 11 11 10 9 8 7 day-night temperature amplitude, January to December (K)
0.6 0.1 share of the amplitude by day and its annual variation
cloudiness.stat 0 cloudiness statistics and code (0: none)

[snow_model]
1 flow control parameter
1440 time interval in minutes
1 method: temperature index (degree-day factor C0)
1.0 transzone: half width of the rain/snow transition (deg C)
0.5 T0R: rain/snow threshold (deg C)
0.0 T0: melt threshold (deg C)
0.1 CWH: water holding capacity of the snow pack
0.05 CRFR: refreezing coefficient (methods 3 and 4)
3.0 C0: degree-day factor (mm per deg C and day)
2.0 C1: temperature-wind factor (methods 2 to 4)
0.5 C2: wind part of that factor
0.01 z0
1.0 RMFMIN: seasonal melt factor, minimum
1.0 RMFMAX: seasonal melt factor, maximum
0.45 ALBsnow_min: albedo of old snow
0.90 ALBsnow_max: albedo of fresh snow
rain.asc rain grid
0 its writecode
p_rain.stat 2001 rain statistics and code: every zone and the areal mean, every step
snow.asc snowfall grid
0 its writecode
p_snow.stat 2001 snowfall statistics
snow_days.asc grid of the days with a snow cover
10 its writecode: the sum over the run
snow_days.stat 2001 statistics of the snow days
snow_age.asc snow age grid
0 its writecode
snow_age.stat 0 snow age statistics (none)
albedo.stat 2001 albedo statistics
snow_outflow.asc grid of the water leaving the snow cover
10 its writecode: the sum over the run
snow_outflow.stat 2001 its statistics
snow_melt.asc grid of the melt water leaving the snow cover
0 its writecode
snow_melt.stat 2001 its statistics
snow_solid.asc solid store of the snow pack
3 its writecode: the state at the end of the run
snow_liquid.asc liquid store of the snow pack
3 its writecode: the state at the end of the run
snow_storage.stat 2001 statistics of the snow water equivalent (mm)
snow_total.asc snow water equivalent
3 its writecode: the state at the end of the run
0 readgrid: 1 reads the stores from the grids above, 0 starts without snow

[interception_model]
1 flow control parameter
1440 time interval in minutes
1 method for interception (1: after snow, evaporating at the potential transpiration)
throughfall.asc name outflow grid (layers throughfall_Layer_1.asc, ...)
0 write code outflow grid
throughfall.stat 2001 name outflow statistics file: every zone and the areal mean, every step
interception_evaporation.asc name potential interception evaporation grid
0 write code potential interception evaporation grid
interception_evaporation.stat 2001 name potential interception statistics file
interception_storage.asc name interception storage grid
0 write code interception storage grid
interception_storage.stat 2001 name interception storage statistics file
0.2 parameter interception storage maximum water layer thickness (mm per unit of LAI)
0 readgrid parameter (0: the stores start empty)

[SiltingUpModel]
1 flow control parameter
1440 time interval in minutes
3 method: the formulas of SiltingUpExpressions below
siltingup_disposition.stat 0 statistics of the disposition and its code (0: none)
direct_runoff_siltingup.stat 2001 statistics of the direct runoff: every zone and the areal mean, every step
siltingup_disposition.asc file of the silting-up disposition
50 its writecode: run mean
rain_pause.asc file of the rain pause (days)
3 its writecode: at the end of the run
kinetic_energy.asc file of the rain energy accumulated since the last long pause
3 its writecode: at the end of the run
time_since_tillage.asc file of the days since the last tillage
3 its writecode: at the end of the run
direct_runoff_siltingup.asc file of the direct runoff (mm per step)
10 its writecode: run sum
1 3 zone codes: the first and the last subbasin, the middle one takes the first one's value
2 2 minimum rain pause (days) that restarts the accumulation of the rain energy
0 read the state grids (0: they start from 0)
SiltingUpExpressions
{
  Z = 0.013 * (100*L)^(-1.03) * K^0.7 * (O + (O <= 0))^(-0.19) * (O > 0);
  W = (P > 0.05) * (P < 76.2) * (11.89 + 8.73 * LOG10(P + (P <= 0.05))) + (P >= 76.2) * 28.33;
  X = 12.2 * K^0.52 * (100*L)^(-0.64);
  V = (X + (65 - X) * EXP(-Z * Q)) * R / 60;
}

[unsatzon_model]
1 flow control parameter
1440 time interval in minutes
3 methode: finite differences with as many internal steps as the fastest layer needs
0 surface water interaction (0: none)
0 pond_use (0: no ponding)
0 drainage_use (0: no tile drains)
0 clay_use (0: no clay layer)
1e-8 saturated conductivity of a clay layer (m/s; not used here)
2 ini_gw_level: layers 1 to 5 in equilibrium with a water table at the centre of layer 6, layers 6 to 10 saturated
soil_qdrain.stat 0 QDRAIN statistics table and its code (0: none)
groundwater_distance.stat 0 GWSTAND statistics table and its code (0: none)
groundwater_recharge.stat 0 GWN statistics table and its code (0: none)
soil_moisture_root_zone.stat 0 SB_1 statistics table and its code (0: none)
soil_moisture_profile.stat 0 SB_2 statistics table and its code (0: none)
root_depth.stat 0 ROOT statistics table and its code (0: none)
infiltration_excess.stat 0 INFEX statistics table and its code (0: none)
ponding.stat 0 POND statistics table and its code (0: none)
direct_runoff.stat 2001 QD statistics table and its code: every subbasin and the areal mean, every step
interflow.stat 2001 QI statistics table and its code: every subbasin and the areal mean, every step
baseflow.stat 2001 QB statistics table and its code: every subbasin and the areal mean, every step
total_runoff.stat 2001 Qg statistics table and its code: every subbasin and the areal mean, every step
river_infiltration.stat 0 GWIN statistics table and its code (0: none)
river_exfiltration.stat 0 GWEX statistics table and its code (0: none)
macropore_infiltration.stat 0 MACRO statistics table and its code (0: none)
total_infiltration.stat 0 INFILT statistics table and its code (0: none)
soil_moisture_root_zone.asc SB05 grid or stack file
0 its writecode (0: not written)
soil_moisture_profile.asc SB1_ grid or stack file
0 its writecode (0: not written)
root_depth.asc WURZ grid or stack file
0 its writecode (0: not written)
theta.stack Theta grid or stack file
2 its writecode (2: every step, date-stamped)
hydraulic_heads.stack hh grid or stack file
0 its writecode (0: not written)
geodetic_heads.stack hgeo grid or stack file
0 its writecode (0: not written)
q_down.stack q_unten grid or stack file
0 its writecode (0: not written)
groundwater_distance.asc GWSTAND grid or stack file
0 its writecode (0: not written)
theta_in_groundwater_level.asc GWtheta grid or stack file
0 its writecode (0: not written)
groundwater_recharge.asc GWN grid or stack file
0 its writecode (0: not written)
groundwater_level.asc GWLEVEL grid or stack file
0 its writecode (0: not written)
drainage_flow.asc QDRAIN grid or stack file
0 its writecode (0: not written)
infiltration_saturation.asc Satt grid or stack file
0 its writecode (0: not written)
infiltration_excess.asc INFEX grid or stack file
0 its writecode (0: not written)
direct_runoff.asc QD grid or stack file
2 its writecode (2: every step, date-stamped)
interflow.asc QI grid or stack file
2 its writecode (2: every step, date-stamped)
baseflow.asc DELTAGW grid or stack file
2 its writecode (2: every step, date-stamped)
river_infiltration.asc GWIN grid or stack file
0 its writecode (0: not written)
river_exfiltration.asc GWEX grid or stack file
0 its writecode (0: not written)
ponding.asc POND grid or stack file
0 its writecode (0: not written)
capillary_uprise.asc GWN-Uprise grid or stack file
0 its writecode (0: not written)
percolation.asc GWN-PERCOL grid or stack file
0 its writecode (0: not written)
macropore_infiltration.asc MACROPORE grid or stack file
0 its writecode (0: not written)
irrigation.asc IRRIG grid or stack file
0 its writecode (0: not written)
5 3 control point: row 5, column 3 (subbasin 1, loam)
soil_q_bottom.txt control point: flux across the bottom of every layer
soil_theta.txt control point: water content of every layer
soil_hydraulic_heads.txt control point: hydraulic head of every layer
soil_other_data.txt control point: runoff components and vegetation
soil_etr.txt control point: evaporation and transpiration of every layer
soil_interflow.txt control point: interflow of every layer
1 2 3 subbasin codes (each with values of its own)
2 3 4 kelsqd: storage constant of direct runoff (h)
20 30 40 kelsqi: storage constant of interflow (h)
0.5 0.5 0.5 channel network density
48 48 48 kelsqlat: recession constant of baseflow (h; negative: no recession)
1 1 1 QB-Red.Faktor: largest baseflow
0 0 0 surface-runoff share of snowmelt
0 readgrids (0: the initial state is computed from ini_gw_level)
soil_state.txt state file (each process appends _<rank>)
900 minimum dynamic time step in seconds
substeps.stat 0 SUBSTEPS statistics table and its code (0: none)
number_of_substeps.asc SUBSTEPS grid
2 its writecode (2: every step, date-stamped)

[heat_transfer]
1 heat transfer model on
11 method of heat transfer modelling: implicit conduction, no heat carried by the water
0 unused
0 unused
12 dTModLowBoundBase: temperature below the column at sea level (degC)
-0.007 dTModLapseRate: its change with height (K/m)
800 dTModCDrySoil: heat capacity of dry soil where the soil table gives none (J/(kg K))
1500 dTModRhoDrySoil: density of dry soil where the soil table gives none (kg/m3)
0.58 dTModLamDrySoil: conductivity of dry soil where the soil table gives none (W/(m K))
1e-10 dTModKmin: smallest relative conductivity of frozen soil
0.5562 dTModLamWat: conductivity of water (W/(m K))
2.33 dTModLamIce: conductivity of ice (W/(m K))
4187 dTModCWater: heat capacity of water (J/(kg K))
1940 dTModCIce20: heat capacity of ice at -20 degC (J/(kg K))
2090 dTModCIce0: heat capacity of ice at 0 degC (J/(kg K))
334000 dTModLatHeat: latent heat of fusion (J/kg)
1000 dTModRhoWater: density of water (kg/m3)
1.22 dTModFactor: factor of the freezing curves
0.5 dTModSEForStat: liquid share below which a layer counts as frozen
60 dTModShortestStep: shortest heat step (s)
1800 dTModLongestStep: longest heat step (s)
1 dTModNFactorFreezing: surface n-factor while freezing
1 dTModNFactorThawing: surface n-factor while thawing
soil_temperature.txt control point: temperature of every layer
thaw_depth.stat 2001 thaw-depth statistics table and its code: every subbasin and the areal mean, every step
soil_temperature.stack temperature stack
2 its writecode (2: every step, date-stamped)
thaw_depth.asc ThawDepthTMod grid
2 its writecode (2: every step, date-stamped)

[SurfaceRoutingModel]
1 flow control parameter
1440 time interval in minutes
1 method for flowpath-calculation (1: slopes of the terrain, outflow shared among several neighbours)
surface_direct_runoff.stat 2001 direct runoff that reached the rivers, after its flow-time zones and storage (QDSR): every subbasin and the areal mean, every step
surface_interflow.stat 2001 interflow after its flow-time zones and storage (QISR)
surface_baseflow.stat 2001 baseflow of the soil-water module (QBSR)
surface_total_runoff.stat 2001 total runoff handed to the routing (QGSR)
velocity.stack name of the surface-routing-velocity-stack (every step as velo_<date>.000): main direction, velocities towards the eight neighbours (m/s), water-surface elevation
2 its writecode (2: every step, date-stamped)
fluxes.stack name of the surface-routing-fluxes-stack: flux towards the main direction and towards the eight neighbours (m3/s)
3 its writecode (3: at the end of the run)
0.001 maximum iteration error for A_NL (m)
20 maximum iteration steps for A_NL
0.001 maximum iteration error for the velocity (m/s)
20 maximum iteration steps for the velocity
10 minimum inner time step (s)
600 maximum inner time step (s)
0.01 minimum flow depth at which the stems of row crops add resistance (m)
1 concentration factor (1: no rills)
0 readgrids (0: start from the computed flow-time zones)
surface_storage.stat 2001
soil_state.txt state file (the rank is appended)

[groundwater_flow]
1 flow control parameter
1440 time interval in minutes
1 method (kept, no effect)
200 maxiter: largest number of sweeps per sub-step
1e-6 maxerror_allowed (m)
1.0 alpha: fully implicit in the neighbour heads
0 sor-parameter (0 or below: adaptive over-relaxation per cell)
0 grid read parameter (0: heads from the soil-water module's groundwater table)
1 number of layers
5 6 control row and column
gw_control_point.txt name of the control point file
0 pond flag (0: no ponds)
gw_heads.asc heads of layer 1
3 its writecode (3: written at the end of the run)
gw_flow_x.asc east-west flux of layer 1
3 its writecode
gw_flow_y.asc north-south flux of layer 1
3 its writecode
gw_balance.asc balance of layer 1
3 its writecode

[routing_model]
1 flow control parameter
1440 time interval in minutes
1 2000 20 1 min. and max. specific discharge (l/s/km2), table intervals, time sub-intervals
discharge.stat 2001 routed discharge table and its code (2001: every subbasin, every step)
observed.dat observed discharges (made up)
1 number of column descriptors (subbasin code and column of observed.dat)
3 1 the outlet, subbasin 3, in the first value column
0 steps before the goodness of fit starts
TG 2 (middle brook) A= 61 F= 1
OL 1 kh= 2 kv= 6 Bm= 5 Bv= 50 Tm= 1 Mm= 25 Mv= 15 I= 0.005 L= 6000 AE= 37
TG 3 (outlet) A= 114 F= 1
OL 2 kh= 3 kv= 8 Bm= 8 Bv= 80 Tm= 1.5 Mm= 30 Mv= 15 I= 0.003 L= 8000 AE= 61
ZL 1 Q= constant 0.5 kh= 1 kv= 1 Bm= 2 Bv= 2 Tm= 1 Mm= 40 Mv= 20 I= 0.001 L= 2000 AE= 10
AL 7 (modus = extern) abstraction_7.txt 0.2 0.3 0.4 m3/s)
SP 1 (file = reservoir_1.txt V0 = 5000000 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600)

[abstraction_rule_reservoir_1]
2
0 0
20000000 231.48

[special_output]
1 flow control parameter
1440 time interval in minutes
numfiles = 1;
{
  header = terrain_height_and_precipitation_at_three_points;
  filename = points.txt;
  entity = { ID = terrain_height; Symbol = H; Xcoords = 502500, 509500, 500500; Ycoords = 5205500, 5201500, 5209500; };
  entity = { ID = precipitation; Symbol = P; Xcoords = 502500, 509500, 500500; Ycoords = 5205500, 5201500, 5209500; };
}
