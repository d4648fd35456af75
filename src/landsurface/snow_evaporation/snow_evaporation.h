// Evaporation of a snow store at the potential rates of its cell: the store
// gives what it holds to each rate in turn (the vegetation layers' potential
// transpiration first, then the potential evaporation of the soil surface)
// until it is empty; every rate is lowered by what it took. Snow methods that
// compute their own sublimation from an energy balance only suppress the
// rates under snow. Pure functions and a small value type.
//
// Units: storages, rates and amounts in mm per step.
#pragma once

namespace tavro::snow_evaporation {

// Snow methods 5, 6, 7 and 11: the snow module's energy balance yields the
// evaporation from snow itself.
bool MethodEvaporatesItself(int snowMethod);

// What one snow store gave in a step. The store's loss equals what evaporated:
// before - after = evaporated.
struct SnowEvaporationBalance {
  double before = 0.0;     // store at the start, mm
  double after = 0.0;      // store at the end, mm
  double evaporated = 0.0; // mm

  double Residual() const { return before - after - evaporated; }
};

class SnowStore {
public:
  explicit SnowStore(double storage) : balance_{storage, storage, 0.0} {}

  // Takes from a potential rate what the store can give: all of it while the
  // store holds more, else the whole store. Returns the rate left.
  double Take(double rate);

  double Storage() const { return balance_.after; }
  double Evaporated() const { return balance_.evaporated; }
  const SnowEvaporationBalance &Balance() const { return balance_; }

private:
  SnowEvaporationBalance balance_;
};

} // namespace tavro::snow_evaporation
