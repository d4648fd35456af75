// Glacier melt of one cell, the glacier reservoirs and the yearly firn update.
#include "landsurface/glacier/glacier_melt.h"

#include <algorithm>
#include <cmath>

namespace tavro::glacier {
namespace {

double DegreeDays(double factor, const MeltForcing &f) {
  return factor * (f.Temperature - f.T0) / f.StepsPerDay;
}

double RadiationMelt(double mf, double coefficient, const MeltForcing &f) {
  return (mf / f.StepsPerDay + coefficient * f.Radiation) * (f.Temperature - f.T0);
}

double IceMelt(const MeltParameters &p, const MeltForcing &f, double debris) {
  const double factor = debris * p.DebrisScaling;
  if (UsesRadiation(p.Method))
    return factor * RadiationMelt(p.MF, f.IceRadiationFactor, f);
  return factor * DegreeDays(p.DDFice, f);
}

double FirnMelt(const MeltParameters &p, const MeltForcing &f) {
  if (UsesRadiation(p.Method))
    return RadiationMelt(p.MF, f.SnowRadiationFactor, f);
  return DegreeDays(p.DDFfirn, f);
}

void AddSnow(Pack &pack, double snow, double rain) {
  pack.Solid += snow;
  pack.Liquid += rain;
}

void Empty(Pack &pack) { pack = Pack{}; }

} // namespace

double SnowMelt(const MeltParameters &p, const MeltForcing &f, double totalBefore) {
  if (!(f.Temperature > f.T0) || !(totalBefore > 0.0))
    return 0.0;
  if (UsesRadiation(p.Method))
    return RadiationMelt(p.MF, f.SnowRadiationFactor, f);
  return DegreeDays(p.DDFsnow, f);
}

MeltTransfer MoveMelt(Pack &pack, double melt, double cwh) {
  MeltTransfer t;
  t.Moved = std::clamp(melt, 0.0, std::max(pack.Solid, 0.0));
  pack.Liquid += t.Moved;
  pack.Solid -= t.Moved;
  const double capacity = cwh * pack.Solid;
  if (pack.Liquid > capacity) {
    t.Outflow = pack.Liquid - capacity;
    pack.Liquid = capacity;
  }
  pack.Total = pack.Solid + pack.Liquid;
  return t;
}

GlacierCellSnow GlacierSnowStep(const MeltParameters &p, const MeltForcing &f, double snowShare,
                                double input, double cwh, Pack &own, Pack *glacierPack) {
  const double snow = snowShare * input;
  const double rain = (1.0 - snowShare) * input;
  GlacierCellSnow result;
  const double ownBefore = own.Total;
  AddSnow(own, snow, rain);
  result.Own = MoveMelt(own, SnowMelt(p, f, ownBefore), cwh);
  if (glacierPack != nullptr) {
    const double glacierBefore = glacierPack->Total;
    AddSnow(*glacierPack, snow, rain);
    result.Glacier = MoveMelt(*glacierPack, SnowMelt(p, f, glacierBefore), cwh);
  }
  return result;
}

IceFirnMelt StaticIceFirnMelt(const MeltParameters &p, const MeltForcing &f, double iceFirnCode,
                              double debris, double snowMelt) {
  IceFirnMelt melt;
  if (iceFirnCode == 1.0) {
    const double x = IceMelt(p, f, debris) - snowMelt;
    if (x > 0.0)
      melt.Ice = x;
  } else if (iceFirnCode == 2.0) {
    const double x = FirnMelt(p, f) - snowMelt;
    if (x > 0.0)
      melt.Firn += x;
  }
  return melt;
}

IceFirnMelt DynamicIceFirnMelt(const MeltParameters &p, const MeltForcing &f, double debris,
                               double snowMelt, double firnTotal, std::span<double> firnLevels,
                               double noData) {
  IceFirnMelt melt;
  if (firnTotal > 0.0) {
    const double demand = FirnMelt(p, f) - snowMelt;
    if (demand > 0.0) {
      // The layers give what they hold; the rest of the demand melts ice.
      melt.Firn = TakeFromFirn(firnLevels, demand, noData);
      melt.Ice = demand - melt.Firn;
    }
    return melt;
  }
  const double x = IceMelt(p, f, debris) - snowMelt;
  if (x > 0.0)
    melt.Ice = x;
  return melt;
}

double FirnSum(std::span<const double> levels, double noData) {
  double sum = 0.0;
  for (std::size_t l = 1; l < levels.size(); ++l)
    if (levels[l] != noData)
      sum += levels[l];
  return sum;
}

double TakeFromFirn(std::span<double> levels, double demand, double noData) {
  double given = 0.0;
  for (std::size_t l = 1; l < levels.size() && given < demand; ++l) {
    const double held = levels[l] == noData ? 0.0 : levels[l];
    const double take = std::min(held, demand - given);
    if (take <= 0.0)
      continue;
    levels[l] = held - take;
    given += take;
  }
  if (!levels.empty())
    levels[0] = FirnSum(levels, noData);
  return given;
}

double LinearReservoir(double outflow, double inflow, double k) {
  if (k <= 0.0)
    return inflow;
  const double recession = std::exp(-1.0 / k);
  return outflow * recession + (1.0 - recession) * inflow;
}

double GlacierReservoir(double outflow, double meanMelt, double z, double k) {
  if (!(z > 0.0))
    return 0.0;
  return LinearReservoir(outflow, meanMelt / z, k);
}

double InitialFirnLayer(double elevation, double base, double deltaPerMetre) {
  return std::max(0.0, (elevation - base) * deltaPerMetre);
}

double VolumeFromArea(double area, double scaling, double exponent) {
  return scaling * std::pow(area, exponent);
}

double AreaFromVolume(double volume, double scaling, double exponent) {
  return std::pow(volume / scaling, 1.0 / exponent);
}

VolumeArea InitialVolumeArea(double area, double scaling, double exponent) {
  VolumeArea va;
  const double counted = area <= kMinimumArea ? kMinimumArea : area;
  const double volume = VolumeFromArea(counted, scaling, exponent);
  va.Volume = volume <= kMinimumVolume ? kMinimumVolume : volume;
  va.Area = AreaFromVolume(va.Volume, scaling, exponent);
  return va;
}

namespace {

// The own pack's snow beyond the limit moves onto the glacierized share w.
void MoveExcessToGlacier(const YearlyParameters &p, YearlyCell &cell, double w) {
  const double total = cell.Own.Total;
  if (!(w > 0.0 && w < 1.0) || !(total > p.MaxSnowPackToCreateGlacier))
    return;
  const double excess = total - p.MaxSnowPackToCreateGlacier;
  const double solidShare = excess * cell.Own.Solid / total;
  const double liquidShare = excess * cell.Own.Liquid / total;
  cell.Glacier.Total += (1.0 - w) / w * excess;
  cell.Glacier.Solid += solidShare;
  cell.Glacier.Liquid += liquidShare;
  cell.Own.Total -= excess;
  cell.Own.Solid -= solidShare;
  cell.Own.Liquid -= liquidShare;
  cell.MassBalance += excess;
}

void SetFirnTotal(YearlyCell &cell, double noData) {
  cell.FirnTotal = FirnSum(cell.FirnLevels, noData);
  cell.FirnLevels[0] = cell.FirnTotal;
}

} // namespace

void YearlyFirnUpdate(const YearlyParameters &p, YearlyCell &cell) {
  const std::size_t layers = cell.FirnLevels.empty() ? 0 : cell.FirnLevels.size() - 1;
  const double w = cell.Fraction;
  if (w > 0.0) {
    if (w >= 1.0)
      Empty(cell.Own);
    MoveExcessToGlacier(p, cell, w);
    cell.CodeOld = cell.Code;
    if (layers >= 1) {
      for (std::size_t l = layers - 1; l >= 1; --l)
        cell.FirnLevels[l + 1] = cell.FirnLevels[l];
      cell.FirnLevels[1] = cell.Glacier.Total;
      SetFirnTotal(cell, p.NoData);
    }
    Empty(cell.Glacier);
    return;
  }
  if (!(cell.Own.Total > p.MaxSnowPackToCreateGlacier))
    return;
  if (cell.Code < 0.0)
    cell.Code = -1.0;
  else
    cell.CodeOld = cell.Code;
  cell.Fraction = p.RelSizeNewGlacier;
  cell.Glacier = cell.Own;
  MoveExcessToGlacier(p, cell, p.RelSizeNewGlacier);
  if (layers >= 1) {
    for (std::size_t l = 2; l <= layers; ++l)
      cell.FirnLevels[l] = 0.0;
    cell.FirnLevels[1] = cell.Glacier.Total;
    SetFirnTotal(cell, p.NoData);
  }
  Empty(cell.Glacier);
  cell.OldMassBalance = 0.0;
  cell.MassBalance = cell.FirnTotal;
}

} // namespace tavro::glacier
