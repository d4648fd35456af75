// The section "[evapotranspiration]" of the control file after its two base
// rows: the method, the monthly factors of Hamon and Haude, the names,
// writecodes and statistics of the output grids, the radiation coefficients,
// the transmissivity of the clear sky and the day-night temperature
// amplitude, read and checked. Also the section "[lake_model]" as the
// evapotranspiration reads it.
//
// Failures end the run through the module's log: an unreadable row with a
// description 17; methods 2 to 4 with layers or sub-daily steps 44; fewer than
// twelve Hamon or Haude factors 45; a short numeric row, an amplitude split
// outside 0 to 1 or radiation coefficients that do not fit 10.
#pragma once

#include "landsurface/radiation/radiation_balance.h"
#include "raster/output/module_statistic.h"

#include <array>
#include <string>

namespace tavro {

class modelobject;

// The output grid of a row triple: file name, writecode, statistics.
struct OutputGridRows {
  std::string fileName;
  int writecode = 0;
  StatisticsFile statistics;
};

// Twelve monthly values at 1..12 (January to December), with December again
// at 0 and January again at 13 for the interpolation across the year's end.
using MonthlyTable = std::array<double, 14>;

struct EvapotranspirationSection {
  static constexpr const char *Name = "[evapotranspiration]";

  int method = 1;
  MonthlyTable pec{};                    // Hamon factors
  MonthlyTable fh{};                     // Haude factors
  double coastFactor = 0.0;              // Wendling's fk
  OutputGridRows potentialTranspiration; // "pot_transpiration" + k
  OutputGridRows realTranspiration;      // "real_transpiration" + k
  OutputGridRows potentialEvaporation;
  OutputGridRows realEvaporation;
  OutputGridRows snowEvaporation;
  OutputGridRows potentialInterception;       // "potential_InterceptionEvap" + k
  StatisticsFile correctedRadiation;          // "AspectCorrectedGlobalRadiation"
  radiation::RadiationCoefficients radiation; // c0..c3, CS[0..3] and the threshold x0
  double transmissivityMean = 0.0;
  double transmissivityAmplitude = 0.0;
  double amplitudeScale = 0.0;       // m
  MonthlyTable amplitudes{};         // day-night temperature amplitude, K
  double amplitudeFractionDay = 0.0; // f, 0 to 1
  double annualAmplitude = 0.0;      // of f over the year
  StatisticsFile cloudiness;
};

// Reads rows 3 to 32 from the module's open control-file copy (positioned
// after the time interval) and checks them; the copy stays open. layerCount
// and timeStep (minutes) judge methods 2 to 4 right after row 3.
EvapotranspirationSection ReadEvapotranspirationSection(modelobject &module, int layerCount,
                                                        double timeStep);

// "[lake_model]" as far as the evapotranspiration uses it.
struct LakeModelSettings {
  int flowControl = 0;
  int initializationMethod = 0; // 1 no change of grids, 2 adjust DEM, SLOPE, DRAIN
  double albedo = 0.0;          // of open water
  double roughnessLength = 0.0; // of open water, m
};

} // namespace tavro
