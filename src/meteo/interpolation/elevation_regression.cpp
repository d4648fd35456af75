// Evaluation and fit of the elevation-dependent regression.
#include "meteo/interpolation/elevation_regression.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace tavro::interpolation {
namespace {

// The sums of one group of stations (below or above the split height).
struct StationGroup {
  int n = 0;
  double sumH = 0.0, sumV = 0.0, sumHH = 0.0, sumVH = 0.0;
  double minH = 0.0, maxH = 0.0;

  void Add(double h, double v) {
    minH = n == 0 ? h : std::min(minH, h);
    maxH = n == 0 ? h : std::max(maxH, h);
    ++n;
    sumH += h;
    sumV += v;
    sumHH += h * h;
    sumVH += v * h;
  }

  void Merge(const StationGroup &other) {
    if (other.n == 0)
      return;
    minH = n == 0 ? other.minH : std::min(minH, other.minH);
    maxH = n == 0 ? other.maxH : std::max(maxH, other.maxH);
    n += other.n;
    sumH += other.sumH;
    sumV += other.sumV;
    sumHH += other.sumHH;
    sumVH += other.sumVH;
  }

  // The group becomes the one point of its mean altitude and value.
  void Collapse() {
    const double h = sumH / n, v = sumV / n;
    *this = StationGroup{};
    Add(h, v);
  }

  double Spread() const { return sumHH - sumH * sumH / n; }

