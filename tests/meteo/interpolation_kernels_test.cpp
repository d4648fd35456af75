// The station interpolation kernels against values worked out by hand:
// Shepard's inverse distance weighting for the three weight codes, the
// station at the point, the search radius, missing values, anisotropy along
// and across a turned axis; Thiessen ties; the lapse-rate cases; the
// day-weighted scenario values; the rotated frame and the station spacing.
#include "meteo/interpolation/inverse_distance.h"
#include "meteo/interpolation/post_processing.h"
#include "meteo/interpolation/rotated_frame.h"
#include "meteo/interpolation/scenario.h"
#include "meteo/interpolation/station_spacing.h"
#include "meteo/interpolation/thiessen.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

namespace tavro::interpolation {
namespace {

constexpr double kValidFrom = -9999.0;
constexpr double kMissing = -10000.0;

InverseDistanceSettings Idw(double p, double radius) {
  InverseDistanceSettings s;
  s.Code = WeightCode(p);
  s.Exponent = p;
  s.MaxDistance = s.Code == 2000 ? radius * radius : radius;
  s.ValidFrom = kValidFrom;
  s.Missing = kMissing;
  return s;
}

TEST(InverseDistanceTest, ShepardWeightsByHand) {
  // A at distance 5 (value 10), B at distance 2 (value 20) from the origin.
  const std::vector<double> x{3.0, 0.0}, y{4.0, 2.0}, v{10.0, 20.0};
  struct Case {
    double p;
    double radius;
    double expected;
    std::array<double, 2> weights;
  };
  const std::vector<Case> cases = {
      {1.0, 100.0, 12.0 / 0.7, {0.2, 0.5}},
      {1.5, 100.0, 17.98095926481335, {std::pow(5.0, -1.5), std::pow(2.0, -1.5)}},
      {2.0, 100.0, 5.4 / 0.29, {0.04, 0.25}},
      // The radius leaves B alone, for every weight code.
      {1.0, 3.0, 20.0, {0.0, 0.5}},
      {1.5, 3.0, 20.0, {0.0, std::pow(2.0, -1.5)}},
      {2.0, 3.0, 20.0, {0.0, 0.25}},
      // No station within the radius.
      {2.0, 1.5, kMissing, {0.0, 0.0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "p = " << c.p << ", radius " << c.radius);
    std::vector<double> w(2, -1.0);
    EXPECT_NEAR(InverseDistance(x, y, v, w, 0.0, 0.0, Idw(c.p, c.radius)), c.expected, 1e-12);
    EXPECT_NEAR(w[0], c.weights[0], 1e-15);
    EXPECT_NEAR(w[1], c.weights[1], 1e-15);
  }
}

TEST(InverseDistanceTest, StationAtThePointCountsAtDistanceOne) {
  // Weights 1 and 0.25 with a second station 2 m away.
  const std::vector<double> x{0.0, 2.0}, y{0.0, 0.0}, v{10.0, 20.0};
  std::vector<double> w(2);
  EXPECT_DOUBLE_EQ(InverseDistance(x, y, v, w, 0.0, 0.0, Idw(2.0, 100.0)), 15.0 / 1.25);
  EXPECT_DOUBLE_EQ(w[0], 1.0);
  EXPECT_DOUBLE_EQ(w[1], 0.25);
}

TEST(InverseDistanceTest, MissingValuesAndNoStations) {
  const std::vector<double> x{0.0, 2.0}, y{0.0, 0.0};
  std::vector<double> w(2);
  const std::vector<double> missing{-10000.0, -99999.0};
  EXPECT_EQ(InverseDistance(x, y, missing, w, 1.0, 1.0, Idw(2.0, 100.0)), kMissing);
  // A missing station does not count; the valid one gives its value.
  const std::vector<double> one{-10000.0, 7.0};
  EXPECT_DOUBLE_EQ(InverseDistance(x, y, one, w, 1.0, 1.0, Idw(1.0, 100.0)), 7.0);
  EXPECT_EQ(w[0], 0.0);
  EXPECT_EQ(InverseDistance({}, {}, {}, {}, 0.0, 0.0, Idw(2.0, 100.0)), kMissing);
  // -V itself is valid.
  const std::vector<double> bound{kValidFrom, kValidFrom};
  EXPECT_DOUBLE_EQ(InverseDistance(x, y, bound, w, 1.0, 1.0, Idw(2.0, 100.0)), kValidFrom);
}

TEST(InverseDistanceTest, ExponentsUpToTheNextCodeUseTheSquaredRadius) {
  EXPECT_EQ(WeightCode(1.0), 1000);
  EXPECT_EQ(WeightCode(1.5), 1500);
  EXPECT_EQ(WeightCode(2.0), 2000);
  EXPECT_EQ(WeightCode(2.0005), 2000);
  // The code 2000 weights by 1/d2 whatever the exponent's digits.
  const std::vector<double> x{0.0, 2.0}, y{0.0, 0.0}, v{10.0, 20.0};
  std::vector<double> w(2);
  EXPECT_DOUBLE_EQ(InverseDistance(x, y, v, w, 0.0, 0.0, Idw(2.0005, 100.0)), 12.0);
}

TEST(InverseDistanceTest, AnisotropyAlongAndAcrossATurnedAxis) {
  // An ellipse with b/a = 0.5 whose main axis points 30 degrees north of east.
  // Station 1 lies 2 km from the point along the axis, station 2 2 km across it:
  // along the axis distances count half, so the weights are 1 and 1/4.
  const double slope = 30.0 * kRadiansPerDegree;
  const double px = 5000.0, py = 3000.0, d = 2.0;
  const std::array<double, 2> angles{slope, slope + kQuarterTurn};
  std::vector<double> x, y;
  for (const double a : angles) {
    const FramePoint turned =
        RotateIntoFrame(px + d * std::cos(a), py + d * std::sin(a), 0.0, 0.0, slope);
    x.push_back(turned.X);
    y.push_back(turned.Y);
  }
  const FramePoint point = RotateIntoFrame(px, py, 0.0, 0.0, slope);
  const std::vector<double> v{10.0, 20.0};
  std::vector<double> w(2);
  const double value =
      InverseDistanceAnisotropic(x, y, v, w, point.X, point.Y, 0.5, Idw(2.0, 100.0));
  EXPECT_NEAR(w[0], 1.0, 1e-6);
  EXPECT_NEAR(w[1], 0.25, 1e-6);
  EXPECT_NEAR(value, 12.0, 1e-6);
  // With b/a = 1 the same stations weigh alike.
  InverseDistanceAnisotropic(x, y, v, w, point.X, point.Y, 1.0, Idw(2.0, 100.0));
  EXPECT_NEAR(w[0], w[1], 1e-9);
}

TEST(RotatedFrameTest, TurnsAboutTheLowerLeftCorner) {
  const double quarter = 90.0 * kRadiansPerDegree;
  const FramePoint north = RotateIntoFrame(100.0, 300.0, 100.0, 200.0, quarter);
  EXPECT_NEAR(north.X, 200.0, 1e-9); // straight north turned by -90 degrees: east
  EXPECT_NEAR(north.Y, 200.0, 1e-9);
  const FramePoint east = RotateIntoFrame(110.0, 200.0, 100.0, 200.0, 0.0);
  EXPECT_EQ(east.X, 110.0);
  EXPECT_EQ(east.Y, 200.0);
  EXPECT_DOUBLE_EQ(DistanceFromCorner(103.0, 204.0, 100.0, 200.0), 5.0);
}

TEST(ThiessenTest, NearestStationAndTies) {
  // Stations 1 and 2 equally near the point, station 3 farther.
  const std::vector<double> x{-1.0, 1.0, 5.0}, y{0.0, 0.0, 0.0}, v{10.0, 20.0, 30.0};
  std::vector<double> d2(3, -1.0);
  EXPECT_EQ(Thiessen(x, y, v, d2, 0.0, 0.0, kValidFrom, kMissing), 20.0); // the later one
  EXPECT_EQ(d2[2], 25.0);
  const std::vector<double> z{100.0, 100.0, 100.0};
  const LapseRateSettings flat;
  EXPECT_EQ(ThiessenLapseRate(x, y, z, v, 0.0, 0.0, 100.0, flat, kValidFrom, kMissing),
            10.0); // the earlier one
  // Missing stations do not count; none valid gives the missing marker.
  const std::vector<double> gaps{-10000.0, -10000.0, 30.0};
  EXPECT_EQ(Thiessen(x, y, gaps, d2, 0.0, 0.0, kValidFrom, kMissing), 30.0);
  const std::vector<double> none(3, -10000.0);
  EXPECT_EQ(Thiessen(x, y, none, d2, 0.0, 0.0, kValidFrom, kMissing), kMissing);
  EXPECT_EQ(ThiessenLapseRate(x, y, z, none, 0.0, 0.0, 0.0, flat, kValidFrom, kMissing), kMissing);
}

TEST(ThiessenTest, LapseRateWithAndWithoutInversion) {
  const double g = -0.0065, gu = 0.004, h = 1000.0;
  struct Case {
    const char *what;
    double zs, z, inversion, expected;
  };
  const std::vector<Case> cases = {
      {"no inversion", 500.0, 1500.0, -9999.0, 10.0 + 1000.0 * g},
      {"station and cell below", 500.0, 800.0, h, 10.0 + 300.0 * g},
      {"station below, cell above", 500.0, 1500.0, h, 10.0 + 500.0 * g + 500.0 * gu},
      {"station and cell above", 1200.0, 1500.0, h, 10.0 + 300.0 * gu},
      {"station above, cell below", 1200.0, 700.0, h, 10.0 - 200.0 * gu - 300.0 * g},
      {"cell at the inversion", 500.0, 1000.0, h, 10.0 + 500.0 * g},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const LapseRateSettings s{g, c.inversion, c.inversion > -9998.0 ? gu : -9999.0, false};
    const std::vector<double> x{0.0}, y{0.0}, zs{c.zs}, v{10.0};
    EXPECT_NEAR(ThiessenLapseRate(x, y, zs, v, 3.0, 4.0, c.z, s, kValidFrom, kMissing), c.expected,
                1e-12);
  }
  EXPECT_NEAR(10.0 + 500.0 * g + 500.0 * gu, 8.75, 1e-12); // the two-piece case by hand
}

TEST(ThiessenTest, PTypeKeepsZero) {
  const std::vector<double> x{0.0}, y{0.0}, zs{500.0}, zero{0.0};
  LapseRateSettings s{0.0005, -9999.0, -9999.0, true};
  EXPECT_EQ(ThiessenLapseRate(x, y, zs, zero, 0.0, 0.0, 1500.0, s, kValidFrom, kMissing), 0.0);
  s.PType = false;
  EXPECT_DOUBLE_EQ(ThiessenLapseRate(x, y, zs, zero, 0.0, 0.0, 1500.0, s, kValidFrom, kMissing),
                   0.5);
  s.PType = true;
  const std::vector<double> rain{2.0};
  EXPECT_DOUBLE_EQ(ThiessenLapseRate(x, y, zs, rain, 0.0, 0.0, 1500.0, s, kValidFrom, kMissing),
                   2.5);
}

TEST(ScenarioTest, DayWeightedValues) {
  const std::array<int, 14> days{0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31, 0};
  ScenarioRow row;
  for (int m = 1; m <= 12; ++m)
    row.Monthly[static_cast<std::size_t>(m)] = m; // January 1, February 2, ...
  struct Case {
    long day, month;
    double expected;
  };
  const std::vector<Case> cases = {
      {10, 3, 22.0 / 28.0 * 3.0 + 6.0 / 28.0 * 2.0},    // 10 March: 2.7857
      {16, 2, 1.0 / 28.0 * 3.0 + 27.0 / 28.0 * 2.0},    // 16 February: 2.0357
      {1, 2, 16.0 / 31.0 * 2.0 + 15.0 / 31.0 * 1.0},    // 1 February: 1.516
      {15, 1, 30.0 / 31.0 * 1.0 + 1.0 / 31.0 * 12.0},   // from December
      {31, 12, 16.0 / 31.0 * 1.0 + 15.0 / 31.0 * 12.0}, // into January
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.day << "." << c.month);
    EXPECT_NEAR(DayWeightedScenarioValue(row, c.day, c.month, days), c.expected, 1e-12);
  }
  EXPECT_NEAR(DayWeightedScenarioValue(row, 10, 3, days), 2.7857142857142856, 1e-12);
  EXPECT_NEAR(DayWeightedScenarioValue(row, 16, 2, days), 2.0357142857142856, 1e-12);
}

TEST(ScenarioTest, NearestRowAndNoRow) {
  std::vector<ScenarioRow> rows(3);
  rows[0].X = 0.0, rows[0].Current = 1.0;
  rows[1].X = 10.0, rows[1].Current = 2.0;
  rows[2].X = 10.0, rows[2].Current = 3.0; // as near as row 2: the last wins
  EXPECT_EQ(NearestScenarioValue(rows, 1.0, 0.0, -1.0), 1.0);
  EXPECT_EQ(NearestScenarioValue(rows, 9.0, 0.0, -1.0), 3.0);
  EXPECT_EQ(NearestScenarioValue({}, 9.0, 0.0, -1.0), -1.0);
  EXPECT_EQ(NearestScenarioValue(rows, 1e8, 0.0, -1.0), -1.0); // beyond the start distance
}

TEST(PostProcessingTest, ScalingBeforeLimits) {
  const ResultLimits limits{2.0, 0.0, 0.0, 25.0, 25.0};
  EXPECT_EQ(ApplyScalingAndLimits(-10000.0, limits), 0.0); // the missing marker
  EXPECT_EQ(ApplyScalingAndLimits(15.0, limits), 25.0);
  EXPECT_EQ(ApplyScalingAndLimits(10.0, limits), 20.0);
  EXPECT_EQ(ApplyScenario(25.0, ScenarioKind::Additive, 2.0), 27.0);
  EXPECT_EQ(ApplyScenario(25.0, ScenarioKind::Multiplicative, 2.0), 50.0);
  EXPECT_EQ(ApplyScenario(25.0, ScenarioKind::None, 2.0), 25.0);
}

TEST(StationSpacingTest, MeanDistanceEastAndNorth) {
  // A 3 x 2 mesh of 1000 m by 500 m.
  const std::vector<double> x{0, 1000, 2000, 0, 1000, 2000};
  const std::vector<double> y{0, 0, 0, 500, 500, 500};
  const StationSpacing s = MeanStationSpacing(x, y);
  EXPECT_DOUBLE_EQ(s.Horizontal, 1000.0);
  EXPECT_DOUBLE_EQ(s.Vertical, 500.0);
  const StationSpacing single =
      MeanStationSpacing(std::vector<double>{1.0}, std::vector<double>{1.0});
  EXPECT_EQ(single.Horizontal, -9999.0);
  EXPECT_EQ(single.Vertical, -9999.0);
}

} // namespace
} // namespace tavro::interpolation
