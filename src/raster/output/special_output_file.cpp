// Special-output file: entities, sampling into the row buffer, header and flush.
#include "raster/output/special_output_file.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "raster/parallel/interrupts_ignored.h"

#include <mpi.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace tavro {
namespace {

// A point this process does not own: below every value, so that the owner's
// value wins the reduction whatever it is (also below -9999); written as
// -9999 when no process owns the point.
constexpr double kNotSampled = -std::numeric_limits<double>::infinity();

double CombineSamples(double a, double b) {
  if (a == kNotSampled)
    return b;
  if (b == kNotSampled)
    return a;
  // Two owners cannot occur; the result is still independent of the order.
  if (std::isnan(a) || std::isnan(b))
    return std::numeric_limits<double>::quiet_NaN();
  return std::max(a, b);
}

void CombineSampleArrays(void *in, void *inout, int *length, MPI_Datatype *) {
  const auto *a = static_cast<const double *>(in);
  auto *b = static_cast<double *>(inout);
  for (int i = 0; i < *length; ++i)
    b[i] = CombineSamples(a[i], b[i]);
}

int WorldRank() {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  return rank;
}

// The owner's value of every buffered slot on rank 0; one collective.
void ReduceToRoot(std::vector<double> &values, std::size_t count) {
  if (count > static_cast<std::size_t>(INT_MAX))
    throw std::length_error("special output buffer beyond one MPI message");
  MPI_Op op = MPI_OP_NULL;
  MPI_Op_create(&CombineSampleArrays, 1, &op);
  if (WorldRank() == 0)
    MPI_Reduce(MPI_IN_PLACE, values.data(), static_cast<int>(count), MPI_DOUBLE, op, 0,
               MPI_COMM_WORLD);
  else
    MPI_Reduce(values.data(), nullptr, static_cast<int>(count), MPI_DOUBLE, op, 0, MPI_COMM_WORLD);
  MPI_Op_free(&op);
}

} // namespace

SpecialOutputEntity::SpecialOutputEntity(EntityDefinition definition, std::vector<PointCell> cells,
                                         int registryIndex, bool flux)
    : definition_(std::move(definition)), cells_(std::move(cells)), registryIndex_(registryIndex),
      flux_(flux) {}

bool SpecialOutputEntity::Owns(std::size_t i, const SamplingContext &context) const {
  if (registryIndex_ <= 0 || context.owners == nullptr)
    return false;
  const PointCell &cell = cells_[i];
  const Grid &owners = *context.owners;
  return owners.HasRow(cell.row) && cell.column <= owners.LastColumn() &&
         owners[cell.row][cell.column] == static_cast<double>(context.rank);
}

double SpecialOutputEntity::Value(std::size_t i, const SamplingContext &context) const {
  const PointCell &cell = cells_[i];
  if (cell.row < context.firstRow || cell.row > context.lastRow || cell.column < 1 ||
      cell.column > context.ncols || context.registry == nullptr)
    return NoData;
  const GridEntry &entry = (*context.registry)[registryIndex_];
  if (entry.StackData != nullptr && HasLevels()) {
    const Stack &stack = *entry.StackData;
    const long level = definition_.Level[i];
    if (level < 0 || level > entry.Levels || level > stack.LastLevel() || !stack.HasRow(cell.row) ||
        cell.column > stack.LastColumn())
      return NoData;
    return stack[cell.row][cell.column][level];
  }
  const Grid *grid = entry.Data;
  if (grid == nullptr || !grid->HasRow(cell.row) || cell.column > grid->LastColumn())
    return NoData;
  return (*grid)[cell.row][cell.column];
}

SpecialOutputFile::SpecialOutputFile(DiagnosticsLog &log, std::string header, std::string fileName,
                                     std::vector<SpecialOutputEntity> entities)
    : log_(&log), header_(std::move(header)), fileName_(std::move(fileName)),
      entities_(std::move(entities)) {
  for (const SpecialOutputEntity &entity : entities_)
    valueCount_ += entity.PointCount();
  rowCapacity_ = entities_.empty()
                     ? EmptyFileRows
                     : std::max<std::size_t>(BufferBytes / ((valueCount_ + 1) * 8 + 32), 1);
  dates_.assign(rowCapacity_ * 4, 0);
  values_.assign(rowCapacity_ * (valueCount_ + 1), 0.0);
}

