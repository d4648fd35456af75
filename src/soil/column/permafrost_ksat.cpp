// Saturated conductivities over permafrost.
#include "soil/column/permafrost_ksat.h"

#include <cmath>

namespace tavro {

bool PermafrostKsat(const ColumnGeometry &geometry, double thawDepth, double noData,
                    double reducedKsat, std::span<double> ksat) {
  const int n = geometry.layers;
  const bool thawed = !(thawDepth > noData);
  const double thaw = std::fabs(thawDepth);
  double depth = 0.0;
  bool topFrozen = false;
  for (int j = 1; j <= n; ++j) {
    const auto i = static_cast<std::size_t>(j);
    depth += geometry.dz[i];
    const bool frozen = !thawed && depth > thaw;
    ksat[i] = frozen ? reducedKsat : geometry.ksat[i];
    if (j == 1)
      topFrozen = frozen;
  }
  return topFrozen;
}

} // namespace tavro
