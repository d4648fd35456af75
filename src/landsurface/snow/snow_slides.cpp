// Snow slides over the whole raster, highest cell first.
#include "landsurface/snow/snow_slides.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tavro::snow {
namespace {

bool Valid(const Grid &zone, long row, long column, double noData) {
  return zone[row][column] != noData;
}

// Takes share of the pack at the cell out of it, keeping its liquid part;
// returns the amount taken (mm over the pack's area).
double TakeFromPack(const PackGrids &pack, long row, long column, double share) {
  const double total = (*pack.Total)[row][column];
  const double kept = total - share * total;
  const double liquid = (*pack.Liquid)[row][column] / total * kept;
  (*pack.Liquid)[row][column] = liquid;
  (*pack.Solid)[row][column] = kept - liquid;
  (*pack.Total)[row][column] = kept;
  return total - kept;
}

// Adds amount to the pack at the cell, keeping its liquid part.
void AddToPack(const PackGrids &pack, long row, long column, double amount) {
  const double total = (*pack.Total)[row][column];
  if (total > 0.0) {
    const double grown = total + amount;
    const double liquid = (*pack.Liquid)[row][column] / total * grown;
    (*pack.Liquid)[row][column] = liquid;
    (*pack.Solid)[row][column] = grown - liquid;
    (*pack.Total)[row][column] = grown;
    return;
  }
  (*pack.Liquid)[row][column] = 0.0;
  (*pack.Solid)[row][column] = amount;
  (*pack.Total)[row][column] = amount;
}

struct Neighbour {
  long row = 0;
  long column = 0;
  double share = 0.0;
};

// The neighbours up, left, right and down with their normalised shares
// (0 outside the raster, on nodata and in another zone); false when all are 0.
bool NeighbourShares(const RasterExtent &extent, const SlideGrids &g, long row, long column,
                     std::array<Neighbour, 4> &neighbours) {
  const Grid &zone = *g.Zone;
  const double own = zone[row][column];
  const std::array<std::pair<long, long>, 4> offsets{{{-1, 0}, {0, -1}, {0, 1}, {1, 0}}};
  double sum = 0.0;
  for (std::size_t k = 0; k < 4; ++k) {
    Neighbour &n = neighbours[k];
    n.row = row + offsets[k].first;
    n.column = column + offsets[k].second;
    n.share = 0.0;
    if (n.row < 1 || n.row > extent.Rows || n.column < 1 || n.column > extent.Columns)
      continue;
    const double code = zone[n.row][n.column];
    if (code == extent.NoData || code != own)
      continue;
    n.share = (*g.Shares[k])[row][column];
    sum += n.share;
  }
  if (!(sum > 0.0))
    return false;
  for (Neighbour &n : neighbours)
    n.share /= sum;
  return true;
}

double GlacierShare(const SlideGrids &g, long row, long column) {
  if (g.GlacierFraction == nullptr || g.GlacierPack.Total == nullptr)
    return 0.0;
  return std::clamp((*g.GlacierFraction)[row][column], 0.0, 1.0);
}

// The mass the cell sets in motion (mm over the cell's area).
double SetInMotion(const SlideParameters &p, const SlideGrids &g, long row, long column,
                   double glacier) {
  const double total = (*g.Pack.Total)[row][column];
  const double glacierTotal =
      g.GlacierPack.Total != nullptr ? (*g.GlacierPack.Total)[row][column] : 0.0;
  if (!(total > 0.0 || glacierTotal > 0.0) || (*g.Slope)[row][column] < p.MinSlideSlope)
    return 0.0;
  double input = 0.0;
  if (glacier < 1.0 && total > 0.0)
    input = TakeFromPack(g.Pack, row, column, p.SlideMassFraction) * (1.0 - glacier);
  if (g.GlacierPack.Total != nullptr && glacierTotal > 0.0 && glacier > 0.0)
    input += TakeFromPack(g.GlacierPack, row, column, p.SlideMassFraction) * glacier;
  return input;
}

void PassOn(const SlideGrids &g, const std::array<Neighbour, 4> &neighbours, double mass) {
  Grid &deposition = *g.Deposition;
  Grid &mobile = *g.MobileMass;
  const Grid &capacity = *g.MaxDeposition;
  for (const Neighbour &n : neighbours) {
    const double part = n.share * mass;
    if (!(part > 0.0))
      continue;
    double &deposited = deposition[n.row][n.column];
    const double limit = capacity[n.row][n.column];
    if (deposited + part <= limit) {
      deposited += part;
    } else {
      mobile[n.row][n.column] += deposited + part - limit;
      deposited = limit;
    }
  }
}

} // namespace