  // One point in effect: its stations lie within the cluster range, or at
  // one altitude, where a line through them has no defined slope.
  bool IsCluster(double clusterRange) const {
    if (n < 2)
      return false;
    const double range = maxH - minH;
    const double scale = std::max({std::fabs(minH), std::fabs(maxH), 1.0});
    return range < clusterRange || range <= 1e-12 * scale || !(Spread() > 0.0);
  }
};

struct Line {
  double intercept = 0.0;
  double slope = 0.0;
};

// Least squares of v over h; the group has at least two points at different
// altitudes.
Line FitLine(const StationGroup &g) {
  const double slope = (g.sumVH - g.sumH * g.sumV / g.n) / g.Spread();
  return {(g.sumV - g.sumH * slope) / g.n, slope};
}

// Groups, overlap, clusters and the rule for two single points (steps 1 to 5).
struct Groups {
  StationGroup lower, upper;
};

bool TakesPart(double v, const ValueBounds &bounds) { return v > bounds.ValidFrom; }

Groups FormGroups(std::span<const double> h, std::span<const double> v,
                  const RegressionFitSettings &s, const ValueBounds &bounds) {
  Groups g;
  const std::size_t count = std::min(h.size(), v.size());
  double below = -1e8, above = 1e9; // nearest altitudes around Lp, of every station
  for (std::size_t k = 0; k < count; ++k) {
    if (TakesPart(v[k], bounds))
      (h[k] <= s.LowerSplit ? g.lower : g.upper).Add(h[k], v[k]);
    if (h[k] < s.LowerSplit && h[k] > below)
      below = h[k];
    if (h[k] > s.LowerSplit && h[k] < above)
      above = h[k];
  }
  for (std::size_t k = 0; k < count; ++k) {
    if (!TakesPart(v[k], bounds))
      continue;
    if (h[k] == below && (s.Overlap > 0 || g.upper.n == 1))
      g.upper.Add(h[k], v[k]);
    if (h[k] == above && (s.Overlap > 0 || g.lower.n == 1))
      g.lower.Add(h[k], v[k]);
  }
  if (g.lower.IsCluster(s.ClusterRange))
    g.lower.Collapse();
  if (g.upper.IsCluster(s.ClusterRange))
    g.upper.Collapse();
  if (g.lower.n == 1 && g.upper.n == 1) {
    if (g.upper.maxH - g.lower.minH >= s.ClusterRange) {
      const StationGroup lower = g.lower;
      g.lower.Merge(g.upper);
      g.upper.Merge(lower);
    } else {
      g.upper = StationGroup{};
    }
  }
  return g;
}

// The line through the single point (h, v) that meets `other` at Lp; a point
// at Lp itself takes the other line's slope.
Line ThroughPointMeetingAtSplit(double h, double v, const Line &other, double split) {
  if (h == split)
    return {v - other.slope * h, other.slope};
  const double slope = (split * other.slope + other.intercept - v) / (split - h);
  return {split * (other.slope - slope) + other.intercept, slope};
}

// The lower line (A1, B1) and the upper line (A2, B2) from both groups (steps 6, 7).
void CombineLines(const Groups &g, double split, RegressionRecord &r) {
  const int nL = g.lower.n, nU = g.upper.n;
  Line lower, upper;
  if (nL > 1)
    lower = FitLine(g.lower);
  if (nU > 1)
    upper = FitLine(g.upper);
  if (nL == 0) {
    lower = nU == 1 ? Line{g.upper.sumV, 0.0} : upper;
    upper = lower;
  } else if (nL == 1) {
    if (nU == 0)
      upper = lower = Line{g.lower.sumV, 0.0};
    else
      lower = ThroughPointMeetingAtSplit(g.lower.sumH, g.lower.sumV, upper, split);
  } else if (nU == 0) {
    upper = lower;
  } else if (nU == 1) {
    upper = ThroughPointMeetingAtSplit(g.upper.sumH, g.upper.sumV, lower, split);
  }
  r.Intercept[1] = lower.intercept;
  r.Slope[1] = lower.slope;
  r.Intercept[2] = upper.intercept;
  r.Slope[2] = upper.slope;
}

// Inversion heights and the three segments (steps 8 to 10).
void BuildSegments(const RegressionFitSettings &s, const ValueBounds &bounds, RegressionRecord &r) {
  double &a1 = r.Intercept[1], &a2 = r.Intercept[2], &a3 = r.Intercept[3];
  double &b1 = r.Slope[1], &b2 = r.Slope[2], &b3 = r.Slope[3];
  double hi = (a2 > bounds.ValidFrom && b2 != b1) ? (a2 - a1) / (b1 - b2) : s.LowerSplit;
  double lo = 0.0;
  bool layer = false;
  if (hi < s.LowerSplit - s.Tolerance || hi > s.UpperSplit + s.Tolerance) {
    hi = s.UpperSplit;
    // Equal split heights leave no room for a layer between them.
    if (s.UpperSplit > s.LowerSplit) {
      lo = s.LowerSplit;
      layer = s.LowerSplit > 0.0;
    }
  }
  r.LowerHeight = lo;
  r.UpperHeight = hi;
  a3 = a2;
  b3 = b2;
  if (layer) {
    b2 = (b3 * hi + a3 - a1 - lo * b1) / (hi - lo);
    a2 = lo * (b1 - b2) + a1;
  } else {
    a2 = a1;
    b2 = b1;
    b1 = 0.0;
  }
  if (s.UpperLapseRate > -9998.0) {
    a3 = b3 * hi + a3 - s.UpperLapseRate * hi;
    b3 = s.UpperLapseRate;
  }
}

double SegmentValue(const RegressionRecord &r, double h) {
  if (h < r.LowerHeight)
    return r.Intercept[1] + r.Slope[1] * h;
  if (h > r.UpperHeight)
    return r.Intercept[3] + r.Slope[3] * h;
  return r.Intercept[2] + r.Slope[2] * h;
}

// The trend of the residuals, carried by A1 (step 11).
void FitResidualTrend(std::span<const double> h, std::span<const double> x,
                      std::span<const double> y, std::span<const double> v,
                      const ValueBounds &bounds, RegressionRecord &r) {
  std::vector<double> px, py, pg;
  const std::size_t count = std::min({h.size(), x.size(), y.size(), v.size()});
  for (std::size_t k = 0; k < count; ++k) {
    if (!TakesPart(v[k], bounds))
      continue;
    px.push_back(x[k]);
    py.push_back(y[k]);
    pg.push_back(r.Intercept[1] + v[k] - SegmentValue(r, h[k]));
  }
  const TrendPlane plane = px.size() > 3 ? FitTrendPlane(px, py, pg) : TrendPlane{};
  if (plane.Valid) {
    r.TrendConstant = plane.Constant;
    r.TrendX = plane.X;
    r.TrendY = plane.Y;
  } else {
    r.TrendConstant = r.TrendX = r.TrendY = bounds.Missing;
  }
}

} // namespace

