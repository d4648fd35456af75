// One abstraction "AL" of a routing subbasin (`AL_class`): it takes water
// from the subbasin's river, or from its last reservoir, by its mode, hands
// internal water to the connected inflow and writes external water to its
// table. The amounts come from the kernels in reservoirs/; this class reads
// the element, the rule section and the time series and keeps the table.
#pragma once

#include "kernel/buffered_table_reader.h"
#include "routing/element_table_writer.h"
#include "routing/reservoirs/abstraction_amount.h"
#include "routing/reservoirs/operation_rule.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tavro {

class DiagnosticsLog;
class ComponentTable;

class AL_class {
public:
  static constexpr int kSeriesOpenExitCode = 37;
  static constexpr int kSeriesStartExitCode = 38;
  static constexpr int kSeriesEndExitCode = 39;
  static constexpr int kSeriesDateExitCode = 36;

  // tgArea / tgFactor is the area (km2) of the conversions; dt in minutes.
  void Setup(DiagnosticsLog &log, const std::vector<std::string> &tracerNames, double area,
             double dt, std::string outputDirectory);
  // Reads the element behind `position` of the description (44, 37, 38).
  void ReadParameters(const std::string &description, std::size_t position, int number,
                      int startYear, int startMonth, int startDay, int startHour);
  // Reads "[abstraction_rule_abstraction_<n>]" for the rule modes (34).
  void ReadRules(std::FILE *controlFile);
  // The subbasin's area turned out to be `area` (km2): the threshold and the
  // maximum keep the volumes they stood for over the former area.
  void MoveToArea(double area);

  // The amount (mm per step) of a mode other than 8 for the available
  // amount (mm per step); taken grows by it. A month below 1 marks an
  // initialisation pass (the series does not move).
  double ComputeAbstraction(const ComponentTable &routingInput, double &taken, double available,
                            int year, int month, int day, int hour);
  // Mode 8: the rate (m3/s) for a reservoir volume (m3).
  double EvaluateRules(double volume, const ComponentTable &routingInput, int year, int month,
                       int day, int hour);
  // Modes 6 and 7: the rule's amount (mm per step) for a flow (m3/s).
  double LookupRule(double flow, const ComponentTable &routingInput, int year, int month, int day,
                    int hour);
  // The connected inflow's routing subbasin (flag), its first channel's flow
  // index and its area (km2): TargetCap acts on this flow.
  void SetTargetPoint(int flag, int flowIndex, double area);
  int TargetFlag() const { return targetFlag_; }

  // Table rows (modes 4, 5, 7 only): [0] m3/s, [1..n] concentrations.
  void BufferRow(int year, int month, int day, int hour, const double *vector);
  void FlushBuffer(int flag);

  static double ToMillimetres(double value, double area, double dt) {
    return value * 0.06 * dt / area;
  }
  static double ToCubicMetresPerSecond(double value, double area, double dt) {
    return value * area * 16.6666667 / dt;
  }

  int number = 0;
  int mode = 0;
  ShareParameters share;
  std::string inputFile;
  std::string outputFile;
  int column = 0;
  std::vector<double> rate; // [0] m3/s of mode 8, set by the reservoir's rule
  OperationRule rule;

private:
  double TargetCapped(double result, const RuleSeason &season,
                      const ComponentTable &routingInput) const;
  [[noreturn]] void Fail(int exitCode, const std::string &text) const;

  DiagnosticsLog *log_ = nullptr;
  std::vector<std::string> tracerNames_;
  double area_ = 0.0;
  double dt_ = 0.0;
  std::string outputDirectory_;
  BufferedTableReader reader_;
  bool seriesEnded_ = false;
  ElementTableWriter table_;
  int targetFlag_ = -1;
  int targetIndex_ = 0;
  double targetArea_ = 0.0;
};

// Puts the directory in front of a name that does not start with '/' or '~'.
std::string WithOutputDirectory(const std::string &directory, const std::string &name);

} // namespace tavro
