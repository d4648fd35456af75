// The irrigation table: per irrigation code of the grid "irrigation_codes",
// how much water is given and when (a fixed table of dates, schedule rules
// expanded into dates, or on demand by suction or by the ratio of real to
// potential evapotranspiration), and the reading of the "[irrigation]" switch
// and the "[irrigation_table]" section. Every failure of a row ends the run
// with exit code 29; a missing section or switch is a control-file error (17).
#pragma once

#include "kernel/one_based_array.h"
#include "tables/irrigation_schedule.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavro {

class ControlFileReader;
class DiagnosticsLog;

namespace irrigation {

// Values of `Method`.
inline constexpr int FixedDates = 1;
inline constexpr int ScheduleRules = 2;
inline constexpr int SuctionDemand = 3;
inline constexpr int EvapotranspirationDemand = 4;

// Values of `Origin`.
inline constexpr int Groundwater = 1;
inline constexpr int SurfaceWater = 2;

inline constexpr int ExitCode = 29;
inline constexpr std::size_t MaxNameLength = 49;
// Characters of rule text after psi_wet, line break included.
inline constexpr std::size_t MaxRuleTextLength = 1199;

// Suction thresholds that the ratio method carries.
inline constexpr double RatioMethodPsiDry = 20.0;
inline constexpr double RatioMethodPsiWet = 3.45;

} // namespace irrigation

// One row of the table; entry 0 of a table holds only the row count in Code.
struct IrrigationTableEntry {
  int Code = 0;
  std::string Name;
  int Method = 0;
  int Origin = 0;
  double psi_dry = 0.0;     // suction at which irrigation starts (method 3)
  double psi_wet = 0.0;     // suction at which irrigation ends (method 3)
  double min_ETR_ETP = 0.0; // ratio below which irrigation starts (method 4)
  // Dated events of methods 1 and 2 (absent for methods 3 and 4): on the day
  // named by months[k] and days[k], amounts[k] mm per day are given.
  int tabcnt = 0;
  OneBasedArray<std::int64_t> months;
  OneBasedArray<std::int64_t> days;
  OneBasedArray<double> amounts;
};

using IrrigationTable = OneBasedArray<IrrigationTableEntry>;

// What the set-up keeps of the two sections.
struct IrrigationSettings {
  int Switch = 0; // first value of "[irrigation]"; 0: no irrigation
  // Absent when the switch is 0 (no "[irrigation_table]" is read).
  std::optional<IrrigationTable> Table;

  // Rows of the table, 0 without one.
  int RowCount() const { return Table ? static_cast<int>(Table->Count()) : 0; }
};

// Reads the "[irrigation]" switch and, unless it is 0, the table from the
// open control-file copy. Soil-model variants below 2 read nothing. lengths
// are the set-up's month lengths, by which rule dates are limited and stepped.
IrrigationSettings ReadIrrigationTable(ControlFileReader &reader, DiagnosticsLog &log,
                                       const MonthLengthTable &lengths, int soilModelVariant);

// Reads "[irrigation_table]" (missing: 17): the row count, then the rows. A
// count below 1 gives the table of entry 0 alone, whose Code is the count.
IrrigationTable ParseIrrigationTable(ControlFileReader &reader, DiagnosticsLog &log,
                                     const MonthLengthTable &lengths);

// Expands the rule text of row `row` into entry's events; a defective rule
// logs its entries and throws 29.
void ReadIrrigationSchedule(DiagnosticsLog &log, int row, std::string_view text,
                            const MonthLengthTable &lengths, IrrigationTableEntry &entry);

// The lines that explain the rule forms, each ended by a line break.
std::string IrrigationRuleHelpText();

// Logs the rule error of row `row` with the help text and throws 29.
[[noreturn]] void ThrowIrrigationRuleError(DiagnosticsLog &log, int row);

} // namespace tavro