double ElevationRegressionValue(const RegressionRecord &r, double x, double y, double z,
                                const ValueBounds &bounds, double gridNoData) {
  const double a1 = r.Intercept[1];
  if (a1 < bounds.ValidFrom)
    return bounds.Missing;
  if (r.TrendConstant >= bounds.ValidFrom && x != gridNoData && y != gridNoData) {
    const double trend = r.TrendConstant + r.TrendX * x + r.TrendY * y;
    if (z > r.UpperHeight)
      return trend - a1 + r.Intercept[3] + r.Slope[3] * z;
    if (z < r.LowerHeight)
      return trend + r.Slope[1] * z;
    return trend - a1 + r.Intercept[2] + r.Slope[2] * z;
  }
  if (z > r.UpperHeight)
    return r.Intercept[3] + r.Slope[3] * z;
  if (z < r.LowerHeight)
    return a1 + r.Slope[1] * z;
  return r.Intercept[2] + r.Slope[2] * z;
}

RegressionRecord FitElevationRegression(std::span<const double> h, std::span<const double> x,
                                        std::span<const double> y, std::span<const double> v,
                                        const RegressionFitSettings &settings,
                                        const ValueBounds &bounds) {
  RegressionRecord r;
  const Groups groups = FormGroups(h, v, settings, bounds);
  if (groups.lower.n == 0 && groups.upper.n == 0) {
    const double m = bounds.Missing;
    for (int i = 1; i <= 3; ++i)
      r.Intercept[static_cast<std::size_t>(i)] = r.Slope[static_cast<std::size_t>(i)] = m;
    r.LowerHeight = r.UpperHeight = m;
    r.TrendConstant = r.TrendX = r.TrendY = m;
    return r;
  }
  CombineLines(groups, settings.LowerSplit, r);
  BuildSegments(settings, bounds, r);
  FitResidualTrend(h, x, y, v, bounds, r);
  return r;
}

double Determinant3x3(const std::array<double, 3> &a, const std::array<double, 3> &b,
                      const std::array<double, 3> &c) {
  return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) +
         a[2] * (b[0] * c[1] - b[1] * c[0]);
}

TrendPlane FitTrendPlane(std::span<const double> x, std::span<const double> y,
                         std::span<const double> g) {
  const std::size_t count = std::min({x.size(), y.size(), g.size()});
  if (count < 3)
    return {};
  const double n = static_cast<double>(count);
  double meanX = 0.0, meanY = 0.0;
  for (std::size_t k = 0; k < count; ++k) {
    meanX += x[k];
    meanY += y[k];
  }
  meanX /= n;
  meanY /= n;
  double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0, syy = 0.0, sg = 0.0, sxg = 0.0, syg = 0.0;
  for (std::size_t k = 0; k < count; ++k) {
    const double dx = x[k] - meanX, dy = y[k] - meanY;
    sx += dx;
    sy += dy;
    sxx += dx * dx;
    sxy += dx * dy;
    syy += dy * dy;
    sg += g[k];
    sxg += dx * g[k];
    syg += dy * g[k];
  }
  const std::array<double, 3> r1{n, sx, sy}, r2{sx, sxx, sxy}, r3{sy, sxy, syy};
  const std::array<double, 3> rhs{sg, sxg, syg};
  const double d = Determinant3x3(r1, r2, r3);
  // Collinear points make the system singular; in floating point its
  // determinant is then only rounding noise against n Sxx Syy.
  if (!(d > 1e-10 * n * sxx * syy))
    return {};
  TrendPlane plane;
  plane.X = Determinant3x3(r1, rhs, r3) / d;
  plane.Y = Determinant3x3(r1, r2, rhs) / d;
  plane.Constant = (sg - sx * plane.X - sy * plane.Y) / n - plane.X * meanX - plane.Y * meanY;
  plane.Valid = std::isfinite(plane.Constant) && std::isfinite(plane.X) && std::isfinite(plane.Y);
  return plane;
}

} // namespace tavro::interpolation
