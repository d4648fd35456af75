// Section "[landuse_table]": entry collection, block keys with their
// defaults, list readers and the old one-line format.
#include "tables/landuse_table_reader.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/string_helpers.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tavro {
namespace {

using landuse::TableExitCode;

// Values of a list are separated by blanks, tabs, commas or line breaks.
constexpr std::string_view kListDelimiters = " \t\r\n,";
constexpr std::string_view kLineDelimiters = " \t\r\n";

constexpr std::array<std::pair<std::string_view, int>, 5> kMethods{{
    {"VariableDayCount", landuse::VariableDayCount},
    {"DynamicPhenology_1", landuse::DynamicPhenology1},
    {"DynamicPhenology_2", landuse::DynamicPhenology2},
    {"DynamicPhenology_3", landuse::DynamicPhenology3},
    {"DynamicPhenology_4", landuse::DynamicPhenology4},
}};

constexpr std::array<double, 4> kDefaultRoughCoefficients{0.0, 0.0198, 0.712, 0.142};

std::string_view SkipBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(kLineDelimiters);
  return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

// A number at the start of a text, as "%lf" reads it; trailing text is ignored.
std::optional<double> LeadingNumber(std::string_view text) {
  const std::string value(SkipBlanks(text));
  if (value.empty())
    return std::nullopt;
  char *end = nullptr;
  errno = 0;
  const double number = std::strtod(value.c_str(), &end);
  if (end == value.c_str() || errno == ERANGE || !std::isfinite(number))
    return std::nullopt;
  return number;
}

// A decimal integer at the start of a text, as "%d" reads it.
std::optional<int> LeadingInteger(std::string_view text) {
  const std::string value(SkipBlanks(text));
  if (value.empty())
    return std::nullopt;
  char *end = nullptr;
  errno = 0;
  const long number = std::strtol(value.c_str(), &end, 10);
  if (end == value.c_str() || errno == ERANGE || number < std::numeric_limits<int>::min() ||
      number > std::numeric_limits<int>::max())
    return std::nullopt;
  return static_cast<int>(number);
}

// A token that is a number as a whole.
std::optional<double> WholeNumber(const std::string &token) {
  char *end = nullptr;
  errno = 0;
  const double number = std::strtod(token.c_str(), &end);
  if (token.empty() || end != token.c_str() + token.size() || errno == ERANGE ||
      !std::isfinite(number))
    return std::nullopt;
  return number;
}

std::optional<int> WholeInteger(const std::string &token) {
  const std::optional<int> number = LeadingInteger(token);
  if (!number || token.find_first_not_of("+-0123456789") != std::string::npos)
    return std::nullopt;
  return number;
}

std::vector<std::string> Tokens(std::string_view text, std::string_view delimiters) {
  std::vector<std::string> tokens;
  Tokenize(text, delimiters, tokens, false);
  return tokens;
}

[[noreturn]] void ValuesNotRead(DiagnosticsLog &log, int code, std::string_view text) {
  ThrowFatal(log, TableExitCode,
             Concat("landuse table code ", code, ": some values could not be read\n", text));
}

// The keys of one block body, each found at its first occurrence.
class BlockBody {
public:
  BlockBody(DiagnosticsLog &log, int code, std::string_view body)
      : log_(log), code_(code), body_(body) {}

  [[noreturn]] void Fail() const { ValuesNotRead(log_, code_, body_); }

  // The text between the first "=" and the first ";" after the key; nothing
  // when the key is absent; a key without both is unreadable.
  std::optional<std::string_view> Value(std::string_view key) const {
    const auto at = body_.find(key);
    if (at == std::string_view::npos)
      return std::nullopt;
    const auto equals = body_.find('=', at + key.size());
    const auto end = body_.find(';', at + key.size());
    if (equals == std::string_view::npos || end == std::string_view::npos || equals > end)
      Fail();
    return body_.substr(equals + 1, end - equals - 1);
  }

  double Number(std::string_view key) const { return Read(key, LeadingNumber); }
  int Integer(std::string_view key) const { return Read(key, LeadingInteger); }
  double Number(std::string_view key, double fallback) const {
    return Read(key, LeadingNumber, fallback);
  }
  int Integer(std::string_view key, int fallback) const {
    return Read(key, LeadingInteger, fallback);
  }

