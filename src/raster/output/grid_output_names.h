// The pure part of the grid output: when a step completes a day, month, year
// or the run, which output kinds and period aggregates are due then, and the
// file names of every output file (plain, date-stamped with its collision
// suffix, ".filled", period sums and means, minimum and maximum, and the
// vegetation-period aggregates). No grids, no MPI.
#pragma once

#include "kernel/model_date.h"

#include <array>
#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

namespace tavro {

// The moments a step's date completes.
struct OutputMoments {
  bool EndOfDay = false;
  bool EndOfMonth = false;
  bool EndOfYear = false;
  bool EndOfRun = false;

  friend bool operator==(const OutputMoments &, const OutputMoments &) = default;
};

// End of day: the hour plus the whole hours of hoursToIntervalEnd is 24; end
// of month: end of day on the month's last day by daysPerMonth (entries
// 1..12; February always 28); end of year: end of day on 31 December; end of
// run: the date's DateCode has reached endDateCode.
OutputMoments MomentsOf(const ModelDate &date, double hoursToIntervalEnd,
                        const std::array<int, 14> &daysPerMonth, long endDateCode);

// Whether the grid itself is written in this step, by its output kind (the
// writecode's units digit): 1, 2 and 8 every step, 3 at the end of the run,
// 4 and 5 at the end of a day, 6 of a month, 7 of a year; 0, 9 never.
bool GridOutputDue(int outputKind, const OutputMoments &moments);

// The same for a stack: 1 and 2 every step, 3 at the end of the run, 4 and 5
// at the end of a day, any other kind never.
bool StackOutputDue(int outputKind, const OutputMoments &moments);

// Whether the period of a period aggregate (the tens digit) ends with this
// step: 1/5 the run, 2/6 a year, 3/7 a month, 4/8 a day.
bool PeriodComplete(int periodAggregate, const OutputMoments &moments);

// 5..8 average over the period, 1..4 sum.
constexpr bool IsMeanAggregate(int periodAggregate) {
  return periodAggregate >= 5 && periodAggregate <= 8;
}

// The kinds whose files carry a date stamp, and which are written once more
// under the plain name at the end of the run (with 8, ".filled").
constexpr bool IsDateStampedKind(int outputKind) {
  return outputKind == 2 || outputKind == 5 || outputKind == 6 || outputKind == 7;
}

// The stamp state of one registry entry: the date of the last date-stamped
// file and the number of earlier files written with that same stamp.
struct DateStampState {
  ModelDate Date;
  long Count = 0;
};

// Unlimited length of the name part kept before a date stamp (grids).
inline constexpr std::size_t kWholeNamePart = std::numeric_limits<std::size_t>::max();
// Length of the name part kept before a stack's date stamp.
inline constexpr std::size_t kStackNamePart = 4;

// The name with its file part (after the last '/') cut at the first '.'
// (and to at most maxPart characters), followed by "_YYYYMMDD.HHH" and, for
// the second and later files with the same stamp, "_NNN"; updates state.
// out/tempr.grd on 7 March 2021, hour 8: out/tempr_20210307.008, then
// out/tempr_20210307.008_001.
std::string DateStampedName(const std::string &name, const ModelDate &date, DateStampState &state,
                            std::size_t maxPart = kWholeNamePart);

// Name of the grid itself for an output kind: 1, 3, 4 the plain outname; 8
// outname + ".filled"; 2, 5, 6, 7 date-stamped (updates state).
std::string GridOutputName(int outputKind, const std::string &outname, const ModelDate &date,
                           DateStampState &state);

// Name of a stack for its output kind: 2 and 5 date-stamped with at most
// four characters of the file part; others the plain name.
std::string StackOutputName(int outputKind, const std::string &fileName, const ModelDate &date,
                            DateStampState &state);

// Name of a completed period aggregate: the file part up to its first '.'
// followed by ".sum"/".mit" (run), "_YY00.sum"/".mit" (year), "_YYMM.sum"/
// ".mit" (month) or "_YYMM.DDs"/"_YYMM.DDm" (day), YY the year modulo 100.
std::string PeriodAggregateName(const std::string &name, int periodAggregate,
                                const ModelDate &date);

// The file part up to its first '.' followed by ".min" or ".max".
std::string MinimumName(const std::string &name);
std::string MaximumName(const std::string &name);

// The file part up to its first '.' followed by "_" the year modulo 100 in
// four digits and "_vegper.sum" or "_vegper.mit" (2021: "_0021_vegper.sum").
std::string VegetationPeriodName(const std::string &name, long year, bool mean);

// Suffix of the phenology grids of a vegetation-period aggregate: the text
// after "_Layer_" in outname up to the next '.', or "1" without "_Layer_".
std::string VegetationLayerSuffix(std::string_view outname);

} // namespace tavro
