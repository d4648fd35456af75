// Reading of the "[SiltingUpModel]" section.
#include "landsurface/silting_up_section.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/modelobject.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string_view>

namespace tavro {
namespace {

constexpr const char *kBlockKeyword = "SiltingUpExpressions";
constexpr int kControlFileExitCode = 17;

constexpr const char *kZoneHelp =
    "\npossible error by using the same parameters\nfor groups of subbasins:\nat least the first "
    "AND the last subbasin code have\nto be specified with all their parameters like this:\n(if "
    "the smallest code is 1 and the largest code is 8)\n1\t8\n3\t3\n8\t8\n14\t14\n0.4\t0.4\n0.01\t"
    "0.01\n0.1\t0.1\n..\t..\nThen, to all subcatchments with zone-codes ranging from 1 to 7 the "
    "\nparameters of subbasin 1 will be assigned!";
constexpr const char *kZoneErrorHead = "\n-----------------error------------\n";

constexpr const char *kDispositionStatisticsLabel =
    "name of the statistics for silting disposition SDISP ";

constexpr bool IsWhite(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsWhiteText(std::string_view text) {
  for (const char c : text)
    if (!IsWhite(c))
      return false;
  return true;
}

// The integer a line begins with (after white space), as "%d" reads it.
std::optional<int> LeadingInteger(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && IsWhite(line[i]))
    ++i;
  std::size_t digits = i;
  if (digits < line.size() && (line[digits] == '+' || line[digits] == '-'))
    ++digits;
  if (digits >= line.size() || line[digits] < '0' || line[digits] > '9')
    return std::nullopt;
  if (line[i] == '+')
    ++i;
  int value = 0;
  const auto [end, failure] = std::from_chars(line.data() + i, line.data() + line.size(), value);
  // A method number beyond the integers is no method 2 or 3 either.
  return failure == std::errc() ? value : 0;
}

// A word followed by an integer on the same line, as "%s%d" reads a line.
std::optional<SiltingUpSection::FileAndCode> WordAndInteger(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && IsWhite(line[i]))
    ++i;
  const std::size_t start = i;
  while (i < line.size() && !IsWhite(line[i]))
    ++i;
  if (i == start)
    return std::nullopt;
  SiltingUpSection::FileAndCode result;
  result.name.assign(line.substr(start, i - start));
  const std::optional<int> code = LeadingInteger(line.substr(i));
  if (!code)
    return std::nullopt;
  result.code = *code;
  return result;
}

// The lines of the copy, whole; longer than the reader's limit is fatal (17).
class LineSource {
public:
  explicit LineSource(modelobject &module) : module_(module) {}

  // The next line; empty at the end of the file.
  std::string Next() {
    WholeLine line =
        ReadWholeLine(module_.ControlFile().Handle(), ControlFileReader::MaxLineLength);
    if (line.tooLong)
      ThrowFatal(*module_.Log, kControlFileExitCode,
                 Concat("error in control file, a line of [", module_.ModuleName,
                        "] is longer than ", ControlFileReader::MaxLineLength,
                        " characters: ", line.text.substr(0, 80), "..."));
    return std::move(line.text);
  }

private:
  modelobject &module_;
};

class SectionReader {
public:
  explicit SectionReader(modelobject &module)
      : module_(module), reader_(module.ControlFile()), lines_(module) {}

  SiltingUpSection Read() {
    ReadMethodAndFirstStatistics();
    s_.runoffStatistics =
        ReadFileAndCode("name of the statistics for direct runoff from silting up model (QDSU) ");
    ReadGrid(DispositionGrid, "name of the silting-up-disposition-grid, ",
             "Writegrid for silting-up-disposition-grid, ");
    ReadGrid(RainPauseGrid, "name of the RAINPAUSE-grid, ", "Writegrid for RAINPAUSE-grid, ");
    ReadGrid(EnergyGrid, "name of the EKIN-grid, ", "Writegrid for EKIN-grid, ");
    ReadGrid(TillageGrid, "name of the TSBB-grid, ", "Writegrid for TSBB-grid, ");
    ReadGrid(RunoffGrid, "name of the QDSU-grid, ", "Writegrid for QDSU-grid, ");
    ReadZoneCodes();
    ReadMinimumPauses();
    module_.ReadControlValue(s_.readStorage, "read control parameter for storage grids for ");
    if (s_.method == 2)
      ReadParameters();
    else if (s_.method == 3)
      ReadExpressionBlock();
    return std::move(s_);
  }

private:
  SiltingUpSection::FileAndCode ReadFileAndCode(std::string_view label) {
    SiltingUpSection::FileAndCode value;
    module_.ReadControlValues2(value.name, value.code, label);
    return value;
  }

