// Storage update of one cell over an inner step.
#include "lateral/overland/storage_update.h"

namespace tavro::overland {

double OutflowLimit(double storageMm, double cellSize, double step, const PerDirection &fluxes) {
  double total = 0.0;
  for (int d = 1; d <= kDirections; ++d)
    if (fluxes[static_cast<std::size_t>(d)] > 0.0)
      total += fluxes[static_cast<std::size_t>(d)];
  if (total <= 0.0)
    return 1.0;
  const double available = storageMm > 0.0 ? storageMm * cellSize * cellSize / 1000.0 : 0.0;
  const double factor = available / (step * total);
  return factor < 1.0 ? factor : 1.0;
}

void ScaleOutflow(PerDirection &fluxes, double factor) {
  if (factor >= 1.0)
    return;
  for (double &f : fluxes)
    if (f > 0.0)
      f *= factor;
}

CellBalance UpdateCellStorage(double storageMm, double inflow, double outflow, double cellSize,
                              std::span<const double> startConcentration,
                              std::span<const double> tracerInflow,
                              std::span<double> concentration) {
  const double area = cellSize * cellSize;
  CellBalance b;
  b.Inflow = inflow * 1000.0 / area;
  b.Outflow = outflow * 1000.0 / area;
  for (std::size_t t = 0; t < concentration.size(); ++t) {
    const double c = startConcentration[t];
    concentration[t] = storageMm * c + tracerInflow[t] / area - c * b.Outflow;
  }
  b.Storage = storageMm + b.Inflow - b.Outflow;
  if (b.Storage < 0.0) {
    b.Outflow += b.Storage;
    b.Storage = 0.0;
  }
  for (double &c : concentration)
    c = b.Storage > 0.0 ? c / b.Storage : 0.0;
  return b;
}

} // namespace tavro::overland