double DepositionCapacity(double slope, double maxDepositionSlope, double maxDepositionFactor) {
  if (!(slope < maxDepositionSlope))
    return 0.0;
  return maxDepositionFactor * (1.0 - slope / maxDepositionSlope);
}

void BuildDepositionCapacity(const RasterExtent &extent, const Grid &zone, const Grid &slope,
                             double maxDepositionSlope, double maxDepositionFactor,
                             Grid &capacity) {
  for (long r = 1; r <= extent.Rows; ++r)
    for (long c = 1; c <= extent.Columns; ++c)
      capacity[r][c] =
          Valid(zone, r, c, extent.NoData)
              ? DepositionCapacity(slope[r][c], maxDepositionSlope, maxDepositionFactor)
              : extent.NoData;
}

void BuildElevationOrder(const RasterExtent &extent, const Grid &zone, const Grid &elevation,
                         Grid &orderRow, Grid &orderColumn) {
  struct Cell {
    long row;
    long column;
    double elevation;
  };
  std::vector<Cell> cells;
  for (long r = 1; r <= extent.Rows; ++r)
    for (long c = 1; c <= extent.Columns; ++c)
      if (Valid(zone, r, c, extent.NoData))
        cells.push_back({r, c, elevation[r][c]});
  std::stable_sort(cells.begin(), cells.end(),
                   [](const Cell &a, const Cell &b) { return a.elevation < b.elevation; });
  auto next = cells.rbegin();
  for (long r = 1; r <= extent.Rows; ++r)
    for (long c = 1; c <= extent.Columns; ++c) {
      if (!Valid(zone, r, c, extent.NoData)) {
        orderRow[r][c] = extent.NoData;
        orderColumn[r][c] = extent.NoData;
        continue;
      }
      orderRow[r][c] = static_cast<double>(next->row);
      orderColumn[r][c] = static_cast<double>(next->column);
      ++next;
    }
}

void SlideSnow(const RasterExtent &extent, const SlideParameters &parameters, const SlideGrids &g) {
  const Grid &zone = *g.Zone;
  for (long r = 1; r <= extent.Rows; ++r)
    for (long c = 1; c <= extent.Columns; ++c) {
      const double start = Valid(zone, r, c, extent.NoData) ? 0.0 : extent.NoData;
      (*g.InputMass)[r][c] = start;
      (*g.MobileMass)[r][c] = start;
      (*g.Deposition)[r][c] = start;
    }

  std::array<Neighbour, 4> neighbours{};
  for (long position = 1; position <= extent.Rows; ++position)
    for (long slot = 1; slot <= extent.Columns; ++slot) {
      if (!Valid(zone, position, slot, extent.NoData))
        continue;
      const long row = std::lround((*g.OrderRow)[position][slot]);
      const long column = std::lround((*g.OrderColumn)[position][slot]);
      const double glacier = GlacierShare(g, row, column);
      const bool flows = NeighbourShares(extent, g, row, column, neighbours);
      const double input = SetInMotion(parameters, g, row, column, glacier);
      (*g.InputMass)[row][column] = input;
      const double mass = input + (*g.MobileMass)[row][column];
      if (flows) {
        (*g.MobileMass)[row][column] = 0.0;
        PassOn(g, neighbours, mass);
      } else {
        (*g.MobileMass)[row][column] = mass;
      }
    }

  for (long r = 1; r <= extent.Rows; ++r)
    for (long c = 1; c <= extent.Columns; ++c) {
      if (!Valid(zone, r, c, extent.NoData))
        continue;
      const double arrived = (*g.Deposition)[r][c] + (*g.MobileMass)[r][c];
      // Nothing arrived: the pack stays exactly as it is.
      if (arrived == 0.0)
        continue;
      const double glacier = GlacierShare(g, r, c);
      if (glacier < 1.0)
        AddToPack(g.Pack, r, c, arrived);
      if (g.GlacierPack.Total != nullptr && glacier > 0.0)
        AddToPack(g.GlacierPack, r, c, arrived);
    }
}

} // namespace tavro::snow
