// Shadows of the terrain: a pillar casts a shadow exactly as long as its
// height over the tangent of the sun's elevation, away from the sun; a flat
// raster casts none; cells outside the zones are passed over.
#include "landsurface/radiation/shadow_casting.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <set>
#include <utility>

namespace tavro::radiation {
namespace {

constexpr long kSize = 31;
constexpr long kCentre = 16;
constexpr double kCell = 10.0;

class ShadowCastingTest : public testing::Test {
protected:
  void SetUp() override {
    elevation = Grid(1, kSize, kSize, kSize, log);
    zone = Grid(1, kSize, kSize, kSize, log);
    shadow = Grid(1, kSize, kSize, kSize, log);
    zone.Fill(1.0);
    shadow.Fill(-1.0); // untouched cells keep this
  }

  // The cells in shadow, as (row, column).
  std::set<std::pair<long, long>> Shaded() const {
    std::set<std::pair<long, long>> cells;
    for (long r = 1; r <= kSize; ++r)
      for (long c = 1; c <= kSize; ++c)
        if (shadow[r][c] == 1.0)
          cells.insert({r, c});
    return cells;
  }

  DiagnosticsLog log{"Tavro_Diag.xml", 4};
  Grid elevation, zone, shadow;
  const ShadowRaster raster{kSize, kSize, kCell, -9999.0};
};

// The sun 45 degrees high: the ray falls by one cell size per cell. At
// exactly 45 degrees the tenth cell is grazed (ray height equal to the
// ground); the elevation is taken where tan rounds to 1 so that it is lit.
double FortyFiveDegrees() {
  double elevation = std::numbers::pi / 4.0;
  while (std::tan(elevation) < 1.0)
    elevation = std::nextafter(elevation, 1.0);
  return elevation;
}

TEST_F(ShadowCastingTest, APillarShadesNineCellsAwayFromTheSun) {
  elevation[kCentre][kCentre] = 100.0;
  struct Case {
    double azimuthDegrees;
    long rowStep, columnStep; // direction of the shadow
  };
  const Case cases[] = {{90.0, 0, -1}, {180.0, -1, 0}, {270.0, 0, 1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.azimuthDegrees);
    shadow.Fill(-1.0);
    CastShadows(elevation, zone, raster,
                {c.azimuthDegrees * std::numbers::pi / 180.0, FortyFiveDegrees()}, shadow);
    std::set<std::pair<long, long>> expected;
    for (long k = 1; k <= 9; ++k)
      expected.insert({kCentre + k * c.rowStep, kCentre + k * c.columnStep});
    EXPECT_EQ(Shaded(), expected);
  }
}

TEST_F(ShadowCastingTest, AFlatRasterCastsNone) {
  elevation.Fill(250.0);
  for (const double azimuth : {0.3, 1.2, 2.5, 3.9, 5.6})
    for (const double height : {0.05, 0.4, 1.2}) {
      shadow.Fill(-1.0);
      CastShadows(elevation, zone, raster, {azimuth, height}, shadow);
      EXPECT_TRUE(Shaded().empty()) << azimuth << " " << height;
    }
}

TEST_F(ShadowCastingTest, ARidgeShadesUntilTheRayMeetsTheSlopeBehindIt) {
  // An east-west ridge 60 m high in row 16; north of it the ground rises by
  // 10 m per row from row 10 upwards (towards row 1). The sun stands in the
  // south at 45 degrees: the ray falls 10 m per row and meets the rising
  // ground where their heights cross.
  for (long c = 1; c <= kSize; ++c) {
    elevation[kCentre][c] = 60.0;
    for (long r = 1; r < 10; ++r)
      elevation[r][c] = 10.0 * (10 - r);
  }
  CastShadows(elevation, zone, raster, {std::numbers::pi, FortyFiveDegrees()}, shadow);
  for (long c = 1; c <= kSize; ++c) {
    // Ray heights north of the ridge: 50 in row 15, ..., 0 in row 10, -10 in row 9.
    for (long r = 11; r <= 15; ++r)
      EXPECT_EQ(shadow[r][c], 1.0) << r << "/" << c;
    for (long r = 1; r <= 10; ++r)
      EXPECT_EQ(shadow[r][c], 0.0) << r << "/" << c;
  }
}

TEST_F(ShadowCastingTest, CellsOutsideTheZonesArePassedOver) {
  elevation[kCentre][kCentre] = 100.0;
  // A hole of no-data cells in the shadow; and a no-data cell standing high
  // where the ray passes, which neither lifts the ray nor gets a value.
  zone[kCentre][kCentre - 3] = -9999.0;
  zone[kCentre][kCentre - 4] = -9999.0;
  elevation[kCentre][kCentre - 4] = 500.0;
  CastShadows(elevation, zone, raster, {std::numbers::pi / 2.0, FortyFiveDegrees()}, shadow);
  EXPECT_EQ(shadow[kCentre][kCentre - 3], -1.0);
  EXPECT_EQ(shadow[kCentre][kCentre - 4], -1.0);
  for (long k : {1, 2, 5, 6, 7, 8, 9})
    EXPECT_EQ(shadow[kCentre][kCentre - k], 1.0) << k;
  EXPECT_EQ(shadow[kCentre][kCentre - 10], 0.0);
}

} // namespace
} // namespace tavro::radiation
