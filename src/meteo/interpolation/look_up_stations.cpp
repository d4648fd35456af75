// Mesh-cell corners around a point and the bilinear value between them.
#include "meteo/interpolation/look_up_stations.h"

#include <algorithm>
#include <cstddef>

namespace tavro::interpolation {
std::uint32_t FindStationInBox(std::span<const double> x, std::span<const double> y, double x0,
                               double y0, double xlo, double xhi, double ylo, double yhi) {
  const std::size_t count = std::min(x.size(), y.size());
  for (std::size_t k = 0; k < count; ++k)
    if (x0 + xlo < x[k] && x[k] < x0 + xhi && y0 + ylo < y[k] && y[k] < y0 + yhi)
      return static_cast<std::uint32_t>(k + 1);
  return 0;
}

std::uint32_t NearestStation(std::span<const double> x, std::span<const double> y, double px,
                             double py) {
  const std::size_t count = std::min(x.size(), y.size());
  std::uint32_t nearest = 0;
  double best = 0.0;
  for (std::size_t k = 0; k < count; ++k) {
    const double dx = x[k] - px, dy = y[k] - py;
    const double d2 = dx * dx + dy * dy;
    if (nearest == 0 || d2 < best) {
      best = d2;
      nearest = static_cast<std::uint32_t>(k + 1);
    }
  }
  return nearest;
}

LookUpCorners ChooseLookUpCorners(std::span<const double> x, std::span<const double> y, double px,
                                  double py, const StationSpacing &spacing, double tolerance) {
  LookUpCorners c;
  const std::uint32_t b = NearestStation(x, y, px, py);
  if (b == 0)
    return c;
  const StationBoxes box(x, y, spacing, tolerance);
  const bool east = x[b - 1] - px > 0.0;
  const bool north = y[b - 1] - py > 0.0;
  if (east && north) {
    c.NE = b;
    c.NW = box.West(b);
    c.SW = box.South(c.NW);
    c.SE = box.South(b);
  } else if (north) {
    c.NW = b;
    c.SW = box.South(b);
    c.SE = box.East(c.SW);
    c.NE = box.East(b);
  } else if (east) {
    c.SE = b;
    c.SW = box.West(b);
    c.NW = box.North(c.SW);
    c.NE = box.North(b);
  } else {
    c.SW = b;
    c.NW = box.North(b);
    c.NE = box.East(c.NW);
    c.SE = box.East(b);
  }
  return c;
}

double Bilinear(const LookUpCorners &corners, std::span<const double> x, std::span<const double> y,
                std::span<const double> values, std::span<double> work, double px, double py,
                double ratio, const InverseDistanceSettings &settings) {
  const std::size_t count = std::min({x.size(), y.size(), values.size()});
  const auto usable = [&](std::uint32_t k) -> std::uint32_t {
    return k >= 1 && k <= count && values[k - 1] >= settings.ValidFrom ? k : 0;
  };
  const std::uint32_t ne = usable(corners.NE), nw = usable(corners.NW), sw = usable(corners.SW),
                      se = usable(corners.SE);
  if (ne != 0 && ne == nw && ne == sw && ne == se)
    return values[ne - 1];
  const auto fallback = [&] {
    return InverseDistanceAnisotropic(x, y, values, work, px, py, ratio, settings);
  };
  if (ne == 0 || nw == 0 || sw == 0 || se == 0)
    return fallback();
  const double ex = x[ne - 1] - x[nw - 1];
  const double ey = y[sw - 1] - y[nw - 1];
  if (ex == 0.0 || ey == 0.0)
    return fallback();
  const double tx = (px - x[nw - 1]) / ex;
  const double ty = (py - y[nw - 1]) / ey;
  return (1 - tx) * (1 - ty) * values[nw - 1] + tx * (1 - ty) * values[ne - 1] +
         (1 - tx) * ty * values[sw - 1] + tx * ty * values[se - 1];
}

} // namespace tavro::interpolation