  // Item 3 is optional: a line that begins with an integer holds the method,
  // any other line is already the first statistics.
  void ReadMethodAndFirstStatistics() {
    const std::string line = lines_.Next();
    if (const std::optional<int> method = LeadingInteger(line)) {
      s_.method = *method;
      s_.dispositionStatistics = ReadFileAndCode(kDispositionStatisticsLabel);
      return;
    }
    s_.method = 1;
    const std::optional<SiltingUpSection::FileAndCode> statistics = WordAndInteger(line);
    if (!statistics)
      module_.ControlFileError(kDispositionStatisticsLabel, module_.ModuleName);
    s_.dispositionStatistics = *statistics;
  }

  void ReadGrid(SiltingUpGrid grid, std::string_view nameLabel, std::string_view codeLabel) {
    module_.ReadControlValue(s_.grids[grid].name, nameLabel);
    module_.ReadControlValue(s_.grids[grid].code, codeLabel);
  }

  [[noreturn]] void ZoneError(const std::string &what) const {
    ThrowFatal(*module_.Log, SiltingUpSection::ZoneCodeExitCode,
               Concat(kZoneErrorHead, what, kZoneHelp));
  }

  int ZoneOfCode(int code) const {
    if (module_.ZoneIndex == nullptr || code < 1 || code > module_.MaxZoneCode ||
        static_cast<std::size_t>(code) > module_.ZoneIndex->Count())
      return 0;
    return (*module_.ZoneIndex)[static_cast<std::size_t>(code)];
  }

  int ZoneCode(int zone) const {
    return static_cast<int>((*module_.ZoneTable)[static_cast<std::size_t>(zone)].zonenwert);
  }

  // Codes across lines up to the largest zone code. A zone the list does not
  // name takes the value of the named zone before it; zones before the first
  // named one take its value.
  void ReadZoneCodes() {
    const int zones = module_.ZoneCount;
    s_.givenCode.assign(static_cast<std::size_t>(zones) + 1, 0);
    if (zones < 1)
      return;
    std::vector<int> &given = s_.givenCode;
    const int first = ZoneCode(1);
    int previous = first;
    for (;;) {
      const std::optional<int> code = ScanInt(reader_.Handle());
      if (!code)
        ZoneError(Concat("error reading code[", previous, "] for ", module_.ModuleName));
      const int zone = ZoneOfCode(*code);
      if (*code > module_.MaxZoneCode || zone < 1)
        ZoneError(Concat("error! there is no code ", *code, " (from ", module_.ControlFileName,
                         ") for a subbasin in ", module_.ModuleName));
      const int previousZone = ZoneOfCode(previous);
      given[static_cast<std::size_t>(zone)] = *code;
      const bool firstUnnamed = previous == first && given[1] <= 0;
      if (firstUnnamed && zone > 1) {
        // The list begins after the first zone: the zones up to and
        // including this one take the first value.
        given[1] = first;
        for (int z = 2; z <= zone; ++z)
          given[static_cast<std::size_t>(z)] = -1;
      } else if (zone > previousZone + 1) {
        for (int z = previousZone + 1; z < zone; ++z)
          given[static_cast<std::size_t>(z)] = -1;
      }
      previous = *code;
      if (*code == module_.MaxZoneCode)
        break;
    }
    lines_.Next(); // the rest of the line
  }

  void ReadMinimumPauses() {
    const int zones = module_.ZoneCount;
    s_.minimumPause.assign(static_cast<std::size_t>(std::max(zones, 0)) + 1, 0.0);
    for (int z = 1; z <= zones; ++z) {
      const auto zone = static_cast<std::size_t>(z);
      if (s_.givenCode[zone] > 0) {
        const std::optional<double> pause = ScanDouble(reader_.Handle());
        if (!pause)
          ZoneError(Concat("error reading RainPause[", s_.givenCode[zone], "] for ",
                           module_.ModuleName, " (minimum rainpause)"));
        s_.minimumPause[zone] = *pause;
      } else if (s_.givenCode[zone] == -1) {
        s_.minimumPause[zone] = s_.minimumPause[zone - 1];
      }
    }
    if (zones > 0)
      lines_.Next(); // the rest of the line
  }