  // Keys of the phenology models name themselves when they are missing.
  double PhenologyNumber(std::string_view key) const {
    NamePhenologyKeyIfMissing(key);
    return Number(key);
  }
  int PhenologyInteger(std::string_view key) const {
    NamePhenologyKeyIfMissing(key);
    return Integer(key);
  }

  // n numbers into elements 1..n, element n copied to element 0; surplus
  // numbers are ignored, missing or unreadable ones end the reading.
  std::vector<double> List(std::string_view key, int n) const {
    const std::optional<std::string_view> value = Value(key);
    if (!value)
      Fail();
    return ParseList(*value, n);
  }
  std::vector<double> List(std::string_view key, int n, double fallback) const {
    const std::optional<std::string_view> value = Value(key);
    if (!value)
      return std::vector<double>(static_cast<std::size_t>(n) + 1, fallback);
    return ParseList(*value, n);
  }

  // A list of Julian days, as many as it has values; element 0 is the last
  // day minus 366. Nothing when the key is absent.
  std::optional<std::vector<int>> DayList(std::string_view key) const {
    const std::optional<std::string_view> value = Value(key);
    if (!value)
      return std::nullopt;
    const std::vector<std::string> tokens = Tokens(*value, kListDelimiters);
    if (tokens.size() > static_cast<std::size_t>(landuse::MaxFixPoints)) {
      log_.Entry(Concat("FATAL: landuse table code ", code_, ": \"", key, "\" holds ",
                        tokens.size(), " days, at most ", landuse::MaxFixPoints, " are allowed",
                        DiagnosticsLog::EndToken));
      Fail();
    }
    std::vector<int> days(tokens.size() + 1, 0);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      const std::optional<int> day = WholeInteger(tokens[i]);
      if (!day)
        Fail();
      days[i + 1] = *day;
    }
    if (!tokens.empty())
      days[0] = days.back() - 366;
    return days;
  }

  DiagnosticsLog &Log() const { return log_; }
  int Code() const { return code_; }

private:
  template <class T>
  T Read(std::string_view key, std::optional<T> (*parse)(std::string_view)) const {
    const std::optional<std::string_view> value = Value(key);
    if (!value)
      Fail();
    const auto number = parse(*value);
    if (!number)
      Fail();
    return *number;
  }
  template <class T>
  T Read(std::string_view key, std::optional<T> (*parse)(std::string_view), T fallback) const {
    const std::optional<std::string_view> value = Value(key);
    if (!value)
      return fallback;
    const auto number = parse(*value);
    if (!number)
      Fail();
    return *number;
  }

  void NamePhenologyKeyIfMissing(std::string_view key) const {
    if (body_.find(key) == std::string_view::npos) {
      log_.Entry(Concat("FATAL: parameter \"", key, "\" not found for land use ", code_,
                        DiagnosticsLog::EndToken));
      Fail();
    }
  }

  std::vector<double> ParseList(std::string_view value, int n) const {
    const std::vector<std::string> tokens = Tokens(value, kListDelimiters);
    if (tokens.size() < static_cast<std::size_t>(n))
      Fail();
    std::vector<double> list(static_cast<std::size_t>(n) + 1, 0.0);
    for (std::size_t i = 1; i <= static_cast<std::size_t>(n); ++i) {
      const std::optional<double> number = WholeNumber(tokens[i - 1]);
      if (!number)
        Fail();
      list[i] = *number;
    }
    list[0] = list.back();
    return list;
  }

  DiagnosticsLog &log_;
  int code_;
  std::string_view body_;
};

void ReadSwitches(const BlockBody &block, LanduseParameters &p) {
  const std::optional<std::string_view> value = block.Value("useInternalParameters");
  if (!value)
    return;
  const auto first = value->find_first_of("01");
  if (first == std::string_view::npos)
    block.Fail();
  p.useInternalParameters = std::string(value->substr(first));
  p.InternalParameterMask = 0;
  for (std::size_t k = 0; k < 8 && k < p.useInternalParameters.size(); ++k)
    if (p.useInternalParameters[k] == '1')
      p.InternalParameterMask |= 128 >> k;
}

