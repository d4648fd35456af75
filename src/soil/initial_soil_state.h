// The initial state of one soil column, as pure functions of plain values:
// the elevations of the layer bottoms, the initial groundwater layer, a
// water-content profile in hydrostatic equilibrium with a water table, the
// hydraulic heads, the groundwater grids' values, the lower-boundary
// temperature, the mean water content of the root zone, the drainage level
// and the cell's part of the start-of-run report. No grids, MPI or logging:
// the soil-water module calls them for each of its own cells.
//
// Conventions: a column has layers 1..n from the surface; the spans hold
// elements 0..n. geodetic[0] is the surface elevation and geodetic[i] the
// elevation of the bottom of layer i (m); the depth of that bottom is
// geodetic[0] - geodetic[i]. Water contents in m3/m3, suctions in m.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace tavro {

class soil_class;

// geodetic[0] = surface, geodetic[i] = geodetic[i-1] - thickness[i].
void ComputeGeodeticHeads(double surface, std::span<const double> thickness,
                          std::span<double> geodetic);

// The groundwater layer g of a computed state: floor((layers - 1) / iniGwLevel)
// + 1 (iniGwLevel above 1 gives g < layers for layers > 1).
int InitialGroundwaterLayer(int layers, double iniGwLevel);

// The groundwater layer g for a groundwater distance read (m, negative
// below the surface): 0 when the table lies within layer 1, else the
// smallest k with -distance at most the depth of the bottom of layer k + 1,
// at most layers.
int GroundwaterLayerFromDistance(double distance, std::span<const double> geodetic, int layers);

// Water contents in equilibrium with a water table at the centre of layer
// g + 1: theta[0] = theta_s of layer 1, layers 1..g at the suction of their
// centre's height above that table, layers g+1..n saturated. With g equal to
// n the table lies at the bottom of layer n and no layer is saturated.
void ComputeEquilibriumTheta(const soil_class &soil, int g, std::span<const double> geodetic,
                             std::span<double> theta);

// hydraulic[0] = surface elevation; hydraulic[i] = elevation of the centre of
// layer i minus the suction of layer i at theta[i].
void ComputeHydraulicHeads(const soil_class &soil, std::span<const double> geodetic,
                           std::span<const double> theta, std::span<double> hydraulic);

// The groundwater grids' values of a column: the top layer of the saturated
// block that reaches up from layer n - 1 (0 when there is none), the depth
// of its top as a negative distance (the profile depth without such a
// block) and the water content of the layer above it (of layer 1 without).
struct GroundwaterValues {
  double level = 0.0;
  double distance = 0.0; // m, negative below the surface
  double thetaInGwLevel = 0.0;
};
GroundwaterValues FindGroundwaterValues(const soil_class &soil, std::span<const double> geodetic,
                                        std::span<const double> theta);

// A slope in degrees as the tangent-of-slope grid holds it: in radians, with
// pi taken as 3.141592653.
inline double SlopeRadians(double degrees) { return degrees * 3.141592653 / 180.0; }

// The lower-boundary temperature (degC) at a surface elevation (m).
inline double LowerBoundaryTemperature(double surface, double lapseRate, double base) {
  return lapseRate * surface + base;
}

// The mean water content of the root zone of depth rootDepth (m): theta[1]
// for a root zone of no depth, else the water of the layers down to the
// root depth (down to the profile's bottom for deeper roots and for 9999)
// divided by the root depth.
double RootZoneMeanTheta(double rootDepth, std::span<const double> thickness,
                         std::span<const double> geodetic, std::span<const double> theta);

// The drainage layer of a drainage depth (m): 0 when the drain lies within 1
// cm of the surface, else the first layer whose bottom lies at or below the
// drain less 1 cm; -1 when the drain lies below the profile's bottom.
int DrainageLevel(double drainageDepth, std::span<const double> geodetic);

// Water in the column: the sum of theta[i] x thickness[i] (m).
double ColumnWater(std::span<const double> theta, std::span<const double> thickness);

// A cell's part of the start-of-run report, with its glacier fraction
// (limited to 0..1) and its cell weight: soil water of the unglacierized part,
// of the glacierized part (counted as saturated) and their weights.
struct StartReportPart {
  double unglacierized = 0.0;
  double glacierized = 0.0;
  double unglacierizedWeight = 0.0;
  double glacierizedWeight = 0.0;
};
StartReportPart StartReportOfCell(const soil_class &soil, std::span<const double> theta,
                                  double glacierFraction, double cellWeight);

// The three lines of mean soil water at a moment ("model-start",
// "model-end") from the sums of StartReportPart over the cells: unglacierized
// and glacierized water and their weights.
std::string MeanSoilWaterLines(double unglacierized, double glacierized, double unglacierizedWeight,
                               double glacierizedWeight, std::string_view moment);

} // namespace tavro
