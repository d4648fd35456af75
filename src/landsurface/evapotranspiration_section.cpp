// Reading and checking "[evapotranspiration]".
#include "landsurface/evapotranspiration_section.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/modelobject.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace tavro {
namespace {

constexpr int kLayeredMethodExitCode = 44;
constexpr int kMonthlyFactorsExitCode = 45;
constexpr int kSectionValueExitCode = 10;

const char *const kModelRule = "\n---------------------- error in evapotranspiration model "
                               "------------------- \n";
const char *const kLongRule =
    "\n\n-----------------------------------------------------------------------\n";

// Skips what is left of the current line, line break included.
void SkipRestOfLine(std::FILE *file) {
  int c = 0;
  while ((c = std::getc(file)) != EOF && c != '\n') {
  }
}

// Reads count numbers the way fscanf reads them (blanks and line breaks
// between them are free); false when one of them cannot be read.
bool ScanNumbers(std::FILE *file, double *target, int count) {
  for (int i = 0; i < count; ++i) {
    const std::optional<double> value = ScanDouble(file);
    if (!value)
      return false;
    target[i] = *value;
  }
  return true;
}

// Twelve monthly values into 1..12 and their neighbours across the year's end.
bool ScanMonthlyTable(std::FILE *file, MonthlyTable &table) {
  if (!ScanNumbers(file, table.data() + 1, 12))
    return false;
  table[0] = table[12];
  table[13] = table[1];
  return true;
}

void ReadMonthlyFactors(modelobject &module, MonthlyTable &table, const char *parameter,
                        const char *formula) {
  if (!ScanMonthlyTable(module.ControlFile().Handle(), table))
    ThrowFatal(*module.Log, kMonthlyFactorsExitCode,
               Concat(kModelRule, "there have to be 12 (monthly) values for the ", parameter,
                      " for \n", formula, " in the control file.", kLongRule));
}

// A row of bare numbers, counted: every number must be read; then the rest
// of the line in which the last number stands is skipped.
void ReadNumberRow(modelobject &module, int row, double *target, int count, const char *meaning) {
  std::FILE *file = module.ControlFile().Handle();
  if (!ScanNumbers(file, target, count))
    ThrowFatal(*module.Log, kSectionValueExitCode,
               Concat("error reading row ", row, " of ", EvapotranspirationSection::Name, ": ",
                      count, count == 1 ? " number" : " numbers", " expected (", meaning, ")\n"));
  SkipRestOfLine(file);
}

OutputGridRows ReadOutputGridRows(modelobject &module, const char *nameLabel,
                                  const char *writeLabel, const char *statisticsLabel) {
  OutputGridRows rows;
  module.ReadControlValue(rows.fileName, nameLabel);
  module.ReadControlValue(rows.writecode, writeLabel);
  module.ReadControlValues2(rows.statistics.name, rows.statistics.code, statisticsLabel);
  return rows;
}

void CheckLayeredMethod(modelobject &module, int method, int layerCount, double timeStep) {
  if (method <= 1)
    return;
  const char *const only =
      "\nModelling evapotranspiration after HAMON, WENDLING or HAUDE is only possible\n";
  if (layerCount > 1)
    ThrowFatal(*module.Log, kLayeredMethodExitCode,
               Concat(kModelRule, only, "for unlayered Vegetation. Actual parameters: method: ",
                      method, ", number of layers: ", layerCount, kLongRule));
  if (timeStep < 1440.0)
    ThrowFatal(*module.Log, kLayeredMethodExitCode,
               Concat(kModelRule, only,
                      "for daily time steps or larger. The actual time step is less than 1440 "
                      "min.\nactual parameters: method: ",
                      method, ", timestep: ", timeStep, " minutes", kLongRule));
}

// Row 32: an optional line with the cloudiness statistics file and statcode.
StatisticsFile ReadCloudinessLine(std::FILE *file) {
  const WholeLine line = ReadWholeLine(file, ControlFileReader::MaxLineLength);
  StatisticsFile none{"cloudiness", 0};
  if (line.text.size() < 3)
    return none;
  std::istringstream values(line.text);
  StatisticsFile read;
  if (!(values >> read.name >> read.code))
    return none;
  return read;
}

std::string CoefficientList(const radiation::Cubic &cs) {
  return Concat("CS[0]=", cs[0], ", CS[1]=", cs[1], ", CS[2]=", cs[2], ", CS[3]=", cs[3]);
}

void CheckSection(modelobject &module, EvapotranspirationSection &s) {
  DiagnosticsLog &log = *module.Log;
  const double f = s.amplitudeFractionDay;
  if (!(f >= 0.0 && f <= 1.0))
    ThrowFatal(log, kSectionValueExitCode,
               Concat("\n---------------------------- error in control file --------------------\n"
                      "\nThe splitting of the temperature amplitude between day and night\nhas to "
                      "be done in a way that the fraction for the bright day is between 0..1\n"
                      "read: amplitude_fraction_day: ",
                      f, kLongRule));
  const radiation::Cubic &c = s.radiation.c;
  if (c[0] < 0.05)
    ThrowFatal(log, kSectionValueExitCode,
               Concat("fraction of diffuse radiation is too small: ", c[0],
                      " (should be 0.05 ... 0.5)\n"));
  if (c[0] > 0.5)
    ThrowFatal(log, kSectionValueExitCode,
               Concat("fraction of diffuse radiation is too large: ", c[0],
                      " (should be 0.05 ... 0.5)\n"));
  const double sum = c[0] + c[1] + c[2] + c[3];
  if (std::fabs(sum - 1.0) > 0.01)
    ThrowFatal(log, kSectionValueExitCode,
               Concat("die Koeffizienten fuer die Modellierung der Globalstrahlung muessen in "
                      "ihrer Summe 1 ergeben\n derzeitige Summe: ",
                      c[0], " + ", c[1], " + ", c[2], " + ", c[3], " = ", sum));
  const radiation::SunshineThreshold threshold = radiation::FindSunshineThreshold(s.radiation.cs);
  switch (threshold.check) {
  case radiation::ThresholdCheck::Found:
    s.radiation.x0 = threshold.x0;
    break;
  case radiation::ThresholdCheck::NoLinearRelation:
    ThrowFatal(log, kSectionValueExitCode,
               Concat("The coefficients for sunshine duration modelling are wrong!\nThere must be "
                      "at minimum a linear relationship\nbetween radiation and sunshine "
                      "duration\n",
                      CoefficientList(s.radiation.cs), "\n\n"));
  case radiation::ThresholdCheck::NoRootInRange:
    ThrowFatal(log, kSectionValueExitCode,
               Concat("\n----------------------------!! Error !! -----------------------\nThe "
                      "coefficients for sunshine duration modelling are wrong!\nNo null point "
                      "(root) was found between 0 and 1!\n",
                      CoefficientList(s.radiation.cs),
                      "\n\nuse e.g.: CS[0]=0.072, CS[1]=-0.808, CS[2]=1.749, CS[3]=-0.239\n"
                      "----------------------------------------------------------------"));
  }
}

} // namespace