void ReadJulDays(const BlockBody &block, LanduseParameters &p) {
  std::optional<std::vector<int>> days = block.DayList("JulDays");
  if (!days || days->size() < 2)
    block.Fail();
  p.FixPointCount = static_cast<int>(days->size()) - 1;
  p.JulDays = std::move(*days);
  if (p.Method != landuse::DynamicPhenology3)
    return;
  if (p.JulDays[1] != 1) {
    block.Log().Entry(Concat("FATAL: Error in Landuse Table (Code: ", p.Code,
                             "): for Method DynamicPhenology_3 the first sample day (JulDay) must "
                             "be 1 and not ",
                             p.JulDays[1], DiagnosticsLog::EndToken));
    block.Fail();
  }
  if (p.JulDays.back() != 366) {
    block.Log().Entry(Concat("FATAL: Error in Landuse Table (Code: ", p.Code,
                             "): for Method DynamicPhenology_3 the last sample day (JulDay) must "
                             "be 366 and not ",
                             p.JulDays.back(), DiagnosticsLog::EndToken));
    block.Fail();
  }
}

void ReadPhenologyKeys(const BlockBody &block, LanduseParameters &p) {
  const int method = p.Method;
  const bool startModel = method == landuse::DynamicPhenology1 ||
                          method == landuse::DynamicPhenology2 ||
                          method == landuse::DynamicPhenology4;
  if (startModel) {
    p.TStartIndex = -1;
    p.FStar = block.PhenologyNumber("F*");
  }
  if (method < landuse::DynamicPhenology1)
    return;
  p.DP1_t1_dorm = block.PhenologyInteger("DP1_t1_dorm");
  p.DP1_T_Bf = block.PhenologyNumber("DP1_T_Bf");
  p.JDReset_TStart = block.PhenologyInteger("JDReset_TStart");
  p.maxStartJDforDP1 = block.PhenologyInteger("maxStartJDforDP1");
  if (startModel)
    for (int i = 1; i < p.FixPointCount; ++i)
      if (p.JulDays[static_cast<std::size_t>(i)] < 0) {
        p.TStartIndex = i;
        break;
      }
  if (method == landuse::DynamicPhenology2) {
    p.DP2_t0_dorm = block.PhenologyInteger("DP2_t0_dorm");
    p.DP2_t1_dorm = block.PhenologyInteger("DP2_t1_dorm");
    p.DP2_T_Bf = block.PhenologyNumber("DP2_T_Bf");
    p.DP2_T_Bc = block.PhenologyNumber("DP2_T_Bc");
    p.DP2_Par_a = block.PhenologyNumber("DP2_Par_a");
    p.DP2_Par_b = block.PhenologyNumber("DP2_Par_b");
    const std::pair<std::string_view, double *> offsets[] = {{"DP2_Offset_1", &p.DP2_Offset_1},
                                                             {"DP2_Offset_2", &p.DP2_Offset_2}};
    const double defaults[] = {-3.4, 12.0};
    for (std::size_t k = 0; k < 2; ++k) {
      if (!block.Value(offsets[k].first)) {
        block.Log().Entry(Concat("INFO: parameter \"", offsets[k].first,
                                 "\" not found for land use ", p.Code, "; Using default of ",
                                 defaults[k], DiagnosticsLog::EndToken));
        *offsets[k].second = defaults[k];
      } else {
        *offsets[k].second = block.Number(offsets[k].first);
      }
    }
  }
  if (method == landuse::DynamicPhenology4) {
    p.DP4_t0_dorm = block.PhenologyInteger("DP4_t0_dorm");
    p.DP4_t1_dorm = block.PhenologyInteger("DP4_t1_dorm");
    p.DP4_T0 = block.PhenologyNumber("DP4_T0");
    p.DP4_T1 = block.PhenologyNumber("DP4_T1");
    p.DP4_Par_a = block.PhenologyNumber("DP4_Par_a");
    p.DP4_Par_b = block.PhenologyNumber("DP4_Par_b");
    p.DP4_T_xylstop = block.PhenologyNumber("DP4_T_xylstop");
    p.DP4_t_xs1 = block.PhenologyInteger("DP4_t_xs1");
    p.DP4_SPSLF = block.PhenologyInteger("DP4_SPSLF");
  }
}

