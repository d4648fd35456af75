// The interpolator's section of the control file: method, station file
// lines, the method's parameter line, result grid, statistics, nodata bound,
// weighting, anisotropy, limits and the climate scenario.
#include "meteo/meteointerpol.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tavro {
namespace {

constexpr const char *kMethodLabel =
    "1 [idw], 2 [regress], [3] [idw+regr], 4 [thiessen] 5 [bilinear] 6 [BIGRES] 7 [bicubic "
    "spline] 8 [SPLINERES] 9 [ReadGrid] 10 [EDR from station data] 11 [IDW + EDR from station "
    "data] 12 [Thiessen combines with elevation gradient] for ";

} // namespace

std::string meteointerpol::ReadWholeLine() {
  std::string line;
  std::FILE *file = ControlFile().Handle();
  int c = 0;
  while ((c = std::getc(file)) != EOF && c != '\n') {
    line += static_cast<char>(c);
    if (line.size() > ControlFileReader::MaxLineLength)
      ThrowFatal(*Log, 17,
                 Concat("error in control file ", ControlFileName, ", line longer than ",
                        ControlFileReader::MaxLineLength, " characters in section of ", ModuleName,
                        ": ", line.substr(0, 80), "..."));
  }
  return line;
}

void meteointerpol::ReadStationFileLine(int k) {
  const std::string line = ReadWholeLine();
  char word[ControlFileReader::MaxLineLength + 1] = {};
  if (std::sscanf(line.c_str(), "%1200s", word) != 1)
    ThrowFatal(*Log, StationLineExitCode,
               Concat("error reading station data file name nr. ", k, " for interpolation of ",
                      ModuleName));
  int additional = 0;
  const std::size_t key = line.find("AdditionalColumns=");
  if (key != std::string::npos)
    additional = std::atoi(line.c_str() + key + std::strlen("AdditionalColumns="));
  StationFileNames.emplace_back(word);
  StationFileLines.push_back(line);
  AdditionalColumns.push_back(additional < 0 ? 0 : additional);
}

void meteointerpol::ReadMethodParameterLine() {
  const int method = InterpolationMethod;
  if (method == 9) {
    const std::string line = ReadWholeLine();
    if (std::sscanf(line.c_str(), "%lf%lf%d%lf%lf", &GifF1, &GifX1, &GifThreshold, &GifF2, &GifX2) <
        5)
      ThrowFatal(*Log, ParameterLineExitCode,
                 "error reading the required 5 GIF-Mapping parameters f1 (default=8.916787e-5), "
                 "x1 (0.0767528404), threshold (127), f2 (default=6.00e-006), x2 (0.098) for "
                 "interpolation of " +
                     ModuleName);
  } else if (method == 10 || method == 11) {
    const std::string line = ReadWholeLine();
    double lapse = -9999.0;
    const int read = std::sscanf(line.c_str(), "%lf%lf%lf%d%lf%lf", &LowerInversion,
                                 &UpperInversion, &Tolerance, &Overlap, &ClusterRange, &lapse);
    // An upper inversion below the lower one leaves no layer to build.
    if (read < 5 || UpperInversion < LowerInversion)
      ThrowFatal(*Log, ParameterLineExitCode,
                 "error reading the required 5 or 6 regression parameters <lower inversion> "
                 "<upper inversion> <tolerance> <overlap> <clusterrange> [<lapse rate above "
                 "upper inversion>] for interpolation of " +
                     ModuleName);
    LapseRate = read >= 6 ? lapse : -9999.0;
  } else if (method == 12) {
    const std::string line = ReadWholeLine();
    double lapse = 0.0, inversion = -9999.0, fixedUpper = -9999.0;
    char text[ControlFileReader::MaxLineLength + 1] = {};
    const int read =
        std::sscanf(line.c_str(), "%lf%lf%lf%1200s", &lapse, &inversion, &fixedUpper, text);
    if (read == 2 || read < 1)
      ThrowFatal(*Log, ParameterLineExitCode,
                 "error reading the required parameter \"lapse rate\" and/or optional parameters "
                 "inversion_hight and fix upper lapse rate for interpolation of " +
                     ModuleName);
    LapseRate = lapse;
    UpperInversion = read >= 3 ? inversion : -9999.0;
    FixedUpperLapseRate = read >= 3 ? fixedUpper : -9999.0;
    Method12Text = read >= 4 ? text : "";
    PType = Method12Text.find("P-type") != std::string::npos ? 1 : 0;
  } else {
    ReadControlValue(RegressionFileName, "name of the regression file in ");
  }
}

