// Due moments and file names of the grid output.
#include "raster/output/grid_output_names.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace tavro {
namespace {

// A name split after its last '/': the directory part (with the '/') and the file part.
struct PathParts {
  std::string directory;
  std::string file;
};

PathParts SplitPath(const std::string &name) {
  const std::size_t slash = name.rfind('/');
  if (slash == std::string::npos)
    return {std::string(), name};
  return {name.substr(0, slash + 1), name.substr(slash + 1)};
}

// The file part up to its first '.' (the whole part when it has none), at
// most maxPart characters.
std::string StemOf(const std::string &file, std::size_t maxPart = kWholeNamePart) {
  const std::size_t dot = file.find('.');
  const std::size_t length = dot == std::string::npos ? file.size() : dot;
  return file.substr(0, std::min(length, maxPart));
}

// printf-style formatting into a string of any length.
template <class... Args> std::string Format(const char *format, Args... args) {
  if constexpr (sizeof...(Args) == 0) {
    return format; // a fixed tail
  } else {
    const int length = std::snprintf(nullptr, 0, format, args...);
    if (length <= 0)
      return std::string();
    std::vector<char> text(static_cast<std::size_t>(length) + 1);
    std::snprintf(text.data(), text.size(), format, args...);
    return std::string(text.data(), static_cast<std::size_t>(length));
  }
}

// The stem of the name's file part followed by the formatted tail, with the
// directory part put back in front.
template <class... Args>
std::string StemWith(const std::string &name, const char *tailFormat, Args... args) {
  const PathParts parts = SplitPath(name);
  return parts.directory + StemOf(parts.file) + Format(tailFormat, args...);
}

long YearOfCentury(long year) { return year % 100; }

} // namespace

OutputMoments MomentsOf(const ModelDate &date, double hoursToIntervalEnd,
                        const std::array<int, 14> &daysPerMonth, long endDateCode) {
  OutputMoments moments;
  moments.EndOfDay = date.Hour + static_cast<long>(hoursToIntervalEnd) == 24;
  const bool knownMonth = date.Month >= 1 && date.Month <= 12;
  moments.EndOfMonth = moments.EndOfDay && knownMonth &&
                       date.Day == daysPerMonth[static_cast<std::size_t>(date.Month)];
  moments.EndOfYear = moments.EndOfDay && date.Day == 31 && date.Month == 12;
  moments.EndOfRun = DateCode(date) >= endDateCode;
  return moments;
}

bool GridOutputDue(int outputKind, const OutputMoments &moments) {
  switch (outputKind) {
  case 1:
  case 2:
  case 8:
    return true;
  case 3:
    return moments.EndOfRun;
  case 4:
  case 5:
    return moments.EndOfDay;
  case 6:
    return moments.EndOfMonth;
  case 7:
    return moments.EndOfYear;
  default:
    return false;
  }
}

bool StackOutputDue(int outputKind, const OutputMoments &moments) {
  switch (outputKind) {
  case 1:
  case 2:
    return true;
  case 3:
    return moments.EndOfRun;
  case 4:
  case 5:
    return moments.EndOfDay;
  default:
    return false;
  }
}

bool PeriodComplete(int periodAggregate, const OutputMoments &moments) {
  switch (periodAggregate) {
  case 1:
  case 5:
    return moments.EndOfRun;
  case 2:
  case 6:
    return moments.EndOfYear;
  case 3:
  case 7:
    return moments.EndOfMonth;
  case 4:
  case 8:
    return moments.EndOfDay;
  default:
    return false;
  }
}

std::string DateStampedName(const std::string &name, const ModelDate &date, DateStampState &state,
                            std::size_t maxPart) {
  const PathParts parts = SplitPath(name);
  const std::string stem = StemOf(parts.file, maxPart);
  std::string stamped;
  if (date == state.Date) {
    ++state.Count;
    stamped = Format("%s_%04ld%02ld%02ld.%03ld_%.03ld", stem.c_str(), date.Year, date.Month,
                     date.Day, date.Hour, state.Count);
  } else {
    state.Count = 0;
    stamped = Format("%s_%04ld%02ld%02ld.%03ld", stem.c_str(), date.Year, date.Month, date.Day,
                     date.Hour);
  }
  state.Date = date;
  return parts.directory + stamped;
}

std::string GridOutputName(int outputKind, const std::string &outname, const ModelDate &date,
                           DateStampState &state) {
  if (outputKind == 8)
    return outname + ".filled";
  if (IsDateStampedKind(outputKind))
    return DateStampedName(outname, date, state);
  return outname;
}

std::string StackOutputName(int outputKind, const std::string &fileName, const ModelDate &date,
                            DateStampState &state) {
  if (outputKind == 2 || outputKind == 5)
    return DateStampedName(fileName, date, state, kStackNamePart);
  return fileName;
}

std::string PeriodAggregateName(const std::string &name, int periodAggregate,
                                const ModelDate &date) {
  const bool mean = IsMeanAggregate(periodAggregate);
  const long year = YearOfCentury(date.Year);
  switch (periodAggregate) {
  case 1:
  case 5:
    return StemWith(name, mean ? ".mit" : ".sum");
  case 2:
  case 6:
    return StemWith(name, mean ? "_%02ld00.mit" : "_%02ld00.sum", year);
  case 3:
  case 7:
    return StemWith(name, mean ? "_%02ld%02ld.mit" : "_%02ld%02ld.sum", year, date.Month);
  case 4:
  case 8:
    return StemWith(name, mean ? "_%02ld%02ld.%02ldm" : "_%02ld%02ld.%02lds", year, date.Month,
                    date.Day);
  default:
    return name;
  }
}

std::string MinimumName(const std::string &name) { return StemWith(name, ".min"); }

std::string MaximumName(const std::string &name) { return StemWith(name, ".max"); }

std::string VegetationPeriodName(const std::string &name, long year, bool mean) {
  return StemWith(name, mean ? "_%04ld_vegper.mit" : "_%04ld_vegper.sum", YearOfCentury(year));
}

std::string VegetationLayerSuffix(std::string_view outname) {
  constexpr std::string_view marker = "_Layer_";
  const std::size_t at = outname.find(marker);
  if (at == std::string_view::npos)
    return "1";
  const std::string_view rest = outname.substr(at + marker.size());
  return std::string(rest.substr(0, rest.find('.')));
}

} // namespace tavro
