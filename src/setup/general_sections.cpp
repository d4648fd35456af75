// Readers of the general sections. Positional values go through the
// control-file reader; the few values that are read without a check of the
// read result (and the output-list count, whose line is not skipped) are
// scanned here directly from the reader's stream.
#include "setup/general_sections.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

namespace tavro {
namespace {

constexpr int kOpenErrorCode = 28;
constexpr int kCloseErrorCode = 11;
constexpr int kControlFileErrorCode = 17;
constexpr int kOutputListOrderCode = 97;

constexpr std::string_view kSubstepSection = "[soil_surface_groundwater_substeps]";

bool IsSpace(int c) { return c != EOF && std::isspace(static_cast<unsigned char>(c)) != 0; }

std::optional<int> ParseInt(std::string_view text) {
  if (!text.empty() && text.front() == '+')
    text.remove_prefix(1);
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return value;
}

// The next line with its line break; false at the end of the file.
bool ReadLine(ControlFileReader &reader, std::string &line) {
  line.clear();
  int c = 0;
  while ((c = std::getc(reader.Handle())) != EOF) {
    line += static_cast<char>(c);
    if (c == '\n')
      break;
    if (line.size() > ControlFileReader::MaxLineLength)
      ThrowFatal(reader.Log(), kControlFileErrorCode,
                 Concat("error in control file ", reader.FileName(), ", line longer than ",
                        ControlFileReader::MaxLineLength,
                        " characters in [output_interval]: ", line.substr(0, 80), "..."));
  }
  return !line.empty();
}

void SkipRestOfLine(ControlFileReader &reader) {
  std::string rest;
  ReadLine(reader, rest);
}

// An empty line holds nothing but blanks, tabs and its line break.
bool IsEmptyLine(std::string_view line) {
  return line.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

enum class OutputKey {
  WriteAsciiGrids,
  WriteDoubleGrids,
  InitialStateDirectory,
  DefaultOutputDirectory
};

struct KeyName {
  OutputKey key;
  std::string_view name;
};

// Tested in this order; the first key found in a line wins.
constexpr std::array<KeyName, 4> kOutputKeys{{
    {OutputKey::WriteAsciiGrids, "WriteAsciiGrids"},
    {OutputKey::WriteDoubleGrids, "WriteDoubleGrids"},
    {OutputKey::InitialStateDirectory, "InitialStateDirectory"},
    {OutputKey::DefaultOutputDirectory, "DefaultOutputDirectory"},
}};

[[noreturn]] void KeyValueError(ControlFileReader &reader, std::string_view key) {
  reader.ControlFileError(Concat("value of ", key, " in [output_interval]"), reader.ModuleName());
}

int ReadSwitchValue(ControlFileReader &reader, std::string_view key, std::string_view text) {
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos)
    KeyValueError(reader, key);
  text.remove_prefix(start);
  const std::size_t end = text.find_first_of(" \t\r\n");
  const std::optional<int> value = ParseInt(text.substr(0, end));
  if (!value)
    KeyValueError(reader, key);
  return *value != 0 ? 1 : 0;
}

std::string ReadDirectoryValue(ControlFileReader &reader, std::string_view key,
                               std::string_view text) {
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos || IsSpace(static_cast<unsigned char>(text[start])))
    KeyValueError(reader, key);
  text.remove_prefix(start);
  return std::string(text.substr(0, text.find_first_of(" \t\r\n\v\f")));
}

// The lines after the fourth value up to the first empty line: switches and
// directories given as "key = value".
void ReadOutputKeys(ControlFileReader &reader, GeneralSettings &settings) {
  std::string line;
  while (ReadLine(reader, line) && !IsEmptyLine(line)) {
    const auto found = std::find_if(kOutputKeys.begin(), kOutputKeys.end(), [&](const KeyName &k) {
      return line.find(k.name) != std::string::npos;
    });
    if (found == kOutputKeys.end())
      continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos)
      ThrowFatal(reader.Log(), kControlFileErrorCode,
                 Concat("error in control file, [output_interval]: ", found->name,
                        " needs \"=\" and a value: ", line));
    const std::string_view value = std::string_view(line).substr(equals + 1);
    switch (found->key) {
    case OutputKey::WriteAsciiGrids:
      settings.WriteAsciiGrids = ReadSwitchValue(reader, found->name, value);
      break;
    case OutputKey::WriteDoubleGrids:
      settings.WriteDoubleGrids = ReadSwitchValue(reader, found->name, value);
      break;
    case OutputKey::InitialStateDirectory:
      settings.InitialStateDirectory = ReadDirectoryValue(reader, found->name, value);
      break;
    case OutputKey::DefaultOutputDirectory:
      settings.DefaultOutputDirectory = ReadDirectoryValue(reader, found->name, value);
      break;
    }
  }
}