void meteointerpol::ReadScenario() {
  ReadControlValue(SzenMeth, "SzenMeth in ");
  std::FILE *file = ControlFile().Handle();
  if (SzenMeth == 5 || SzenMeth == 6) {
    for (int month = 1; month <= 12; ++month) {
      const std::string name = ControlFile().NextWord();
      if (name.empty())
        ThrowFatal(*Log, 17,
                   Concat("error in control file: scenario grid for month ", month, " in ",
                          ModuleName,
                          " not found!\nThere have to be exactly 12 filenames after the sceario "
                          "application mode\nreferring to each of the 12 months if using "
                          "scenario method 5.\nHowever, if methods 0..4 are used, NO FILENAMES "
                          "are allowed there\n (for backwards compatibility reasons)"));
      ScenarioGridNames.push_back(name);
      ReadWholeLine(); // the rest of its line
    }
    return;
  }
  ReadControlValue(SzenNum, "SzenNum in ");
  for (int row = 1; row <= SzenNum; ++row) {
    std::array<double, 15> values{}; // columns 1..14 as read
    for (int column = 1; column <= 14; ++column) {
      if (std::fscanf(file, "%lf", &values[static_cast<std::size_t>(column)]) != 1)
        ThrowFatal(*Log, ScenarioRowExitCode,
                   Concat("error! scenario-data row ", row, ", column ", column, " in ", ModuleName,
                          ": read error!"));
      // SzenMeth 3 gives the monthly values as percent changes.
      if (SzenMeth == 3 && column >= 3)
        values[static_cast<std::size_t>(column)] =
            values[static_cast<std::size_t>(column)] / 100.0 + 1.0;
    }
    ReadWholeLine();
    interpolation::ScenarioRow scenario;
    scenario.X = values[1];
    scenario.Y = values[2];
    for (std::size_t month = 1; month <= 12; ++month)
      scenario.Monthly[month] = values[month + 2];
    ScenarioTable.push_back(scenario);
  }
}

void meteointerpol::ReadSection() {
  if (!OpenControlFile())
    ThrowFatal(*Log, 28, "error opening " + ControlFileName);
  FindControlKey("[" + ModuleName + "]", true);
  ReadControlValue(InterpolationMethod, kMethodLabel);
  StationFileCount = (InterpolationMethod == 6 || InterpolationMethod == 8) ? 2 : 1;
  for (int k = 0; k < StationFileCount; ++k)
    ReadStationFileLine(k);
  ReadMethodParameterLine();
  ReadControlValue(ResultGridFileName, "name of the result grid in ");
  ReadControlValue(ResultWritecode, "grid write code for result grid in ");
  ReadControlValue(ScalingFactor, "scaling factor for ");
  ReadControlValues2(StatisticsFileName, StatisticsCode, "name of the statistic result file in ");
  ReadControlValue(NodataBound, "nodata value in ");
  ReadControlValue(IdwWeight, "idw-weight in ");
  ReadControlValue(IdwFraction, "fraction of idw on weighted interpolation (method 3)");
  ReadControlValue(MaxDistance, "maximum distance in ");
  ReadControlValue(AnisotropySlope, "slope of the main axis of the anisotropy ellipse in ");
  ReadControlValue(AnisotropyRatio, "anisotropy b/a in ");
  ReadControlValue(LowerLimit, "lower limit of results in ");
  ReadControlValue(LowerReplacement, "lower replacement for limit-exceeding results in ");
  ReadControlValue(UpperLimit, "upper limit of results in ");
  ReadControlValue(UpperReplacement, "upper replacement for limit-exceeding results in ");
  ReadControlValue(SzenUse, "SzenUse in ");
  if (SzenUse == 1)
    ReadScenario();
  // The weight code 2000 compares squared distances (exponents from 2 up to
  // but excluding the next code): the radius is held squared for all of them.
  WeightCode = interpolation::WeightCode(IdwWeight);
  if (WeightCode == 2000)
    MaxDistance *= MaxDistance;
  if (!CloseControlFile())
    ThrowFatal(*Log, 11, "error closing " + ControlFileName);
}

} // namespace tavro
