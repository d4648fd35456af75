// The layer that holds the clay depth.
#include "soil/column/clay_layer.h"

#include <cstddef>

namespace tavro {

int ClayLayer(std::span<const double> dz, int layers, double clayDepth) {
  if (!(clayDepth > 0.0))
    return 0;
  double depth = 0.0;
  for (int j = 1; j <= layers; ++j) {
    depth += dz[static_cast<std::size_t>(j)];
    if (depth >= clayDepth)
      return j;
  }
  return layers;
}

} // namespace tavro
