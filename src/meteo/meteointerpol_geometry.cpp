// Station geometry of the interpolator, prepared once at construction: the
// inverse-distance weight code, the anisotropy checks, the stations and the
// cells in the rotated frame, the mean station spacing, the direction of a
// station mesh and the look-up stations of the bilinear methods.
#include "meteo/meteointerpol.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/module_construction.h"
#include "meteo/interpolation/mesh_direction.h"
#include "meteo/interpolation/rotated_frame.h"
#include "raster/parallel/cell_iteration.h"

namespace tavro {

using interpolation::kQuarterTurn;

void meteointerpol::CheckAnisotropy() {
  WeightCode = interpolation::WeightCode(IdwWeight);
  idw_.Code = WeightCode;
  idw_.Exponent = IdwWeight;
  idw_.MaxDistance = MaxDistance;
  idw_.ValidFrom = -NodataBound;
  idw_.Missing = -NodataBound - 1.0;

  rotatedX_.clear();
  rotatedY_.clear();
  cornerDistances_.clear();
  for (const auto &file : stations_) {
    if (AnisotropySlope < -kQuarterTurn || AnisotropySlope > kQuarterTurn)
      ThrowFatal(*Log, AnisotropyExitCode,
                 "anisotropy slope has to range from -90 to +90 degree \n");
    if (!(AnisotropyRatio > 0.0 && AnisotropyRatio <= 1.0))
      ThrowFatal(*Log, AnisotropyExitCode, "ratio of anisotropy has to range from +1 to >0 liegen");
    const StationTable &table = file->Table();
    const std::size_t count = static_cast<std::size_t>(table.Count);
    OneBasedArray<double> x = table.X;
    OneBasedArray<double> y = table.Y;
    OneBasedArray<double> distances(count, 0.0);
    if (AnisotropyRatio < 1.0)
      for (std::size_t k = 1; k <= count; ++k) {
        distances[k] =
            interpolation::DistanceFromCorner(table.X[k], table.Y[k], XllCorner, YllCorner);
        const interpolation::FramePoint turned = interpolation::RotateIntoFrame(
            table.X[k], table.Y[k], XllCorner, YllCorner, AnisotropySlope);
        x[k] = turned.X;
        y[k] = turned.Y;
      }
    rotatedX_.push_back(std::move(x));
    rotatedY_.push_back(std::move(y));
    cornerDistances_.push_back(std::move(distances));
  }
}

void meteointerpol::CreateRotatedCoordinates() {
  if (!(AnisotropyRatio < 1.0) || coordX_ == nullptr || coordY_ == nullptr)
    return;
  rotatedCoordX_ = MakeStripGrid(*this);
  rotatedCoordY_ = MakeStripGrid(*this);
  if (!rotatedCoordX_.Allocated())
    return;
  const auto registerGrid = [&](Grid &grid, const std::string &identifier) {
    const int index = Registry->FirstFreeIndex();
    if (index == 0)
      ThrowFatal(*Log, GridRegistry::RegistryExitCode,
                 Concat("no more free grids in memeory, (max. ", 1000, ")!"));
    AddGrid(index, identifier, &grid, nullptr, 1, identifier, 0, FirstRow, LastRow);
    entries_.Add(index);
    return index;
  };
  RotatedXIndex = registerGrid(rotatedCoordX_, "CoordXRot_" + ModuleName);
  RotatedYIndex = registerGrid(rotatedCoordY_, "CoordYRot_" + ModuleName);

  const Grid &coordX = *coordX_;
  const Grid &coordY = *coordY_;
#pragma omp parallel for schedule(runtime)
  for (long row = FirstRow; row <= LastRow; ++row) {
    if (!coordX.HasRow(row) || !coordY.HasRow(row))
      continue;
    for (long column = 1; column <= NCols; ++column) {
      if (coordX[row][column] == NoData) {
        rotatedCoordX_[row][column] = NoData;
        rotatedCoordY_[row][column] = NoData;
        continue;
      }
      const interpolation::FramePoint turned = interpolation::RotateIntoFrame(
          coordX[row][column], coordY[row][column], XllCorner, YllCorner, AnisotropySlope);
      rotatedCoordX_[row][column] = turned.X;
      rotatedCoordY_[row][column] = turned.Y;
    }
  }
  searchX_ = &rotatedCoordX_;
  searchY_ = &rotatedCoordY_;
}

void meteointerpol::CalcStationDistances() {
  SearchTolerance = 0.25;
  Log->Entry(Concat("calculating average horizontal and vertical distance to the next station...",
                    DiagnosticsLog::EndToken));
  Spacing = interpolation::StationSpacing{};
  if (!rotatedX_.empty())
    Spacing = interpolation::MeanStationSpacing(Span(rotatedX_[0]), Span(rotatedY_[0]));
  Log->Entry(
      Concat("avg. horizontal distance: ", Spacing.Horizontal, " m", DiagnosticsLog::EndToken));
  Log->Entry(
      Concat("avg. vertical   distance: ", Spacing.Vertical, " m", DiagnosticsLog::EndToken));
}

void meteointerpol::CalcMeshDirection() {
  if (stations_.empty())
    return;
  const StationTable &table = stations_[0]->Table();
  const interpolation::MeshDirection direction =
      interpolation::DominantMeshDirection(Span(table.X), Span(table.Y));
  AnisotropySlope = direction.SlopeDegrees;
  AnisotropyRatio = direction.Ratio;
}

void meteointerpol::ChooseLookUpStations(int stationFileCount) {
  lookUp_.clear();
  if (rotatedX_.empty() || NCols < 1 || LastRow < FirstRow)
    return;
  const std::size_t width = static_cast<std::size_t>(NCols) + 1;
  lookUp_.assign(static_cast<std::size_t>(LastRow - FirstRow + 1) * width, {});
  LinkRegions();
  const CellIteration cells(CellsOfThisProcess());
  const std::span<const double> x = Span(rotatedX_[0]);
  const std::span<const double> y = Span(rotatedY_[0]);
  // The stations do not depend on the step's values: every own cell gets
  // its corners once. The second file of method 6 repeats the first one's
  // stations, so the same corners serve it.
#pragma omp parallel for schedule(runtime)
  for (long row = FirstRow; row <= LastRow; ++row) {
    const RowColumnRange range = cells.Columns(row);
    for (long column = range.first; column <= range.last; ++column) {
      if (!cells.IsValid(row, column) || !cells.IsOwned(row, column))
        continue;
      lookUp_[static_cast<std::size_t>(row - FirstRow) * width + static_cast<std::size_t>(column)] =
          interpolation::ChooseLookUpCorners(x, y, (*searchX_)[row][column],
                                             (*searchY_)[row][column], Spacing, SearchTolerance);
    }
  }
  const std::string dots(static_cast<std::size_t>(LastRow - FirstRow + 1), '.');
  for (int f = 0; f < stationFileCount; ++f)
    Log->Entry(
        Concat(f == 0 ? "choosing look-up-stations..." : "", dots, DiagnosticsLog::EndToken));
}

interpolation::LookUpCorners meteointerpol::LookUpStations(long row, long column) const {
  if (lookUp_.empty() || row < FirstRow || row > LastRow || column < 1 || column > NCols)
    return {};
  return lookUp_[static_cast<std::size_t>(row - FirstRow) * (static_cast<std::size_t>(NCols) + 1) +
                 static_cast<std::size_t>(column)];
}

std::uint32_t meteointerpol::FindStationInBox(double x0, double y0, double xlo, double xhi,
                                              double ylo, double yhi) const {
  if (rotatedX_.empty())
    return 0;
  return interpolation::FindStationInBox(Span(rotatedX_[0]), Span(rotatedY_[0]), x0, y0, xlo, xhi,
                                         ylo, yhi);
}

double meteointerpol::Bilinear(int file, long row, long column, std::span<double> work, double x,
                               double y) const {
  return BilinearBetween(file, LookUpStations(row, column), work, x, y);
}

double meteointerpol::BilinearBetween(int file, const interpolation::LookUpCorners &corners,
                                      std::span<double> work, double x, double y) const {
  const auto f = static_cast<std::size_t>(file);
  if (f >= stations_.size())
    return -NodataBound - 1.0;
  return interpolation::Bilinear(corners, Span(rotatedX_[f]), Span(rotatedY_[f]),
                                 Span(stations_[f]->Values()), work, x, y, AnisotropyRatio, idw_);
}

std::span<const double> meteointerpol::Span(const OneBasedArray<double> &values) const {
  if (values.Count() == 0)
    return {};
  return std::span<const double>(values.Data() + 1, values.Count());
}

} // namespace tavro
