// Elevation-dependent regression of a meteorological variable: three straight
// segments over elevation (below the lower inversion height, the inversion
// layer, above the upper inversion height) with an optional trend surface
// T + CX x + CY y in place of the first intercept. Pure kernels: the value at
// a point, and the fit of the segments and the trend to one row of station
// values, without grids, MPI or logging.
//
// With the variable's nodata bound N a value is valid when it is at least -N;
// the marker -N - 1 in the first intercept means "no regression", a trend
// constant below -N (or not a number) "no trend".
#pragma once

#include <array>
#include <span>

namespace tavro::interpolation {

// The regression of one step (one row of a regression file, or the fit of
// one station row). Intercepts and slopes are indexed 1..3 by segment;
// element 0 is 0 and never read.
struct RegressionRecord {
  std::array<double, 4> Intercept{}; // A1, A2, A3
  std::array<double, 4> Slope{};     // B1, B2, B3
  double LowerHeight = 0.0;          // Lo: segment 1 below, segment 2 from here
  double UpperHeight = 0.0;          // Hi: segment 3 above
  double TrendConstant = 0.0;        // T
  double TrendX = 0.0;               // CX, per unit of x
  double TrendY = 0.0;               // CY, per unit of y
};

// The variable's bounds: valid from -N, missing marker -N - 1.
struct ValueBounds {
  double ValidFrom = 0.0;
  double Missing = -1.0;
};

// The regression at a point (x, y) of elevation z. Missing when A1 is below
// -N. The trend replaces A1 when T is valid and neither coordinate equals
// gridNoData (the raster's -9999):
//   z > Hi:  T + CX x + CY y - A1 + A3 + B3 z   (else A3 + B3 z)
//   z < Lo:  T + CX x + CY y + B1 z             (else A1 + B1 z)
//   else:    T + CX x + CY y - A1 + A2 + B2 z   (else A2 + B2 z)
double ElevationRegressionValue(const RegressionRecord &regression, double x, double y, double z,
                                const ValueBounds &bounds, double gridNoData = -9999.0);

// The parameters of the fit (a variable's method-10/11 line).
struct RegressionFitSettings {
  double LowerSplit = 0.0;         // Lp: stations up to it form the lower group
  double UpperSplit = 0.0;         // Up: upper height of a forced inversion layer
  double Tolerance = 0.0;          // Tol: how far the crossing may lie outside [Lp, Up]
  int Overlap = 0;                 // > 0: the stations next to Lp join both groups
  double ClusterRange = 0.0;       // CR: a group narrower than this is one point
  double UpperLapseRate = -9999.0; // LR: fixed slope above Hi; -9998 or below: none
};

// Fits the regression to the stations k = 0..n-1 with altitude h[k],
// coordinates x[k], y[k] and value v[k]; a station takes part when its value
// lies above -N. A least-squares line per group of stations below and above
// Lp, combined into three segments that join at the crossing of the lines or
// at a forced inversion layer [Lp, Up], then a least-squares trend plane of
// the residuals when more than three stations take part. Without any station
// taking part every field is the missing marker (no regression).
//
// Where the textbook combination would divide by zero, the fit keeps to
// sound values: a single point at Lp takes the other group's slope through
// itself, equal split heights build no layer, a group whose altitudes are all
// equal is one point, and stations on one line give no trend.
RegressionRecord FitElevationRegression(std::span<const double> h, std::span<const double> x,
                                        std::span<const double> y, std::span<const double> v,
                                        const RegressionFitSettings &settings,
                                        const ValueBounds &bounds);

// The determinant of the 3 x 3 matrix with the given rows.
double Determinant3x3(const std::array<double, 3> &row1, const std::array<double, 3> &row2,
                      const std::array<double, 3> &row3);

struct TrendPlane {
  bool Valid = false; // false: fewer than three points, or all points on one line
  double Constant = 0.0;
  double X = 0.0;
  double Y = 0.0;
};

// The least-squares plane g = T + CX x + CY y through the points k = 0..n-1,
// solved by Cramer's rule on the normal equations (coordinates taken about
// their mean, so that map coordinates in the millions lose no digits). The
// regression fits a trend only to more than three stations.
TrendPlane FitTrendPlane(std::span<const double> x, std::span<const double> y,
                         std::span<const double> g);

} // namespace tavro::interpolation
