// Soil table reader: the section's line handling, the block and old-format
// entries, the defaults, the checks and the conductivity recession.
#include "tables/soil_table_reader.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "tables/soil_block_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tavro {
namespace {

using soil_block_text::Contains;
using soil_block_text::FindValue;
using soil_block_text::Occurrence;

constexpr int kBlockError = 29;
constexpr int kOldFormatError = 30;
constexpr int kLayerCountError = 30;
constexpr int kControlFileError = 17;

// Divisor of the macropore threshold and capacity of a block.
constexpr double kPerHourInMillimetres = 3600000.0;

// ---------------------------------------------------------------- messages

[[noreturn]] void BlockValuesError(DiagnosticsLog &log, int code, std::string_view text) {
  ThrowFatal(log, kBlockError,
             Concat("Soil table code ", code, ": some values could not be read\n", text));
}

[[noreturn]] void OldFormatValuesError(DiagnosticsLog &log, int code, std::string_view line) {
  ThrowFatal(log, kOldFormatError,
             Concat("soil table code ", code, ": some values could not be read\n", line));
}

// A detail entry first, then the "soil table code" entry that ends the run.
[[noreturn]] void OldFormatError(DiagnosticsLog &log, const std::string &detail, int code,
                                 std::string_view line) {
  log.Entry(Concat("FATAL: ", detail, DiagnosticsLog::EndToken));
  OldFormatValuesError(log, code, line);
}

void CheckName(DiagnosticsLog &log, int exitCode, const soil_class &soil, std::string_view name) {
  if (name.size() > soil_class::MaxNameLength)
    ThrowFatal(log, exitCode,
               Concat("Soil table code ", soil.Code, ": soil type name longer than ",
                      soil_class::MaxNameLength, " characters: ", name.substr(0, 80), "..."));
}

// ---------------------------------------------------------------- defaults

// Every value a block may omit, at its block default. Old-format records get
// the same for what their line does not carry, so that no field is left
// without a meaningful value.
void SetBlockDefaults(soil_class &soil) {
  const std::size_t size = static_cast<std::size_t>(soil.LayerCount) + 1;
  soil.Par_tau.assign(size, 0.5);
  soil.k_recession.assign(size, 1.0);
  soil.DryHeatCapacity.assign(size, -1.0);
  soil.DryDensity.assign(size, -1.0);
  soil.DryThermalConduct.assign(size, -1.0);
  soil.ThicknessScaling = 1.0;
  soil.GrainSizeDist = {0.3333, 0.3333, 0.3334, 0, 0, 0, 0};
  soil.SU_PAR.fill(0.0);
  soil.PMacroThresh = 1000.0 / kPerHourInMillimetres;
  soil.MacroCapacity = 0.0;
  soil.CapacityRedu = 1.0;
  soil.MacroDepth = 1.0;
  soil.KMinFrozenSoil = -1.0;
  soil.LogKMinFrozenSoil = -20.0;
  soil.maxratio = 1000.0;
  soil.FCap = 25.0;
  soil.mSB = 35.0;
  soil.mSBMinusFCap = (soil.mSB - soil.FCap) * 0.01;
  soil.ksat_topmodel = 1e-05;
  soil.suction = 300.0;
  soil.MaxInterflowDepth = 2.0;
}

void SetMFromN(soil_class &soil) {
  for (std::size_t i = 0; i < soil.Par_n.size(); ++i)
    soil.Par_m[i] = soil.Par_n[i] == 0.0 ? 0.0 : 1.0 - 1.0 / soil.Par_n[i];
}

double SumOfLayers(const soil_class &soil) {
  return std::accumulate(soil.thickness.begin() + 1, soil.thickness.end(), 0.0);
}

// ---------------------------------------------------------------- checks

// Parameters with which the retention tables or the layer column would be
// meaningless are refused, naming the soil type and the layer.
void CheckSoilParameters(DiagnosticsLog &log, const soil_class &soil) {
  for (int j = 1; j <= soil.LayerCount; ++j) {
    const auto fail = [&](const std::string &what) {
      ThrowFatal(
          log, kBlockError,
          Concat("Soil table code ", soil.Code, " (", soil.Name, "), layer ", j, ": ", what));
    };
    if (!(soil.theta_sat[j] > soil.theta_res[j]))
      fail(Concat("theta_sat (", soil.theta_sat[j], ") must be greater than theta_res (",
                  soil.theta_res[j], ")"));
    if (!(soil.Par_n[j] > 1.0))
      fail(Concat("Par_n (", soil.Par_n[j], ") must be greater than 1"));
    if (!(soil.alpha[j] > 0.0))
      fail(Concat("alpha (", soil.alpha[j], ") must be greater than 0"));
    if (!(soil.Par_m[j] > 0.0))
      fail(Concat("Par_m (", soil.Par_m[j], ") must be greater than 0"));
    if (!(soil.thickness[j] > 0.0))
      fail(Concat("thickness (", soil.thickness[j], ") must be greater than 0"));
  }
}

void BuildTables(soil_class &soil) {
  soil.RetentionPoints = {soil_class::RetentionSteps, soil_class::RetentionSteps};
  for (int j = 0; j <= soil.LayerCount; ++j)
    soil.MakeRetentionTables(j);
}

// ---------------------------------------------------------------- blocks

// The per-horizon list of key (its last occurrence) copied to the layers of
// each horizon; false when the key is absent. Horizons beyond the list take
// its last number, surplus numbers are ignored.
bool ReadHorizonList(DiagnosticsLog &log, const soil_class &soil, std::string_view text,
                     std::string_view key, std::vector<double> &target) {
  const auto value = FindValue(text, key, Occurrence::Last);
  if (!value)
    return false;
  const auto numbers = soil_block_text::ParseNumbers(*value);
  if (!numbers)
    BlockValuesError(log, soil.Code, text);
  int layer = 0;
  for (int h = 1; h <= soil.HorizonCount; ++h) {
    const double v = (*numbers)[std::min<std::size_t>(h, numbers->size()) - 1];
    for (int k = 0; k < soil.HorizonLayers[h]; ++k)
      target[++layer] = v;
  }
  target[0] = target[1];
  return true;
}

void ReadRequiredList(DiagnosticsLog &log, const soil_class &soil, std::string_view text,
                      std::string_view key, std::vector<double> &target) {
  if (!ReadHorizonList(log, soil, text, key, target))
    BlockValuesError(log, soil.Code, text);
}

// The scalar of key (its first occurrence) into target; false when absent.
bool ReadScalarKey(DiagnosticsLog &log, const soil_class &soil, std::string_view text,
                   std::string_view key, double &target) {
  const auto value = FindValue(text, key, Occurrence::First);
  if (!value)
    return false;
  const auto number = soil_block_text::ParseScalar(*value);
  if (!number)
    BlockValuesError(log, soil.Code, text);
  target = *number;
  return true;
}

// "layers": the layer count of every horizon from the top.
void ReadLayerLayout(DiagnosticsLog &log, soil_class &soil, std::string_view text) {
  const auto value = FindValue(text, "layers", Occurrence::Last);
  if (!value)
    BlockValuesError(log, soil.Code, text);
  const auto tokens = soil_block_text::Tokens(*value, ";,");
  if (tokens.empty())
    BlockValuesError(log, soil.Code, text);
  std::vector<int> layers(tokens.size() + 1, 0);
  long long total = 0;
  for (std::size_t h = 1; h <= tokens.size(); ++h) {
    const auto count = soil_block_text::ParseInt(tokens[h - 1]);
    if (!count || *count < 1)
      BlockValuesError(log, soil.Code, text);
    layers[h] = *count;
    total += *count;
  }
  if (total > MaxSoilLayers)
    ThrowFatal(log, kBlockError,
               Concat("Soil table code ", soil.Code, ": ", total, " layers, at most ",
                      MaxSoilLayers, " are supported\n", text));
  layers[0] = static_cast<int>(total);
  soil.HorizonCount = static_cast<int>(tokens.size());
  soil.HorizonLayers = std::move(layers);
  soil.ResizeLayers(static_cast<int>(total));
}

void ReadGrainSizeDist(DiagnosticsLog &log, soil_class &soil, std::string_view text) {
  const auto value = FindValue(text, "GrainSizeDist", Occurrence::First);
  if (!value)
    return; // the defaults stand
  const auto numbers = soil_block_text::ParseNumbers(*value);
  if (!numbers || numbers->size() != soil.GrainSizeDist.size())
    BlockValuesError(log, soil.Code, text);
  const auto &f = *numbers;
  const auto fail = [&](std::string_view what, std::string_view soilType) {
    log.Entry(Concat("FATAL: Grainsize distribution: ", what, soilType, soil.Code, "\n", text,
                     DiagnosticsLog::EndToken));
    BlockValuesError(log, soil.Code, text);
  };
  if (!(f[0] > 0.0))
    fail("fraction of sand must be > 0 ", "\nsoil type: ");
  for (std::size_t i = 1; i < f.size(); ++i)
    if (!(f[i] >= 0.0))
      fail("all grain size fractions must be >= 0 (sand must be >0)", "\nsoil type: ");
  const double sum = f[1] + f[0] + f[2] + f[3] + f[4] + f[5] + f[6];
  if (std::fabs(sum - 1.0) > 1e-4)
    fail("sum of all fractions (sand, silt, clay, stones1..4) must be 1.0", "\n soil type: ");
  std::copy(f.begin(), f.end(), soil.GrainSizeDist.begin());
}

// ksat falls with depth within each horizon by k_recession per metre of
// depth below the horizon's top, down to MaxInterflowDepth below the surface.
void ApplyConductivityRecession(soil_class &soil) {
  const auto &d = soil.thickness;
  double depth = 0.0;
  int j = 0;
  for (int h = 1; h <= soil.HorizonCount; ++h) {
    double inHorizon = 0.0;
    for (int k = 0; k < soil.HorizonLayers[h]; ++k) {
      ++j;
      if (k == 0) {
        inHorizon = d[j] / 2;
        depth = j == 1 ? inHorizon : depth + d[j] / 2 + d[j - 1] / 2;
      } else {
        inHorizon += d[j] / 2 + d[j - 1] / 2;
        depth += d[j] / 2 + d[j - 1] / 2;
      }
      if (depth > soil.MaxInterflowDepth)
        return;
      soil.ksat[j] *= std::pow(soil.k_recession[j], inHorizon);
    }
  }
}

} // namespace

