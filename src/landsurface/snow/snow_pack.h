// The snow pack of one cell: the split of the precipitation into snow and
// rain, accumulation, and the melt of the fourteen methods (degree-day,
// temperature-wind, combination and energy balance, with refreezing and the
// snow and surface temperatures), for one part of a time step; and the whole
// step of the cell's water: its one or two parts (night and day), the raise of
// the water input by the deposition index, the move of melt into the liquid
// store and the outflow beyond the holding capacity, with the water balance.
//
// Plain values only: no grids, no MPI, no logging; every function touches only
// the values it is given, so threads may run it for different cells at once.
//
// Units: air temperatures in °C; snow and surface temperatures in K with
// 0 °C = 273.16 K; water in mm; the time step in minutes; radiation in
// Wh/m2 per step (input) and W/m2 (fluxes); vapour and air pressure in hPa.
#pragma once

#include <span>

namespace tavro::snow {

inline constexpr int kFirstMethod = 1;
inline constexpr int kLastMethod = 14;

enum class MeltApproach { DegreeDay, TemperatureWind, Combination, EnergyBalance, None };

MeltApproach ApproachOf(int method);
inline bool IsKnownMethod(int method) { return method >= kFirstMethod && method <= kLastMethod; }
inline bool IsEnergyBalance(int method) {
  return ApproachOf(method) == MeltApproach::EnergyBalance;
}
// Methods 7, 9, 10, 11, 13, 14: snowfall is scaled by the deposition index.
bool UsesDepositionIndex(int method);
// Methods 6, 7, 8, 9, 12, 14: snow slides down steep slopes after the melt.
bool HasSlides(int method);
// Every method but 1, 8, 9 and 10 reads the wind speed.
bool UsesWind(int method);
// Method 4 reads the vapour pressure.
inline bool UsesVapourPressure(int method) { return method == 4; }

struct SnowParameters {
  int Method = 1;
  double TransZone = 0.0; // half width of the rain/snow transition, °C
  double T0R = 0.0;       // rain/snow threshold, °C
  double T0 = 0.0;        // melt threshold, °C
  double CWH = 0.0;       // water holding capacity, share of the solid store
  double CRFR = 0.0;      // refreezing coefficient
  double C0 = 0.0;        // degree-day factor, mm per °C and day
  double C1 = 0.0;        // temperature-wind factor C1 + C2 u
  double C2 = 0.0;
  double LWINcorr = 1.0;  // factor of the incoming long-wave radiation
  double LWOUTcorr = 1.0; // factor of the outgoing long-wave radiation
  double EnBalScaling = 1.0;
  double NoData = -9999.0; // marks unset snow and surface temperatures
};

struct StepConstants {
  double TimeStep = 1440.0; // dt, minutes
  double StepsPerDay = 1.0; // spd = 1440 / dt
  double MeltFactor = 1.0;  // RMF, the seasonal melt factor of the day
};

// What the cell's grids hold for the pack in this step.
struct CellForcing {
  double Precipitation = 0.0; // water input at the start of the step, mm per step
  double Wind = 0.0;          // m/s
  double VapourPressure = 0.0;
  bool HasRadiationCorrection = false;
  double RadiationCorrection = 1.0;
  double DepositionIndex = 0.0;
  double Humidity = 0.0;   // fraction of 1
  double Cloudiness = 0.0; // fraction of 1
  double Radiation = 0.0;  // global radiation, Wh/m2 per step
  double Albedo = 0.0;
  double Elevation = 0.0; // m
  bool HasMeasuredSurfaceTemperature = false;
  double MeasuredSurfaceTemperature = 0.0; // °C below 100, else K
  bool OpenWater = false; // a lake cell with ponding water: all precipitation is rain
};

// The deposition index of a cell, at least -1 (no snowfall is taken away
// beyond all of it).
inline double EffectiveDepositionIndex(const CellForcing &f) {
  return f.DepositionIndex < -1.0 ? -1.0 : f.DepositionIndex;
}

struct PackState {
  double Solid = 0.0;              // mm
  double Liquid = 0.0;             // mm
  double Total = 0.0;              // mm, solid + liquid
  double SnowTemperature = 0.0;    // K; 0 or nodata: not set yet
  double SurfaceTemperature = 0.0; // K; 0 or nodata: not set yet
  // Sublimation of the step so far, mm (condensation counts negative); each
  // part adds its own.
  double Evaporation = 0.0;
};

// Snow and rain of the whole step (the grids "snow_fraction" and "rain_fraction").
struct PrecipitationSplit {
  double Snow = 0.0;
  double Rain = 0.0;
};

struct PartResult {
  double Melt = 0.0;      // potential melt of the part, mm
  double SnowShare = 0.0; // share fs of the precipitation that falls as snow
  double Snowfall = 0.0;  // fs x P x b, before the deposition index
};

// Share of the precipitation falling as snow at air temperature T.
double SnowShare(const SnowParameters &p, double temperature, bool openWater);

// One part of the step with share b of it (1 when the step is not split) at
// air temperature T. Unless reuseSplit, the split of the step's water input is
// made here (with the deposition index where the method has one); the part
// adds b times the split to the pack and returns the potential melt of the
// part, which the caller moves into the liquid store.
PartResult AdvancePackPart(const SnowParameters &p, const StepConstants &step,
                           const CellForcing &forcing, double temperature, double fraction,
                           bool reuseSplit, PrecipitationSplit &split, PackState &pack);

// The energy balance B (W/m2) of a cold pack's surface at surfaceKelvin, at
// air temperature T with the step's split: the balance whose root the cold
// energy-balance methods search.
double SurfaceEnergyBalance(const SnowParameters &p, const StepConstants &step,
                            const CellForcing &forcing, const PrecipitationSplit &split,
                            double temperature, double surfaceKelvin);

// The water of one cell and step, as it came in and went.
struct SnowBalance {
  double Input = 0.0;         // water input of the step after the deposition index
  double StorageChange = 0.0; // change of solid + liquid
  double Outflow = 0.0;       // water leaving the pack
  double Sublimation = 0.0;   // to the air; condensation counts negative
  double Residual() const { return Input - StorageChange - Outflow - Sublimation; }
};

struct StepPart {
  double Temperature = 0.0; // °C
  double Fraction = 1.0;    // b
};

struct CellWaterResult {
  double Outflow = 0.0;     // "snowcover_outflow"
  double MeltOutflow = 0.0; // "melt_from_snowcover": the outflow of a step with melt
  double SnowShare = 0.0;   // of the last part
  SnowBalance Balance;
};

// The cell's pack over the whole step: every part in order on the split of
// the step's starting water input; then the water input is raised once by the
// deposition index times the step's snowfall (an index below -1 counts as -1),
// the melt (at least 0, at most the solid store) moves into the liquid store,
// liquid beyond CWH x solid leaves the pack, and the split grids are set from
// the raised input and the last part's snow share. forcing.Precipitation is
// the raised input afterwards.
CellWaterResult AdvanceCellWater(const SnowParameters &p, const StepConstants &step,
                                 CellForcing &forcing, std::span<const StepPart> parts,
                                 PrecipitationSplit &split, PackState &pack);

} // namespace tavro::snow
