// Sums of zone records over all processes: the derived MPI type of a
// ZoneRecord (five contiguous doubles), the user operations that add the
// sums of two records, and the reductions built on them.
#pragma once

#include <mpi.h>

#include <span>
#include <vector>

#include "kernel/exact_sum.h"
#include "kernel/zone_record.h"

namespace tavro {

// MPI user operation: for each of the count records inout.n += in.n,
// inout.sx += in.sx, inout.RelCellSum += in.RelCellSum; zonenwert and rel of
// inout stay. Commutative.
void MPISumZonesOp(void *in, void *inout, int *count, MPI_Datatype *type);

// Variant of the flow-time zones: n and RelCellSum add up, sx becomes 0;
// zonenwert and rel of inout stay. Commutative.
void MPISumFlowTimeZonesOp(void *in, void *inout, int *count, MPI_Datatype *type);

// Collective: sums n and sx (and RelCellSum when copyWeights is set) of
// records 0..highestIndex over all processes onto rank 0; on every other
// process those fields become 0. zonenwert and rel stay untouched everywhere.
// Records beyond the span are never touched (the index is cut to the span).
void MPIReduceZones(std::span<ZoneRecord> zones, long highestIndex, bool copyWeights);

// Collective: the records combined over all processes with
// MPISumFlowTimeZonesOp, the same on every process (n and RelCellSum summed,
// sx 0, zonenwert and rel as this process passed them).
std::vector<ZoneRecord> AllReduceFlowTimeZones(std::span<const ZoneRecord> records);

// The three sums of a zone held exactly (see kernel/exact_sum.h), so that the
// total over processes and threads does not depend on the order of addition.
struct ExactZoneSums {
  ExactSum n;
  ExactSum sx;
  ExactSum RelCellSum;

  void Clear() noexcept { *this = ExactZoneSums(); }
};

static_assert(sizeof(ExactZoneSums) == 3 * sizeof(ExactSum), "sent over MPI as nine words");

// MPI user operation: for each of the count elements inout.n += in.n,
// inout.sx += in.sx, inout.RelCellSum += in.RelCellSum, exactly. Associative
// and commutative, so the reduction result is the same for any process count
// or reduction tree.
void MPISumExactZonesOp(void *in, void *inout, int *count, MPI_Datatype *type);

// Collective: sums the exact zone sums of all processes onto rank 0 (in
// place); on every other process they become 0. Every process passes the same
// number of elements.
void MPIReduceExactZones(std::span<ExactZoneSums> sums);

} // namespace tavro
