// Transmissivity between neighbouring cells of an aquifer layer.
#include "lateral/groundwater/transmissivity.h"

#include <algorithm>

namespace tavro::groundwater {

double EffectiveThickness(double b, bool frozenValid, double frozen, bool thawValid,
                          double thawDepth) {
  if (frozenValid)
    return std::max(b - frozen, 0.0);
  if (thawValid)
    return std::min(b, -thawDepth);
  return b;
}

double SaturatedThickness(double h, double top, double b, double a) {
  if (h <= top + kConfinedMargin)
    return (h - top) + a;
  return b;
}

namespace {

// The transmissivity of one cell: only an ice-free cell conducts.
double CellValue(const TransmissivitySide &side) {
  if (side.glacier != 0.0)
    return 0.0;
  return SaturatedThickness(side.h, side.top, side.b, side.a) * side.k;
}

} // namespace

double InterblockTransmissivity(const TransmissivitySide &cell, const TransmissivitySide &neighbour,
                                bool neighbourValid) {
  if (!cell.conducts || (neighbourValid && !neighbour.conducts))
    return 0.0;
  double tc = CellValue(cell);
  double tn = (!neighbourValid || neighbour.glacier >= 1.0) ? 0.0 : CellValue(neighbour);
  // A dry cell takes water from a higher neighbour through the neighbour's
  // transmissivity, and gives none to a lower one.
  if (tc <= 0.0)
    tc = (tn > 0.0 && cell.h < neighbour.h && cell.k > 0.0 && cell.glacier == 0.0) ? tn : 0.0;
  if (tn <= 0.0 && neighbourValid)
    tn = (tc > 0.0 && cell.h > neighbour.h && neighbour.k > 0.0 && neighbour.glacier == 0.0) ? tc
                                                                                             : 0.0;
  return tc + tn > 0.0 ? 2.0 * tc * tn / (tc + tn) : 0.0;
}

} // namespace tavro::groundwater
