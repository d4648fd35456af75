// The initial state of one soil column.
#include "soil/initial_soil_state.h"

#include <string>

#include <cstdio>

#include <array>

#include "tables/soil_class.h"

#include <cmath>
#include <cstddef>

namespace tavro {
namespace {

constexpr double kSaturatedShare = 0.9995; // a layer this close to theta_s counts as saturated
constexpr double kDepthTolerance = 1e-8;   // m
constexpr double kWholeProfileRootDepth = 9999.0;
constexpr double kDrainBelowSurface = 0.01; // m

int LayersOf(std::span<const double> column) { return static_cast<int>(column.size()) - 1; }

double At(std::span<const double> values, int i) { return values[static_cast<std::size_t>(i)]; }

double Depth(std::span<const double> geodetic, int i) { return At(geodetic, 0) - At(geodetic, i); }

} // namespace

void ComputeGeodeticHeads(double surface, std::span<const double> thickness,
                          std::span<double> geodetic) {
  geodetic[0] = surface;
  for (std::size_t i = 1; i < geodetic.size(); ++i)
    geodetic[i] = geodetic[i - 1] - thickness[i];
}

int InitialGroundwaterLayer(int layers, double iniGwLevel) {
  return static_cast<int>(std::floor((layers - 1) / iniGwLevel) + 1.4999);
}

int GroundwaterLayerFromDistance(double distance, std::span<const double> geodetic, int layers) {
  const double below = -distance;
  if (below <= Depth(geodetic, 1))
    return 0;
  for (int k = 1; k < layers; ++k)
    if (below <= Depth(geodetic, k + 1))
      return k;
  return layers;
}

void ComputeEquilibriumTheta(const soil_class &soil, int g, std::span<const double> geodetic,
                             std::span<double> theta) {
  const int n = static_cast<int>(theta.size()) - 1;
  const auto &dz = soil.thickness;
  const auto &thetaSat = soil.theta_sat;
  theta[0] = thetaSat[1];
  // The water table: the centre of layer g + 1, or the bottom of the profile.
  const double table =
      g < n ? At(geodetic, g + 1) + dz[static_cast<std::size_t>(g + 1)] / 2.0 : At(geodetic, n);
  for (int i = 1; i <= n; ++i) {
    const auto at = static_cast<std::size_t>(i);
    if (i <= g) {
      const double centre = At(geodetic, i) + dz[at] / 2.0;
      theta[at] = soil.GetTheta(i, centre - table);
    } else {
      theta[at] = thetaSat[at];
    }
  }
}

void ComputeHydraulicHeads(const soil_class &soil, std::span<const double> geodetic,
                           std::span<const double> theta, std::span<double> hydraulic) {
  hydraulic[0] = geodetic[0];
  for (std::size_t i = 1; i < hydraulic.size(); ++i)
    hydraulic[i] =
        (geodetic[i - 1] + geodetic[i]) / 2.0 - soil.GetSuction(static_cast<int>(i), theta[i]);
}

GroundwaterValues FindGroundwaterValues(const soil_class &soil, std::span<const double> geodetic,
                                        std::span<const double> theta) {
  const int n = LayersOf(theta);
  GroundwaterValues v;
  v.thetaInGwLevel = At(theta, 1);
  v.distance = At(geodetic, n) - At(geodetic, 0);
  enum class Search { Searching, InZone, Ended } state = Search::Searching;
  for (int k = n - 1; k >= 1 && state != Search::Ended; --k) {
    const double thetaSat = soil.theta_sat[static_cast<std::size_t>(k)];
    if (At(theta, k) > kSaturatedShare * thetaSat) {
      v.level = k;
      v.thetaInGwLevel = At(theta, k - 1);
      v.distance = At(geodetic, k - 1) - At(geodetic, 0);
      state = Search::InZone;
    } else if (state == Search::InZone || thetaSat != At(theta, n)) {
      state = Search::Ended;
    }
  }
  return v;
}

double RootZoneMeanTheta(double rootDepth, std::span<const double> thickness,
                         std::span<const double> geodetic, std::span<const double> theta) {
  const int n = LayersOf(theta);
  if (rootDepth <= 0.0)
    return At(theta, 1);
  double profile = 0.0;
  for (int i = 1; i <= n; ++i)
    profile += At(thickness, i);
  double depth = profile - kDepthTolerance;
  if (rootDepth <= depth && rootDepth != kWholeProfileRootDepth)
    depth = rootDepth;
  // A root zone too thin to hold water has the content of the top layer.
  if (depth <= kDepthTolerance)
    return At(theta, 1);
  double water = 0.0;
  for (int i = 1; i <= n; ++i) {
    const double bottom = Depth(geodetic, i);
    const double top = Depth(geodetic, i - 1);
    if (bottom <= depth) {
      water += At(theta, i) * At(thickness, i);
    } else {
      if (depth - top > kDepthTolerance)
        water += At(theta, i) * (depth - top);
      break;
    }
  }
  return water / rootDepth;
}

int DrainageLevel(double drainageDepth, std::span<const double> geodetic) {
  const double drain = drainageDepth - kDrainBelowSurface;
  if (drain <= 0.0)
    return 0;
  const int n = static_cast<int>(geodetic.size()) - 1;
  for (int k = 1; k <= n; ++k)
    if (drain <= Depth(geodetic, k))
      return k;
  return -1;
}

double ColumnWater(std::span<const double> theta, std::span<const double> thickness) {
  double water = 0.0;
  for (std::size_t i = 1; i < theta.size(); ++i)
    water += theta[i] * thickness[i];
  return water;
}

StartReportPart StartReportOfCell(const soil_class &soil, std::span<const double> theta,
                                  double glacierFraction, double cellWeight) {
  const double g = glacierFraction < 0.0 ? 0.0 : (glacierFraction > 1.0 ? 1.0 : glacierFraction);
  const std::span<const double> thickness(soil.thickness);
  const std::span<const double> thetaSat(soil.theta_sat);
  StartReportPart part;
  part.unglacierized = ColumnWater(theta, thickness) * (1.0 - g);
  part.glacierized = ColumnWater(thetaSat.first(theta.size()), thickness) * g;
  part.unglacierizedWeight = cellWeight * (1.0 - g) + g;
  part.glacierizedWeight = cellWeight * g + (1.0 - g);
  return part;
}

std::string MeanSoilWaterLines(double unglacierized, double glacierized, double unglacierizedWeight,
                               double glacierizedWeight, std::string_view moment) {
  const std::string at(moment);
  std::array<char, 256> line{};
  std::string text;
  std::snprintf(line.data(), line.size(),
                "mean soil water content for all cells at %s: %lf m^3/m^2\n", at.c_str(),
                unglacierized / unglacierizedWeight + glacierized / glacierizedWeight);
  text += line.data();
  std::snprintf(line.data(), line.size(),
                "mean soil water content for unglacierized or only partly unglacierized cells at "
                "%s: %lf m^3/m^2\n",
                at.c_str(), unglacierized / unglacierizedWeight);
  text += line.data();
  std::snprintf(line.data(), line.size(),
                "mean soil water content for partly or completely glacierized cells at %s: %lf "
                "m^3/m^2\n",
                at.c_str(), glacierized / glacierizedWeight);
  text += line.data();
  return text;
}

} // namespace tavro