bool IsSoilBlockStart(std::string_view line) {
  return Contains(line, "MultipleHorizons") || Contains(line, "method") || Contains(line, "{");
}

void ReadSoilBlock(DiagnosticsLog &log, std::string_view fullText, soil_class &soil) {
  if (!Contains(fullText, "MultipleHorizons"))
    ThrowFatal(log, kBlockError, Concat("soil table definition method unknown ", fullText));

  const std::size_t brace = fullText.find('{');
  if (brace == std::string_view::npos)
    BlockValuesError(log, soil.Code, fullText);
  const auto head = soil_block_text::Tokens(fullText.substr(0, brace));
  const auto code = head.empty() ? std::nullopt : soil_block_text::ParseInt(head[0]);
  if (!code || head.size() < 2)
    BlockValuesError(log, soil.Code, fullText);
  soil.Code = *code;
  CheckName(log, kBlockError, soil, head[1]);
  soil.Name = std::string(head[1]);
  soil.Method = 0;
  const std::string_view text = fullText.substr(brace);

  ReadLayerLayout(log, soil, text);
  SetBlockDefaults(soil);

  for (auto [key, target] : {std::pair{"ksat", &soil.ksat},
                             {"theta_sat", &soil.theta_sat},
                             {"theta_res", &soil.theta_res},
                             {"alpha", &soil.alpha},
                             {"Par_n", &soil.Par_n},
                             {"thickness", &soil.thickness}})
    ReadRequiredList(log, soil, text, key, *target);

  soil.EvapMaxDepth = soil.thickness[1];
  ReadScalarKey(log, soil, text, "EvapMaxDepth", soil.EvapMaxDepth);

  ReadScalarKey(log, soil, text, "ThicknessScaling", soil.ThicknessScaling);
  if (soil.ThicknessScaling != 1.0) {
    log << "INFO: Soil layers for landuse " << soil.Code << " will be scaled by a factor of "
        << soil.ThicknessScaling << "[end-entry]";
    for (double &d : soil.thickness)
      d *= soil.ThicknessScaling;
  }
  soil.TotalDepth = SumOfLayers(soil);

  ReadGrainSizeDist(log, soil, text);

  for (int p = 0; p < static_cast<int>(soil.SU_PAR.size()); ++p) {
    char key[32];
    std::snprintf(key, sizeof key, "SU_PAR%.02d", p);
    ReadScalarKey(log, soil, text, key, soil.SU_PAR[p]);
  }

  ReadHorizonList(log, soil, text, "Par_tau", soil.Par_tau);
  ReadHorizonList(log, soil, text, "k_recession", soil.k_recession);
  // The macropore values are given at the scale of the defaults and kept
  // divided by kPerHourInMillimetres.
  double pMacroThresh = 1000.0;
  double macroCapacity = 0.0;
  ReadScalarKey(log, soil, text, "PMacroThresh", pMacroThresh);
  ReadScalarKey(log, soil, text, "MacroCapacity", macroCapacity);
  ReadScalarKey(log, soil, text, "CapacityRedu", soil.CapacityRedu);
  ReadScalarKey(log, soil, text, "MacroDepth", soil.MacroDepth);
  ReadHorizonList(log, soil, text, "DryHeatCapacity", soil.DryHeatCapacity);
  ReadHorizonList(log, soil, text, "DryDensity", soil.DryDensity);
  ReadHorizonList(log, soil, text, "DryThermalConduct", soil.DryThermalConduct);
  if (ReadScalarKey(log, soil, text, "KMinFrozenSoil", soil.KMinFrozenSoil))
    soil.LogKMinFrozenSoil = soil.KMinFrozenSoil > 0.0 ? std::log(soil.KMinFrozenSoil) : -27.631;
  soil.PMacroThresh = pMacroThresh / kPerHourInMillimetres;
  soil.MacroCapacity = macroCapacity / kPerHourInMillimetres;

  ReadScalarKey(log, soil, text, "maxratio", soil.maxratio);
  ReadScalarKey(log, soil, text, "FCap", soil.FCap);
  ReadScalarKey(log, soil, text, "mSB", soil.mSB);
  ReadScalarKey(log, soil, text, "ksat_topmodel", soil.ksat_topmodel);
  ReadScalarKey(log, soil, text, "suction", soil.suction);
  soil.mSBMinusFCap = (soil.mSB - soil.FCap) * 0.01;

  if (!ReadHorizonList(log, soil, text, "Par_m", soil.Par_m))
    SetMFromN(soil);
  ReadScalarKey(log, soil, text, "MaxInterflowDepth", soil.MaxInterflowDepth);

  CheckSoilParameters(log, soil);
  BuildTables(soil);
  ApplyConductivityRecession(soil);
}

