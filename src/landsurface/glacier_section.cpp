// Reading of "[ice_firn]" and "[permafrost]".
#include "landsurface/glacier_section.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/modelobject.h"

#include <optional>
#include <string_view>

namespace tavro {
namespace {

constexpr int kValue = IceFirnSection::ValueExitCode;

void SkipRestOfLine(modelobject &m) {
  ReadWholeLine(m.ControlFile().Handle(), ControlFileReader::MaxLineLength);
}

[[noreturn]] void Refuse(modelobject &m, std::string_view text) {
  ThrowFatal(*m.Log, kValue, text);
}

void ReadMethodAndFactors(modelobject &m, IceFirnSection &s) {
  m.ReadControlValue(s.Melt.Method, "Glacier-Method for ");
  if (!glacier::IsKnownMethod(s.Melt.Method))
    Refuse(m, "\n-----------Fatal Error:----------\nMethod for glacier melt must be 1(resp 11 "
              "for dynamic model; t-index)\n or 2 (resp. 12 for dynamic model; t-index with "
              "correction by radiation) or 13 (dynamic glaciers with T-Index for ice and firn "
              "and the melt method used for snow as in the snow model)");
  m.ReadControlValue(s.Melt.DDFice, "DDFice  for ");
  m.ReadControlValue(s.Melt.DDFfirn, "DDFfirn for ");
  m.ReadControlValue(s.Melt.DDFsnow, "DDFsnow for ");
  m.ReadControlValue(s.Melt.MF, "MF  for ");
  m.ReadControlValue(s.Aice_min, "Aice_min for ");
  m.ReadControlValue(s.Aice_max, "Aice_max for ");
  m.ReadControlValue(s.Asnow_min, "Asnow_min for ");
  m.ReadControlValue(s.Asnow_max, "Asnow_max for ");
}

void ReadReservoirs(modelobject &m, IceFirnSection &s) {
  const auto constant = [&m](double &k, std::string_view label, std::string_view name) {
    m.ReadControlValue(k, label);
    // A constant of 0 passes the melt straight through; a negative one
    // would make the reservoir grow without bound.
    if (k < 0.0)
      Refuse(m, Concat("the storage constant ", name,
                       " of the glacier reservoirs must not be negative. Here: ", k));
  };
  constant(s.kice_els, "kice_els for ", "kice_els");
  constant(s.kfirn_els, "kfirn_els ", "kfirn_els");
  constant(s.ksnow_els, "ksnow_els for ", "ksnow_els");
  m.ReadControlValue(s.InitialQice, "initial Qice_els for ");
  m.ReadControlValue(s.InitialQfirn, "initial Qfirn_els ");
  m.ReadControlValue(s.InitialQsnow, "initial Qsnow_els for ");
}

void ReadMeltFiles(modelobject &m, IceFirnSection &s) {
  ReadGridFile(m, s.FirnMelt, "name of the firn grid for ", "write code for firn grid for ");
  ReadTableFile(m, s.FirnMeltTable, "name of the qfirn-statistic-file for ");
  ReadGridFile(m, s.IceMelt, "name of the ice grid for ", "write code for ice grid for ");
  ReadTableFile(m, s.IceMeltTable, "name of the qice-statistic-file for ");
  ReadTableFile(m, s.TotalMeltTable, "name of the qglac-statistic-file for ");
}

// Rows 25 to 27: bare numbers, the rest of each line skipped.
void ReadFirnRow(modelobject &m, IceFirnSection &s) {
  std::FILE *file = m.ControlFile().Handle();
  const std::optional<int> levels = ScanInt(file);
  const std::optional<double> base = levels ? ScanDouble(file) : std::nullopt;
  const std::optional<double> delta = base ? ScanDouble(file) : std::nullopt;
  if (!delta)
    Refuse(m, Concat("\n------------- Fatal Error: -------------\n",
                     "Could not read the three parameters firn_levels (int),\n",
                     "firn_base (double), and deltafirnper100m (double)  \n",
                     "for dynamic glacier modelling "));
  SkipRestOfLine(m);
  s.FirnLevels = *levels;
  s.FirnBase = *base;
  s.DeltaFirnPerMetre = *delta;
  CheckFirnLevels(m, s.FirnLevels);
}

void ReadEvaluationDate(modelobject &m, IceFirnSection &s,
                        const std::array<int, 14> &daysPerMonth) {
  std::FILE *file = m.ControlFile().Handle();
  const std::optional<int> day = ScanInt(file);
  const std::optional<int> month = day ? ScanInt(file) : std::nullopt;
  if (!month)
    Refuse(m, Concat("\n------------- Fatal Error: -------------\n",
                     "Could not read the two parameters GMBEvalDay (int 1...31)\n",
                     "and GMBEvalMonth (int 1..12) for dynamic glacier modelling "));
  SkipRestOfLine(m);
  s.GMBEvalDay = *day;
  s.GMBEvalMonth = *month;
  if (s.GMBEvalMonth < 1 || s.GMBEvalMonth > 12)
    Refuse(m, Concat("GMBEvalMonth must lie within 1...12 for dynamic glacier modelling. Here: ",
                     s.GMBEvalMonth));
  const int last = daysPerMonth[static_cast<std::size_t>(s.GMBEvalMonth)];
  if (s.GMBEvalDay < 1 || s.GMBEvalDay > last)
    Refuse(m, Concat("GMBEvalDay must lie within 1...", last, " in month ", s.GMBEvalMonth,
                     " for dynamic glacier modelling. Here: ", s.GMBEvalDay));
}

void ReadVolumeArea(modelobject &m, IceFirnSection &s) {
  std::FILE *file = m.ControlFile().Handle();
  const std::optional<double> scaling = ScanDouble(file);
  const std::optional<double> exponent = scaling ? ScanDouble(file) : std::nullopt;
  const std::optional<int> bands = exponent ? ScanInt(file) : std::nullopt;
  const std::optional<int> extra = bands ? ScanInt(file) : std::nullopt;
  if (!extra)
    Refuse(m, Concat("\n------------- Fatal Error: -------------\n",
                     "Could not read the four parameters VAscaling, VAexponent, numElevBands "
                     "and extraWeightFactorBand0\n",
                     "for Volume-Area-Relation in dynamic glacier modelling "));
  SkipRestOfLine(m);
  glacier::GlacierParameters &g = s.Glaciers;
  g.VAscaling = *scaling;
  g.VAexponent = *exponent;
  g.NumElevBands = *bands;
  g.ExtraWeightFactorBand0 = *extra;
  if (!(g.VAscaling > 0.0))
    Refuse(m,
           Concat("VAscaling must be above 0 for dynamic glacier modelling. Here: ", g.VAscaling));
  if (!(g.VAexponent > 0.0))
    Refuse(m, Concat("VAexponent must be above 0 for dynamic glacier modelling. Here: ",
                     g.VAexponent));
  if (g.NumElevBands < 1)
    Refuse(m, Concat("numElevBands must be at least 1 for dynamic glacier modelling. Here: ",
                     g.NumElevBands));
  if (g.ExtraWeightFactorBand0 < 0)
    Refuse(m, Concat("extraWeightFactorBand0 must not be negative for dynamic glacier "
                     "modelling. Here: ",
                     g.ExtraWeightFactorBand0));
}

void ReadDynamicFiles(modelobject &m, IceFirnSection &s) {
  ReadGridFile(m, s.FirnStack, "name of the firn stack for ", "write code for the firn stack in ");
  ReadTableFile(m, s.FirnTable, "name of the firn-statistic-file for ");
  ReadGridFile(m, s.MassBalance, "name of the glacier mass balance grid for ",
               "write code for glacier mass balance grid in ");
  ReadGridFile(m, s.OldMassBalance, "name of the glacier mass balance grid (old reference) for ",
               "write code for glacier mass balance grid (old reference) in ");
  ReadTableFile(m, s.MassBalanceTable, "name of the glacier mass balance statistics file (1) for ");
  ReadTableFile(m, s.MassBalanceGlacierTable,
                "name of the glacier mass balance statistics file (2) for ");
  m.ReadControlValue(s.Melt.DebrisScaling, "global debris scaling factor (requirede when using a "
                                           "debris_on_glaciers grid) ");
  ReadTableFile(m, s.SnowWithoutGlaciersTable,
                "name of the sow statistics for snow on glacier for ");
  const std::string_view share = "glacierized fraction of cell) ";
  ReadGridFile(m, s.SolidOnGlacier,
               Concat("name of the snow storage grid (solid fraction of WE, ", share, "for "),
               Concat("write code for snow storage grid (solid fraction of WE, ", share, "in "));
  ReadGridFile(m, s.LiquidOnGlacier,
               Concat("name of the snow storage grid (liquid fraction of WE, ", share, "for "),
               Concat("write code for snow storage grid (liquid fraction of WE, ", share, "in "));
  ReadGridFile(m, s.TotalOnGlacier,
               "name of the snow storage grid (total on glacierized fraction of cell) for ",
               "write code for snow storage grid (total on glacierized fraction of cell) in ");
  ReadGridFile(m, s.MeltOnGlacier,
               "name of the snow snow melt grid (incl. rain, total on glacierized fraction of "
               "cell) for ",
               "write code for snow melt grid (incl. rain, total on glacierized fraction of "
               "cell) in ");
  ReadGridFile(m, s.SurfaceTemperatureOnGlacier,
               "name of the snow surface temperature grid (incl. rain, total on glacierized "
               "fraction of cell) for ",
               "write code for snow surface temperature  (incl. rain, total on glacierized "
               "fraction of cell) in ");
  ReadGridFile(m, s.SnowTemperatureOnGlacier,
               "name of the snow temperature grid (incl. rain, total on glacierized fraction of "
               "cell) for ",
               "write code for snow temperature grid (incl. rain, total on glacierized fraction "
               "of cell) in ");
  ReadGridFile(m, s.EvaporationOnGlacier,
               "name of the snow evaporation grid (incl. rain, total on glacierized fraction of "
               "cell) for ",
               "write code for snow evaporation grid (incl. rain, total on glacierized fraction "
               "of cell) in ");
}

// Row 53: optional; a value read before a failure stays.
void ReadNewGlacierLimits(modelobject &m, IceFirnSection &s) {
  std::FILE *file = m.ControlFile().Handle();
  const std::optional<double> limit = ScanDouble(file);
  if (limit)
    s.MaxSnowPackToCreateGlacier = *limit;
  const std::optional<double> size = limit ? ScanDouble(file) : std::nullopt;
  if (size)
    s.Glaciers.RelSizeNewGlacier = *size;
  if (!size) {
    m.Log->Entry(Concat("WARNING: \n------------- warning: -------------\n",
                        "Could not read the optional parameters maxSnowPackToCreateGlacier "
                        "(double) and relSizeNewGlacier (double)\n",
                        "for dynamic glacier modelling.\n", "Using the default values of ",
                        s.MaxSnowPackToCreateGlacier, " and ", s.Glaciers.RelSizeNewGlacier,
                        DiagnosticsLog::EndToken));
    return;
  }
  SkipRestOfLine(m);
}

} // namespace

std::string SnowOnGlacierFileName(const std::string &totalMeltFile) {
  const std::size_t dot = totalMeltFile.rfind('.');
  if (dot == std::string::npos)
    return {};
  return totalMeltFile.substr(0, dot) + "_qsgl_" + totalMeltFile.substr(dot);
}

void CheckFirnLevels(modelobject &module, int levels) {
  if (levels < 1)
    Refuse(module,
           Concat("firn_levels must be at least 1 for dynamic glacier modelling. Here: ", levels));
}

IceFirnSection ReadIceFirnSection(modelobject &m, const std::array<int, 14> &daysPerMonth) {
  IceFirnSection s;
  ReadMethodAndFactors(m, s);
  ReadReservoirs(m, s);
  ReadMeltFiles(m, s);
  if (!glacier::IsDynamic(s.Melt.Method)) {
    s.SnowMeltTable.name = SnowOnGlacierFileName(s.TotalMeltTable.name);
    s.SnowMeltTable.code = s.TotalMeltTable.code;
    if (s.SnowMeltTable.name.empty())
      ThrowFatal(*m.Log, IceFirnSection::NameExitCode,
                 Concat("the name of the qglac-statistic-file (row 22 of [ice_firn]) holds no "
                        "\".\", so the name of the snow melt statistics on ice areas cannot be "
                        "derived from it: ",
                        s.TotalMeltTable.name));
    s.Melt.DebrisScaling = 1.0;
    return s;
  }
  ReadTableFile(m, s.SnowMeltTable, "name of the qSnowOnGlac-statistic-file for ");
  m.ReadControlValue(s.GlacierReadGrid, "read grid parameter for glacier model ");
  ReadFirnRow(m, s);
  ReadEvaluationDate(m, s, daysPerMonth);
  ReadVolumeArea(m, s);
  ReadDynamicFiles(m, s);
  ReadNewGlacierLimits(m, s);
  return s;
}

PermafrostSection ReadPermafrostSection(modelobject &m) {
  PermafrostSection s;
  m.ReadControlValue(s.Method, "Permafrost-Method for ");
  if (s.Method != 1)
    Refuse(m, "method for permafrost melt must be 1 (alpha*sqrt(time))");
  m.ReadControlValue(s.MinSnowAgeRefreeze, "Min_Snow_Age_Refreeze for ");
  m.ReadControlValue(s.MaxSWESnowFree, "Max_SWE_SnowFree for ");
  ReadTableFile(m, s.ThawDepthTable, "name of thaw depth statistics file ");
  m.ReadControlValue(s.ReducedKsat, "reduced k_sat (in m/s)");
  return s;
}

} // namespace tavro
