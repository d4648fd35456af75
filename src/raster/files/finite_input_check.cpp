// The search for non-finite input values and the entry that refuses them.
#include "raster/files/finite_input_check.h"

#include "kernel/fatal_error.h"
#include "kernel/grid.h"
#include "raster/files/grid_file_context.h"

#include <mpi.h>

#include <cmath>
#include <limits>

namespace tavro {

namespace {

constexpr std::int64_t NotFound = std::numeric_limits<std::int64_t>::max();
constexpr int ReadErrorCode = 22;

int KindOf(double value) {
  if (std::isnan(value))
    return 1;
  return value > 0.0 ? 2 : 3;
}

const char *KindText(int kind) {
  switch (kind) {
  case 1:
    return "nan";
  case 2:
    return "inf";
  default:
    return "-inf";
  }
}

// The validity test of a cell; value is the cell's first value.
class ValidCells {
public:
  explicit ValidCells(const GridFileContext &context) : context_(context) {}
  bool operator()(int r, int c, double value) const {
    const Grid *owners = context_.mpiRegions;
    if (owners != nullptr && owners->HasRow(r) && owners->LastColumn() >= c)
      return (*owners)[r][c] >= 0.0;
    const Grid *zone = context_.zoneGrid;
    if (owners == nullptr && zone != nullptr && zone->HasRow(r) && zone->LastColumn() >= c)
      return (*zone)[r][c] != context_.geometry.nodata;
    return value != context_.geometry.nodata;
  }

private:
  const GridFileContext &context_;
};

template <class ValuesOf>
std::optional<NonFiniteValue> Search(const GridFileContext &context, int firstRow, int lastRow,
                                     int levels, ValuesOf &&valuesOf) {
  const ValidCells valid(context);
  const int ncols = context.geometry.ncols;
  for (int r = firstRow; r <= lastRow; ++r)
    for (int c = 1; c <= ncols; ++c) {
      const double *values = valuesOf(r, c);
      if (values == nullptr)
        break;
      for (int k = 0; k <= levels; ++k)
        if (!std::isfinite(values[k]) && valid(r, c, values[0])) {
          const std::int64_t cell = (static_cast<std::int64_t>(r) - 1) * ncols + c - 1;
          return NonFiniteValue{cell * (levels + 1) + k, KindOf(values[k])};
        }
    }
  return std::nullopt;
}

} // namespace

std::optional<NonFiniteValue> FirstNonFiniteValue(const GridFileContext &context, const Grid &grid,
                                                  int firstRow, int lastRow) {
  return Search(context, firstRow, lastRow, 0, [&grid](int r, int c) -> const double * {
    return grid.HasRow(r) && grid.LastColumn() >= c ? grid[r] + c : nullptr;
  });
}

std::optional<NonFiniteValue> FirstNonFiniteValue(const GridFileContext &context,
                                                  const Stack &stack, int levels, int firstRow,
                                                  int lastRow) {
  return Search(context, firstRow, lastRow, levels, [&stack](int r, int c) -> const double * {
    return stack.HasRow(r) && stack.LastColumn() >= c ? stack[r][c] : nullptr;
  });
}

void RefuseNonFiniteValue(const GridFileContext &context, const std::string &path,
                          const std::optional<NonFiniteValue> &local, int levels, bool collective) {
  std::int64_t key = local ? local->key : NotFound;
  int kind = local ? local->kind : 0;
  if (collective) {
    const std::int64_t mine = key;
    MPI_Allreduce(&mine, &key, 1, MPI_INT64_T, MPI_MIN, MPI_COMM_WORLD);
    const int myKind = key != NotFound && mine == key ? kind : 0;
    MPI_Allreduce(&myKind, &kind, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  }
  if (key == NotFound)
    return;
  const std::int64_t perCell = levels >= 0 ? levels + 1 : 1;
  const std::int64_t cell = key / perCell;
  const int ncols = context.geometry.ncols;
  std::string text = Concat("error reading ", path, ": the value at row ", cell / ncols + 1,
                            ", col ", cell % ncols + 1);
  if (levels >= 0)
    text += Concat(", level ", key % perCell);
  text += Concat(" is ", KindText(kind), ", not a finite number");
  if (context.rank == 0 || !collective)
    ThrowFatal(context.log, ReadErrorCode, text);
  throw ReadErrorCode;
}

} // namespace tavro