void ReadSoilTillage(const BlockBody &block, LanduseParameters &p) {
  std::optional<std::vector<int>> days = block.DayList("SoilTillage");
  if (!days || days->size() < 2) {
    p.SoilTillageCount = 0;
    p.SoilTillage = {-9999};
    return;
  }
  p.SoilTillageCount = static_cast<int>(days->size()) - 1;
  p.SoilTillage = std::move(*days);
}

void ReadCultivation(const BlockBody &block, LanduseParameters &p) {
  const std::optional<std::string_view> value = block.Value("SR_cultivation");
  if (!value) {
    p.SR_cultivation = 3;
    return;
  }
  // "nonconserving" is looked for before the "conserving" inside it.
  if (value->find("other") != std::string_view::npos)
    p.SR_cultivation = 3;
  else if (value->find("nonconserving") != std::string_view::npos)
    p.SR_cultivation = 2;
  else if (value->find("conserving") != std::string_view::npos)
    p.SR_cultivation = 1;
  else {
    block.Log().Entry(Concat("FATAL: no valid value for parameter \"SR_cultivation\" for land use ",
                             p.Code, DiagnosticsLog::EndToken));
    block.Fail();
  }
}

std::array<double, 4> RoughCoefficients(const BlockBody &block, std::string_view key) {
  const std::optional<std::string_view> value = block.Value(key);
  if (!value)
    return kDefaultRoughCoefficients;
  const std::vector<double> three = block.List(key, 3);
  return {three[0], three[1], three[2], three[3]};
}

// Surface-routing values of an entry that does not give them.
void SurfaceRoutingDefaults(LanduseParameters &p) {
  const auto size = static_cast<std::size_t>(p.FixPointCount) + 1;
  p.SR_cultivation = 3;
  p.SR_CropDistX = 0.3;
  p.SR_CropDistY = 0.3;
  p.SR_K_ST = 10.0;
  p.SR_C_WR = 1.5;
  p.SR_rough_coeff1 = kDefaultRoughCoefficients;
  p.SR_rough_coeff2 = kDefaultRoughCoefficients;
  p.SR_StemDiameter.assign(size, 0.01);
  p.SR_ResidCovrg.assign(size, 0.01);
}

// Reads the code and name at the start of an entry.
struct CodeAndName {
  std::optional<int> Code;
  std::optional<std::string> Name;
};

CodeAndName ReadCodeAndName(std::string_view text) {
  const std::vector<std::string> words =
      Tokens(text.substr(0, 2 * landuse::MaxNameLength + 64), kLineDelimiters);
  CodeAndName result;
  if (!words.empty())
    result.Code = WholeInteger(words[0]);
  if (words.size() > 1)
    result.Name = words[1].substr(0, words[1].find('{'));
  if (result.Name && result.Name->empty())
    result.Name.reset();
  return result;
}

void CheckName(DiagnosticsLog &log, int code, const std::string &name, std::string_view text) {
  if (name.size() <= landuse::MaxNameLength)
    return;
  log.Entry(Concat("FATAL: landuse table code ", code, ": name longer than ",
                   landuse::MaxNameLength, " characters", DiagnosticsLog::EndToken));
  ValuesNotRead(log, code, text);
}

// The next line with its line break, whole however long it is; nothing at
// the end of the file.
std::optional<std::string> ReadLine(DiagnosticsLog &log, std::FILE *file) {
  WholeLine line = ReadWholeLine(file, landuse::MaxEntryLength);
  if (line.tooLong)
    ThrowFatal(log, TableExitCode,
               Concat("landuse table: a line longer than ", landuse::MaxEntryLength,
                      " characters: ", line.text.substr(0, 80), "..."));
  if (line.atEnd)
    return std::nullopt;
  return std::move(line.text);
}

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(kLineDelimiters) == std::string_view::npos;
}

std::string_view WithoutLineBreak(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
    line.remove_suffix(1);
  return line;
}

} // namespace

std::string_view LanduseBlockMethod(std::string_view firstLine) {
  for (const auto &[name, method] : kMethods) {
    if (firstLine.find(name) == std::string_view::npos)
      continue;
    if (firstLine.find("method") == std::string_view::npos ||
        firstLine.find('{') == std::string_view::npos)
      return {};
    return name;
  }
  return {};
}

