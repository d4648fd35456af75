// The regression of the interpolator (its evaluation, the accessors of the
// precipitation correction) and the value of the variable at a single point.
#include "meteo/meteointerpol.h"

#include "meteo/interpolation/rotated_frame.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tavro {

interpolation::ValueBounds meteointerpol::Bounds() const {
  return {-NodataBound, -NodataBound - 1.0};
}

double meteointerpol::ElevationRegressionValue(long /*row*/, long /*column*/, double x, double y,
                                               double z) const {
  return interpolation::ElevationRegressionValue(regression_, x, y, z, Bounds(), -9999.0);
}

void meteointerpol::GetRegressionParameters(int set, double &lower, double &upper,
                                            std::array<double, 4> &intercepts,
                                            std::array<double, 4> &slopes) const {
  const int m = InterpolationMethod;
  if (set == 1 && (m == 2 || m == 3 || m == 10 || m == 11)) {
    lower = regression_.LowerHeight;
    upper = regression_.UpperHeight;
    intercepts = regression_.Intercept;
    slopes = regression_.Slope;
    return;
  }
  const double missing = -NodataBound - 1.0;
  lower = upper = missing;
  intercepts.fill(missing);
  slopes.fill(missing);
}

void meteointerpol::SetRegressionParameters(int set, const std::array<double, 4> &intercepts,
                                            const std::array<double, 4> &slopes, double upper) {
  if (set != 1)
    return;
  regression_.Intercept = intercepts;
  regression_.Slope = slopes;
  regression_.UpperHeight = upper;
}

double meteointerpol::ValueAtPoint(std::span<double> work, double x, double y, double z) {
  if (SzenUse == 1 && SzenMeth != 5 && SzenMeth != 6)
    UpdateScenarioTable();
  std::size_t stations = 0;
  for (const auto &file : stations_)
    stations = std::max(stations, static_cast<std::size_t>(file->Table().Count));
  std::vector<double> own;
  if (work.size() < stations) {
    own.assign(stations, 0.0);
    work = own;
  }
  work = work.first(stations);

  // The point in the search frame, as the cell coordinates are turned.
  double xr = x, yr = y;
  if (AnisotropyRatio < 1.0 && x != -9999.0 && y != -9999.0) {
    const interpolation::FramePoint turned =
        interpolation::RotateIntoFrame(x, y, XllCorner, YllCorner, AnisotropySlope);
    xr = turned.X;
    yr = turned.Y;
  }
  // The cell of the point (for the scenario grid), within the raster.
  const long row = std::clamp(NRows - static_cast<long>(std::trunc((y - YllCorner) / CellSize)), 1L,
                              static_cast<long>(std::max(NRows, 1)));
  const long column = std::clamp(static_cast<long>(std::trunc((x - XllCorner) / CellSize)) + 1, 1L,
                                 static_cast<long>(std::max(NCols, 1)));

  const double validFrom = -NodataBound;
  double v = -NodataBound - 1.0;
  switch (InterpolationMethod) {
  case 1:
    v = AnisotropyRatio < 1.0 ? InverseDistanceAnisotropic(0, work, xr, yr)
                              : InverseDistance(0, work, x, y);
    break;
  case 2:
  case 10:
    v = ElevationRegressionValue(row, column, x, y, z);
    break;
  case 3:
  case 11: {
    const double distance = AnisotropyRatio < 1.0 ? InverseDistanceAnisotropic(0, work, xr, yr)
                                                  : InverseDistance(0, work, x, y);
    const double regression = ElevationRegressionValue(row, column, x, y, z);
    const bool haveDistance = distance >= validFrom, haveRegression = regression >= validFrom;
    if (!haveDistance && !haveRegression)
      return distance;
    v = haveDistance && haveRegression ? IdwFraction * distance + (1.0 - IdwFraction) * regression
                                       : (haveDistance ? distance : regression);
    break;
  }
  case 4:
    v = Thiessen(0, work, x, y);
    break;
  case 5:
  case 6: {
    // The point's own look-up stations: no grid of the strip is read.
    interpolation::LookUpCorners corners;
    if (!rotatedX_.empty())
      corners = interpolation::ChooseLookUpCorners(Span(rotatedX_[0]), Span(rotatedY_[0]), xr, yr,
                                                   Spacing, SearchTolerance);
    v = BilinearBetween(0, corners, work, xr, yr);
    if (InterpolationMethod == 6)
      v = ResidualPlusGradient(v, BilinearBetween(1, corners, work, xr, yr), z);
    break;
  }
  case 7:
  case 8:
  case 9:
    // The nearest station at the point's plain coordinates, the frame of the
    // station coordinates (none with a grid list).
    v = Thiessen(0, work, x, y);
    break;
  case 12:
    v = ThiessenLapseRate(x, y, z);
    break;
  default:
    break;
  }
  if (v < validFrom)
    return v;
  v = interpolation::ApplyScalingAndLimits(v, limits_);
  if (scenarioKind_ != interpolation::ScenarioKind::None)
    v = interpolation::ApplyScenario(v, scenarioKind_, ScenarioValue(row, column, x, y));
  return v;
}

} // namespace tavro