void SpecialOutputFile::WriteHeader() const {
  const InterruptsIgnored quiet;
  std::FILE *file = std::fopen(fileName_.c_str(), "wt");
  if (file == nullptr)
    ThrowFatal(*log_, CreateErrorExitCode,
               "error opening file for special output of file\n" + fileName_ +
                   "\n-> check file name, disk space or user rights");
  bool failed = std::fputs("YY\tMM\tDD\tHH", file) == EOF;
  for (const SpecialOutputEntity &entity : entities_)
    for (std::size_t i = 0; i < entity.PointCount(); ++i) {
      failed |= std::fprintf(file, "\t%s/%d/%d", entity.Definition().Symbol.c_str(),
                             static_cast<int>(entity.Cell(i).column),
                             static_cast<int>(entity.Cell(i).row)) < 0;
      if (entity.HasLevels())
        failed |= std::fprintf(file, "/%d", entity.Definition().Level[i]) < 0;
    }
  failed |= std::fprintf(file, "\n%s\nYY\tMM\tDD\tHH", header_.c_str()) < 0;
  for (const SpecialOutputEntity &entity : entities_)
    for (std::size_t i = 0; i < entity.PointCount(); ++i) {
      failed |= std::fprintf(file, "\t%s/%s/%s", entity.Definition().Symbol.c_str(),
                             FormatCoordinate(entity.Definition().Xcoords[i]).c_str(),
                             FormatCoordinate(entity.Definition().Ycoords[i]).c_str()) < 0;
      if (entity.HasLevels())
        failed |= std::fprintf(file, "/%d", entity.Definition().Level[i]) < 0;
    }
  failed |= std::fputc('\n', file) == EOF;
  failed |= std::ferror(file) != 0;
  if (std::fclose(file) != 0 || failed)
    ThrowFatal(*log_, CreateErrorExitCode,
               "error opening file for special output of file\n" + fileName_ +
                   "\n-> check file name, disk space or user rights");
}

void SpecialOutputFile::Sample(const SamplingContext &context, std::int64_t year,
                               std::int64_t month, std::int64_t day, std::int64_t hour,
                               bool substepCall, int substepIndex) {
  if (newRow_) {
    ++rowCount_;
    std::int64_t *date = &dates_[(rowCount_ - 1) * 4];
    date[0] = year;
    date[1] = month;
    date[2] = day;
    date[3] = hour;
    std::fill_n(Row(rowCount_ - 1), valueCount_ + 1, 0.0);
    newRow_ = false;
  }
  double *row = Row(rowCount_ - 1);
  std::size_t j = 1;
  for (const SpecialOutputEntity &entity : entities_) {
    // Sub-step calls only sum the fluxes; everything else is taken at the end.
    if (substepCall && !entity.IsFlux()) {
      j += entity.PointCount();
      continue;
    }
    for (std::size_t i = 0; i < entity.PointCount(); ++i, ++j) {
      if (!entity.Owns(i, context)) {
        row[j] = kNotSampled;
        continue;
      }
      if (!entity.IsFlux()) {
        row[j] = entity.Value(i, context);
      } else if (substepCall) {
        const double value = entity.Value(i, context);
        row[j] = substepIndex <= 1 ? value : row[j] + value;
      }
      // The end-of-step call leaves an owned flux column with its sum.
    }
  }
  if (!substepCall) {
    if (rowCount_ >= rowCapacity_)
      Flush();
    newRow_ = true;
  }
}

void SpecialOutputFile::WriteRows(std::FILE *file) const {
  for (std::size_t r = 0; r < rowCount_; ++r) {
    const std::int64_t *date = &dates_[r * 4];
    std::fprintf(file, "%ld\t%ld\t%ld\t%ld", static_cast<long>(date[0]), static_cast<long>(date[1]),
                 static_cast<long>(date[2]), static_cast<long>(date[3]));
    const double *row = &values_[r * (valueCount_ + 1)];
    for (std::size_t j = 1; j <= valueCount_; ++j)
      std::fprintf(file, "\t%g", row[j] == kNotSampled ? SpecialOutputEntity::NoData : row[j]);
    std::fputc('\n', file);
  }
}

void SpecialOutputFile::Flush() {
  if (rowCount_ == 0)
    return;
  const InterruptsIgnored quiet;
  ReduceToRoot(values_, rowCount_ * (valueCount_ + 1));
  if (WorldRank() == 0) {
    *log_ << "write " << fileName_;
    std::FILE *file = std::fopen(fileName_.c_str(), "a+");
    if (file == nullptr) {
      *log_ << "[end-entry]";
      ThrowFatal(*log_, AppendErrorExitCode, "\nerror opening file " + fileName_);
    }
    WriteRows(file);
    const bool failed = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || failed) {
      *log_ << "[end-entry]";
      ThrowFatal(*log_, AppendErrorExitCode, "\nerror writing file " + fileName_);
    }
    const long long bytes =
        (static_cast<long long>(valueCount_) * 8 + 32) * static_cast<long long>(rowCount_);
    *log_ << "(" << bytes << " of " << static_cast<long long>(BufferBytes) << " buffer-bytes)"
          << "[end-entry]";
  }
  rowCount_ = 0;
}

} // namespace tavro
