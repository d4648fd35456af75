// Reservoir elements: the element text, the rule section, the step's
// balance and the table.
#include "routing/reservoir.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "routing/abstraction.h"
#include "routing/reservoirs/reservoir_release.h"
#include "routing/routing_description.h"
#include "routing/routing_flow_arrays.h"

#include <algorithm>
#include <sstream>

namespace tavro {
namespace {

constexpr const char *kHeader =
    "YY\tMM\tDD\tHH\tW[m]\tA[m2]\tV[m3]\tQin[m3]\tQin[mm]\tQin[m3s]\tQout[m3]\tQout[mm]\tQout["
    "m3s]\tIrrig[m3]\tIrrig[mm]\tIrrig[m3s]\tQGW[m3]\tQGW[mm]\tQGW[m3s]\tETR[m3]\tETR[mm]\tETR["
    "m3s]\tPREC[m3]\tPREC[mm]\tPREC[m3s]\tdV[m3]\tdV[mm]\tdV[m3s]\tAbstr[m3]\tAbstr[mm]\tAbstr["
    "m3s]\tErr[m3]\tErr[mm]\tErr[m3s]";

// The stream behind the "=" that follows the key's next occurrence from `from`.
std::optional<std::istringstream> ValueOf(const std::string &text, std::size_t from,
                                          const char *key) {
  const std::size_t at = text.find(key, from);
  if (at == std::string::npos)
    return std::nullopt;
  const std::size_t eq = text.find('=', at);
  if (eq == std::string::npos)
    return std::nullopt;
  return std::istringstream(text.substr(eq + 1));
}

} // namespace

void SP_class::Setup(DiagnosticsLog &log, const std::vector<std::string> &tracerNames,
                     std::vector<double> decayPerStep, int subbasinCode,
                     std::string outputDirectory) {
  log_ = &log;
  tracerNames_ = tracerNames;
  decay_ = std::move(decayPerStep);
  decay_.resize(tracerNames_.size() + 1, 1.0);
  subbasinCode_ = subbasinCode;
  outputDirectory_ = std::move(outputDirectory);
  state.assign(tracerNames_.size() + 1, 0.0);
  previousState = state;
}

void SP_class::Fail(int exitCode, const std::string &text) const {
  ThrowFatal(*log_, exitCode, text);
}

void SP_class::ReadParameters(const std::string &description, std::size_t position, int number_) {
  number = number_;
  auto missing = [&](const char *key) {
    Fail(kRoutingReservoirExitCode,
         Concat("for reservoir ", number, ": no \"", key, " =\" found!"));
  };
  auto file = ValueOf(description, position, "file");
  if (!file || !(*file >> outputFile))
    missing("file");
  outputFile = WithOutputDirectory(outputDirectory_, outputFile.substr(0, outputFile.find(')')));
  auto v0 = ValueOf(description, position, "V0");
  if (!v0 || !(*v0 >> state[0]))
    missing("V0");
  auto c0 = ValueOf(description, position, "C0");
  std::array<double, 9> c{};
  if (!c0)
    missing("C0");
  for (double &value : c)
    if (!(*c0 >> value))
      missing("C0");
  for (std::size_t k = 1; k < state.size(); ++k)
    state[k] = c[k - 1];
  if (auto dt = ValueOf(description, position, "dTmin"); dt && !(*dt >> dTmin))
    Fail(kRoutingReservoirExitCode,
         Concat("for reservoir ", number, ": \"dTmin =\" is not followed by a number"));
  previousState = state;
  const auto n = static_cast<long>(tracerNames_.size());
  table_ = ElementTableWriter(outputFile, 30 + static_cast<int>(n),
                              kElementTableBufferBytes / ((n + 35) * 8));
}

void SP_class::WriteHeader() {
  std::string header = kHeader;
  for (const std::string &name : tracerNames_)
    header += "\t" + name;
  const std::string text = header + "\nreservoir_" + std::to_string(number) + "\n" + header + "\n";
  if (!table_.Create(text))
    Fail(kFileExitCode, Concat("error opening ", outputFile, " for reservoir ", number));
}

void SP_class::ReadRules(std::FILE *controlFile) {
  const std::string header = "[abstraction_rule_reservoir_" + std::to_string(number) + "]";
  const auto lines = ReadRuleSection(controlFile, header);
  if (!lines)
    Fail(kRuleSectionExitCode, Concat("section ", header, " not found in control file"));
  RuleParseResult parsed = ParseOperationRule(*lines);
  if (parsed.fault.empty() && lake_ && parsed.rule.rowCount >= lake_->Entries())
    parsed.fault = "the row count " + std::to_string(parsed.rule.rowCount) +
                   " lies past the lake's water-level/volume table (" +
                   std::to_string(lake_->Entries()) + " entries)";
  if (!parsed.fault.empty())
    Fail(kRuleSectionExitCode, Concat("section ", header, ": ", parsed.fault));
  rule = std::move(parsed.rule);
}

double SP_class::MixConcentration(double c, double cIn, double v, double vIn) {
  const double total = std::fabs(v) + std::fabs(vIn);
  return total != 0.0 ? (c * std::fabs(v) + cIn * std::fabs(vIn)) / total : 0.0;
}

double SP_class::EvaluateRules(double inflow, double dt, const ComponentTable &routingInput,
                               const std::vector<AL_class *> &direct, int year, int month, int day,
                               int hour) {
  const RuleSeason season = SelectSeason(rule, RuleDayOfYear(month, day));
  const bool open =
      month >= 1 && RuleWindowOpen(rule, season.column, RuleWeekday(year, month, day, hour), hour,
                                   RuleOwner::Reservoir);
  taken_.assign(direct.size(), 0.0);
  const ReleaseStep step{std::max(0.0, state[0]), inflow, dt, dTmin, open, Lake()};
  auto rateOf = [&](int i, double v) {
    return direct[static_cast<std::size_t>(i)]->EvaluateRules(v, routingInput, year, month, day,
                                                              hour);
  };
  const double q =
      EvaluateRelease(rule, season, step, static_cast<int>(direct.size()), rateOf, taken_.data());
  for (std::size_t i = 0; i < direct.size(); ++i)
    direct[i]->rate[0] = taken_[i] / (dt * 60.0);
  return q;
}

void SP_class::ComputeBalance(double dt, double irrigation, double abstraction,
                              const ComponentTable &routingInput, double inflow,
                              const double *inflowConcentrations,
                              const std::vector<AL_class *> &direct, const LakeExchange *lake,
                              int year, int month, int day, int hour) {
  const double ts = 60.0 * dt;
  report = ReservoirReport{};
  report.seconds = ts;
  report.m3[ReservoirReport::Qin] = inflow * ts;
  report.inflowRate = inflow;
  previousState = state;
  if (lake != nullptr) {
    report.m3[ReservoirReport::ETR] = lake->evaporation;
    // The water spilled over the cells' largest depth left the lake with
    // their direct runoff: its exchange at the surface, booked with the one
    // below it.
    report.m3[ReservoirReport::QGW] = lake->groundwater - lake->overflow;
    report.m3[ReservoirReport::PREC] = lake->precipitation;
    report.area = lake->wetArea;
    state[0] = lake->volume;
    for (std::size_t k = 1; k < state.size() && k < lake->concentrations.size(); ++k)
      state[k] = lake->concentrations[k];
  }

  double v = std::max(0.0, state[0]);
  const double irrigated = std::clamp(irrigation, 0.0, v);
  v -= irrigated;
  const double abstracted = std::clamp(abstraction, 0.0, v);
  v -= abstracted;
  const bool release = year >= 1;
  const double inflowVolume = release ? inflow * ts : 0.0;
  if (release)
    for (std::size_t k = 1; k < state.size(); ++k)
      state[k] = MixConcentration(state[k] * decay_[k], inflowConcentrations[k], v, inflowVolume);

  const RuleSeason season = SelectSeason(rule, RuleDayOfYear(month, day));
  ReservoirStepIn in;
  in.volume = v;
  in.inflow = inflow;
  in.dt = dt;
  in.dTmin = dTmin;
  in.release = release;
  in.windowOpen =
      month >= 1 && RuleWindowOpen(rule, season.column, RuleWeekday(year, month, day, hour), hour,
                                   RuleOwner::Reservoir);
  in.lake = Lake();
  taken_.assign(direct.size(), 0.0);
  auto rateOf = [&](int i, double volume) {
    return direct[static_cast<std::size_t>(i)]->EvaluateRules(volume, routingInput, year, month,
                                                              day, hour);
  };
  const ReservoirStepOut out =
      StepReservoir(rule, season, in, static_cast<int>(direct.size()), rateOf, taken_.data());
  for (std::size_t i = 0; i < direct.size(); ++i)
    direct[i]->rate[0] = taken_[i] / ts;
  state[0] = out.volume;
  outflow = out.outflow;
  report.outflowRate = outflow;
  report.m3[ReservoirReport::Qout] = outflow * ts;
  report.m3[ReservoirReport::Irrig] = irrigated;
  report.m3[ReservoirReport::Abstr] = abstracted + out.abstraction;
  if (lake != nullptr) {
    const auto &m = report.m3;
    const double change = m[ReservoirReport::Qin] + m[ReservoirReport::QGW] +
                          m[ReservoirReport::PREC] - m[ReservoirReport::ETR] -
                          m[ReservoirReport::Irrig] - m[ReservoirReport::Abstr] -
                          m[ReservoirReport::Qout];
    report.m3[ReservoirReport::dV] = change;
    report.m3[ReservoirReport::Err] = (state[0] - previousState[0]) - change;
  }
}

void SP_class::BufferRow(int year, int month, int day, int hour) {
  row_.assign(30 + tracerNames_.size(), 0.0);
  row_[0] = lake_ ? LevelFromVolume(*lake_, state[0]) : 0.0;
  row_[1] = report.area;
  row_[2] = state[0];
  const double seconds = report.seconds;
  for (int t = 0; t < ReservoirReport::Count; ++t) {
    const double m3 = report.m3[static_cast<std::size_t>(t)];
    double rate = seconds > 0.0 ? m3 / seconds : 0.0;
    if (t == ReservoirReport::Qin)
      rate = report.inflowRate;
    if (t == ReservoirReport::Qout)
      rate = report.outflowRate;
    row_[static_cast<std::size_t>(3 + 3 * t)] = m3;
    row_[static_cast<std::size_t>(4 + 3 * t)] = report.area > 0.0 ? m3 / report.area * 1000.0 : 0.0;
    row_[static_cast<std::size_t>(5 + 3 * t)] = rate;
  }
  for (std::size_t k = 1; k < state.size(); ++k)
    row_[29 + k] = state[k];
  table_.Append(*log_, year, month, day, hour, row_.data());
}

void SP_class::FlushBuffer(int flag) {
  if (flag >= 1)
    table_.Flush(*log_);
}

} // namespace tavro
