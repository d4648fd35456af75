// Nearest-station (Thiessen) values at one point, plain and moved to the
// point's elevation by a lapse rate with an optional inversion: pure kernels
// over spans of the stations' coordinates, altitudes and values.
//
// A station value is valid when it is at least validFrom (-V); without a
// valid station the result is missing (-V - 1).
#pragma once

#include <span>

namespace tavro::interpolation {

// The value of the nearest valid station; among equally near stations the
// last one in index order wins. squaredDistances[k] receives the squared
// distance of every valid station k (others are left as they are).
double Thiessen(std::span<const double> x, std::span<const double> y,
                std::span<const double> values, std::span<double> squaredDistances, double px,
                double py, double validFrom, double missing);

struct LapseRateSettings {
  double LapseRate = 0.0;           // g, per unit of elevation (K/m, hPa/m)
  double InversionHeight = -9999.0; // h; -9998 or below: none
  double UpperLapseRate = -9999.0;  // gu, above the inversion height
  bool PType = false;               // a station value of exactly 0 stays 0 everywhere
};

// The nearest valid station's value moved from its altitude zs to the point's
// elevation z; among equally near stations the first one in index order wins.
//   no inversion:           v + (z - zs) g
//   station at or below h:  v + (z - zs) g                   when z <= h
//                           v + (h - zs) g + (z - h) gu      when z > h
//   station above h:        v + (z - zs) gu                  when z > h
//                           v + (h - zs) gu + (z - h) g      when z <= h
double ThiessenLapseRate(std::span<const double> x, std::span<const double> y,
                         std::span<const double> altitude, std::span<const double> values,
                         double px, double py, double z, const LapseRateSettings &settings,
                         double validFrom, double missing);

// The lapse-rate extrapolation alone, from a station value v at altitude zs
// to elevation z.
double MoveToElevation(double v, double zs, double z, const LapseRateSettings &settings);

} // namespace tavro::interpolation