landuse_class ParseLanduseBlock(DiagnosticsLog &log, std::string_view text, int index,
                                std::string_view methodName) {
  LanduseParameters p;
  p.Code = index;
  p.DynamicStartDay = -1;
  for (const auto &[name, method] : kMethods)
    if (name == methodName)
      p.Method = method;

  const auto brace = text.find('{');
  const CodeAndName head = ReadCodeAndName(text);
  if (head.Code)
    p.Code = *head.Code;
  if (brace == std::string_view::npos || !head.Code || !head.Name || p.Method == landuse::Unset)
    ValuesNotRead(log, p.Code, brace == std::string_view::npos ? text : text.substr(brace));
  const std::string_view body = text.substr(brace);
  CheckName(log, p.Code, *head.Name, body);
  p.Name = *head.Name;

  const BlockBody block(log, p.Code, body);
  p.RootDist = block.Number("RootDist");
  p.TReduWet = block.Number("TReduWet");
  ReadSwitches(block, p);
  p.LimitReduWet = block.Number("LimitReduWet", 0.0);
  p.HReduDry = block.Number("HReduDry");
  p.StartVegetationPeriodForBalance = block.Integer("StartVegetationPeriodForBalance", 0);
  p.StopVegetationPeriodForBalance = block.Integer("StopVegetationPeriodForBalance", 0);
  p.JDVegetationResetForBalance = block.Integer("JDVegetationResetForBalance", -1);
  p.JDVegetationWriteForBalance = block.Integer("JDVegetationWriteForBalance", -1);
  p.IntercepCap = block.Number("IntercepCap", -1.0);
  p.StressFactorDynPhen = block.Number("StressFactorDynPhen", 0.0);
  ReadJulDays(block, p);
  ReadPhenologyKeys(block, p);

  const int n = p.FixPointCount;
  if (p.Method == landuse::DynamicPhenology3)
    p.ForcingThreshold = block.List("ForcingThreshold", n);
  p.Albedo = block.List("Albedo", n);
  p.rsc = block.List("rsc", n);
  p.LAI = block.List("LAI", n);
  p.Z0 = block.List("Z0", n);
  p.VCF = block.List("VCF", n);
  p.RootDepth = block.List("RootDepth", n);
  p.AltDep = block.List("AltDep", n);
  p.rs_interception = block.List("rs_interception", n, 20.0);
  p.rs_evaporation = block.List("rs_evaporation", n, 200.0);
  ReadSoilTillage(block, p);
  ReadCultivation(block, p);
  p.SR_CropDistX = block.Number("SR_CropDistX", 0.3);
  p.SR_CropDistY = block.Number("SR_CropDistY", 0.3);
  p.SR_K_ST = block.Number("SR_K_ST", 10.0);
  p.SR_C_WR = block.Number("SR_C_WR", 1.5);
  p.SR_rough_coeff1 = RoughCoefficients(block, "SR_rough_coeff1");
  p.SR_rough_coeff2 = RoughCoefficients(block, "SR_rough_coeff2");
  p.SR_StemDiameter = block.List("SR_StemDiameter", n, 0.01);
  p.SR_ResidCovrg = block.List("SR_ResidCovrg", n, 0.01);
  p.NFactor = block.List("n-factor", n, -1.0);
  p.nf_freezing = block.Number("nf_freezing", -1.0);
  p.nf_thawing = block.Number("nf_thawing", -1.0);
  return landuse_class(log, std::move(p));
}

