// Abstraction elements: the element text, the rule section, the time series
// and the table.
#include "routing/abstraction.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "routing/routing_flow_arrays.h"

#include <algorithm>
#include <sstream>

namespace tavro {
namespace {

constexpr unsigned long kSeriesBufferBytes = 1000000;

std::string CutAtParenthesis(const std::string &word) { return word.substr(0, word.find(')')); }

int FullYear(int year) { return year < 1000 ? year + 1900 : year; }

bool Unreadable(const BufferedTableReader &reader) {
  const int state = reader.State();
  return state == BufferedTableReader::kParseError || state == BufferedTableReader::kNoRowFits ||
         state == BufferedTableReader::kNoFile;
}

// The word behind the next "=" from `from`, and the position behind it.
bool WordBehindEquals(const std::string &text, std::size_t &from, std::string &word) {
  const std::size_t eq = text.find('=', from);
  if (eq == std::string::npos)
    return false;
  std::istringstream in(text.substr(eq + 1));
  if (!(in >> word))
    return false;
  const auto consumed = in.tellg();
  from = consumed < 0 ? text.size() : eq + 1 + static_cast<std::size_t>(consumed);
  return true;
}

} // namespace

std::string WithOutputDirectory(const std::string &directory, const std::string &name) {
  if (name.empty() || name[0] == '/' || name[0] == '~')
    return name;
  return directory + name;
}

void AL_class::Setup(DiagnosticsLog &log, const std::vector<std::string> &tracerNames, double area,
                     double dt, std::string outputDirectory) {
  log_ = &log;
  tracerNames_ = tracerNames;
  area_ = area;
  dt_ = dt;
  outputDirectory_ = std::move(outputDirectory);
  rate.assign(tracerNames_.size() + 1, 0.0);
}

void AL_class::Fail(int exitCode, const std::string &text) const {
  ThrowFatal(*log_, exitCode, text);
}

void AL_class::ReadParameters(const std::string &description, std::size_t position, int number_,
                              int startYear, int startMonth, int startDay, int startHour) {
  number = number_;
  std::size_t at = position;
  std::string word;
  if (!WordBehindEquals(description, at, word))
    Fail(kAbstractionModeExitCode,
         Concat("the modus \"\" is not supported for abstraction ", number));
  word = CutAtParenthesis(word);
  mode = AbstractionModeOf(word);
  if (mode == 0)
    Fail(kAbstractionModeExitCode,
         Concat("the modus \"", word, "\" is not supported for abstraction ", number));
  std::istringstream rest(description.substr(std::min(at, description.size())));
  if (mode == kAbstractionExtern || mode == kAbstractionExternWithRule)
    rest >> outputFile;
  if (mode == kAbstractionFromFile) {
    const std::size_t key = description.find("input_file", at);
    std::string columnWord;
    at = key == std::string::npos ? description.size() : key;
    if (key == std::string::npos || !WordBehindEquals(description, at, inputFile) ||
        !WordBehindEquals(description, at, columnWord) ||
        !WordBehindEquals(description, at, outputFile))
      Fail(kAbstractionModeExitCode,
           Concat("abstraction ", number,
                  ": \"from_file\" needs \"input_file = <file>\", \"= <column>\" and \"= <table "
                  "file>\" behind its mode"));
    column = std::atoi(columnWord.c_str());
  }
  inputFile = CutAtParenthesis(inputFile);
  outputFile = CutAtParenthesis(outputFile);
  if (mode == kAbstractionIntern || mode == kAbstractionExtern) {
    std::string unit;
    if (!(rest >> share.threshold >> share.fraction >> share.maximum >> unit))
      Fail(kAbstractionModeExitCode,
           Concat("abstraction ", number,
                  ": the modes \"intern\" and \"extern\" need a threshold, a fraction, a maximum "
                  "and a unit behind the mode"));
    if (IsCubicMetresPerSecondUnit(CutAtParenthesis(unit))) {
      share.threshold = ToMillimetres(share.threshold, area_, dt_);
      share.maximum = ToMillimetres(share.maximum, area_, dt_);
    }
  }

  if (mode == kAbstractionFromFile) {
    reader_.Open(inputFile, 0, kSeriesBufferBytes, log_);
    if (reader_.State() == BufferedTableReader::kNoFile)
      Fail(kSeriesOpenExitCode, Concat("error opening ", inputFile, " for abstraction ", number));
    int found[4] = {0, 0, 0, 0};
    reader_.SetRow(-1);
    while (found[0] != startYear || found[1] != startMonth || found[2] != startDay ||
           found[3] != startHour) {
      reader_.NextRow();
      if (reader_.State() == BufferedTableReader::kPastEnd || Unreadable(reader_))
        Fail(kSeriesStartExitCode,
             Concat("starting date ", startDay, ".", startMonth, ".", startYear, ", ", startHour,
                    ". h in ", inputFile, " not found."));
      reader_.GetDate(found[0], found[1], found[2], found[3]);
      found[0] = FullYear(found[0]);
    }
  }

  if (AbstractionWritesTable(mode)) {
    outputFile = WithOutputDirectory(outputDirectory_, outputFile);
    const int n = static_cast<int>(tracerNames_.size());
    std::string header = "YY\tMM\tDD\tHH\tm^3/s";
    for (const std::string &name : tracerNames_)
      header += "\t" + name;
    header += "\n";
    const std::string text = header + "abstraction_" + std::to_string(number) + "\n" + header;
    table_ = ElementTableWriter(outputFile, n + 1, kElementTableBufferBytes / ((n + 1) * 8 + 32));
    if (!table_.Create(text))
      Fail(kElementTableCreateExitCode,
           Concat("error opening ", outputFile, " for abstraction ", number));
  }
}

void AL_class::MoveToArea(double area) {
  const double ratio = area_ / area;
  share.threshold *= ratio;
  share.maximum *= ratio;
  area_ = area;
}

void AL_class::ReadRules(std::FILE *controlFile) {
  if (mode != kAbstractionInternWithRule && mode != kAbstractionExternWithRule &&
      mode != kAbstractionFromReservoir)
    return;
  const std::string header = "[abstraction_rule_abstraction_" + std::to_string(number) + "]";
  const auto lines = ReadRuleSection(controlFile, header);
  if (!lines)
    Fail(kRuleSectionExitCode, Concat("section ", header, " not found in control file"));
  RuleParseResult parsed = ParseOperationRule(*lines);
  if (!parsed.fault.empty())
    Fail(kRuleSectionExitCode, Concat("section ", header, ": ", parsed.fault));
  rule = std::move(parsed.rule);
}

void AL_class::SetTargetPoint(int flag, int flowIndex, double area) {
  targetFlag_ = flag;
  targetIndex_ = flowIndex;
  targetArea_ = area;
}

double AL_class::TargetCapped(double result, const RuleSeason &season,
                              const ComponentTable &routingInput) const {
  if (targetFlag_ < 1 || targetIndex_ < 1 || targetIndex_ > routingInput.LastIndex())
    return result;
  const double f = ToCubicMetresPerSecond(routingInput[0][targetIndex_], targetArea_, dt_);
  const double cap = rule.TargetCap[static_cast<std::size_t>(season.column)];
  if (cap < result + f)
    return std::max(cap - f, 0.0);
  return result;
}

double AL_class::EvaluateRules(double volume, const ComponentTable &routingInput, int year,
                               int month, int day, int hour) {
  if (month < 1 || rule.rowCount < 1)
    return 0.0;
  const RuleSeason season = SelectSeason(rule, RuleDayOfYear(month, day));
  if (!RuleWindowOpen(rule, season.column, RuleWeekday(year, month, day, hour), hour,
                      RuleOwner::Abstraction))
    return 0.0;
  return TargetCapped(RuleValue(rule, season, volume, RuleOwner::Abstraction), season,
                      routingInput);
}

double AL_class::LookupRule(double flow, const ComponentTable &routingInput, int, int month,
                            int day, int) {
  if (rule.rowCount < 1)
    return 0.0;
  const RuleSeason season = SelectSeason(rule, RuleDayOfYear(month, day));
  const double value = RuleValue(rule, season, flow, RuleOwner::Abstraction);
  return ToMillimetres(TargetCapped(value, season, routingInput), area_, dt_);
}

double AL_class::ComputeAbstraction(const ComponentTable &routingInput, double &taken,
                                    double available, int year, int month, int day, int hour) {
  double x = 0.0;
  switch (mode) {
  case kAbstractionIntern:
  case kAbstractionExtern:
    x = ShareAmount(share, available, taken);
    break;
  case kAbstractionFromFile: {
    if (seriesEnded_)
      Fail(kSeriesEndExitCode, Concat("error reading from ", inputFile, " for abstraction ", number,
                                      "\nreached end of file!"));
    if (month >= 1) {
      int read[4] = {0, 0, 0, 0};
      reader_.GetDate(read[0], read[1], read[2], read[3]);
      read[0] = FullYear(read[0]);
      if (read[0] != year || read[1] != month || read[2] != day || read[3] != hour)
        Fail(kSeriesDateExitCode,
             Concat("error comparing dates in ", inputFile, ":\n     read: ", read[0], ".", read[1],
                    ".", read[2], ", ", read[3], ". h,\nshould be: ", year, ".", month, ".", day,
                    ", ", hour, ". h.\n"));
    }
    const double v = reader_.GetValue(column);
    x = BoundedAmount(ToMillimetres(v, area_, dt_), v <= -9998.0, available, taken);
    if (month >= 1) {
      reader_.NextRow();
      seriesEnded_ = reader_.State() == BufferedTableReader::kPastEnd;
    }
    break;
  }
  case kAbstractionInternWithRule:
  case kAbstractionExternWithRule:
    x = BoundedAmount(LookupRule(ToCubicMetresPerSecond(available, area_, dt_), routingInput, year,
                                 month, day, hour),
                      false, available, taken);
    break;
  default:
    x = 0.0;
  }
  taken += x;
  return x;
}

void AL_class::BufferRow(int year, int month, int day, int hour, const double *vector) {
  if (AbstractionWritesTable(mode))
    table_.Append(*log_, year, month, day, hour, vector);
}

void AL_class::FlushBuffer(int flag) {
  if (flag >= 1 && AbstractionWritesTable(mode))
    table_.Flush(*log_);
}

} // namespace tavro
