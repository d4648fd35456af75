// The snow store that evaporates at the potential rates.
#include "landsurface/snow_evaporation/snow_evaporation.h"

namespace tavro::snow_evaporation {

bool MethodEvaporatesItself(int snowMethod) {
  return snowMethod == 5 || snowMethod == 6 || snowMethod == 7 || snowMethod == 11;
}

double SnowStore::Take(double rate) {
  double &storage = balance_.after;
  if (rate > storage) {
    balance_.evaporated += storage;
    const double left = rate - storage;
    storage = 0.0;
    return left;
  }
  balance_.evaporated += rate;
  storage -= rate;
  return 0.0;
}

} // namespace tavro::snow_evaporation
