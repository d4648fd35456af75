// The snow pack of one cell: precipitation split, the melt methods, the cold
// and warm energy balance, and the cell's water over a whole step.
#include "landsurface/snow/snow_pack.h"

#include "landsurface/snow/snow_formulas.h"

#include <algorithm>
#include <cmath>

namespace tavro::snow {
namespace {

constexpr double kStefanBoltzmann = 5.67e-8;   // W/(m2 K4)
constexpr double kHeatCapacityIce = 2100.0;    // J/(kg K)
constexpr double kHeatCapacityWater = 4180.0;  // J/(kg K)
constexpr double kFusionHeat = 337500.0;       // J/kg, as the melt defines it
constexpr double kSublimationHeat = 2835500.0; // J/kg
constexpr double kBalanceTolerance = 0.25;     // W/m2
constexpr int kMaxBalanceEvaluations = 151;
constexpr double kFirstTemperatureStep = -10.0; // K
constexpr double kGroundHeat = 1.0;             // W/m2
// Combination methods: above this precipitation per day the combination formula holds.
constexpr double kCombinationRainPerDay = 2.4;

bool IsUnset(double temperature) { return !(temperature > 0.0); }

// Everything of the energy balance that does not depend on the surface temperature.
struct EnergyTerms {
  double airKelvin = 0.0;
  double vapourPressure = 0.0; // e, hPa
  double windFunction = 0.0;   // fu
  double fixedFluxes = 0.0;    // short wave, incoming long wave, precipitation heat, ground
  double outgoingFactor = 0.0; // 5.67e-8 LWOUTcorr
};

EnergyTerms TermsOf(const SnowParameters &p, const StepConstants &step, const CellForcing &f,
                    const PrecipitationSplit &split, double temperature) {
  EnergyTerms t;
  t.airKelvin = temperature + kZeroCelsius;
  t.vapourPressure = EnergyBalanceVapourPressure(temperature) * f.Humidity;
  double cloudFactor = 0.17;
  if (f.Precipitation != 0.0)
    cloudFactor = 0.24;
  else if (f.Cloudiness >= 0.6)
    cloudFactor = 0.2;
  else if (f.Cloudiness <= 0.2)
    cloudFactor = 0.08;
  const double shortWave = (1.0 - f.Albedo) * f.Radiation * 60.0 / step.TimeStep;
  const double tk2 = t.airKelvin * t.airKelvin;
  const double longWaveIn = (1.0 + cloudFactor * f.Cloudiness * f.Cloudiness) *
                            (0.61 + 0.05 * std::sqrt(t.vapourPressure)) * kStefanBoltzmann *
                            p.LWINcorr * tk2 * tk2;
  const double precipitationHeat = (kHeatCapacityIce * temperature * split.Snow +
                                    kHeatCapacityWater * temperature * split.Rain) /
                                   (60.0 * step.TimeStep);
  t.windFunction = 0.18 + 0.098 * f.Wind;
  t.fixedFluxes = shortWave + longWaveIn + precipitationHeat + kGroundHeat;
  t.outgoingFactor = kStefanBoltzmann * p.LWOUTcorr;
  return t;
}

double LatentHeat(const EnergyTerms &t, double surfaceKelvin) {
  return 32.82 * t.windFunction * (t.vapourPressure - IceVapourPressureAtSurface(surfaceKelvin));
}

// The balance B (W/m2) at a surface temperature, with its latent part QE.
double Balance(const EnergyTerms &t, double surfaceKelvin, double &latent) {
  const double ts2 = surfaceKelvin * surfaceKelvin;
  latent = LatentHeat(t, surfaceKelvin);
  return t.fixedFluxes - t.outgoingFactor * ts2 * ts2 +
         18.85 * t.windFunction * (t.airKelvin - surfaceKelvin) + latent;
}

// Adds a latent mass E (mm; negative: sublimation) to the pack, taking a
// loss from the liquid store once the solid store is empty, never more than
// the pack holds. Returns the mass actually exchanged; false in drained when
// the loss emptied both stores.
double ExchangeLatentMass(PackState &pack, double mass, bool &drained) {
  drained = false;
  pack.Solid += mass;
  if (pack.Solid < 0.0) {
    pack.Liquid += pack.Solid;
    pack.Solid = 0.0;
    if (pack.Liquid < 0.0) {
      mass -= pack.Liquid;
      pack.Liquid = 0.0;
      drained = true;
    }
  }
  return mass;
}

void StoreTemperatures(const SnowParameters &p, PackState &pack, double surface, double snow) {
  pack.Total = pack.Solid + pack.Liquid;
  if (pack.Total <= 0.0) {
    pack.SurfaceTemperature = p.NoData;
    pack.SnowTemperature = p.NoData;
    return;
  }
  pack.SurfaceTemperature = surface;
  pack.SnowTemperature = snow;
}

// The call's surface and snow temperatures (K) of the energy-balance methods.
struct CallTemperatures {
  double surface = 0.0;
  double snow = 0.0;
};

CallTemperatures PrepareTemperatures(const CellForcing &f, double temperature, PackState &pack) {
  const double airKelvin = temperature + kZeroCelsius;
  if (IsUnset(pack.SurfaceTemperature))
    pack.SurfaceTemperature = airKelvin - 3.0;
  CallTemperatures call;
  call.surface = pack.SurfaceTemperature;
  if (f.HasMeasuredSurfaceTemperature)
    call.surface = f.MeasuredSurfaceTemperature < 100.0
                       ? f.MeasuredSurfaceTemperature + kZeroCelsius
                       : f.MeasuredSurfaceTemperature;
  call.surface = std::min(call.surface, kZeroCelsius);
  call.snow =
      IsUnset(pack.SnowTemperature) ? std::min(airKelvin, kZeroCelsius) : pack.SnowTemperature;
  return call;
}

// The surface temperature at which the balance closes: a secant search that
// falls back to halving once the balance has changed sign.
double SolveSurfaceTemperature(const EnergyTerms &t, const CellForcing &f, const PackState &pack,
                               const CallTemperatures &call, double &balance, double &latent) {
  double surface = 0.0;
  if (pack.Liquid > 0.0 || t.airKelvin > kZeroCelsius + 2.0)
    surface = kZeroCelsius;
  else if (f.HasMeasuredSurfaceTemperature)
    surface = call.surface;
  else
    surface = t.airKelvin - 2.0;
  double step = kFirstTemperatureStep;
  bool bisecting = false;
  double previous = 0.0;
  for (int n = 1;; ++n) {
    balance = Balance(t, surface, latent);
    if (std::fabs(balance) <= kBalanceTolerance || n == kMaxBalanceEvaluations ||
        pack.Liquid > 0.0 || f.HasMeasuredSurfaceTemperature)
      break;
    if (n == 1) {
      if (balance >= 0.0)
        step = -step;
    } else if ((balance < 0.0 && previous > 0.0) || (balance >= 0.0 && previous <= 0.0)) {
      const double q = std::fabs(balance / (balance - previous));
      step *= q < 1.0 ? -q : -0.5;
      bisecting = true;
    } else if (bisecting) {
      step *= 0.5;
    }
    surface += step;
    previous = balance;
  }
  if (!f.HasMeasuredSurfaceTemperature) {
    if (t.airKelvin - surface > 13.0) {
      surface = t.airKelvin - 13.0;
      latent = LatentHeat(t, surface);
    }
    if (surface > kZeroCelsius) {
      surface = kZeroCelsius;
      latent = 32.82 * t.windFunction * (t.vapourPressure - kIceVapourPressureAtZero);
    }
  }
  return surface;
}

double ColdEnergyBalance(const SnowParameters &p, const StepConstants &step, const CellForcing &f,
                         const PrecipitationSplit &split, double temperature, double fraction,
                         const CallTemperatures &call, PackState &pack) {
  const EnergyTerms t = TermsOf(p, step, f, split, temperature);
  double balance = 0.0;
  double latent = 0.0;
  const double surface = SolveSurfaceTemperature(t, f, pack, call, balance, latent);

  // Conduction into the pack, never beyond the surface temperature.
  const double seconds = 60.0 * step.TimeStep * fraction;
  const double water = pack.Total;
  double snow = call.snow + 0.3 * (surface - call.snow) * 2.0 * 0.3 * 1000.0 * seconds /
                                (kHeatCapacityIce * water * water);
  snow = call.snow < surface ? std::min(snow, surface) : std::max(snow, surface);
  snow = std::min(snow, kZeroCelsius);

  // Condensation (positive) adds to the pack, sublimation takes from it.
  bool drained = false;
  const double mass = ExchangeLatentMass(pack, latent * seconds / kSublimationHeat, drained);
  const double refreezing = -balance * seconds / kFusionHeat;
  if (!drained && refreezing > 0.0 && pack.Liquid > 0.0) {
    if (pack.Liquid >= refreezing) {
      pack.Liquid -= refreezing;
      pack.Solid += refreezing;
    } else {
      const double liquid = pack.Liquid;
      pack.Solid += liquid;
      pack.Liquid = 0.0;
      snow -= (refreezing - liquid) * kFusionHeat / (kHeatCapacityIce * pack.Solid);
      snow = std::min(std::max(snow, surface - 3.0), kZeroCelsius);
    }
  }
  pack.Evaporation -= mass;
  StoreTemperatures(p, pack, surface, snow);
  return 0.0;
}

double WarmEnergyBalance(const SnowParameters &p, const StepConstants &step, const CellForcing &f,
                         const PrecipitationSplit &split, double temperature, double fraction,
                         const CallTemperatures &call, PackState &pack) {
  const EnergyTerms t = TermsOf(p, step, f, split, temperature);
  const double surface = f.HasMeasuredSurfaceTemperature ? call.surface : kZeroCelsius;
  const double latent = 32.82 * t.windFunction * (t.vapourPressure - kIceVapourPressureAtZero);
  const double s2 = surface * surface;
  const double heat = (t.fixedFluxes - t.outgoingFactor * s2 * s2 +
                       18.85 * t.windFunction * (t.airKelvin - surface) + latent) *
                      p.EnBalScaling;
  // The seconds of the part already carry its share b of the step.
  const double seconds = 60.0 * step.TimeStep * fraction;
  double mass = latent * seconds / kSublimationHeat;

  double snow = call.snow;
  if (heat > 0.0) {
    const double water = pack.Solid + pack.Liquid;
    if (pack.Liquid > 0.0)
      snow += pack.Solid / water * heat * seconds / (kHeatCapacityIce * pack.Solid) +
              pack.Liquid / water * heat * seconds / (kHeatCapacityWater * pack.Liquid);
    else
      snow += heat * seconds / (kHeatCapacityIce * pack.Solid);
  }
  const double wetBulb =
      WetBulbTemperature(temperature, t.vapourPressure, AirPressure(f.Elevation));
  double melt = 0.0;
  if (snow > kZeroCelsius) {
    const double excess = (snow - kZeroCelsius) * kHeatCapacityIce * pack.Solid;
    if (wetBulb > 0.0)
      melt = excess / kFusionHeat;
    else
      mass -= excess / kSublimationHeat;
    snow = kZeroCelsius;
  }
  // Only a loss is applied: condensation on a melting pack is left out.
  if (mass < 0.0) {
    bool drained = false;
    mass = ExchangeLatentMass(pack, mass, drained);
    pack.Evaporation -= mass;
  }
  StoreTemperatures(p, pack, surface, snow);
  return melt;
}

// Potential melt per step of the methods without energy balance (before b).
double IndexMelt(const SnowParameters &p, const StepConstants &step, const CellForcing &f,
                 double temperature) {
  const double spd = step.StepsPerDay;
  switch (ApproachOf(p.Method)) {
  case MeltApproach::DegreeDay:
    return p.C0 * (temperature - p.T0) / spd;
  case MeltApproach::TemperatureWind:
    return (p.C1 + p.C2 * f.Wind) * (temperature - p.T0) / spd;
  case MeltApproach::Combination: {
    double melt = 0.0;
    if (f.Precipitation > kCombinationRainPerDay / spd) {
      const double factor = p.C1 + p.C2 * f.Wind;
      const double e = p.Method == 3 ? SaturationVapourPressureIce(temperature) : f.VapourPressure;
      melt = 0.6 * temperature / spd + factor * temperature / spd +
             (e - 6.11) * factor / (0.662 * spd) + 0.006 * f.Precipitation * temperature;
    } else {
      const double correction =
          f.HasRadiationCorrection ? (1.0 + f.RadiationCorrection) / 2.0 : 1.0;
      melt = (temperature - p.T0) * correction * step.MeltFactor / spd;
    }
    // Condensing air does not freeze water out of nothing.
    return std::max(melt, 0.0);
  }
  default:
    return 0.0;
  }
}

void Refreeze(PackState &pack, double amount) {
  if (pack.Liquid >= amount) {
    pack.Liquid -= amount;
    pack.Solid += amount;
  } else {
    pack.Solid += pack.Liquid;
    pack.Liquid = 0.0;
  }
}

} // namespace

MeltApproach ApproachOf(int method) {
  switch (method) {
  case 1:
  case 8:
  case 9:
  case 10:
    return MeltApproach::DegreeDay;
  case 2:
  case 12:
  case 13:
  case 14:
    return MeltApproach::TemperatureWind;
  case 3:
  case 4:
    return MeltApproach::Combination;
  case 5:
  case 6:
  case 7:
  case 11:
    return MeltApproach::EnergyBalance;
  default:
    return MeltApproach::None;
  }
}

bool UsesDepositionIndex(int method) {
  return method == 7 || method == 9 || method == 10 || method == 11 || method == 13 || method == 14;
}

bool HasSlides(int method) {
  return method == 6 || method == 7 || method == 8 || method == 9 || method == 12 || method == 14;
}

bool UsesWind(int method) {
  return IsKnownMethod(method) && method != 1 && method != 8 && method != 9 && method != 10;
}

double SnowShare(const SnowParameters &p, double temperature, bool openWater) {
  if (openWater)
    return 0.0;
  const double upper = p.T0R + p.TransZone;
  if (temperature > upper)
    return 0.0;
  if (temperature > p.T0R - p.TransZone)
    return (upper - temperature) / (2.0 * p.TransZone);
  return 1.0;
}

double SurfaceEnergyBalance(const SnowParameters &p, const StepConstants &step,
                            const CellForcing &forcing, const PrecipitationSplit &split,
                            double temperature, double surfaceKelvin) {
  double latent = 0.0;
  return Balance(TermsOf(p, step, forcing, split, temperature), surfaceKelvin, latent);
}

PartResult AdvancePackPart(const SnowParameters &p, const StepConstants &step,
                           const CellForcing &forcing, double temperature, double fraction,
                           bool reuseSplit, PrecipitationSplit &split, PackState &pack) {
  PartResult result;
  result.SnowShare = SnowShare(p, temperature, forcing.OpenWater);
  if (!reuseSplit) {
    const double precipitation = forcing.Precipitation;
    split.Snow = result.SnowShare * precipitation;
    split.Rain = (1.0 - result.SnowShare) * precipitation;
    result.Snowfall = split.Snow * fraction;
    if (UsesDepositionIndex(p.Method))
      split.Snow *= 1.0 + EffectiveDepositionIndex(forcing);
  }
  pack.Solid += split.Snow * fraction;
  pack.Liquid += split.Rain * fraction;
  pack.Total = pack.Solid + pack.Liquid;

  const MeltApproach approach = ApproachOf(p.Method);
  CallTemperatures call;
  if (approach == MeltApproach::EnergyBalance)
    call = PrepareTemperatures(forcing, temperature, pack);

  if (temperature <= p.T0) {
    if (approach == MeltApproach::Combination) {
      Refreeze(pack, std::fabs(p.CRFR * step.MeltFactor * (temperature - p.T0) / step.StepsPerDay) *
                         fraction);
    } else if (approach == MeltApproach::EnergyBalance) {
      if (pack.Solid <= 0.0) {
        pack.SurfaceTemperature = p.NoData;
        pack.SnowTemperature = p.NoData;
      } else {
        ColdEnergyBalance(p, step, forcing, split, temperature, fraction, call, pack);
      }
    }
    return result;
  }

  if (pack.Solid <= 0.0) {
    if (approach == MeltApproach::EnergyBalance) {
      pack.SurfaceTemperature = p.NoData;
      pack.SnowTemperature = p.NoData;
    }
    return result;
  }
  if (approach == MeltApproach::EnergyBalance)
    result.Melt = WarmEnergyBalance(p, step, forcing, split, temperature, fraction, call, pack);
  else
    result.Melt = IndexMelt(p, step, forcing, temperature) * fraction;
  return result;
}

CellWaterResult AdvanceCellWater(const SnowParameters &p, const StepConstants &step,
                                 CellForcing &forcing, std::span<const StepPart> parts,
                                 PrecipitationSplit &split, PackState &pack) {
  CellWaterResult result;
  const double storedBefore = pack.Solid + pack.Liquid;
  const double evaporationBefore = pack.Evaporation;
  double melt = 0.0;
  double snowfall = 0.0;
  for (const StepPart &part : parts) {
    const PartResult r =
        AdvancePackPart(p, step, forcing, part.Temperature, part.Fraction, false, split, pack);
    melt += r.Melt;
    snowfall += r.Snowfall;
    result.SnowShare = r.SnowShare;
  }
  // The water input is raised once, by what the index added to the step's snowfall.
  if (UsesDepositionIndex(p.Method))
    forcing.Precipitation += EffectiveDepositionIndex(forcing) * snowfall;

  const double moved = std::clamp(melt, 0.0, std::max(pack.Solid, 0.0));
  pack.Liquid += moved;
  pack.Solid -= moved;
  const double capacity = p.CWH * pack.Solid;
  if (pack.Liquid > capacity) {
    result.Outflow = pack.Liquid - capacity;
    if (moved > 0.0)
      result.MeltOutflow = result.Outflow;
    pack.Liquid = capacity;
  }
  pack.Total = pack.Solid + pack.Liquid;
  split.Snow = forcing.Precipitation * result.SnowShare;
  split.Rain = (1.0 - result.SnowShare) * forcing.Precipitation;

  result.Balance.Input = forcing.Precipitation;
  result.Balance.StorageChange = pack.Total - storedBefore;
  result.Balance.Outflow = result.Outflow;
  result.Balance.Sublimation = pack.Evaporation - evaporationBefore;
  return result;
}

} // namespace tavro::snow