EvapotranspirationSection ReadEvapotranspirationSection(modelobject &module, int layerCount,
                                                        double timeStep) {
  EvapotranspirationSection s;
  module.ReadControlValue(s.method, "Methode fuer ");
  CheckLayeredMethod(module, s.method, layerCount, timeStep);
  ReadMonthlyFactors(module, s.pec, "PEC-parameter", "HAMON-evaporation");
  ReadMonthlyFactors(module, s.fh, "fh-parameter", "HAUDE-evaporation");
  module.ReadControlValue(s.coastFactor, "fk - Coastfactor (WENDLING) for");
  s.potentialTranspiration = ReadOutputGridRows(module, "Name of the ETP-Grids for ",
                                                "Writegrid ETP for ", "Name of ETP-stat.file for ");
  s.realTranspiration =
      ReadOutputGridRows(module, "Name of the ETR-Grids for ", "Writegrid ETR for    ",
                         "Name of the ETR-stat.file for ");
  s.potentialEvaporation = ReadOutputGridRows(module, "Name of the evaporation_potential-grid for ",
                                              "Writegrid EVAP for    ",
                                              "Name of the evaporation_potential-stat.files for ");
  s.realEvaporation = ReadOutputGridRows(module, "Name of the evaporation_real grid for ",
                                         "Writegrid evaporation real for    ",
                                         "Name of the evaporation_real-stat.files for ");
  s.snowEvaporation = ReadOutputGridRows(module, "Name of the snow evaporation grid for ",
                                         "Writegrid snow evaporation for    ",
                                         "Name of the evaporation_real-stat.files for ");
  s.potentialInterception = ReadOutputGridRows(module, "Name of the EIP-Grids for ",
                                               "Writegrid ETP for ", "Name of EIP-stat.file for ");
  module.ReadControlValues2(s.correctedRadiation.name, s.correctedRadiation.code,
                            "Name of the RGEX-stat.file for ");

  ReadNumberRow(module, 26, s.radiation.c.data(), 4,
                "c0 to c3 of the relative global radiation from the relative sunshine duration");
  ReadNumberRow(module, 27, s.radiation.cs.data(), 4,
                "CS[0] to CS[3] of the relative sunshine duration from the relative global "
                "radiation");
  double transmissivity[2] = {0.0, 0.0};
  ReadNumberRow(module, 28, transmissivity, 2,
                "mean and seasonal amplitude of the transmissivity of the clear atmosphere");
  s.transmissivityMean = transmissivity[0];
  s.transmissivityAmplitude = transmissivity[1];
  ReadNumberRow(module, 29, &s.amplitudeScale, 1,
                "elevation scale of the temperature amplitude in m");
  ReadNumberRow(module, 30, s.amplitudes.data() + 1, 12,
                "day-night temperature amplitudes for January to December in K");
  s.amplitudes[0] = s.amplitudes[12];
  s.amplitudes[13] = s.amplitudes[1];

  std::FILE *file = module.ControlFile().Handle();
  double split[2] = {0.0, 0.0};
  if (!ScanNumbers(file, split, 2))
    ThrowFatal(*module.Log, kSectionValueExitCode,
               "error reading fraction for temperature amplitude for day/night\nor the annual "
               "variability\n");
  SkipRestOfLine(file);
  s.amplitudeFractionDay = split[0];
  s.annualAmplitude = split[1];
  s.cloudiness = ReadCloudinessLine(file);

  CheckSection(module, s);
  return s;
}

} // namespace tavro
