// Zone-record reductions; see zone_reduction.h.
#include "raster/parallel/zone_reduction.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace tavro {
namespace {

// The contiguous type of five doubles, released when the reduction ends.
class ZoneRecordType {
public:
  ZoneRecordType() {
    MPI_Type_contiguous(5, MPI_DOUBLE, &type_);
    MPI_Type_commit(&type_);
  }
  ~ZoneRecordType() { MPI_Type_free(&type_); }
  ZoneRecordType(const ZoneRecordType &) = delete;
  ZoneRecordType &operator=(const ZoneRecordType &) = delete;
  MPI_Datatype Get() const { return type_; }

private:
  MPI_Datatype type_ = MPI_DATATYPE_NULL;
};

// The contiguous type of one ExactZoneSums (nine 64-bit words).
class ExactZoneSumsType {
public:
  ExactZoneSumsType() {
    MPI_Type_contiguous(static_cast<int>(sizeof(ExactZoneSums) / sizeof(std::uint64_t)),
                        MPI_UINT64_T, &type_);
    MPI_Type_commit(&type_);
  }
  ~ExactZoneSumsType() { MPI_Type_free(&type_); }
  ExactZoneSumsType(const ExactZoneSumsType &) = delete;
  ExactZoneSumsType &operator=(const ExactZoneSumsType &) = delete;
  MPI_Datatype Get() const { return type_; }

private:
  MPI_Datatype type_ = MPI_DATATYPE_NULL;
};

// A commutative user operation, released when the reduction ends.
class UserOperation {
public:
  explicit UserOperation(MPI_User_function *function) { MPI_Op_create(function, 1, &op_); }
  ~UserOperation() { MPI_Op_free(&op_); }
  UserOperation(const UserOperation &) = delete;
  UserOperation &operator=(const UserOperation &) = delete;
  MPI_Op Get() const { return op_; }

private:
  MPI_Op op_ = MPI_OP_NULL;
};

int RecordCount(std::size_t size) {
  // A zone table holds at most 16000 zones; anything near INT_MAX is a caller fault.
  return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

} // namespace

void MPISumZonesOp(void *in, void *inout, int *count, MPI_Datatype *) {
  const auto *a = static_cast<const ZoneRecord *>(in);
  auto *b = static_cast<ZoneRecord *>(inout);
  for (int i = 0; i < *count; ++i) {
    b[i].n += a[i].n;
    b[i].sx += a[i].sx;
    b[i].RelCellSum += a[i].RelCellSum;
  }
}

void MPISumFlowTimeZonesOp(void *in, void *inout, int *count, MPI_Datatype *) {
  const auto *a = static_cast<const ZoneRecord *>(in);
  auto *b = static_cast<ZoneRecord *>(inout);
  for (int i = 0; i < *count; ++i) {
    b[i].n += a[i].n;
    b[i].RelCellSum += a[i].RelCellSum;
    b[i].sx = 0.0;
  }
}

void MPIReduceZones(std::span<ZoneRecord> zones, long highestIndex, bool copyWeights) {
  const auto records = zones.first(
      static_cast<std::size_t>(std::clamp(highestIndex + 1, 0L, static_cast<long>(zones.size()))));
  const ZoneRecordType type;
  const UserOperation sum(&MPISumZonesOp);
  std::vector<ZoneRecord> result(records.size()); // n, sx and RelCellSum start at 0
  MPI_Reduce(records.data(), result.data(), RecordCount(records.size()), type.Get(), sum.Get(), 0,
             MPI_COMM_WORLD);
  for (std::size_t k = 0; k < records.size(); ++k) {
    records[k].n = result[k].n;
    records[k].sx = result[k].sx;
    if (copyWeights)
      records[k].RelCellSum = result[k].RelCellSum;
  }
}

void MPISumExactZonesOp(void *in, void *inout, int *count, MPI_Datatype *) {
  const auto *a = static_cast<const ExactZoneSums *>(in);
  auto *b = static_cast<ExactZoneSums *>(inout);
  for (int i = 0; i < *count; ++i) {
    b[i].n += a[i].n;
    b[i].sx += a[i].sx;
    b[i].RelCellSum += a[i].RelCellSum;
  }
}

void MPIReduceExactZones(std::span<ExactZoneSums> sums) {
  const ExactZoneSumsType type;
  const UserOperation sum(&MPISumExactZonesOp);
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  const int count = RecordCount(sums.size());
  if (rank == 0) {
    MPI_Reduce(MPI_IN_PLACE, sums.data(), count, type.Get(), sum.Get(), 0, MPI_COMM_WORLD);
  } else {
    MPI_Reduce(sums.data(), nullptr, count, type.Get(), sum.Get(), 0, MPI_COMM_WORLD);
    for (ExactZoneSums &zone : sums)
      zone.Clear();
  }
}

std::vector<ZoneRecord> AllReduceFlowTimeZones(std::span<const ZoneRecord> records) {
  const ZoneRecordType type;
  const UserOperation sum(&MPISumFlowTimeZonesOp);
  std::vector<ZoneRecord> result(records.size());
  MPI_Allreduce(records.data(), result.data(), RecordCount(records.size()), type.Get(), sum.Get(),
                MPI_COMM_WORLD);
  for (std::size_t k = 0; k < records.size(); ++k) {
    result[k].zonenwert = records[k].zonenwert;
    result[k].rel = records[k].rel;
  }
  return result;
}

} // namespace tavro
