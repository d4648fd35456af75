// Station geometry of the interpolator, prepared once at construction: the
// inverse-distance weight code, the anisotropy checks, the stations and the
// cells in the rotated frame, and the mean station spacing.
#include "meteo/meteointerpol.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/module_construction.h"
#include "meteo/interpolation/rotated_frame.h"

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

std::span<const double> meteointerpol::Span(const OneBasedArray<double> &values) const {
  if (values.Count() == 0)
    return {};
  return std::span<const double>(values.Data() + 1, values.Count());
}

} // namespace tavro
