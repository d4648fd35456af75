// Zonal statistics table: sums, interval rows, buffer, header and registry.
#include "raster/output/zonal_statistic.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid.h"
#include "raster/parallel/interrupts_ignored.h"
#include "raster/parallel/zone_reduction.h"

#include <mpi.h>

#include <algorithm>
#include <new>

namespace tavro {
namespace {

// Rows of about BufferBytes: a row costs its values plus 32 bytes of date.
std::size_t BufferRows(std::size_t valueColumns) {
  const std::size_t rows = zonalstatistic::BufferBytes / (valueColumns * 8 + 32);
  return std::max<std::size_t>(rows, 1);
}

bool HasDirectoryPrefix(const std::string &name) {
  return !name.empty() && (name[0] == '/' || name[0] == '~');
}

} // namespace

zonalstatistic::zonalstatistic(int &error, DiagnosticsLog &log, StatisticsRegistry * /*registry*/,
                               int /*capacity*/, const Grid *weights, long rows, long columns,
                               std::span<ZoneRecord> zones, int statisticsCode, int precision,
                               std::string fileName, const std::string &outputDirectory,
                               std::span<const int> outputList, double noData)
    : log_(log), zones_(zones), zoneCount_(zones.empty() ? 0 : static_cast<int>(zones.size()) - 1),
      weights_(weights), weightRows_(rows), weightColumns_(columns), noData_(noData),
      precision_(precision), fileName_(std::move(fileName)) {
  error = 0;
  if (statisticsCode <= 1000) {
    mode_ = -1;
    return;
  }
  mode_ = statisticsCode / 1000;
  interval_ = statisticsCode % 1000;
  // The composed name stays with the table; the caller's name is not changed.
  if (!outputDirectory.empty() && !HasDirectoryPrefix(fileName_))
    fileName_ = outputDirectory + fileName_;

  try {
    if (zones_.empty()) {
      log_.Entry("FATAL: zonal statistics " + fileName_ + " without zone records[end-entry]");
      error = 1;
      return;
    }
    if (!MapOutputList(outputList)) {
      error = 1;
      return;
    }
    Construct();
  } catch (const std::bad_alloc &) {
    log_.Entry("FATAL: no free memory in zonalstatistik::zonalstatistik [end-entry]");
    error = 1;
    return;
  }
  constructed_ = true;
}

int zonalstatistic::WorldRank() {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  return rank;
}

zonalstatistic::~zonalstatistic() {
  if (file_ != nullptr)
    std::fclose(file_);
}

bool zonalstatistic::MapOutputList(std::span<const int> outputList) {
  const std::size_t listed = std::min<std::size_t>(outputList.size(), zoneCount_);
  listCodes_.assign(listed + 1, 0);
  listZones_.assign(listed + 1, 0);
  for (std::size_t j = 1; j <= listed; ++j) {
    const int code = outputList[j - 1];
    listCodes_[j] = code;
    // Zone j first (the usual ascending list), then every other zone, so a
    // list in any order finds its zones.
    const auto matches = [&](std::size_t k) { return zones_[k].zonenwert == code; };
    std::size_t zone = 0;
    if (matches(j)) {
      zone = j;
    } else {
      for (std::size_t k = 1; k <= static_cast<std::size_t>(zoneCount_); ++k)
        if (matches(k)) {
          zone = k;
          break;
        }
    }
    if (zone == 0) {
      log_ << "\n\n ------ error ------\n\n there is a code in the output list which no zone "
              "exists for ("
           << code << ")"
           << "[end-entry]";
      return false;
    }
    listZones_[j] = static_cast<int>(zone);
  }
  return true;
}

void zonalstatistic::Construct() {
  const std::size_t n = static_cast<std::size_t>(zoneCount_);
  const std::size_t listed = listCodes_.size() - 1;
  std::size_t zoneColumns = 0;
  if (mode_ == 1 || mode_ == 3) {
    rowCapacity_ = 43690;
    slotCount_ = 2;
  } else if (mode_ == 2 || mode_ == 4) {
    rowCapacity_ = BufferRows(n + 1);
    slotCount_ = n + 2;
    zoneColumns = n;
  } else {
    rowCapacity_ = BufferRows(listed + 1);
    slotCount_ = listed + 2;
    if (mode_ == 5 || mode_ == 6)
      zoneColumns = listed;
  }
  valueCount_ = static_cast<std::int64_t>(zoneColumns) + 1;

  // Only rank 0 ever holds rows.
  if (WorldRank() == 0) {
    rowDates_.assign(rowCapacity_ * 4, 0);
    rowValues_.assign(rowCapacity_ * slotCount_, 0.0);
  }
  columns_ = std::make_shared<StatisticsColumns>(slotCount_);

  for (ZoneRecord &zone : zones_) {
    zone.n = 0.0;
    zone.sx = 0.0;
    zone.RelCellSum = 0.0;
  }
  sums_.assign(zones_.size(), ExactZoneSums());
  if (interval_ >= 2) {
    accN_.assign(n + 1, 0.0);
    accSx_.assign(n + 1, 0.0);
    accRel_.assign(n + 1, 0.0);
  }
}

std::vector<int> zonalstatistic::ColumnZones() const {
  std::vector<int> zones;
  if (mode_ == 2 || mode_ == 4) {
    for (int k = 1; k <= zoneCount_; ++k)
      zones.push_back(k);
  } else if (mode_ == 5 || mode_ == 6) {
    zones.assign(listZones_.begin() + 1, listZones_.end());
  }
  return zones;
}

void zonalstatistic::OpenFile(const char *mode) {
  file_ = std::fopen(fileName_.c_str(), mode);
  writeFailed_ = false;
  if (file_ == nullptr)
    ThrowFatal(log_, OpenErrorExitCode, "error opening \n" + fileName_);
}

void zonalstatistic::CloseFile() {
  if (file_ == nullptr)
    return;
  const bool failed = std::ferror(file_) != 0 || writeFailed_;
  const int closed = std::fclose(file_);
  file_ = nullptr;
  if (failed || closed != 0)
    ThrowFatal(log_, CloseErrorExitCode, "cannot close " + fileName_);
}

void zonalstatistic::AddValue(long row, long column, int zoneIndex, double value, double weight) {
  if (mode_ < 1)
    return;
  // (A table whose construction failed has no sums and refuses every index.)
  if (zoneIndex < 0 || zoneIndex > zoneCount_ ||
      static_cast<std::size_t>(zoneIndex) >= sums_.size()) {
    ++refusedZoneIndexes_;
    return;
  }
  // A hole in the grid would pull the zone's mean towards the no-data value.
  if (IsHole(value))
    return;
  ExactZoneSums &zone = sums_[static_cast<std::size_t>(zoneIndex)];
  zone.n += weight;
  if (weights_ != nullptr && row >= 1 && row <= weightRows_ && column >= 1 &&
      column <= weightColumns_ && weights_->HasRow(row) && column <= weights_->LastColumn()) {
    const double cellWeight = (*weights_)[row][column];
    if (cellWeight > WeightNoData) {
      zone.RelCellSum += cellWeight * weight;
      zone.sx += value * cellWeight * weight;
      return;
    }
  }
  zone.RelCellSum += weight;
  zone.sx += value * weight;
}

void zonalstatistic::ResetStep() {
  if (mode_ < 1)
    return;
  ++stepCounter_;
  for (ZoneRecord &zone : zones_) {
    zone.n = 0.0;
    zone.sx = 0.0;
    zone.RelCellSum = 0.0;
  }
  for (ExactZoneSums &zone : sums_)
    zone.Clear();
}

void zonalstatistic::PublishExactSums() {
  const std::size_t count = std::min(sums_.size(), zones_.size());
  long long invalid = 0;
  double firstInvalidCode = 0.0;
  for (std::size_t k = 0; k < count; ++k) {
    const ExactZoneSums &sum = sums_[k];
    ZoneRecord &zone = zones_[k];
    zone.n = sum.n.ToDouble();
    zone.sx = sum.sx.ToDouble();
    zone.RelCellSum = sum.RelCellSum.ToDouble();
    if (!sum.n.Valid() || !sum.sx.Valid() || !sum.RelCellSum.Valid()) {
      if (invalid == 0)
        firstInvalidCode = zone.zonenwert;
      ++invalid;
    }
  }
  if (invalid > 0 && !invalidSumsReported_ && WorldRank() == 0) {
    invalidSumsReported_ = true;
    log_ << "WARNING: zonal statistics " << fileName_ << ": the sums of " << invalid
         << " zones (the first with code " << firstInvalidCode
         << ") are not finite or beyond 1.47e20 in magnitude and show as nan"
         << "[end-entry]";
  }
}

void zonalstatistic::AddAccumulators(bool allSums) {
  if (interval_ < 2)
    return;
  for (std::size_t k = 0; k < zones_.size(); ++k) {
    zones_[k].sx += accSx_[k];
    if (allSums) {
      zones_[k].n += accN_[k];
      zones_[k].RelCellSum += accRel_[k];
    }
  }
}

void zonalstatistic::StoreAccumulators() {
  if (interval_ < 2)
    return;
  for (std::size_t k = 0; k < zones_.size(); ++k) {
    accN_[k] = zones_[k].n;
    accSx_[k] = zones_[k].sx;
    accRel_[k] = zones_[k].RelCellSum;
  }
}

void zonalstatistic::ClearAccumulators() {
  std::fill(accN_.begin(), accN_.end(), 0.0);
  std::fill(accSx_.begin(), accSx_.end(), 0.0);
  std::fill(accRel_.begin(), accRel_.end(), 0.0);
}

void zonalstatistic::BeginRow(std::int64_t year, std::int64_t month, std::int64_t day,
                              std::int64_t hour) {
  rowWidth_ = 0;
  ++rowCount_;
  std::int64_t *date = &rowDates_[(rowCount_ - 1) * 4];
  date[0] = year;
  date[1] = month;
  date[2] = day;
  date[3] = hour;
  year_ = year;
  month_ = month;
  day_ = day;
  hour_ = hour;
}

void zonalstatistic::AppendRowValue(double value) {
  ++rowWidth_;
  const auto slot = static_cast<std::size_t>(rowWidth_);
  rowValues_[(rowCount_ - 1) * slotCount_ + slot] = value;
  columns_->values[slot] = value;
}

void zonalstatistic::FlushIfFull() {
  if (rowCount_ >= rowCapacity_)
    FlushBuffer();
}

void zonalstatistic::EndOfStep(std::int64_t year, std::int64_t month, std::int64_t day,
                               std::int64_t hour, int reduce) {
  if (mode_ < 1)
    return;
  // Integer sums: the same result for any process count and reduction order.
  if (reduce > 0)
    MPIReduceExactZones(sums_);
  PublishExactSums();
  if (WorldRank() != 0)
    return;
  if (refusedZoneIndexes_ > 0) {
    log_ << "WARNING: zonal statistics " << fileName_ << ": " << refusedZoneIndexes_
         << " values with a zone index outside 0.." << zoneCount_ << " were not added"
         << "[end-entry]";
    refusedZoneIndexes_ = 0;
  }

  const bool averaged = mode_ == 1 || mode_ == 2 || mode_ == 5;
  AddAccumulators(averaged);

  const bool complete = interval_ > 0 && stepCounter_ == interval_;
  if (complete)
    BeginRow(year, month, day, hour);

  const bool everyZone = mode_ == 2 || mode_ == 4;
  double totalSx = 0.0;
  double totalWeight = 0.0;
  for (int k = 1; k <= zoneCount_; ++k) {
    const ZoneRecord &zone = zones_[static_cast<std::size_t>(k)];
    // A zone with weights summing to 0 has no mean; it shows 0, never inf/NaN.
    lastZoneMean_ = (zone.n > 0.0 && zone.RelCellSum != 0.0) ? zone.sx / zone.RelCellSum : 0.0;
    totalSx += zone.sx;
    totalWeight += zone.RelCellSum;
    if (complete && everyZone)
      AppendRowValue(lastZoneMean_);
  }
  if (complete && (mode_ == 5 || mode_ == 6)) {
    // Listed zones in list order, as the header names them.
    for (std::size_t j = 1; j < listZones_.size(); ++j) {
      const ZoneRecord &zone = zones_[static_cast<std::size_t>(listZones_[j])];
      AppendRowValue((zone.n > 0.0 && zone.RelCellSum != 0.0) ? zone.sx / zone.RelCellSum : 0.0);
    }
  }
  lastArealMean_ = totalWeight > 0.0 ? totalSx / totalWeight : 0.0;

  StoreAccumulators();

  if (complete) {
    AppendRowValue(lastArealMean_);
    ClearAccumulators();
    stepCounter_ = 0;
    FlushIfFull();
  }
}

void zonalstatistic::WriteRows() {
  for (std::size_t r = 0; r < rowCount_; ++r) {
    const std::int64_t *date = &rowDates_[r * 4];
    int written = std::fprintf(file_, "%2ld\t%2ld\t%2ld\t%2ld", static_cast<long>(date[0]),
                               static_cast<long>(date[1]), static_cast<long>(date[2]),
                               static_cast<long>(date[3]));
    if (written < 0)
      writeFailed_ = true;
    const double *values = &rowValues_[r * slotCount_];
    for (int i = 1; i <= rowWidth_; ++i) {
      written = precision_ < SignificantDigits
                    ? std::fprintf(file_, "\t%.*f", precision_, values[i])
                    : std::fprintf(file_, "\t%.6g", values[i]);
      if (written < 0)
        writeFailed_ = true;
    }
    if (std::fputc('\n', file_) == EOF)
      writeFailed_ = true;
  }
}

void zonalstatistic::FlushBuffer() {
  if (mode_ < 1 || rowCount_ == 0)
    return;
  const InterruptsIgnored quiet;
  log_ << "write " << fileName_;
  OpenFile("a+");
  WriteRows();
  CloseFile();
  const long long bytes =
      (static_cast<long long>(rowWidth_) * 8 + 32) * static_cast<long long>(rowCount_);
  log_ << "(" << bytes << " of " << static_cast<long long>(BufferBytes) << " buffer-bytes)"
       << "[end-entry]";
  rowCount_ = 0;
  rowWidth_ = 0;
}

std::string zonalstatistic::ComposeTitle(std::string_view description,
                                         std::string_view moduleName) const {
  std::string title(description);
  title += "_submodel:";
  title += moduleName;
  if (title.size() > StatisticsRegistry::MaxTitleLength)
    ThrowFatal(log_, 1,
               Concat("title of the statistics table ", fileName_, " is longer than ",
                      StatisticsRegistry::MaxTitleLength, " characters"));
  return title;
}

void zonalstatistic::FillRegistryEntry(StatisticsRegistryEntry &target, const OutputDate &date,
                                       const std::shared_ptr<StatisticsColumns> &columns,
                                       const std::string &title, bool hasArealMean) const {
  std::fill(columns->accumulator.begin(), columns->accumulator.end(), 0.0);
  target.year = date.year;
  target.month = date.month;
  target.day = date.day;
  target.hour = date.hour;
  target.valueCount = valueCount_;
  target.columns = columns;
  target.title = title;
  target.hasArealMean = hasArealMean;
}

int zonalstatistic::RegisterTable(StatisticsRegistry *registry, int capacity, bool hasArealMean) {
  if (registry == nullptr || columns_ == nullptr)
    return -1;
  const int entry = registry->FirstFree(capacity);
  if (entry >= 0)
    FillRegistryEntry((*registry)[entry], {year_, month_, day_, hour_}, columns_, title_,
                      hasArealMean);
  return entry;
}

void zonalstatistic::WriteHeaderLines(std::span<const double> columnAreas, bool arealMean) {
  const std::vector<int> zoneColumns = ColumnZones();
  if (std::fputs("YY\tMM\tDD\tHH", file_) == EOF)
    writeFailed_ = true;
  std::size_t slot = 0;
  for (const int k : zoneColumns) {
    const ZoneRecord &zone = zones_[static_cast<std::size_t>(k)];
    if (std::fprintf(file_, "\t\"%.0lf\"", zone.zonenwert) < 0)
      writeFailed_ = true;
    ++slot;
    columns_->values[slot] = 0.0;
    columns_->accumulator[slot] = 0.0;
    columns_->codes[slot] = static_cast<std::uint64_t>(zone.zonenwert);
  }
  if (std::fprintf(file_, "%s\n%s\n--\t--\t--\t--", arealMean ? "\ttot_average" : "",
                   title_.c_str()) < 0)
    writeFailed_ = true;
  slot = 0;
  for (std::size_t i = 0; i < zoneColumns.size(); ++i) {
    const double area = i < columnAreas.size() ? columnAreas[i] : 0.0;
    if (std::fprintf(file_, "\t%.7lf", area) < 0)
      writeFailed_ = true;
    columns_->areas[++slot] = area;
  }
  if (arealMean) {
    ++slot;
    columns_->values[slot] = 0.0;
    columns_->accumulator[slot] = 0.0;
    columns_->codes[slot] = 0;
    columns_->areas[slot] = 1.0;
  }
  if (std::fputs(arealMean ? "\t1.0000\n" : "\n", file_) == EOF)
    writeFailed_ = true;
}

int zonalstatistic::WriteHeader(std::string_view description, std::string_view moduleName,
                                StatisticsRegistry *registry, int capacity) {
  if (WorldRank() != 0 || mode_ < 1)
    return -1;
  title_ = ComposeTitle(description, moduleName);

  const InterruptsIgnored quiet;
  OpenFile("wt");
  const int entry = RegisterTable(registry, capacity, true);
  std::vector<double> areas;
  for (const int k : ColumnZones())
    areas.push_back(zones_[static_cast<std::size_t>(k)].rel);
  WriteHeaderLines(areas, true);
  CloseFile();
  return entry;
}

void zonalstatistic::ReleaseMemory() {
  if (mode_ < 1)
    return;
  if (rowCount_ > 0 && constructed_)
    FlushBuffer();
  rowDates_ = {};
  rowValues_ = {};
  sums_ = {};
  accN_ = {};
  accSx_ = {};
  accRel_ = {};
  listCodes_ = {};
  listZones_ = {};
  // A registry entry keeps its own reference to the columns.
  columns_.reset();
  mode_ = -1;
}

} // namespace tavro
