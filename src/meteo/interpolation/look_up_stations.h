// The four stations around a point of a regular station mesh (the corners
// of its mesh cell) and the bilinear value between them, for the bilinear
// interpolation methods. Pure kernels on the stations' coordinates in the
// rotated frame, where the mesh lines run along the axes; stations are
// numbered 1..N as in their file, 0 meaning "none".
#pragma once

#include "meteo/interpolation/inverse_distance.h"
#include "meteo/interpolation/station_boxes.h"
#include "meteo/interpolation/station_spacing.h"

#include <cstdint>
#include <span>

namespace tavro::interpolation {

struct LookUpCorners {
  std::uint32_t NE = 0;
  std::uint32_t NW = 0;
  std::uint32_t SW = 0;
  std::uint32_t SE = 0;

  friend constexpr bool operator==(const LookUpCorners &, const LookUpCorners &) = default;
};

// The station nearest to (px, py), the first of equally near ones; 0 when
// there is none.
std::uint32_t NearestStation(std::span<const double> x, std::span<const double> y, double px,
                             double py);

// The corners of the mesh cell around (px, py): the nearest station is one
// corner, chosen by the quadrant it lies in as seen from the point (a station
// straight north or south counts as west); the others are searched in boxes
// one mean spacing west, east, south or north of a corner already found,
// `tolerance` spacings wide. A search that finds nothing, or that would start
// from a missing corner, leaves its corner 0. Without a spacing (a mesh of
// one station) only the nearest station is found.
LookUpCorners ChooseLookUpCorners(std::span<const double> x, std::span<const double> y, double px,
                                  double py, const StationSpacing &spacing, double tolerance);

// The bilinear value at (px, py) between the corners' values. A corner whose
// value is not valid counts as none. Four times the same station: its value;
// any corner missing, or the NW corner on the x of NE or the y of SW: the
// anisotropic inverse distance value (b/a = ratio) of all stations instead.
// x, y are the rotated station coordinates, values their current values;
// work receives the inverse-distance weights when they are used.
double Bilinear(const LookUpCorners &corners, std::span<const double> x, std::span<const double> y,
                std::span<const double> values, std::span<double> work, double px, double py,
                double ratio, const InverseDistanceSettings &settings);

} // namespace tavro::interpolation
