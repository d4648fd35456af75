// The discharge table of the routing module: a zonal statistics table with
// one column per routing subbasin (routed discharge averaged or summed over
// the output interval), no areal-mean column, the subbasin areas in its
// header, and at the end of the run four blocks of goodness-of-fit measures
// between routed and observed discharge for the lags -10..+10 steps.
//
// The routing runs on rank 0 alone: the table's header, rows and measures are
// made and written there and nothing is reduced over MPI; on the other
// processes every operation does nothing. Each step the routing module calls
// ResetStep, adds 1 to n and RelCellSum and the routed value to sx of every
// subbasin's zone record (Zones()), and then EndOfRoutingStep.
//
// Besides the table's own registry entry, the observed runoff gets the entry
// after it ("observed Runoff", same columns, values cleared); the routing
// module may store observed values in ObservedColumns().
#pragma once

#include "raster/output/goodness_of_fit.h"
#include "raster/output/zonal_statistic.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

class routstatistic : public zonalstatistic {
public:
  static constexpr const char *ObservedTitle = "observed Runoff";

  // As zonalstatistic; areas: the subbasin areas in km2 indexed by zone
  // 0..N (element 0 unused), copied. Fewer than N + 1 areas: error 1.
  routstatistic(int &error, DiagnosticsLog &log, StatisticsRegistry *registry, int capacity,
                const Grid *weights, long rows, long columns, std::span<ZoneRecord> zones,
                std::span<const double> areas, int statisticsCode, int precision,
                std::string fileName, const std::string &outputDirectory,
                std::span<const int> outputList);

  // Header without "tot_average", the areas in line 3; registers the table
  // and, in the entry after it when that is free, the observed runoff.
  int WriteHeader(std::string_view description, std::string_view moduleName,
                  StatisticsRegistry *registry, int capacity) override;
  void ReleaseMemory() override;
  // Appends, after the remaining rows, the separator and the four blocks of
  // 21 lags: linear and logarithmic R, linear and logarithmic C, one value
  // per column with precision - 1 decimals, -9999 where undefined. Leaves in
  // every zone record n = 1 and sx = the linear C at lag 0.
  virtual void WriteGoodnessOfFit(const FitSumTable &linear, const FitSumTable &logarithmic);
  // Ends a routing step: the step's zone sums enter the interval and a row is
  // buffered when the interval is complete.
  virtual void EndOfRoutingStep(std::int64_t year, std::int64_t month, std::int64_t day,
                                std::int64_t hour);

  // The observed-runoff column arrays (null when inactive).
  const std::shared_ptr<StatisticsColumns> &ObservedColumns() const { return observed_; }
  std::span<const double> Areas() const { return areas_; }

private:
  // Value of a column zone over the interval.
  double ZoneValue(int zone) const;
  void WriteFitLine(const char *label, int lagIndex, const FitSumTable &table, bool coefficient,
                    const std::vector<int> &zoneColumns);

  std::vector<double> areas_; // 0..N
  std::shared_ptr<StatisticsColumns> observed_;
  OutputDate observedDate_; // the observed set's date fields, set with every row
};

} // namespace tavro