  void ReadParameters() {
    siltingup::MethodParameters &p = s_.parameters;
    module_.ReadControlValue(p.A, "parameter A for method 2 (I_0) ");
    module_.ReadControlValue(p.B, "parameter B for method 2 (I_inf) ");
    module_.ReadControlValue(p.C, "parameter C for method 2 (I_inf) ");
    module_.ReadControlValue(p.D, "parameter D for method 2 (I_inf) ");
    module_.ReadControlValue(p.E, "parameter E for method 2 (C_v) ");
    module_.ReadControlValue(p.F, "parameter F for method 2 (C_v) ");
    module_.ReadControlValue(p.G, "parameter G for method 2 (C_v) ");
    module_.ReadControlValue(p.H, "parameter H for method 2 (C_v) ");
  }

  std::string BlockMessage(std::string_view what) const {
    return Concat(what, " in control file \"", module_.ControlFileName, "\"");
  }

  // A line read to its line break; false for the last line without one (or
  // none), where the end of the file has been reached.
  static bool EndsWithLineBreak(const std::string &line) {
    return !line.empty() && line.back() == '\n';
  }

  // Lines after item 18 up to the first block with a formula. Any other line
  // is skipped; the search ends at the end of the file or at an empty line.
  void ReadExpressionBlock() {
    for (;;) {
      std::string line = lines_.Next();
      if (line.rfind(kBlockKeyword, 0) == 0)
        line = ReadBlock(std::move(line));
      if (!s_.expressions.empty())
        return;
      if (!EndsWithLineBreak(line) || line.front() == '\n')
        ThrowFatal(*module_.Log, SiltingUpSection::NoExpressionsExitCode,
                   BlockMessage("no SiltingUpExpressios found (at least X, Y and Z must be "
                                "initialized)"));
    }
  }

  // Collects a block from its keyword line; returns its last line.
  std::string ReadBlock(std::string line) {
    std::string block = line;
    bool atEnd = !EndsWithLineBreak(line);
    // Blank lines may stand between the keyword and "{"; on the keyword's
    // line only the text after the keyword counts.
    bool lastBlank = IsWhiteText(std::string_view(line).substr(std::strlen(kBlockKeyword)));
    while (block.find('{') == std::string::npos && !atEnd && lastBlank) {
      line = lines_.Next();
      atEnd = !EndsWithLineBreak(line);
      lastBlank = IsWhiteText(line);
      block += line;
    }
    if (atEnd || block.find('{') == std::string::npos)
      ThrowFatal(
          *module_.Log, SiltingUpSection::OpeningBracketExitCode,
          BlockMessage("error looking for opening bracket \"{\" after \"SiltingUpExpressions\""));
    const std::size_t open = block.find('{');
    while (block.find('}', open) == std::string::npos && !atEnd) {
      line = lines_.Next();
      atEnd = !EndsWithLineBreak(line);
      block += line;
    }
    if (atEnd)
      ThrowFatal(
          *module_.Log, SiltingUpSection::ClosingBracketExitCode,
          BlockMessage("error looking for closing bracket \"}\" after \"SiltingUpExpressions\""));
    for (std::string &expression : SplitExpressionBlock(block))
      s_.expressions.push_back(std::move(expression));
    return line;
  }

  modelobject &module_;
  ControlFileReader &reader_;
  LineSource lines_;
  SiltingUpSection s_;
};

} // namespace

std::vector<std::string> SplitExpressionBlock(const std::string &block) {
  std::vector<std::string> expressions;
  const std::size_t open = block.find('{');
  if (open == std::string::npos)
    return expressions;
  const std::size_t close = block.find('}', open);
  const std::string_view body = std::string_view(block).substr(
      open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
  std::string piece;
  for (const char c : body) {
    if (c == ';') {
      expressions.push_back(piece);
      piece.clear();
    } else if (!IsWhite(c)) {
      piece += c;
    }
  }
  return expressions;
}

SiltingUpSection ReadSiltingUpSection(modelobject &module) { return SectionReader(module).Read(); }

} // namespace tavro