void ReadSoilOldFormat(DiagnosticsLog &log, std::string_view line, soil_class &soil) {
  const auto tokens = soil_block_text::Tokens(line);
  const auto token = [&](std::size_t i) {
    return i < tokens.size() ? tokens[i] : std::string_view{};
  };
  const auto number = [&](std::size_t i) {
    const auto value = soil_block_text::ParseDouble(token(i));
    if (!value)
      OldFormatValuesError(log, soil.Code, line);
    return *value;
  };

  const auto code = soil_block_text::ParseInt(token(0));
  if (!code || tokens.size() < 2)
    OldFormatValuesError(log, soil.Code, line);
  soil.Code = *code;
  CheckName(log, kOldFormatError, soil, tokens[1]);
  soil.Name = std::string(tokens[1]);
  const double fCap = number(2);
  const double mSB = number(3);
  const double ksatTopmodel = number(4);
  const double suction = number(5);

  const auto method = soil_block_text::ParseInt(token(6));
  if (!method)
    OldFormatValuesError(log, soil.Code, line);
  if (*method != 1)
    OldFormatError(log,
                   Concat("error reading soil parameters for soil type ", soil.Code,
                          ": only old method 1 (van-Genuchten Parameter) is supported in Tavro "
                          "newer than 6.4.\nUse the new soil type table format instead."),
                   soil.Code, line);

  const double thetaSat = number(7);
  const double thetaRes = number(8);
  const double alpha = number(9);
  const double n = number(10);
  const auto layerCount = soil_block_text::ParseInt(token(11));
  if (!layerCount)
    OldFormatValuesError(log, soil.Code, line);
  // The layout has a top layer and a second layer that completes the first
  // layer depth; fewer layers cannot hold it.
  if (*layerCount < 2 || *layerCount > MaxSoilLayers)
    OldFormatError(log,
                   Concat("\nerror soil type ", soil.Code,
                          ":\nthe old soil table format needs between 2 and ", MaxSoilLayers,
                          " layers (here ", *layerCount, ")"),
                   soil.Code, line);

  const auto detailed = [&](std::size_t i, std::string_view what) {
    const auto value = soil_block_text::ParseDouble(token(i));
    if (!value)
      OldFormatError(log, Concat(what, soil.Code), soil.Code, line);
    return *value;
  };
  const double d = detailed(12, "error reading layer thickness for soiltype ");
  const double maxratio = detailed(13, "error reading maxratio for soil type ");
  const double kReduction = detailed(14, "error reading k reduction for soil type ");

  if (!(d >= 0.1))
    OldFormatError(log,
                   Concat("\nerror soil type ", soil.Code, ":\nthickness of single layers (here ",
                          d,
                          " m)\nhas to be at minimum twice as thick as the\nthickness of the top "
                          "layer (here ",
                          0.05, " m)"),
                   soil.Code, line);

  soil.ResizeLayers(*layerCount);
  SetBlockDefaults(soil);
  soil.Method = 1;
  soil.FCap = fCap;
  soil.mSB = mSB;
  soil.mSBMinusFCap = (mSB - fCap) * 0.01;
  soil.ksat_topmodel = ksatTopmodel;
  soil.suction = suction;
  soil.maxratio = maxratio;
  soil.k_reduction = kReduction;
  soil.HorizonCount = 0;
  soil.HorizonLayers = {*layerCount};
  soil.theta_sat.assign(soil.theta_sat.size(), thetaSat);
  soil.theta_res.assign(soil.theta_res.size(), thetaRes);
  soil.alpha.assign(soil.alpha.size(), alpha);
  soil.Par_n.assign(soil.Par_n.size(), n);
  SetMFromN(soil);

  auto &th = soil.thickness;
  th[0] = d;
  th[1] = 0.05;
  th[2] = d - 0.05;
  for (int i = 3; i <= soil.LayerCount; ++i)
    th[i] = d;
  soil.TotalDepth = SumOfLayers(soil);
  // The one-line format never carried these; such records keep the values
  // that runs made with it have always used, not the block defaults.
  soil.EvapMaxDepth = 0.1;
  soil.PMacroThresh = 1.0;
  soil.MacroDepth = 0.0;

  // Conductivity falls from ksat_topmodel by k_reduction per metre of depth
  // of the layer centre, and stays constant below 2 m.
  auto &k = soil.ksat;
  k[1] = std::pow(kReduction, 0.025) * ksatTopmodel;
  k[2] = std::pow(kReduction, (th[2] - 0.05) * 0.5 + 0.05) * ksatTopmodel;
  for (int i = 3; i <= soil.LayerCount; ++i) {
    const double z = (i - 1.5) * d;
    k[i] = z <= 2.0 ? std::pow(kReduction, z) * ksatTopmodel : k[i - 1];
  }
  k[0] = k[1];

  CheckSoilParameters(log, soil);
  BuildTables(soil);
}

