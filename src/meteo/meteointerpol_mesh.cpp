// The spline methods of the interpolator (7 and 8): the station mesh built
// once at construction, and the splines of each step's station values onto
// the spline grids, which the cell loop combines with the fallback of
// inverse distance weighting where a spline has no value.
#include "meteo/meteointerpol.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/module_construction.h"
#include "meteo/interpolation/station_boxes.h"

#include <deque>

namespace tavro {
namespace {

constexpr const char *kIrregularMesh =
    "Error converting the station coordinates into a grid:\nThe actual version of Tavro-Brenk "
    "accepts only station meshs\nwith an equal number of more or less equally spaced stations\nin "
    "each column, whereas the total number of both, rows \nand columns, are each virtually "
    "unlimited\n";

} // namespace

int meteointerpol::AnyNonZero(const OneBasedArray<int> &flags, std::size_t n) {
  for (std::size_t k = 1; k <= n && k <= flags.Count(); ++k)
    if (flags[k] != 0)
      return 1;
  return 0;
}

void meteointerpol::StationMeshToGrid(int file) {
  const auto f = static_cast<std::size_t>(file);
  const std::span<const double> x = Span(rotatedX_[f]);
  const std::span<const double> y = Span(rotatedY_[f]);
  const std::size_t count = x.size();
  const interpolation::StationBoxes boxes(x, y, Spacing, SearchTolerance);

  // Each column starts at the westernmost station not placed yet and grows
  // south and north through the boxes one spacing away, as long as the box
  // holds a station not placed yet.
  OneBasedArray<int> unplaced(count, 1);
  std::vector<std::deque<std::uint32_t>> columns;
  while (AnyNonZero(unplaced, count) != 0) {
    std::uint32_t start = 0;
    for (std::uint32_t k = 1; k <= count; ++k)
      if (unplaced[k] != 0 && (start == 0 || x[k - 1] < x[start - 1]))
        start = k;
    std::deque<std::uint32_t> column{start};
    unplaced[start] = 0;
    for (std::uint32_t k = boxes.South(start); k != 0 && unplaced[k] != 0; k = boxes.South(k)) {
      column.push_back(k);
      unplaced[k] = 0;
    }
    for (std::uint32_t k = boxes.North(start); k != 0 && unplaced[k] != 0; k = boxes.North(k)) {
      column.push_front(k);
      unplaced[k] = 0;
    }
    columns.push_back(std::move(column));
  }
  for (const auto &column : columns)
    if (column.size() != columns.front().size())
      ThrowFatal(*Log, MeshExitCode, kIrregularMesh);
  const long rows = columns.empty() ? 0 : static_cast<long>(columns.front().size());
  const long meshColumns = static_cast<long>(columns.size());
  // A spline needs two nodes in each direction.
  if (rows < 2 || meshColumns < 2)
    ThrowFatal(*Log, MeshExitCode,
               Concat(kIrregularMesh, "mesh found: ", meshColumns, " column(s) of ", rows,
                      " station(s)\n"));

  mesh_.Rows = rows;
  mesh_.Columns = meshColumns;
  for (Grid *matrix : {&mesh_.Station, &mesh_.Z, &mesh_.Z2, &mesh_.X, &mesh_.Y})
    *matrix = Grid(1, rows, meshColumns, rows, *Log);
  for (long j = 1; j <= meshColumns; ++j)
    for (long i = 1; i <= rows; ++i) {
      const std::uint32_t k =
          columns[static_cast<std::size_t>(j - 1)][static_cast<std::size_t>(i - 1)];
      mesh_.Station[i][j] = static_cast<double>(k);
      mesh_.X[i][j] = x[k - 1];
      mesh_.Y[i][j] = y[k - 1];
    }

  const double missing = -NodataBound - 1.0;
  splineGrid_ = MakeStripGrid(*this);
  splineGrid_.Fill(missing);
  if (InterpolationMethod == 8) {
    secondSplineGrid_ = MakeStripGrid(*this);
    secondSplineGrid_.Fill(missing);
  }
  LinkRegions();
  const SplineMesh mesh{.NodeX = &mesh_.X,
                        .NodeY = &mesh_.Y,
                        .Rows = rows,
                        .Columns = meshColumns,
                        .DX = Spacing.Horizontal,
                        .DY = Spacing.Vertical};
  const SplineModelRaster raster{.CellX = searchX_,
                                 .CellY = searchY_,
                                 .Cells = CellsOfThisProcess(),
                                 .Xll = XllCorner,
                                 .Yll = YllCorner,
                                 .CellSize = CellSize,
                                 .NoData = NoData,
                                 .Slope = AnisotropySlope};
  splines_ = std::make_unique<TSplines>(*Log, ModuleName, mesh, raster, Bounds());
}

void meteointerpol::EvaluateMeshSplines() {
  const int files = InterpolationMethod == 8 ? 2 : 1;
  for (int f = 0; f < files; ++f) {
    // Values below -N are missing: the splines leave them out.
    const OneBasedArray<double> &values = stations_[static_cast<std::size_t>(f)]->Values();
    for (long i = 1; i <= mesh_.Rows; ++i)
      for (long j = 1; j <= mesh_.Columns; ++j)
        mesh_.Z[i][j] = values[static_cast<std::size_t>(mesh_.Station[i][j])];
    splines_->Prepare(mesh_.Z, mesh_.Z2);
    splines_->EvaluateGrid(mesh_.Z, mesh_.Z2, f == 0 ? splineGrid_ : secondSplineGrid_);
  }
}

double meteointerpol::SplineCellValue(long row, long column, std::span<double> work) const {
  const double sx = (*searchX_)[row][column];
  const double sy = (*searchY_)[row][column];
  const double value = splineGrid_[row][column];
  if (InterpolationMethod == 7)
    return value >= -NodataBound ? value : InverseDistanceAt(work, sx, sy);
  const double gradient = secondSplineGrid_[row][column];
  const double elevation = (*elevation_)[row][column];
  if (value >= -NodataBound && gradient >= -NodataBound)
    return value + gradient * elevation;
  // Outside the splines both parts fall back to inverse distance weighting,
  // so that the elevation term stays.
  return ResidualPlusGradient(InverseDistanceAt(work, sx, sy, 0),
                              InverseDistanceAt(work, sx, sy, 1), elevation);
}

} // namespace tavro