void CloseChecked(ControlFileReader &reader) {
  // A read error on the stream counts as a failed close as well.
  const bool streamFailed = std::ferror(reader.Handle()) != 0;
  const std::string name = reader.FileName();
  if (!reader.Close() || streamFailed)
    ThrowFatal(reader.Log(), kCloseErrorCode, Concat("error closing ", name));
}

void OpenChecked(ControlFileReader &reader, const std::string &controlFileName) {
  if (!reader.Open(controlFileName))
    ThrowFatal(reader.Log(), kOpenErrorCode, Concat("Error opening ", controlFileName));
}

} // namespace

void ReadOutputInterval(ControlFileReader &reader, GeneralSettings &settings) {
  reader.FindControlKey("[output_interval]", true);
  const int divisor = reader.ReadInt("output control");
  if (divisor < 1)
    ThrowFatal(reader.Log(), kControlFileErrorCode,
               Concat("error in control file, output control; the hour divisor in "
                      "[output_interval] must be at least 1, found ",
                      divisor));
  settings.HourDivisor = divisor;

  // The next three values fall back to 0 when they cannot be read.
  std::FILE *file = reader.Handle();
  const int warnings = ScanInt(file).value_or(0);
  SkipRestOfLine(reader);
  const int further = ScanInt(file).value_or(0);
  SkipRestOfLine(reader);
  const double minutes = ScanDouble(file).value_or(0.0);
  SkipRestOfLine(reader);
  settings.InterpolationWarnings = warnings != 0 ? 1 : 0;
  settings.FurtherSwitch = further == 1 ? 1 : 0;
  settings.MinToIntEnd = minutes < 0.0 ? 0.0 : minutes;

  ReadOutputKeys(reader, settings);
}

void ReadOutputList(ControlFileReader &reader, GeneralSettings &settings) {
  constexpr std::string_view countLabel = "number of subbasins in output list";
  reader.FindControlKey("[output_list]", true);
  // The count's line is not skipped: the first code is the next item after it.
  const std::optional<int> count = ScanInt(reader.Handle());
  if (!count)
    reader.ControlFileError(countLabel, reader.ModuleName());

  // Codes are collected as they are read, so a wrong count meets the end of
  // the file instead of a huge allocation.
  std::vector<int> codes;
  for (int i = 1; i <= *count; ++i)
    codes.push_back(reader.ReadInt("codes in output-list"));

  for (std::size_t i = 1; i < codes.size(); ++i)
    if (codes[i - 1] >= codes[i])
      ThrowFatal(reader.Log(), kOutputListOrderCode,
                 "\nError in control file: order of subbasin codes in output_list!\nif output "
                 "should be written for a specified set of subbasins,\n(specified by a statcode "
                 "of 5 for averaging in time or 6 for summing in time)\nthan the codes has to be "
                 "arranged in ascendend order\n.look in [output_list]\n");

  settings.OutputListCodes = OneBasedArray<int>(codes.size());
  std::copy(codes.begin(), codes.end(), settings.OutputListCodes.begin());
}

void ReadCoordinates(ControlFileReader &reader, GeneralSettings &settings) {
  reader.FindControlKey("[coordinates]", true);
  settings.Latitude = reader.ReadDouble("geographic latitude");
  settings.Longitude = reader.ReadDouble("geographic longitude");
  settings.ReferenceMeridian = reader.ReadDouble("reference meridian");
  settings.TimeShift = reader.ReadDouble("time shift of data time to lokal time");
}

