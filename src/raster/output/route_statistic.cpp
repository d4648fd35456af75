// Discharge table: header with areas, routing-step rows, goodness of fit.
#include "raster/output/route_statistic.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "raster/parallel/interrupts_ignored.h"

#include <cstdio>
#include <new>

namespace tavro {
namespace {

constexpr const char *kSeparator = "----------------------\n";

// The four blocks of measures: label at the lags other than 0 and at lag 0,
// table (linear or logarithmic) and measure (R or C).
struct FitBlock {
  const char *label;
  const char *zeroLagLabel;
  bool logarithmic;
  bool coefficient;
};

constexpr FitBlock kFitBlocks[] = {
    {"lin. R-square\t%d", "LIN. R-SQUARE\t%d", false, false},
    {"log. R-square\t%d", "LOG. R-SQUARE\t%d", true, false},
    {"coeff.var.lin\t%d", "COEFF.VAR.LIN\t%d", false, true},
    {"coeff.var.log\t%d", "COEFF.VAR.LOG\t%d", true, true},
};

} // namespace

routstatistic::routstatistic(int &error, DiagnosticsLog &log, StatisticsRegistry *registry,
                             int capacity, const Grid *weights, long rows, long columns,
                             std::span<ZoneRecord> zones, std::span<const double> areas,
                             int statisticsCode, int precision, std::string fileName,
                             const std::string &outputDirectory, std::span<const int> outputList)
    : zonalstatistic(error, log, registry, capacity, weights, rows, columns, zones, statisticsCode,
                     precision, std::move(fileName), outputDirectory, outputList),
      areas_(areas.begin(), areas.end()) {
  if (error != 0 || mode_ < 1)
    return;
  if (areas_.size() < static_cast<std::size_t>(zoneCount_) + 1) {
    log_.Entry(Concat("FATAL: discharge statistics ", fileName_, ": ",
                      areas_.empty() ? 0 : areas_.size() - 1, " subbasin areas for ", zoneCount_,
                      " subbasins", DiagnosticsLog::EndToken));
    error = 1;
    constructed_ = false;
    return;
  }
  try {
    // No areal-mean column: one value less than a zonal statistics table.
    --valueCount_;
    observed_ = std::make_shared<StatisticsColumns>(slotCount_);
  } catch (const std::bad_alloc &) {
    log_.Entry("FATAL: no free memory in zonalstatistik::zonalstatistik [end-entry]");
    error = 1;
    constructed_ = false;
  }
}

int routstatistic::WriteHeader(std::string_view description, std::string_view moduleName,
                               StatisticsRegistry *registry, int capacity) {
  if (mode_ < 1 || !constructed_ || WorldRank() != 0)
    return -1;
  title_ = ComposeTitle(description, moduleName);

  const InterruptsIgnored quiet;
  OpenFile("wt");
  const int entry = RegisterTable(registry, capacity, false);
  if (entry >= 0 && entry + 1 <= registry->Capacity() && (*registry)[entry + 1].Free()) {
    FillRegistryEntry((*registry)[entry + 1], observedDate_, observed_, ObservedTitle, false);
  }
  std::vector<double> areas;
  for (const int k : ColumnZones())
    areas.push_back(areas_[static_cast<std::size_t>(k)]);
  WriteHeaderLines(areas, false);
  for (std::size_t slot = 1; slot <= areas.size(); ++slot) {
    observed_->values[slot] = 0.0;
    observed_->accumulator[slot] = 0.0;
    observed_->codes[slot] = columns_->codes[slot];
    observed_->areas[slot] = columns_->areas[slot];
  }
  CloseFile();
  return entry;
}

double routstatistic::ZoneValue(int zone) const {
  const ZoneRecord &record = zones_[static_cast<std::size_t>(zone)];
  if (!(record.n > 0.0) || record.RelCellSum == 0.0)
    return 0.0;
  return (record.sx / record.n) * (record.n / record.RelCellSum);
}

void routstatistic::EndOfRoutingStep(std::int64_t year, std::int64_t month, std::int64_t day,
                                     std::int64_t hour) {
  if (mode_ < 1 || !constructed_ || WorldRank() != 0)
    return;
  const bool complete = stepCounter_ == interval_;
  if (interval_ >= 2) {
    AddAccumulators(mode_ == 1 || mode_ == 2 || mode_ == 5);
    if (!complete) {
      StoreAccumulators();
      return;
    }
  } else if (!complete) {
    return;
  }

  BeginRow(year, month, day, hour);
  observedDate_ = {year, month, day, hour};
  // Modes 2 and 4: every subbasin; 5 and 6: the listed subbasins in list
  // order, as the header names them; other modes write the date only.
  for (const int k : ColumnZones())
    AppendRowValue(ZoneValue(k));

  if (interval_ >= 2)
    ClearAccumulators();
  stepCounter_ = 0;
  FlushIfFull();
}

void routstatistic::WriteFitLine(const char *label, int lagIndex, const FitSumTable &table,
                                 bool coefficient, const std::vector<int> &zoneColumns) {
  if (std::fprintf(file_, label, lagIndex - kFitZeroLagIndex) < 0)
    writeFailed_ = true;
  for (const int k : zoneColumns) {
    const FitMeasures measures = ComputeFitMeasures(table.SumsOf(lagIndex, k));
    if (std::fprintf(file_, "\t%.*lf", precision_ - 1, coefficient ? measures.C : measures.R) < 0)
      writeFailed_ = true;
  }
  if (std::fputc('\n', file_) == EOF)
    writeFailed_ = true;
}

void routstatistic::WriteGoodnessOfFit(const FitSumTable &linear, const FitSumTable &logarithmic) {
  if (mode_ < 1 || !constructed_ || WorldRank() != 0)
    return;
  FlushBuffer();
  const InterruptsIgnored quiet;
  OpenFile("a+");
  if (std::fputs(kSeparator, file_) == EOF)
    writeFailed_ = true;
  const std::vector<int> zoneColumns = ColumnZones();
  for (const FitBlock &block : kFitBlocks) {
    const FitSumTable &table = block.logarithmic ? logarithmic : linear;
    for (int i = 0; i < kFitLagCount; ++i)
      WriteFitLine(i == kFitZeroLagIndex ? block.zeroLagLabel : block.label, i, table,
                   block.coefficient, zoneColumns);
    if (std::fputs(kSeparator, file_) == EOF)
      writeFailed_ = true;
  }
  // The zone records keep the linear coefficient at lag 0 of every subbasin.
  for (int k = 1; k <= zoneCount_; ++k) {
    ZoneRecord &zone = zones_[static_cast<std::size_t>(k)];
    zone.n = 1.0;
    zone.sx = ComputeFitMeasures(linear.SumsOf(kFitZeroLagIndex, k)).C;
  }
  CloseFile();
}

void routstatistic::ReleaseMemory() {
  if (mode_ < 1)
    return;
  observed_.reset();
  areas_ = {};
  zonalstatistic::ReleaseMemory();
}

} // namespace tavro