landuse_class ParseLanduseOldFormat(DiagnosticsLog &log, std::string_view line, int index,
                                    int soilModelVariant) {
  const std::string_view shown = WithoutLineBreak(line);
  const std::vector<std::string> words = Tokens(line, kLineDelimiters);
  LanduseParameters p;
  p.Code = index;
  std::size_t next = 0;
  // Every value of the line must be there and readable.
  const auto number = [&]() {
    const std::optional<double> value =
        next < words.size() ? WholeNumber(words[next]) : std::nullopt;
    if (!value)
      ValuesNotRead(log, p.Code, shown);
    ++next;
    return *value;
  };
  const auto integer = [&]() {
    const std::optional<int> value = next < words.size() ? WholeInteger(words[next]) : std::nullopt;
    if (!value)
      ValuesNotRead(log, p.Code, shown);
    ++next;
    return *value;
  };

  p.Code = integer();
  if (next >= words.size())
    ValuesNotRead(log, p.Code, shown);
  CheckName(log, p.Code, words[next], shown);
  p.Name = words[next++];
  const double albedo = number();

  constexpr int n = 4;
  p.Method = landuse::OldFormat;
  p.FixPointCount = n;
  p.Albedo.assign(n + 1, albedo);
  p.rsc.assign(landuse::MonthlyListSize, 0.0);
  for (std::size_t month = 1; month <= 12; ++month)
    p.rsc[month] = number();
  p.rsc[0] = p.rsc[12];
  p.rsc[13] = p.rsc[1];
  p.JulDays.assign(n + 1, 0);
  for (std::size_t i = 1; i <= n; ++i)
    p.JulDays[i] = integer();
  p.JulDays[0] = p.JulDays[n] - 366;
  for (auto *list : {&p.LAI, &p.Z0, &p.VCF, &p.RootDepth}) {
    list->assign(n + 1, 0.0);
    for (std::size_t i = 1; i <= n; ++i)
      (*list)[i] = number();
    (*list)[0] = (*list)[n];
  }
  if (soilModelVariant == 2) {
    p.RootDist = number();
    p.HReduDry = number();
  }
  p.TReduWet = 0.95;
  p.LimitReduWet = 0.0;
  p.AltDep = {-0.025, 0.025, 0.025, -0.025, -0.025};

  // The line carries canopy resistances only: soil evaporation follows them,
  // interception and everything the format lacks take the block defaults.
  p.rs_evaporation = p.rsc;
  p.rs_interception.assign(landuse::MonthlyListSize, 20.0);
  p.NFactor.assign(n + 1, -1.0);
  p.nf_freezing = -1.0;
  p.nf_thawing = -1.0;
  p.SoilTillageCount = 0;
  p.SoilTillage = {-9999};
  SurfaceRoutingDefaults(p);
  return landuse_class(log, std::move(p));
}

OneBasedArray<landuse_class> ReadLanduseTable(ControlFileReader &reader, DiagnosticsLog &log,
                                              int soilModelVariant) {
  reader.FindControlKey("[landuse_table]", true);
  const int count = reader.ReadInt("number of land use entries in ");
  std::FILE *file = reader.Handle();

  std::vector<landuse_class> entries;
  for (int index = 1; index <= count; ++index) {
    std::optional<std::string> line;
    do
      line = ReadLine(log, file);
    while (line && IsBlank(*line));
    if (!line)
      ValuesNotRead(log, index,
                    Concat("(end of file: the section holds fewer than ", count, " entries)"));
    const std::string_view method = LanduseBlockMethod(*line);
    if (method.empty()) {
      entries.push_back(ParseLanduseOldFormat(log, *line, index, soilModelVariant));
      continue;
    }
    std::string text = std::move(*line);
    while (text.find('}') == std::string::npos) {
      const std::optional<std::string> more = ReadLine(log, file);
      if (!more) {
        const CodeAndName head = ReadCodeAndName(text);
        ValuesNotRead(
            log, head.Code.value_or(index),
            Concat(std::string_view(text).substr(text.find('{')), "(end of file before \"}\")"));
      }
      text += *more;
      if (text.size() > landuse::MaxEntryLength)
        ThrowFatal(log, TableExitCode,
                   Concat("landuse table: entry ", index, " longer than ", landuse::MaxEntryLength,
                          " characters"));
    }
    entries.push_back(ParseLanduseBlock(log, text, index, method));
  }

  // The header's balance days are the first positive ones of the table.
  int resetDay = 1;
  int writeDay = 365;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (it->GetJDVegetationResetForBalance() >= 1)
      resetDay = it->GetJDVegetationResetForBalance();
    if (it->GetJDVegetationWriteForBalance() >= 1)
      writeDay = it->GetJDVegetationWriteForBalance();
  }
  OneBasedArray<landuse_class> table(entries.size());
  table[0].SetCode(static_cast<int>(entries.size()));
  table[0].SetBalanceDays(resetDay, writeDay);
  for (std::size_t i = 0; i < entries.size(); ++i)
    table[i + 1] = std::move(entries[i]);
  return table;
}

} // namespace tavro