void ReadMeteoDataCount(ControlFileReader &reader, GeneralSettings &settings) {
  reader.FindControlKey("[meteo_data_count]", true);
  const int count = reader.ReadInt("number of meteorological variables");
  if (count < 0)
    ThrowFatal(reader.Log(), kControlFileErrorCode,
               Concat("error in control file, number of meteorological variables in "
                      "[meteo_data_count] must not be negative, found ",
                      count));
  settings.MeteoVariableCount = count;
}

void ReadMeteoNames(ControlFileReader &reader, GeneralSettings &settings) {
  reader.FindControlKey("[meteo_names]", true);
  std::vector<std::string> names;
  for (int i = 1; i <= settings.MeteoVariableCount; ++i) {
    std::string name = reader.ReadWord("name of meteorological variable");
    if (name.size() > kMaxMeteoNameLength)
      ThrowFatal(reader.Log(), kControlFileErrorCode,
                 Concat("error in control file, name of meteorological variable ", i,
                        " in [meteo_names] is longer than ", kMaxMeteoNameLength,
                        " characters: ", name.substr(0, 80), "..."));
    names.push_back(std::move(name));
  }
  settings.MeteoNames = OneBasedArray<std::string>(names.size());
  std::move(names.begin(), names.end(), settings.MeteoNames.begin());
}

void ReadOutputControl(DiagnosticsLog &log, const std::string &controlFileName,
                       GeneralSettings &settings) {
  ControlFileReader reader(log, kSetupModuleName);
  OpenChecked(reader, controlFileName);
  ReadOutputInterval(reader, settings);
  ReadOutputList(reader, settings);
  ReadCoordinates(reader, settings);
  ReadMeteoDataCount(reader, settings);
  ReadMeteoNames(reader, settings);
  CloseChecked(reader);
}

bool IsGregorianLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int month, int year) {
  constexpr std::array<int, 13> days{0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int m = std::clamp(month, 1, 12);
  return m == 2 && IsGregorianLeapYear(year) ? 29 : days[static_cast<std::size_t>(m)];
}

void CorrectModelTime(ModelTime &time) {
  // Two-digit (and other short) years count from 1900.
  if (time.StartYear < 1000)
    time.StartYear += 1900;
  if (time.EndYear < 1000)
    time.EndYear += 1900;
  time.StartMonth = std::clamp(time.StartMonth, 1, 12);
  time.EndMonth = std::clamp(time.EndMonth, 1, 12);
  time.DaysPerMonth[2] = DaysInMonth(2, time.EndYear);
  // Each date is limited by the month lengths of its own year.
  time.EndDay = std::clamp(time.EndDay, 1, DaysInMonth(time.EndMonth, time.EndYear));
  time.StartDay = std::clamp(time.StartDay, 1, DaysInMonth(time.StartMonth, time.StartYear));
}

void ReadModelTime(ControlFileReader &reader, ModelTime &time) {
  reader.FindControlKey("[model_time]", true);
  time.StartHour = reader.ReadInt("starting hour in ");
  time.StartDay = reader.ReadInt("starting day in ");
  time.StartMonth = reader.ReadInt("starting month in ");
  time.StartYear = reader.ReadInt("starting year in ");
  time.EndHour = reader.ReadInt("end hour in ");
  time.EndDay = reader.ReadInt("and day in ");
  time.EndMonth = reader.ReadInt("end month in ");
  time.EndYear = reader.ReadInt("end year in ");
  CorrectModelTime(time);
}

int ReadSubsteps(DiagnosticsLog &log, const std::string &controlFileName,
                 GeneralSettings &settings) {
  ControlFileReader reader(log, kSetupModuleName);
  OpenChecked(reader, controlFileName);
  int count = 1;
  if (reader.FindControlKey(kSubstepSection, false)) {
    count = reader.ReadInt("sub step counter from [soil_surface_groundwater_substeps] not found");
    // No sub-step at all would skip the modules' work, and the count divides
    // the time step.
    if (count < 1)
      ThrowFatal(log, kControlFileErrorCode,
                 Concat("error in control file, sub step counter in ", kSubstepSection,
                        " must be at least 1, found ", count));
  }
  CloseChecked(reader);
  settings.SubstepCount = count;
  return count;
}

void ReadRadiationCorrection(ControlFileReader &reader, int &value) {
  reader.FindControlKey("[radiation_correction]", true);
  if (const std::optional<int> read = ScanInt(reader.Handle()))
    value = *read;
}

} // namespace tavro
