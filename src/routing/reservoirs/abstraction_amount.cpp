// Abstraction amounts of the modes.
#include "routing/reservoirs/abstraction_amount.h"

#include <algorithm>

namespace tavro {

int AbstractionModeOf(const std::string &word) {
  const std::string w = word.substr(0, word.find(')'));
  if (w == "intern")
    return kAbstractionIntern;
  if (w == "extern")
    return kAbstractionExtern;
  if (w == "from_file")
    return kAbstractionFromFile;
  if (w == "intern_with_rule")
    return kAbstractionInternWithRule;
  if (w == "extern_with_rule")
    return kAbstractionExternWithRule;
  if (w == "intern_with_rule_from_reservoir")
    return kAbstractionFromReservoir;
  return 0;
}

bool IsCubicMetresPerSecondUnit(const std::string &unit) {
  return unit.find("m^3/s") != std::string::npos || unit.find("m3/s") != std::string::npos ||
         unit.find("m3s") != std::string::npos;
}

bool AbstractionWritesTable(int mode) {
  return mode == kAbstractionExtern || mode == kAbstractionFromFile ||
         mode == kAbstractionExternWithRule;
}

bool AbstractionIsInternal(int mode) {
  return mode == kAbstractionIntern || mode == kAbstractionInternWithRule ||
         mode == kAbstractionFromReservoir;
}

double ShareAmount(const ShareParameters &p, double available, double taken) {
  const double rest = available - taken;
  double x = rest >= p.threshold ? (available - p.threshold) * p.fraction : 0.0;
  if (rest - x < p.threshold)
    x = rest - p.threshold;
  x = std::max(x, 0.0);
  return std::max(0.0, std::min(p.maximum, x));
}

double BoundedAmount(double value, bool missing, double available, double taken) {
  if (missing)
    return 0.0;
  return std::clamp(value, 0.0, std::max(0.0, available - taken));
}

} // namespace tavro
