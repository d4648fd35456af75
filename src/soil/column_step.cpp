// The outputs of a soil column's call and the water of a column.
#include "soil/column_step.h"

namespace tavro {

void ColumnStepOutputs::Resize(int layers, int landuseLayers) {
  realTranspiration.assign(static_cast<std::size_t>(landuseLayers) + 1, 0.0);
  lastTranspiration.assign(static_cast<std::size_t>(layers) + 1, 0.0);
  lastInterflow.assign(static_cast<std::size_t>(layers) + 1, 0.0);
}

void ColumnStepOutputs::Clear() {
  std::vector<double> transpiration = std::move(realTranspiration);
  std::vector<double> lastT = std::move(lastTranspiration);
  std::vector<double> lastI = std::move(lastInterflow);
  *this = ColumnStepOutputs();
  std::fill(transpiration.begin(), transpiration.end(), 0.0);
  std::fill(lastT.begin(), lastT.end(), 0.0);
  std::fill(lastI.begin(), lastI.end(), 0.0);
  realTranspiration = std::move(transpiration);
  lastTranspiration = std::move(lastT);
  lastInterflow = std::move(lastI);
}

double ColumnWaterDepth(const ColumnGeometry &geometry, const ColumnState &state) {
  double sum = 0.0;
  for (int k = 1; k <= geometry.layers; ++k)
    sum += state.theta[static_cast<std::size_t>(k)] * geometry.dz[static_cast<std::size_t>(k)];
  return sum;
}

} // namespace tavro
