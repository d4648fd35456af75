// Vertical exchange between two stacked aquifer layers.
#include "lateral/groundwater/leakage.h"

#include <algorithm>

namespace tavro::groundwater {

double LayerLeakage(double hUp, double hLow, double topLow, double leakance) {
  double d = 0.0;
  if (hUp < hLow || hLow >= topLow) {
    d = hLow - hUp;
  } else {
    d = topLow - hUp;
    if (d > 0.0)
      return 0.0;
  }
  return std::clamp(d, -kLeakageHeadLimit, kLeakageHeadLimit) * leakance;
}

} // namespace tavro::groundwater
