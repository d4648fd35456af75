// Nearest-station values, plain and with an elevation lapse rate.
#include "meteo/interpolation/thiessen.h"

namespace tavro::interpolation {
namespace {

constexpr double kFarAway = 1e20; // squared distance before any station is seen

// Index of the nearest valid station, or values.size() when there is none.
// LastWins: among equally near stations the last one in index order wins,
// else the first. squaredDistances (when given) receives the squared
// distance of every valid station.
template <bool LastWins>
std::size_t Nearest(std::span<const double> x, std::span<const double> y,
                    std::span<const double> values, double px, double py, double validFrom,
                    std::span<double> squaredDistances) {
  double nearest = kFarAway;
  std::size_t station = values.size();
  for (std::size_t k = 0; k < values.size(); ++k) {
    if (!(values[k] >= validFrom))
      continue;
    const double dx = x[k] - px;
    const double dy = y[k] - py;
    const double d2 = dx * dx + dy * dy;
    if (!squaredDistances.empty())
      squaredDistances[k] = d2;
    if (LastWins ? d2 <= nearest : d2 < nearest) {
      nearest = d2;
      station = k;
    }
  }
  return station;
}

} // namespace

double Thiessen(std::span<const double> x, std::span<const double> y,
                std::span<const double> values, std::span<double> squaredDistances, double px,
                double py, double validFrom, double missing) {
  const std::size_t station = Nearest<true>(x, y, values, px, py, validFrom, squaredDistances);
  return station == values.size() ? missing : values[station];
}

double MoveToElevation(double v, double zs, double z, const LapseRateSettings &s) {
  const double h = s.InversionHeight;
  const double g = s.LapseRate;
  const double gu = s.UpperLapseRate;
  if (h <= -9998.0)
    return v + (z - zs) * g;
  if (zs <= h)
    return z <= h ? v + (z - zs) * g : v + (h - zs) * g + (z - h) * gu;
  return z > h ? v + (z - zs) * gu : v + (h - zs) * gu + (z - h) * g;
}

double ThiessenLapseRate(std::span<const double> x, std::span<const double> y,
                         std::span<const double> altitude, std::span<const double> values,
                         double px, double py, double z, const LapseRateSettings &settings,
                         double validFrom, double missing) {
  const std::size_t station = Nearest<false>(x, y, values, px, py, validFrom, {});
  if (station == values.size())
    return missing;
  const double v = values[station];
  if (settings.PType && v == 0.0)
    return 0.0;
  return MoveToElevation(v, altitude[station], z, settings);
}

} // namespace tavro::interpolation