namespace {

// One whole line of the section, its line end included; nullopt at the end
// of the file. Lines are never split: a longer one is refused.
std::optional<std::string> ReadLine(ControlFileReader &reader, DiagnosticsLog &log) {
  WholeLine line = ReadWholeLine(reader.Handle(), ControlFileReader::MaxLineLength);
  if (line.tooLong)
    ThrowFatal(log, kControlFileError,
               Concat("error in control file ", reader.FileName(), ", line longer than ",
                      ControlFileReader::MaxLineLength,
                      " characters in section [soil_table]: ", line.text.substr(0, 80), "..."));
  if (line.atEnd)
    return std::nullopt;
  return std::move(line.text);
}

} // namespace

SoilTable ReadSoilTable(ControlFileReader &reader, DiagnosticsLog &log,
                        [[maybe_unused]] int soilModelVariant) {
  reader.FindControlKey("[soil_table]", true);
  const int count = reader.ReadInt("number of soil types");

  std::vector<soil_class> records;
  for (int j = 1; j <= count; ++j) {
    soil_class soil(j);
    auto line = ReadLine(reader, log);
    if (!line)
      OldFormatValuesError(log, j,
                           Concat("(end of control file ", reader.FileName(), " after ", j - 1,
                                  " of ", count, " soil types)"));
    if (IsSoilBlockStart(*line)) {
      std::string text = std::move(*line);
      while (!Contains(text, "}")) {
        auto next = ReadLine(reader, log);
        if (!next)
          BlockValuesError(log, j, text);
        text += *next;
      }
      ReadSoilBlock(log, text, soil);
    } else {
      ReadSoilOldFormat(log, *line, soil);
    }
    if (!records.empty() && records.back().LayerCount != soil.LayerCount)
      ThrowFatal(log, kLayerCountError,
                 Concat("the numbers of soil layers has to be equal for all soil types\n(here: "
                        "soil type ",
                        soil.Code, ": ", soil.LayerCount, " layers, but soil type ",
                        records.back().Code, ": ", records.back().LayerCount, " layers)\n\n"));
    records.push_back(std::move(soil));
  }

  SoilTable table(records.size());
  table[0] = soil_class(count);
  for (std::size_t j = 1; j <= records.size(); ++j)
    table[j] = std::move(records[j - 1]);
  return table;
}

} // namespace tavro
