// Cell tests and the copy of master-cell results in spin-up mode.
#include "raster/parallel/cell_iteration.h"

#include <cmath>

namespace tavro {

RowColumnRange CellIteration::Columns(long row) const {
  if (setup_.RowRanges == nullptr)
    return {1, static_cast<std::int32_t>(setup_.NCols)};
  const auto index = static_cast<std::size_t>(row);
  if (index > setup_.RowRanges->Count())
    return {1, 0};
  const RowColumnRange range = (*setup_.RowRanges)[index];
  if (range.last < range.first)
    return {1, 0};
  return range;
}

bool CellIteration::IsValid(long row, long column) const {
  if (setup_.Zone == nullptr)
    return true;
  const double *values = (*setup_.Zone)[row];
  return values != nullptr && IsValidCell(values[column], setup_.NoData);
}

bool CellIteration::IsOwned(long row, long column) const {
  if (setup_.Owners == nullptr)
    return true;
  const double *owners = (*setup_.Owners)[row];
  return owners != nullptr && std::lround(owners[column]) == setup_.Rank;
}

bool CellIteration::UsesUnits() const {
  return setup_.UnitGrid != nullptr && setup_.MasterGrid != nullptr && setup_.Units != nullptr &&
         setup_.Units->size() > 1;
}

bool CellIteration::IsComputed(long row, long column) const {
  if (!IsValid(row, column) || !IsOwned(row, column))
    return false;
  if (!UsesUnits())
    return true;
  // A cell outside every unit is computed itself; a unit is computed in its master.
  const double unit = (*setup_.UnitGrid)[row][column];
  if (!(unit > 0.0))
    return true;
  return (*setup_.MasterGrid)[row][column] > 0.0;
}

bool CellIteration::MasterOf(long row, long column, long *masterRow, long *masterColumn) const {
  if (!IsValid(row, column) || !IsOwned(row, column))
    return false;
  const double unit = (*setup_.UnitGrid)[row][column];
  if (!(unit > 0.0) || (*setup_.MasterGrid)[row][column] > 0.0)
    return false;
  const auto number = static_cast<std::size_t>(std::llround(unit));
  if (number >= setup_.Units->size())
    return false;
  const HydrologicResponseUnit &master = (*setup_.Units)[number];
  *masterRow = master.row;
  *masterColumn = master.column;
  return true;
}

template <class CopyCell> void CellIteration::ForEachUnitMember(CopyCell &&copy) const {
  if (!UsesUnits())
    return;
#pragma omp parallel for schedule(runtime)
  for (long row = setup_.FirstRow; row <= setup_.LastRow; ++row) {
    const RowColumnRange range = Columns(row);
    for (long column = range.first; column <= range.last; ++column) {
      long masterRow = 0;
      long masterColumn = 0;
      if (MasterOf(row, column, &masterRow, &masterColumn))
        copy(row, column, masterRow, masterColumn);
    }
  }
}

void CellIteration::CopyMasterResults(std::span<Grid *const> grids) const {
  ForEachUnitMember([&](long row, long column, long masterRow, long masterColumn) {
    for (Grid *grid : grids)
      (*grid)[row][column] = (*grid)[masterRow][masterColumn];
  });
}

void CellIteration::CopyMasterResults(std::span<Stack *const> stacks) const {
  ForEachUnitMember([&](long row, long column, long masterRow, long masterColumn) {
    for (Stack *stack : stacks) {
      const double *from = (*stack)[masterRow][masterColumn];
      double *to = (*stack)[row][column];
      for (long level = 0; level <= stack->LastLevel(); ++level)
        to[level] = from[level];
    }
  });
}

} // namespace tavro
