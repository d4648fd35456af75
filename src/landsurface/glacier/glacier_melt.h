// Glacier melt of one cell and the glacier runoff of one subbasin: the snow
// on the glacier for the temperature-index methods, the melt of ice and firn
// once the glacier's snow is gone, the firn layers that give the firn melt,
// the linear reservoirs of the runoff, the firn a glacier cell starts with,
// the volume-area relation of a glacier, and the yearly turn of the
// glacier's snow into firn.
//
// Plain values only: no grids, no MPI, no logging.
//
// Units: temperatures in °C; water in mm per step; radiation in the unit of
// the radiation grid; reservoir constants in steps; areas in km² and volumes
// in 10^6 m³.
#pragma once

#include <span>

namespace tavro::glacier {

// Static methods: 1 temperature index, 2 with radiation; dynamic glaciers:
// 11, 12 the same, 13 the snow model's melt for the glacier's snow.
inline bool IsKnownMethod(int m) { return m == 1 || m == 2 || m == 11 || m == 12 || m == 13; }
inline bool IsDynamic(int method) { return method > 10; }
inline bool UsesRadiation(int method) { return method == 2 || method == 12 || method == 13; }

struct MeltParameters {
  int Method = 1;
  double DDFice = 0.0;  // mm per °C and day
  double DDFfirn = 0.0; // mm per °C and day
  double DDFsnow = 0.0; // mm per °C and day
  double MF = 0.0;      // melt factor of the radiation methods
  double DebrisScaling = 1.0;
};

// What the step and the cell give the melt.
struct MeltForcing {
  double Temperature = 0.0;
  double T0 = 0.0;                  // melt threshold
  double StepsPerDay = 1.0;         // spd
  double Radiation = 0.0;           // I (methods 2, 12, 13)
  double SnowRadiationFactor = 0.0; // Asnow of the day
  double IceRadiationFactor = 0.0;  // Aice of the day
};

// Potential melt of snow on a glacier pack (methods 1, 2, 11, 12): 0 unless
// T > T0 and the pack held water at the start of the step.
double SnowMelt(const MeltParameters &p, const MeltForcing &f, double totalBefore);

// A snow pack in mm over its own area.
struct Pack {
  double Solid = 0.0;
  double Liquid = 0.0;
  double Total = 0.0;
};

struct MeltTransfer {
  double Moved = 0.0;   // melt moved from the solid to the liquid store
  double Outflow = 0.0; // liquid beyond CWH x solid
};

// Moves min(solid, melt) (never below 0) into the liquid store and lets out what exceeds
// the holding capacity cwh x solid.
MeltTransfer MoveMelt(Pack &pack, double melt, double cwh);

// The water of a glacier cell for methods 1, 2, 11, 12: both packs receive
// the snow share as solid and the rest as liquid, each melts on its own and
// lets out its excess water.
struct GlacierCellSnow {
  MeltTransfer Own;     // the cell's pack
  MeltTransfer Glacier; // the glacier pack (absent: nothing)
};
GlacierCellSnow GlacierSnowStep(const MeltParameters &p, const MeltForcing &f, double snowShare,
                                double input, double cwh, Pack &own, Pack *glacierPack);

// Melt of ice and firn of one cell in one step (mm).
struct IceFirnMelt {
  double Ice = 0.0;
  double Firn = 0.0;
};

// Ice and firn melt under a bare glacier (the glacier pack's solid is gone
// and T > T0); snowMelt F is what the glacier pack moved in this step.
// Static methods: iceFirnCode 1 melts ice, 2 firn. Dynamic methods: the firn
// layers (1 on top, level 0 unused) melt while they hold water, ice
// otherwise; a firn demand the layers cannot give melts ice as well.
// debris: the cell's debris factor (1 without one).
IceFirnMelt StaticIceFirnMelt(const MeltParameters &p, const MeltForcing &f, double iceFirnCode,
                              double debris, double snowMelt);
IceFirnMelt DynamicIceFirnMelt(const MeltParameters &p, const MeltForcing &f, double debris,
                               double snowMelt, double firnTotal, std::span<double> firnLevels,
                               double noData);

// Takes demand from the layers 1.. of levels (level 0 unused; nodata layers
// count as 0) from the top down; returns what the layers gave. Level 0
// becomes the sum of the layers.
double TakeFromFirn(std::span<double> levels, double demand, double noData);
double FirnSum(std::span<const double> levels, double noData); // layers 1..

// One step of a linear reservoir with constant k (steps) fed by inflow:
// Q e^(-1/k) + (1 - e^(-1/k)) inflow; k = 0 passes the inflow straight through.
double LinearReservoir(double outflow, double inflow, double k);

// A glacier reservoir of a subbasin whose glacierized share is z, fed by the
// subbasin's mean melt (mm over the whole subbasin): the melt over the
// glacier, meanMelt / z, passes the linear reservoir; without glacier (z <= 0)
// the outflow is 0.
double GlacierReservoir(double outflow, double meanMelt, double z, double k);

// Water equivalent of each firn layer of a new glacier cell at elevation z
// (m): max(0, (z - base) x deltaPerMetre).
double InitialFirnLayer(double elevation, double base, double deltaPerMetre);

// Volume-area relation V = scaling x A^exponent.
double VolumeFromArea(double area, double scaling, double exponent);
double AreaFromVolume(double volume, double scaling, double exponent);
inline constexpr double kMinimumVolume = 0.0543; // 10^6 m³
inline constexpr double kMinimumArea = 0.01;     // km²

struct VolumeArea {
  double Volume = 0.0;
  double Area = 0.0;
};
// The volume and area a glacier starts with from its counted area: at least
// 0.01 km², at least the minimum volume, the area recomputed from the volume.
VolumeArea InitialVolumeArea(double area, double scaling, double exponent);

// The yearly update is due in the step of the evaluation day and month whose
// end (hour + step + hours to the interval end) lies beyond the day's 24 hours.
inline bool YearlyUpdateDue(long day, long month, long hour, double stepMinutes,
                            double hoursToIntervalEnd, int evalDay, int evalMonth) {
  return day == evalDay && month == evalMonth &&
         static_cast<double>(hour) + stepMinutes / 60.0 + hoursToIntervalEnd > 24.001;
}

// The yearly turn of snow into firn on one cell; everything in mm.
struct YearlyCell {
  double Fraction = 0.0; // GlacierizedCells
  double Code = 0.0;     // GlacierCodes
  double CodeOld = 0.0;  // GlacierCodesOld
  Pack Own;
  Pack Glacier;
  double MassBalance = 0.0;
  double OldMassBalance = 0.0;
  double FirnTotal = 0.0;
  std::span<double> FirnLevels; // levels 0..L
};
struct YearlyParameters {
  double MaxSnowPackToCreateGlacier = 1000.0;
  double RelSizeNewGlacier = 0.25;
  double NoData = -9999.0;
};
// Snow beyond the limit on a partly glacierized cell goes to the glacier;
// the glacier's snow becomes the top firn layer (the layers move down one);
// a glacier-free cell with snow beyond the limit becomes a new glacier cell.
void YearlyFirnUpdate(const YearlyParameters &p, YearlyCell &cell);

} // namespace tavro::glacier
