// Reading of "[snow_model]" past its first two values.
#include "landsurface/snow_section.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/modelobject.h"

#include <optional>
#include <sstream>
#include <string_view>

namespace tavro {
namespace {

constexpr int kControlFileExitCode = 17;

double ReadBounded(modelobject &m, std::string_view label, bool (*inBounds)(double), int exitCode,
                   std::string_view message) {
  double value = 0.0;
  m.ReadControlValue(value, label);
  if (!inBounds(value))
    ThrowFatal(*m.Log, exitCode, Concat(message, value));
  return value;
}

bool InDegrees(double v) { return v >= 0.0 && v <= 90.0; }
bool AbovePositive(double v) { return v > 0.0; }
bool AFraction(double v) { return v > 0.0 && v <= 1.0; }
bool ACorrection(double v) { return v > 0.0 && v <= 3.0; }

void ReadMethod(modelobject &m, SnowSection &s) {
  m.ReadControlValue(s.Pack.Method, "method for ");
  if (!snow::IsKnownMethod(s.Pack.Method))
    ThrowFatal(*m.Log, kControlFileExitCode,
               Concat("error in control file, method for ", m.ModuleName, " is ", s.Pack.Method,
                      "; the snow melt methods are 1 to ", snow::kLastMethod));
}

void ReadMeltParameters(modelobject &m, SnowSection &s) {
  m.ReadControlValue(s.Pack.TransZone, "transzone for ");
  m.ReadControlValue(s.Pack.T0R, "T0R for ");
  m.ReadControlValue(s.Pack.T0, "T0 for ");
  m.ReadControlValue(s.Pack.CWH, "CWH for ");
  m.ReadControlValue(s.Pack.CRFR, "CRFR for ");
  m.ReadControlValue(s.Pack.C0, "C0 for ");
  m.ReadControlValue(s.Pack.C1, "C1 for ");
  m.ReadControlValue(s.Pack.C2, "C2 for ");
  m.ReadControlValue(s.z0, "z0 for ");
  m.ReadControlValue(s.RMFMIN, "RMFMIN for ");
  m.ReadControlValue(s.RMFMAX, "RMFMAX for ");
  m.ReadControlValue(s.ALBsnow_min, "ALBsnow_min for ");
  m.ReadControlValue(s.ALBsnow_max, "ALBsnow_max for ");
}

void ReadGridsAndTables(modelobject &m, SnowSection &s) {
  ReadGridFile(m, s.Rain, "Name of the rain-grid for ", "Writegrid of rain-grid for ");
  ReadTableFile(m, s.RainTable, "Name of the rain statistics for ");
  ReadGridFile(m, s.Snow, "Name of the snow grid for ", "Writegrid of the snow grid for ");
  ReadTableFile(m, s.SnowTable, "Name of the snow statistics for ");
  ReadGridFile(m, s.SnowDays, "Name of the snowdays grid for ",
               "Writegrid of the snowdays grid for ");
  ReadTableFile(m, s.SnowDaysTable, "Name of the snowdays statistics for ");
  ReadGridFile(m, s.SnowAge, "Name of the snow age grid for ",
               "Writegrid of the snow age grid for ");
  ReadTableFile(m, s.SnowAgeTable, "Name of the snow age statistics for ");
  ReadTableFile(m, s.AlbedoTable, "name of the albedo statistics for ");
  ReadGridFile(m, s.Outflow, "Name of the snow outflow grid for ",
               "Writegrid of the snow outflow grid for ");
  ReadTableFile(m, s.OutflowTable, "Name of the snow outflow statistics for ");
  ReadGridFile(m, s.MeltOutflow, "Name of the snow melt only outflow grid for ",
               "Writegrid of the snow melt only outflow grid for ");
  ReadTableFile(m, s.MeltOutflowTable, "Name of the snow melt only outflow statistics for ");
  ReadGridFile(m, s.Solid, "Name of the snow storage grids for ",
               "Writegrid of the snow storage grids for ");
  ReadGridFile(m, s.Liquid, "Name of the liquid storage grids for ",
               "Writegrid of the liquid storage grids for ");
  ReadTableFile(m, s.StorageTable, "Name of the total snow storage statistics for ");
  ReadGridFile(m, s.Total, "name of the total snow storage grid for ",
               "Writegrid of the total snow storage grid for ");
  m.ReadControlValue(s.ReadGrid, "readgrid forr storage grids for ");
}

// Row 44: the next line whole; its first word names the snow-temperature grid.
void ReadSnowTemperatureName(modelobject &m, SnowSection &s) {
  const WholeLine line = ReadWholeLine(m.ControlFile().Handle(), ControlFileReader::MaxLineLength);
  if (line.tooLong)
    ThrowFatal(*m.Log, kControlFileExitCode,
               Concat("error in control file, the line of the snow pack temperature grid for ",
                      m.ModuleName, " is longer than ", ControlFileReader::MaxLineLength,
                      " characters"));
  if (line.text.size() < 3)
    ThrowFatal(*m.Log, SnowSection::ShortLineExitCode,
               "cannot read additional parameters for snow model methods 5 to 11 from " +
                   m.ControlFileName);
  std::istringstream words(line.text);
  words >> s.SnowTemperature.FileName;
}

void ReadEnergyBalanceScaling(modelobject &m, SnowSection &s) {
  const std::optional<double> scaling = ScanDouble(m.ControlFile().Handle());
  if (scaling) {
    s.Pack.EnBalScaling = *scaling;
    return;
  }
  m.Log->Entry(Concat("WARNING: \n------------- warning: -------------\n",
                      "Could not read the optional parameter EnBalScaling (double),\n",
                      "for snow melt methods with energy ba\xF6",
                      "ance that will be used for scaling the energy balance (i.e. affect melt "
                      "rates)\n",
                      "Setting default values of 1.0", DiagnosticsLog::EndToken));
}

void ReadExtendedSection(modelobject &m, SnowSection &s) {
  ReadSnowTemperatureName(m, s);
  m.ReadControlValue(s.SnowTemperature.Writecode,
                     "Writegrid of the snow pack temperature grid for ");
  ReadTableFile(m, s.SnowTemperatureTable, "Name of the snow pack temperature statistics for ");
  ReadGridFile(m, s.SurfaceTemperature, "Name of the snow surface temperature grid for ",
               "Writegrid of the snow surface temperature grid for ");
  ReadTableFile(m, s.SurfaceTemperatureTable,
                "Name of the snow surface temperature statistics for ");
  ReadGridFile(m, s.InputMass, "Name of the input mass grid for ",
               "Writegrid of the input mass grid for ");
  ReadTableFile(m, s.InputMassTable, "Name of the input mass statistics for ");
  ReadGridFile(m, s.MobileMass, "Name of the mobile mass grid for ",
               "Writegrid of the mobile mass grid for ");
  ReadTableFile(m, s.MobileMassTable, "Name of the mobile mass statistics for ");
  ReadGridFile(m, s.Deposition, "Name of the deposition grid for ",
               "Writegrid of the deposition grid for ");
  ReadTableFile(m, s.DepositionTable, "Name of the deposition statistics for ");
  s.MaxDepositionSlope = ReadBounded(
      m, "maximum slope for deposition for ", InDegrees, SnowSection::DepositionSlopeExitCode,
      "maxDepositionSlope not within parameter bounds of [0...90] Here: ");
  s.MaxDepositionFactor = ReadBounded(
      m, "maximum deposition factor for ", AbovePositive, SnowSection::DepositionFactorExitCode,
      "maxDepositionFactor not within parameter bounds of (0...inf). Here: ");
  s.MinSlideSlope =
      ReadBounded(m, "minimum slope for slides for ", InDegrees, SnowSection::SlideSlopeExitCode,
                  "minSlideSlope not within parameter bounds of [0...90]. Here: ");
  s.SlideMassFrac =
      ReadBounded(m, "slide mass fraction for ", AFraction, SnowSection::SlideFractionExitCode,
                  "slideMassFrac not within parameter bounds of (0...1.0]. Here: ");
  s.Pack.LWINcorr = ReadBounded(m, "incoming long wave radiation correction factor for ",
                                ACorrection, SnowSection::SlideFractionExitCode,
                                "incoming long wave radiation correction factor LWINcorr not "
                                "within parameter bounds of (0...3.0]. Here: ");
  s.Pack.LWOUTcorr = ReadBounded(m, "outgoing long wave radiation correction factor for ",
                                 ACorrection, SnowSection::SlideFractionExitCode,
                                 "outgoing long wave radiation correction factor LWOUTcorr not "
                                 "within parameter bounds of (0...3.0]. Here: ");
  ReadEnergyBalanceScaling(m, s);
}

} // namespace

void ReadGridFile(modelobject &m, SnowGridFile &file, std::string_view nameLabel,
                  std::string_view codeLabel) {
  m.ReadControlValue(file.FileName, nameLabel);
  m.ReadControlValue(file.Writecode, codeLabel);
}

void ReadTableFile(modelobject &m, StatisticsFile &file, std::string_view label) {
  m.ReadControlValues2(file.name, file.code, label);
}

SnowSection ReadSnowSection(modelobject &module) {
  SnowSection section;
  section.Pack.NoData = module.NoData;
  ReadMethod(module, section);
  ReadMeltParameters(module, section);
  ReadGridsAndTables(module, section);
  if (section.Pack.Method > 4)
    ReadExtendedSection(module, section);
  return section;
}

} // namespace tavro
