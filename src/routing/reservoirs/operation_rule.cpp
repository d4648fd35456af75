// Operation rules: section text, season, table value and window.
#include "routing/reservoirs/operation_rule.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace tavro {
namespace {

constexpr std::string_view kNumberCharacters = "0123456789.eE+-";
constexpr int kDaysPerMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// The numbers of a line of numbers; false when it holds anything else.
bool NumbersOf(std::string_view text, std::vector<double> &numbers) {
  numbers.clear();
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    const std::size_t end = text.find_first_not_of(kNumberCharacters, i);
    const std::size_t stop = end == std::string_view::npos ? text.size() : end;
    if (stop == i)
      return false;
    const std::string piece(text.substr(i, stop - i));
    char *parsed = nullptr;
    const double v = std::strtod(piece.c_str(), &parsed);
    if (parsed != piece.c_str() + piece.size())
      return false;
    numbers.push_back(v);
    i = stop;
  }
  return true;
}

bool EndsSection(const std::string &line) {
  return line.find('[') != std::string::npos || line.empty() || line == "\r";
}

template <class T>
bool ReadKeyLine(const std::string &line, int columns, OneBasedArray<T> &target) {
  const std::size_t eq = line.find('=');
  std::vector<double> numbers;
  if (eq == std::string::npos || !NumbersOf(std::string_view(line).substr(eq + 1), numbers) ||
      static_cast<int>(numbers.size()) < columns)
    return false;
  for (int c = 1; c <= columns; ++c)
    target[static_cast<std::size_t>(c)] = static_cast<T>(numbers[static_cast<std::size_t>(c - 1)]);
  return true;
}

// The value of column c at row j: the column's own or blended with c - 1.
double RowValue(const OperationRule &rule, const RuleSeason &s, int j) {
  if (!s.blended)
    return rule.Value(s.column, j);
  return s.weight * rule.Value(s.column, j) + (1.0 - s.weight) * rule.Value(s.column - 1, j);
}

double RowSlope(const OperationRule &rule, const RuleSeason &s, int j) {
  if (!s.blended)
    return rule.Slope(s.column, j);
  return s.weight * rule.Slope(s.column, j) + (1.0 - s.weight) * rule.Slope(s.column - 1, j);
}

// The value of one column for a volume within the table.
double ColumnValueWithin(const OperationRule &rule, int c, double x) {
  for (int j = rule.rowCount - 1; j >= 1; --j)
    if (rule.key[static_cast<std::size_t>(j)] < x)
      return rule.Value(c, j) + rule.Slope(c, j) * (x - rule.key[static_cast<std::size_t>(j)]);
  return 0.0;
}

double ColumnValueAbove(const OperationRule &rule, int c, double x) {
  const int r = rule.rowCount;
  const double slope = r >= 2 ? rule.Slope(c, r - 1) : 0.0;
  return rule.Value(c, r) + slope * (x - rule.key[static_cast<std::size_t>(r)]);
}

} // namespace

RuleParseResult ParseOperationRule(const std::vector<std::string> &lines) {
  RuleParseResult result;
  OperationRule &rule = result.rule;
  std::vector<double> numbers;
  if (lines.empty() || !NumbersOf(lines[0], numbers) || numbers.empty()) {
    result.fault = "the first line must hold the row count and the days of the columns";
    return result;
  }
  const double rows = numbers[0];
  if (!(rows >= 1.0) || rows != static_cast<double>(static_cast<int>(rows)) ||
      rows > static_cast<double>(lines.size()) - 1.0) {
    result.fault = "the row count must be a whole number of at least 1 within the section";
    return result;
  }
  rule.rowCount = static_cast<int>(rows);
  const int t = static_cast<int>(numbers.size());
  rule.columnCount = t > 1 ? t - 1 : t;
  const auto columns = static_cast<std::size_t>(rule.columnCount);
  rule.columnDay.Resize(columns, 1);
  if (rule.columnCount > 1)
    for (std::size_t c = 1; c <= columns; ++c)
      rule.columnDay[c] = static_cast<int>(numbers[c]);
  for (std::size_t c = 2; c <= columns; ++c)
    if (rule.columnDay[c] <= rule.columnDay[c - 1]) {
      result.fault = "the days of the columns must ascend";
      return result;
    }

  const auto r = static_cast<std::size_t>(rule.rowCount);
  rule.key.Resize(r, 0.0);
  rule.value.Resize(columns);
  rule.slope.Resize(columns);
  for (std::size_t c = 1; c <= columns; ++c) {
    rule.value[c].Resize(r, 0.0);
    rule.slope[c].Resize(r, 0.0);
  }
  for (std::size_t j = 1; j <= r; ++j) {
    if (j >= lines.size() || !NumbersOf(lines[j], numbers) || numbers.size() < columns + 1) {
      result.fault = "row " + std::to_string(j) + " must hold the key and one value per column";
      return result;
    }
    rule.key[j] = numbers[0];
    if (j > 1 && !(rule.key[j] > rule.key[j - 1])) {
      result.fault = "the keys must ascend (row " + std::to_string(j) + ")";
      return result;
    }
    for (std::size_t c = 1; c <= columns; ++c)
      rule.value[c][j] = numbers[c];
  }

  rule.TargetCap.Resize(columns, -1.0);
  rule.WeekDays.Resize(columns, -1);
  rule.start_hour.Resize(columns, -1);
  rule.stop_hour.Resize(columns, -1);
  for (std::size_t i = r + 1; i < lines.size() && !EndsSection(lines[i]); ++i) {
    const std::string &line = lines[i];
    bool ok = true;
    if (line.find("TargetCap") != std::string::npos)
      ok = ReadKeyLine(line, rule.columnCount, rule.TargetCap);
    else if (line.find("WeekDays") != std::string::npos)
      ok = ReadKeyLine(line, rule.columnCount, rule.WeekDays);
    else if (line.find("start_hour") != std::string::npos)
      ok = ReadKeyLine(line, rule.columnCount, rule.start_hour);
    else if (line.find("stop_hour") != std::string::npos)
      ok = ReadKeyLine(line, rule.columnCount, rule.stop_hour);
    else if (const std::size_t eq = line.find("TableIndex"); eq != std::string::npos) {
      const std::size_t after = line.find('=', eq);
      rule.flowIndexed =
          after != std::string::npos && line.find("Flow", after) != std::string::npos;
    }
    if (!ok) {
      result.fault = "the line \"" + line + "\" must hold \"=\" and one number per column";
      return result;
    }
  }

  for (std::size_t c = 1; c <= columns; ++c)
    for (std::size_t j = 1; j < r; ++j) {
      const double dk = rule.key[j + 1] - rule.key[j];
      const double dv = rule.value[c][j + 1] - rule.value[c][j];
      if (!rule.flowIndexed)
        rule.slope[c][j] = dk != 0.0 ? dv / dk : 0.0;
      else
        rule.slope[c][j] = dv != 0.0 ? dk / dv : 0.0;
    }
  return result;
}

