// The head of one aquifer cell after one sweep step.
#include "lateral/groundwater/cell_update.h"

#include <algorithm>

namespace tavro::groundwater {

double UpdatedHead(const Neighbourhood &n, const CellState &cell, double alpha, double dt) {
  const double c = n.cN + n.cE + n.cS + n.cW;
  const double denominator = alpha * c + cell.storage * cell.area / dt;
  if (!(denominator > 0.0))
    return cell.hOld;
  const double h = cell.hOld;
  const double numerator = cell.source * cell.area + n.cN * (n.hN - h) + n.cE * (n.hE - h) +
                           n.cS * (n.hS - h) + n.cW * (n.hW - h);
  return h + numerator / denominator;
}

double AdaptiveFactor(double hNew, double h0, double hPrevIter) {
  if (hPrevIter == h0)
    return 1.0;
  const double r = (hNew - h0) / (h0 - hPrevIter) + 1.0;
  return r > 0.0 ? std::min(r, kMaxAdaptiveFactor) : 1.0;
}

} // namespace tavro::groundwater
