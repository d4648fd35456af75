// Dominant direction of a station mesh.
#include "meteo/interpolation/mesh_direction.h"

#include "meteo/interpolation/rotated_frame.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

namespace tavro::interpolation {
namespace {

// Half a turn as the model's direction classes have always used it.
constexpr double kHalfTurn = 3.14159265359;
constexpr int kClasses = 18;
constexpr long kNone = -1;

// Index of each station's neighbour, kNone where there is none.
std::vector<long> Neighbours(std::span<const double> x, std::span<const double> y) {
  const long count = static_cast<long>(std::min(x.size(), y.size()));
  std::vector<long> neighbour(static_cast<std::size_t>(count), kNone);
  for (long i = 0; i < count; ++i) {
    bool haveBest = false;
    double best = 0.0, last = 0.0; // the best distance, the last candidate's
    long lastCandidate = kNone;
    for (long j = 0; j < count; ++j) {
      if (j == i)
        continue;
      const double dx = x[static_cast<std::size_t>(j)] - x[static_cast<std::size_t>(i)];
      const double dy = y[static_cast<std::size_t>(j)] - y[static_cast<std::size_t>(i)];
      const double e = dx * dx + dy * dy;
      if (haveBest && !(e < best))
        continue;
      last = e;
      lastCandidate = j;
      if (neighbour[static_cast<std::size_t>(j)] != i) {
        best = e;
        neighbour[static_cast<std::size_t>(i)] = j;
        haveBest = true;
      }
    }
    if (haveBest && best > 1.01 * last)
      neighbour[static_cast<std::size_t>(i)] = lastCandidate;
  }
  return neighbour;
}

} // namespace

MeshDirection DominantMeshDirection(std::span<const double> x, std::span<const double> y) {
  const std::vector<long> neighbour = Neighbours(x, y);
  std::vector<double> degrees(neighbour.size(), 0.0);
  std::vector<int> classOf(neighbour.size(), -1);
  std::array<int, kClasses> counts{};
  for (std::size_t i = 0; i < neighbour.size(); ++i) {
    if (neighbour[i] == kNone)
      continue;
    const auto j = static_cast<std::size_t>(neighbour[i]);
    double angle = std::atan2(y[j] - y[i], x[j] - x[i]);
    if (angle > kQuarterTurn)
      angle -= kHalfTurn;
    else if (angle < -kQuarterTurn)
      angle += kHalfTurn;
    const double g = angle * 180.0 / kHalfTurn;
    degrees[i] = g;
    classOf[i] =
        static_cast<int>(std::fmod(std::trunc(std::fmod(g + 365.0, 360.0) / 10.0), kClasses));
    ++counts[static_cast<std::size_t>(classOf[i])];
  }
  int winner = 0;
  for (int k = 1; k < kClasses; ++k)
    if (counts[static_cast<std::size_t>(k)] > counts[static_cast<std::size_t>(winner)])
      winner = k;

  double sum = 0.0;
  int kept = 0;
  for (std::size_t i = 0; i < neighbour.size(); ++i) {
    if (classOf[i] != winner)
      continue;
    double e = std::fmod(degrees[i] + 360.0, 180.0);
    if (winner == 0 && e > 5.0)
      e -= 180.0;
    if (winner * 10.0 - 5.0 <= e && e <= winner * 10.0 + 5.0) {
      sum += e;
      ++kept;
    }
  }
  MeshDirection direction;
  if (kept == 0)
    return direction;
  double mean = sum / kept;
  if (mean > 45.0)
    mean -= 90.0;
  if (std::fabs(mean) > 0.001) {
    direction.SlopeDegrees = mean;
    direction.Ratio = 0.995;
  }
  return direction;
}

} // namespace tavro::interpolation