std::optional<std::vector<std::string>> ReadRuleSection(std::FILE *file,
                                                        const std::string &header) {
  std::rewind(file);
  std::string line;
  auto readLine = [&](bool &terminated) {
    line.clear();
    terminated = false;
    int ch = 0;
    while ((ch = std::fgetc(file)) != EOF) {
      if (ch == '\n') {
        terminated = true;
        return true;
      }
      line.push_back(static_cast<char>(ch));
    }
    return !line.empty();
  };
  bool terminated = false;
  bool found = false;
  while (readLine(terminated)) {
    const std::size_t begin = line.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
      continue;
    const std::size_t end = line.find_first_of(" \t\r", begin);
    if (line.compare(begin, end == std::string::npos ? std::string::npos : end - begin, header) ==
            0 &&
        (end == std::string::npos ? line.size() - begin : end - begin) == header.size()) {
      found = terminated;
      break;
    }
  }
  if (!found)
    return std::nullopt;
  std::vector<std::string> lines;
  while (readLine(terminated)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (!lines.empty() && EndsSection(line))
      break;
    lines.push_back(line);
  }
  return lines;
}

int RuleDayOfYear(int month, int day) {
  int d = day;
  for (int m = 1; m < month && m <= 12; ++m)
    d += kDaysPerMonth[m - 1];
  return d;
}

int RuleWeekday(int year, int month, int day, int hour) {
  // Days since 1970-01-01 of the civil date (proleptic Gregorian calendar).
  const long y = year - (month <= 2 ? 1 : 0);
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long mp = (month + 9) % 12;
  const long doy = (153 * mp + 2) / 5 + day - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  long days = era * 146097 + doe - 719468;
  // The hour reduced by 1, normalised as the calendar conversion does.
  long h = hour - 1;
  days += h >= 0 ? h / 24 : -((-h + 23) / 24);
  // 1970-01-01 was a Thursday (4).
  return static_cast<int>(((days % 7) + 7 + 3) % 7) + 1;
}

RuleSeason SelectSeason(const OperationRule &rule, int dayOfYear) {
  RuleSeason season;
  const int columns = rule.columnCount;
  if (columns > 1 && dayOfYear > rule.columnDay[1]) {
    int c = columns;
    for (int k = 2; k <= columns; ++k)
      if (dayOfYear <= rule.columnDay[static_cast<std::size_t>(k)]) {
        c = k;
        break;
      }
    const double previous = rule.columnDay[static_cast<std::size_t>(c - 1)];
    season.column = c;
    season.weight =
        (dayOfYear - previous) / (rule.columnDay[static_cast<std::size_t>(c)] - previous);
    season.blended = true;
  }
  return season;
}

double RuleValue(const OperationRule &rule, const RuleSeason &season, double x, RuleOwner owner) {
  const int r = rule.rowCount;
  const int c = season.column;
  if (!rule.flowIndexed) {
    const bool above = x > rule.key[static_cast<std::size_t>(r)];
    if (above && owner == RuleOwner::Abstraction)
      return rule.Value(c, r);
    auto column = [&](int k) {
      return above ? ColumnValueAbove(rule, k, x) : ColumnValueWithin(rule, k, x);
    };
    if (!season.blended)
      return column(c);
    return season.weight * column(c) + (1.0 - season.weight) * column(c - 1);
  }
  for (int j = r - 1; j >= 1; --j) {
    const double v = RowValue(rule, season, j);
    if (v < x)
      return rule.key[static_cast<std::size_t>(j)] + RowSlope(rule, season, j) * (x - v);
  }
  return 0.0;
}

bool RuleWindowOpen(const OperationRule &rule, int column, int weekday, int hour, RuleOwner owner) {
  const auto c = static_cast<std::size_t>(column);
  const long days = rule.WeekDays[c];
  if (owner == RuleOwner::Reservoir && days == -1)
    return true;
  const std::string text = std::to_string(days);
  const char digit = static_cast<char>('0' + weekday);
  return text.find(digit) != std::string::npos && rule.start_hour[c] <= hour &&
         hour <= rule.stop_hour[c];
}

} // namespace tavro
