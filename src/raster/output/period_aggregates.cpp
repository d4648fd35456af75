// Accumulation of the period, minimum/maximum and vegetation-period grids on
// the process's own cells.
#include "raster/output/period_aggregates.h"

#include <algorithm>

namespace tavro {
namespace {

// The own-cell test of one row with its row pointers looked up once.
class RowCells {
public:
  RowCells(const OwnCells &cells, long row) : cells_(cells) {
    const auto [first, last] = cells.Columns(row);
    first_ = std::max(first, 1L);
    last_ = std::min(last, cells.NCols);
    zone_ = cells.Zone != nullptr && cells.Zone->HasRow(row) ? (*cells.Zone)[row] : nullptr;
    regions_ =
        cells.Regions != nullptr && cells.Regions->HasRow(row) ? (*cells.Regions)[row] : nullptr;
    noOwner_ = cells.Regions != nullptr && regions_ == nullptr;
  }

  long First() const { return first_; }
  long Last() const { return last_; }
  bool IsOwn(long column) const {
    if (noOwner_)
      return false;
    if (zone_ != nullptr && !IsValidCell(zone_[column], cells_.NoData))
      return false;
    return regions_ == nullptr || regions_[column] == static_cast<double>(cells_.Rank);
  }

private:
  const OwnCells &cells_;
  long first_ = 1;
  long last_ = 0;
  const double *zone_ = nullptr;
  const double *regions_ = nullptr;
  bool noOwner_ = false;
};

// fn(row, cells of the row) for every row of the range that all grids hold.
template <class Fn> void ForEachRow(const OwnCells &cells, Fn &&fn) {
#pragma omp parallel for schedule(static)
  for (long row = cells.FirstRow; row <= cells.LastRow; ++row)
    fn(row, RowCells(cells, row));
}

} // namespace

std::pair<long, long> OwnCells::Columns(long row) const {
  if (RowRanges == nullptr)
    return {1, NCols};
  if (row < 0 || static_cast<std::size_t>(row) > RowRanges->Count())
    return {0, -1};
  const RowColumnRange &range = (*RowRanges)[static_cast<std::size_t>(row)];
  return {range.first, range.last};
}

bool OwnCells::IsOwn(long row, long column) const {
  const RowCells rowCells(*this, row);
  return column >= rowCells.First() && column <= rowCells.Last() && rowCells.IsOwn(column);
}

void AddToAggregate(const OwnCells &cells, const Grid &data, Grid &aggregate) {
  ForEachRow(cells, [&](long row, const RowCells &rowCells) {
    if (!data.HasRow(row) || !aggregate.HasRow(row))
      return;
    const double *in = data[row];
    double *sum = aggregate[row];
    for (long c = rowCells.First(); c <= rowCells.Last(); ++c)
      sum[c] = rowCells.IsOwn(c) ? sum[c] + in[c] : cells.NoData;
  });
}

void UpdateMinMax(const OwnCells &cells, const Grid &data, Grid *minimum, Grid *maximum,
                  bool started) {
  ForEachRow(cells, [&](long row, const RowCells &rowCells) {
    if (!data.HasRow(row))
      return;
    const double *in = data[row];
    double *low = minimum != nullptr && minimum->HasRow(row) ? (*minimum)[row] : nullptr;
    double *high = maximum != nullptr && maximum->HasRow(row) ? (*maximum)[row] : nullptr;
    for (long c = rowCells.First(); c <= rowCells.Last(); ++c) {
      const bool own = rowCells.IsOwn(c);
      if (!started) {
        const double first = own ? in[c] : cells.NoData;
        if (low != nullptr)
          low[c] = first;
        if (high != nullptr)
          high[c] = first;
      } else if (own) {
        if (low != nullptr && in[c] < low[c])
          low[c] = in[c];
        if (high != nullptr && in[c] > high[c])
          high[c] = in[c];
      }
    }
  });
}

void AddToVegetationPeriod(const OwnCells &cells, const Grid &data, const Grid &start,
                           const Grid &stop, Grid &sum) {
  ForEachRow(cells, [&](long row, const RowCells &rowCells) {
    if (!data.HasRow(row) || !start.HasRow(row) || !stop.HasRow(row) || !sum.HasRow(row))
      return;
    const double *in = data[row];
    const double *begun = start[row];
    const double *ended = stop[row];
    double *total = sum[row];
    for (long c = rowCells.First(); c <= rowCells.Last(); ++c)
      if (rowCells.IsOwn(c) && begun[c] >= 0.0 && ended[c] <= 0.0 && in[c] != cells.NoData)
        total[c] += in[c];
  });
}

void DivideOwnCells(const OwnCells &cells, Grid &grid, double divisor) {
  if (!(divisor > 0.0))
    return;
  ForEachRow(cells, [&](long row, const RowCells &rowCells) {
    if (!grid.HasRow(row))
      return;
    double *values = grid[row];
    for (long c = rowCells.First(); c <= rowCells.Last(); ++c)
      if (rowCells.IsOwn(c))
        values[c] /= divisor;
  });
}

void DivideByDuration(const OwnCells &cells, Grid &grid, const Grid &duration) {
  ForEachRow(cells, [&](long row, const RowCells &rowCells) {
    if (!grid.HasRow(row))
      return;
    double *values = grid[row];
    const double *days = duration.HasRow(row) ? duration[row] : nullptr;
    for (long c = rowCells.First(); c <= rowCells.Last(); ++c) {
      if (!rowCells.IsOwn(c))
        continue;
      if (days != nullptr && days[c] > 0.0)
        values[c] /= days[c];
      else
        values[c] = cells.NoData;
    }
  });
}

void ResetOwnCells(const OwnCells &cells, Grid &grid, double value, bool nodataElsewhere) {
  ForEachRow(cells, [&](long row, const RowCells &rowCells) {
    if (!grid.HasRow(row))
      return;
    double *values = grid[row];
    for (long c = rowCells.First(); c <= rowCells.Last(); ++c) {
      if (rowCells.IsOwn(c))
        values[c] = value;
      else if (nodataElsewhere)
        values[c] = cells.NoData;
    }
  });
}

void CopyStackLevel(const OwnCells &cells, const Stack &stack, long level, Grid &data) {
  if (level < 0 || level > stack.LastLevel())
    return;
  ForEachRow(cells, [&](long row, const RowCells &rowCells) {
    if (!stack.HasRow(row) || !data.HasRow(row))
      return;
    double *const *levels = stack[row];
    double *values = data[row];
    for (long c = rowCells.First(); c <= rowCells.Last(); ++c)
      if (rowCells.IsOwn(c))
        values[c] = levels[c][level];
  });
}

} // namespace tavro
