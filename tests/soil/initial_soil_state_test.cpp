// The initial state of one soil column against hand-worked geometry: the
// groundwater layer of a computed state and of a distance read, a profile in
// hydrostatic equilibrium (water contents at the heights of the layer
// centres above the water table, constant hydraulic head above it), the
// groundwater values found in a profile, the root-zone mean, the drainage
// level, the lower-boundary temperature and a cell's share of the report.
#include "soil/initial_soil_state.h"

#include "kernel/diagnostics_log.h"
#include "support/soil_water_inputs.h"
#include "tables/soil_class.h"

#include <gtest/gtest.h>

#include <cmath>
#include <span>
#include <vector>

namespace tavro {
namespace {

constexpr double kSurface = 1000.0;

class InitialSoilStateTest : public testing::Test {
protected:
  soil_class Loam(int layers, double thickness = 0.15) {
    return test::VanGenuchtenSoil(log_, 1, layers, thickness, 0.43, 0.078, 3.6, 1.56, 2.89e-6);
  }

  std::vector<double> Geodetic(const soil_class &soil) {
    std::vector<double> geo(static_cast<std::size_t>(soil.LayerCount) + 1);
    ComputeGeodeticHeads(kSurface, soil.thickness, geo);
    return geo;
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
};

TEST_F(InitialSoilStateTest, LayerBottomsFollowTheThicknesses) {
  const soil_class soil = Loam(10);
  const std::vector<double> geo = Geodetic(soil);
  for (int i = 0; i <= 10; ++i)
    EXPECT_NEAR(geo[static_cast<std::size_t>(i)], kSurface - 0.15 * i, 1e-9) << i;
}

TEST_F(InitialSoilStateTest, ComputedGroundwaterLayerFromIniGwLevel) {
  struct Case {
    int layers;
    double ini;
    int g;
  };
  for (const Case c : {Case{10, 2.0, 5}, Case{10, 9.0, 2}, Case{10, 1.0001, 9}, Case{10, 100.0, 1},
                       Case{1, 2.0, 1}, Case{4, 1.5, 3}})
    EXPECT_EQ(InitialGroundwaterLayer(c.layers, c.ini), c.g) << c.layers << " " << c.ini;
}

TEST_F(InitialSoilStateTest, GroundwaterLayerFromADistanceRead) {
  const soil_class soil = Loam(10);
  const std::vector<double> geo = Geodetic(soil);
  struct Case {
    double distance;
    int g;
  };
  // Layer bottoms at 0.15, 0.30, ... 1.50 m.
  for (const Case c : {Case{-0.05, 0}, Case{-0.14, 0}, Case{-0.16, 1}, Case{-0.35, 2},
                       Case{-1.45, 9}, Case{-1.49, 9}, Case{-2.0, 10}})
    EXPECT_EQ(GroundwaterLayerFromDistance(c.distance, geo, 10), c.g) << c.distance;
}

// Layers 1..g in equilibrium with a table at the centre of layer g + 1, the
// rest saturated; the groundwater grids find level g + 1 at -depth_g.
TEST_F(InitialSoilStateTest, EquilibriumProfileAboveTheWaterTable) {
  const soil_class soil = Loam(10);
  const std::vector<double> geo = Geodetic(soil);
  for (const int g : {5, 2}) {
    SCOPED_TRACE(g);
    std::vector<double> theta(11);
    ComputeEquilibriumTheta(soil, g, geo, theta);
    EXPECT_EQ(theta[0], 0.43);
    const double tableDepth = 0.15 * (g + 0.5); // centre of layer g + 1
    for (int i = 1; i <= 10; ++i) {
      const auto at = static_cast<std::size_t>(i);
      if (i <= g)
        EXPECT_NEAR(theta[at], soil.GetTheta(i, tableDepth - 0.15 * (i - 0.5)), 1e-9) << i;
      else
        EXPECT_EQ(theta[at], 0.43) << i;
    }
    EXPECT_LT(theta[1], theta[static_cast<std::size_t>(g)]); // drier upwards

    // Above the table the hydraulic head is the table's elevation; below it
    // (no suction) the centre's elevation.
    std::vector<double> hydraulic(11);
    ComputeHydraulicHeads(soil, geo, theta, hydraulic);
    EXPECT_EQ(hydraulic[0], kSurface);
    for (int i = 1; i <= 10; ++i) {
      const double centre = kSurface - 0.15 * (i - 0.5);
      const double expected = i <= g ? kSurface - tableDepth : centre;
      EXPECT_NEAR(hydraulic[static_cast<std::size_t>(i)], expected, 1e-9) << i;
    }

    const GroundwaterValues gw = FindGroundwaterValues(soil, geo, theta);
    EXPECT_EQ(gw.level, g + 1);
    EXPECT_NEAR(gw.distance, -0.15 * g, 1e-9);
    EXPECT_EQ(gw.thetaInGwLevel, theta[static_cast<std::size_t>(g)]);
  }
}

TEST_F(InitialSoilStateTest, ATableWithinTheFirstLayerSaturatesTheWholeColumn) {
  // A first layer of 0.1 m and nine of 0.2 m, the table 0.05 m deep.
  soil_class soil(1);
  ReadSoilBlock(log_,
                "1 layered {\n method = MultipleHorizons;\n layers = 1 9;\n ksat = 2.89e-6;\n "
                "theta_sat = 0.43;\n theta_res = 0.078;\n alpha = 3.6;\n Par_n = 1.56;\n "
                "thickness = 0.1 0.2;\n}\n",
                soil);
  ASSERT_EQ(soil.LayerCount, 10);
  const std::vector<double> geo = Geodetic(soil);
  const int g = GroundwaterLayerFromDistance(-0.05, geo, 10);
  EXPECT_EQ(g, 0);
  std::vector<double> theta(11);
  ComputeEquilibriumTheta(soil, g, geo, theta);
  for (int i = 1; i <= 10; ++i)
    EXPECT_EQ(theta[static_cast<std::size_t>(i)], 0.43);
  const GroundwaterValues gw = FindGroundwaterValues(soil, geo, theta);
  EXPECT_EQ(gw.level, 1);
  EXPECT_EQ(gw.thetaInGwLevel, 0.43); // level 0 of theta
}

// g equal to n: the table lies at the bottom of the last layer and no layer
// is saturated (one layer, or a table read below the profile).
TEST_F(InitialSoilStateTest, ATableAtTheBottomSaturatesNoLayer) {
  const soil_class one = Loam(1, 0.5);
  const std::vector<double> geoOne = Geodetic(one);
  std::vector<double> thetaOne(2);
  ComputeEquilibriumTheta(one, InitialGroundwaterLayer(1, 2.0), geoOne, thetaOne);
  EXPECT_DOUBLE_EQ(thetaOne[1], one.GetTheta(1, 0.25));
  EXPECT_LT(thetaOne[1], 0.43);
  const GroundwaterValues gwOne = FindGroundwaterValues(one, geoOne, thetaOne);
  EXPECT_EQ(gwOne.level, 0);
  EXPECT_NEAR(gwOne.distance, -0.5, 1e-12);

  const soil_class soil = Loam(10);
  const std::vector<double> geo = Geodetic(soil);
  const int g = GroundwaterLayerFromDistance(-3.0, geo, 10);
  ASSERT_EQ(g, 10);
  std::vector<double> theta(11);
  ComputeEquilibriumTheta(soil, g, geo, theta);
  for (int i = 1; i <= 10; ++i)
    EXPECT_NEAR(theta[static_cast<std::size_t>(i)], soil.GetTheta(i, 0.15 * (10.5 - i)), 1e-9);
  EXPECT_EQ(FindGroundwaterValues(soil, geo, theta).level, 0);
}

TEST_F(InitialSoilStateTest, GroundwaterSearchStartsAboveTheBottomLayer) {
  const soil_class soil = Loam(10);
  const std::vector<double> geo = Geodetic(soil);
  const double sat = 0.43;
  const double dry = 0.2;
  struct Case {
    std::vector<double> theta; // layers 1..10
    double level;
    double distance;
  };
  const std::vector<Case> cases = {
      // Saturated from layer 7 down: the block's top.
      {{dry, dry, dry, dry, dry, dry, sat, sat, sat, sat}, 7, -0.90},
      // Only the bottom layer saturated: not tested, no level.
      {{dry, dry, dry, dry, dry, dry, dry, dry, dry, sat}, 0, -1.50},
      // A perched block below dry layers ends nothing while the unsaturated
      // layers share the bottom layer's content as their theta_s.
      {{dry, dry, dry, sat, sat, sat, dry, dry, dry, sat}, 4, -0.45},
      // With a dry bottom layer the first dry layer ends the search.
      {{dry, dry, dry, sat, sat, sat, dry, dry, dry, dry}, 0, -1.50},
      // Within 0.05 % of saturation counts as saturated.
      {{dry, dry, dry, dry, dry, dry, dry, dry, 0.4299, dry}, 9, -1.20},
  };
  for (const Case &c : cases) {
    std::vector<double> theta(1, sat);
    theta.insert(theta.end(), c.theta.begin(), c.theta.end());
    const GroundwaterValues gw = FindGroundwaterValues(soil, geo, theta);
    EXPECT_EQ(gw.level, c.level);
    EXPECT_NEAR(gw.distance, c.distance, 1e-9);
  }
}

TEST_F(InitialSoilStateTest, RootZoneMeanWaterContent) {
  // Three layers of 0.2 m with 0.30, 0.25 and 0.20.
  const std::vector<double> thickness{0, 0.2, 0.2, 0.2};
  const std::vector<double> geo{10.0, 9.8, 9.6, 9.4};
  const std::vector<double> theta{0.4, 0.30, 0.25, 0.20};
  struct Case {
    double root;
    double mean;
  };
  const double whole = 0.3 * 0.2 + 0.25 * 0.2 + 0.2 * 0.2;
  for (const Case c :
       {Case{0.5, (0.3 * 0.2 + 0.25 * 0.2 + 0.2 * 0.1) / 0.5}, Case{0.4, 0.275}, Case{0.1, 0.30},
        Case{0.0, 0.30}, Case{-1.0, 0.30}, Case{1e-9, 0.30}, Case{1.2, (whole - 0.2 * 1e-8) / 1.2},
        Case{9999.0, (whole - 0.2 * 1e-8) / 9999.0}})
    EXPECT_NEAR(RootZoneMeanTheta(c.root, thickness, geo, theta), c.mean, 1e-12) << c.root;
  EXPECT_NEAR(RootZoneMeanTheta(0.5, thickness, geo, theta), 0.26, 1e-12);
}

TEST_F(InitialSoilStateTest, DrainageLevelIsTheLayerOfTheDrain) {
  const soil_class soil = Loam(10);
  const std::vector<double> geo = Geodetic(soil);
  struct Case {
    double depth;
    int level;
  };
  for (const Case c : {Case{0.005, 0}, Case{0.01, 0}, Case{0.155, 1}, Case{0.2, 2}, Case{1.50, 10},
                       Case{1.52, -1}, Case{3.0, -1}})
    EXPECT_EQ(DrainageLevel(c.depth, geo), c.level) << c.depth;
}

TEST_F(InitialSoilStateTest, LowerBoundaryTemperatureFallsWithHeight) {
  EXPECT_NEAR(LowerBoundaryTemperature(1000.0, -0.007, 12.0), 5.0, 1e-12);
  EXPECT_NEAR(LowerBoundaryTemperature(0.0, -0.007, 12.0), 12.0, 1e-12);
}

TEST_F(InitialSoilStateTest, StartReportSharesOfAPartlyGlacierizedCell) {
  const soil_class soil = Loam(2);
  const std::vector<double> theta{0.43, 0.2, 0.3};
  const double water = 0.2 * 0.15 + 0.3 * 0.15;
  const double saturated = 0.43 * 0.3;
  struct Case {
    double glacier;
    double weight;
    StartReportPart part;
  };
  const std::vector<Case> cases = {
      {0.0, 1.0, {water, 0.0, 1.0, 1.0}},
      {0.25, 0.5, {water * 0.75, saturated * 0.25, 0.625, 0.875}},
      {1.5, 0.5, {0.0, saturated, 1.0, 0.5}}, // limited to 1
      {-0.5, 2.0, {water, 0.0, 2.0, 1.0}},    // limited to 0
  };
  for (const Case &c : cases) {
    const StartReportPart p = StartReportOfCell(soil, theta, c.glacier, c.weight);
    EXPECT_NEAR(p.unglacierized, c.part.unglacierized, 1e-12) << c.glacier;
    EXPECT_NEAR(p.glacierized, c.part.glacierized, 1e-12) << c.glacier;
    EXPECT_NEAR(p.unglacierizedWeight, c.part.unglacierizedWeight, 1e-12) << c.glacier;
    EXPECT_NEAR(p.glacierizedWeight, c.part.glacierizedWeight, 1e-12) << c.glacier;
  }
}

} // namespace
} // namespace tavro
