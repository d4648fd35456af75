// Reading of the "[irrigation]" switch and the rows of "[irrigation_table]".
// Row items are read as white-space separated words, across line ends, except
// the schedule rules of method 2, which are the rest of the line of psi_wet.
#include "tables/irrigation_table.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

namespace tavro {
namespace {

using irrigation::ExitCode;

// Longest day of each month in any year: fixed dates may name February 29.
constexpr std::array<int, 13> kLongestMonths = {31, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool IsSpace(int c) { return c != EOF && std::isspace(c) != 0; }

// The next white-space separated word; nullopt at the end of the file or when
// the word is longer than the reader's line limit.
std::optional<std::string> NextItem(std::FILE *file) {
  int c = 0;
  while (IsSpace(c = std::getc(file))) {
  }
  std::string word;
  while (c != EOF && !IsSpace(c)) {
    if (word.size() == ControlFileReader::MaxLineLength)
      return std::nullopt;
    word += static_cast<char>(c);
    c = std::getc(file);
  }
  if (c != EOF)
    std::ungetc(c, file);
  if (word.empty())
    return std::nullopt;
  return word;
}

std::optional<int> NextInt(std::FILE *file) {
  const auto word = NextItem(file);
  if (!word)
    return std::nullopt;
  std::string_view digits = *word;
  if (digits.front() == '+')
    digits.remove_prefix(1);
  int value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size())
    return std::nullopt;
  return value;
}

std::optional<double> NextReal(std::FILE *file) {
  const auto word = NextItem(file);
  if (!word)
    return std::nullopt;
  char *end = nullptr;
  const double value = std::strtod(word->c_str(), &end);
  if (end != word->c_str() + word->size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

// The rest of the current line, line break included; nullopt when it is
// longer than MaxRuleTextLength.
std::optional<std::string> RestOfLine(std::FILE *file) {
  std::string text;
  int c = 0;
  while ((c = std::getc(file)) != EOF) {
    text += static_cast<char>(c);
    if (text.size() > irrigation::MaxRuleTextLength)
      return std::nullopt;
    if (c == '\n')
      break;
  }
  return text;
}

[[noreturn]] void RowError(DiagnosticsLog &log, int row, std::string_view what) {
  ThrowFatal(log, ExitCode, Concat("for irrigation code ", row, what));
}

void ReadHead(std::FILE *file, DiagnosticsLog &log, int row, IrrigationTableEntry &entry) {
  const auto code = NextInt(file);
  const auto name = code ? NextItem(file) : std::nullopt;
  const auto method = name ? NextInt(file) : std::nullopt;
  const auto origin = method ? NextInt(file) : std::nullopt;
  if (!origin)
    RowError(log, row, ": code, name, method, or origin could not be read correctly\n");
  if (name->size() > irrigation::MaxNameLength)
    RowError(log, row,
             Concat(": the name ", *name, " is longer than ", irrigation::MaxNameLength,
                    " characters\n"));
  if (*method < irrigation::FixedDates || *method > irrigation::EvapotranspirationDemand)
    RowError(log, row,
             Concat(": method ", *method,
                    " is unknown (1: fixed dates, 2: schedule rules, 3: demand by suction, 4: "
                    "demand by ETR/ETP)\n"));
  if (*origin != irrigation::Groundwater && *origin != irrigation::SurfaceWater)
    RowError(log, row,
             Concat(": origin ", *origin, " is unknown (1: groundwater, 2: surface water)\n"));
  entry.Code = *code;
  entry.Name = *name;
  entry.Method = *method;
  entry.Origin = *origin;
}

void ReadThresholds(std::FILE *file, DiagnosticsLog &log, int row, IrrigationTableEntry &entry) {
  if (entry.Method == irrigation::EvapotranspirationDemand) {
    const auto ratio = NextReal(file);
    if (!ratio)
      RowError(log, row, ": min(ETR/ETP) could not be read correctly\n");
    entry.min_ETR_ETP = *ratio;
    entry.psi_dry = irrigation::RatioMethodPsiDry;
    entry.psi_wet = irrigation::RatioMethodPsiWet;
    return;
  }
  const auto dry = NextReal(file);
  const auto wet = dry ? NextReal(file) : std::nullopt;
  if (!wet)
    RowError(log, row, ": psi_dry or psi_wet could not be read correctly\n");
  entry.psi_dry = *dry;
  entry.psi_wet = *wet;
}

void StoreEvents(const std::vector<IrrigationEvent> &events, IrrigationTableEntry &entry) {
  const std::size_t count = events.size();
  entry.tabcnt = static_cast<int>(count);
  entry.months = OneBasedArray<std::int64_t>(count);
  entry.days = OneBasedArray<std::int64_t>(count);
  entry.amounts = OneBasedArray<double>(count);
  for (std::size_t k = 1; k <= count; ++k) {
    entry.months[k] = events[k - 1].Month;
    entry.days[k] = events[k - 1].Day;
    entry.amounts[k] = events[k - 1].Amount;
  }
}

void ReadFixedDates(std::FILE *file, DiagnosticsLog &log, int row, IrrigationTableEntry &entry) {
  const auto count = NextInt(file);
  if (!count)
    RowError(log, row, ": tabcnt could not be read correctly\n");
  if (*count < 0)
    RowError(log, row, Concat(": tabcnt ", *count, " is negative\n"));
  // Grown as read, so that a wrong count fails at its first missing event
  // instead of reserving memory for it.
  std::vector<IrrigationEvent> events;
  for (int k = 1; k <= *count; ++k) {
    const auto month = NextInt(file);
    const auto day = month ? NextInt(file) : std::nullopt;
    const auto amount = day ? NextReal(file) : std::nullopt;
    if (!amount)
      RowError(log, row,
               Concat(" month[", k, "] or day[", k, "] or amount[", k, "] could not be read\n"));
    if (*month < 1 || *month > 12 || *day < 1 || *day > kLongestMonths[*month])
      RowError(log, row,
               Concat(": month[", k, "] = ", *month, " and day[", k, "] = ", *day,
                      " do not name a day of the year\n"));
    if (*amount < 0.0)
      RowError(log, row, Concat(": amount[", k, "] = ", *amount, " is negative\n"));
    events.push_back({*month, *day, *amount});
  }
  StoreEvents(events, entry);
}

IrrigationTableEntry ReadRow(std::FILE *file, DiagnosticsLog &log, int row,
                             const MonthLengthTable &lengths) {
  IrrigationTableEntry entry;
  ReadHead(file, log, row, entry);
  ReadThresholds(file, log, row, entry);
  if (entry.Method == irrigation::FixedDates) {
    ReadFixedDates(file, log, row, entry);
  } else if (entry.Method == irrigation::ScheduleRules) {
    const auto text = RestOfLine(file);
    if (!text)
      RowError(log, row,
               Concat(": the irrigation rules are longer than ", irrigation::MaxRuleTextLength,
                      " characters\n"));
    ReadIrrigationSchedule(log, row, *text, lengths, entry);
  }
  return entry;
}

} // namespace

std::string IrrigationRuleHelpText() {
  return "there are 4 possible ways to define irrigation rules:\n"
         "two schedule variants:\n"
         "1.: \"starting from MM DD with XX mm to MM DD with YY mm every ZZ day\"\n"
         "2.: \"starting from MM DD with XX mm AA times every ZZ days\"\n"
         " where MM and DD are Month and day, XX is the first irrigation amount \n"
         " per irrigation event in mm/day, ZZ is the time step (e.g. every 4 days..),\n"
         " YY is the last irrigation amount in mm/day (it is linearly interpolated)\n"
         " and AA is a repeat counter (only in the secound format).\n"
         " The model recognises both formats by the different formats by analysing the\n"
         " key-words \"starting from\", \"to\" and \"times\"\n"
         " note: there may be defined multiple irrigation schemes in one row,\n"
         " but they have to be of the same type (1. or 2.) \n"
         " and they have to be seperated by a semicolon (;)\n"
         " 3.: irrigation control by demand (1): suction (psi) for start and end of irrigation "
         "must be provided\n"
         " 4.: irrigation control by demand (2): ratio between ETR and ETP for irrigation start "
         "must be provided\n";
}

void ThrowIrrigationRuleError(DiagnosticsLog &log, int row) {
  ThrowFatal(log, ExitCode,
             Concat("irrigation description for irrigation type ", row, " is wrong ",
                    IrrigationRuleHelpText()));
}

void ReadIrrigationSchedule(DiagnosticsLog &log, int row, std::string_view text,
                            const MonthLengthTable &lengths, IrrigationTableEntry &entry) {
  const ScheduleExpansion expansion = ExpandIrrigationSchedule(text, lengths);
  if (!expansion.Ok()) {
    if (!expansion.Detail.empty())
      log.Entry(Concat("FATAL: ", expansion.Detail, DiagnosticsLog::EndToken));
    ThrowIrrigationRuleError(log, row);
  }
  StoreEvents(expansion.Events, entry);
}

IrrigationTable ParseIrrigationTable(ControlFileReader &reader, DiagnosticsLog &log,
                                     const MonthLengthTable &lengths) {
  reader.FindControlKey("[irrigation_table]", true);
  const int count = reader.ReadInt("number of irrigation table rows");
  IrrigationTable table(0);
  table[0].Code = count;
  for (int row = 1; row <= count; ++row) {
    IrrigationTableEntry entry = ReadRow(reader.Handle(), log, row, lengths);
    table.Resize(static_cast<std::size_t>(row));
    table[static_cast<std::size_t>(row)] = std::move(entry);
  }
  return table;
}

IrrigationSettings ReadIrrigationTable(ControlFileReader &reader, DiagnosticsLog &log,
                                       const MonthLengthTable &lengths, int soilModelVariant) {
  IrrigationSettings settings;
  if (soilModelVariant < 2)
    return settings;
  reader.FindControlKey("[irrigation]", true);
  settings.Switch = reader.ReadInt("irrigation switch");
  if (settings.Switch == 0)
    return settings;
  settings.Table = ParseIrrigationTable(reader, log, lengths);
  return settings;
}

} // namespace tavro
