// The search boxes around a station of a regular mesh: one mean spacing west,
// east, south or north of it, `tolerance` spacings wide, in the rotated frame
// where the mesh lines run along the axes. The bilinear methods find the
// corners of a mesh cell with them, the spline methods walk the mesh columns.
// Stations are numbered 1..N, 0 meaning "none".
#pragma once

#include "meteo/interpolation/station_spacing.h"

#include <cstdint>
#include <span>

namespace tavro::interpolation {

// The first station k (1..N, index order) with x0 + xlo < x[k-1] < x0 + xhi
// and y0 + ylo < y[k-1] < y0 + yhi (open bounds), or 0.
std::uint32_t FindStationInBox(std::span<const double> x, std::span<const double> y, double x0,
                               double y0, double xlo, double xhi, double ylo, double yhi);

class StationBoxes {
public:
  // Without a spacing in both directions no box finds a station.
  StationBoxes(std::span<const double> x, std::span<const double> y, const StationSpacing &spacing,
               double tolerance)
      : x_(x), y_(y), dx_(spacing.Horizontal), dy_(spacing.Vertical), s_(tolerance),
        usable_(spacing.Horizontal > 0.0 && spacing.Vertical > 0.0) {}

  // The first station in the box beside station k; 0 when there is none or
  // k is 0.
  std::uint32_t West(std::uint32_t k) const {
    return Around(k, -(1 + s_) * dx_, -(1 - s_) * dx_, -s_ * dy_, s_ * dy_);
  }
  std::uint32_t East(std::uint32_t k) const {
    return Around(k, (1 - s_) * dx_, (1 + s_) * dx_, -s_ * dy_, s_ * dy_);
  }
  std::uint32_t South(std::uint32_t k) const {
    return Around(k, -s_ * dx_, s_ * dx_, -(1 + s_) * dy_, -(1 - s_) * dy_);
  }
  std::uint32_t North(std::uint32_t k) const {
    return Around(k, -s_ * dx_, s_ * dx_, (1 - s_) * dy_, (1 + s_) * dy_);
  }

private:
  std::uint32_t Around(std::uint32_t k, double xlo, double xhi, double ylo, double yhi) const {
    if (k == 0 || !usable_ || k > x_.size())
      return 0;
    return FindStationInBox(x_, y_, x_[k - 1], y_[k - 1], xlo, xhi, ylo, yhi);
  }

  std::span<const double> x_, y_;
  double dx_, dy_, s_;
  bool usable_;
};

} // namespace tavro::interpolation
