// The concentration arithmetic of the tracers against direct mass balances,
// the decay factor against the half-life law 0.5^(dt / T), and the file names
// of a module's tracer statistics and grids.
#include "kernel/tracer_concentration.h"
#include "kernel/tracer_record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace tavro {
namespace {

TEST(TracerConcentrationTest, MixingKeepsTheSoluteOfBothVolumes) {
  struct Case {
    double ca, cb, qa, qb, expected;
  };
  const std::vector<Case> cases = {
      {10.0, 0.0, 1.0, 1.0, 5.0},      // equal volumes: the mean
      {2.0, 8.0, 3.0, 1.0, 3.5},       // (2 * 3 + 8 * 1) / 4
      {4.0, 100.0, 2.0, 0.0, 4.0},     // nothing added
      {4.0, 100.0, 0.0, 0.0, 0.0},     // no water at all
      {1.0, 3.0, 0.25, 0.75, 2.5},     // fractions of a volume
      {5.0, 5.0, 1e-300, 1e-300, 5.0}, // tiny volumes still mix
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.ca << " " << c.cb << " " << c.qa << " " << c.qb);
    const double mixed = MixConcentration(c.ca, c.cb, c.qa, c.qb);
    EXPECT_DOUBLE_EQ(mixed, c.expected);
    // The solute of the mixture is the solute of the parts.
    if (c.qa + c.qb > 0.0) {
      EXPECT_NEAR(mixed * (c.qa + c.qb), c.ca * c.qa + c.cb * c.qb,
                  1e-12 * std::fabs(c.ca * c.qa + c.cb * c.qb));
    }
  }
}

TEST(TracerConcentrationTest, LosingSolventConcentratesTheSolute) {
  EXPECT_DOUBLE_EQ(ConcentrateByLoss(2.0, 10.0, 5.0), 4.0);
  EXPECT_DOUBLE_EQ(ConcentrateByLoss(2.0, 10.0, 0.0), 2.0);
  EXPECT_DOUBLE_EQ(ConcentrateByLoss(3.0, 4.0, 3.0), 12.0);
  EXPECT_DOUBLE_EQ(ConcentrateByLoss(2.0, 10.0, 10.0), 0.0); // the whole volume is gone
  EXPECT_DOUBLE_EQ(Multiply(2.5, 4.0), 10.0);
}

TEST(TracerConcentrationTest, DecayFollowsTheHalfLifeLaw) {
  struct Case {
    double stepMinutes, halfTimeDays;
  };
  // The constant differs from 1 / ln 2 in the tenth digit: the factor agrees
  // with the law to about 1e-10 relative.
  const std::vector<Case> cases = {{1440.0, 1.0},  {60.0, 1.0},   {15.0, 1.0},
                                   {1440.0, 12.3}, {1440.0, 0.5}, {60.0, 11012.0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.stepMinutes << " min, " << c.halfTimeDays << " d");
    const double law = std::pow(0.5, c.stepMinutes / 1440.0 / c.halfTimeDays);
    EXPECT_NEAR(TracerDecayFactor(c.stepMinutes, c.halfTimeDays), law, 1e-9 * law);
  }
  EXPECT_NEAR(TracerDecayFactor(1440.0, 1.0), 0.5, 0.5e-9);
  EXPECT_NEAR(TracerDecayFactor(60.0, 1.0), std::pow(0.5, 1.0 / 24.0), 1e-9);
  // 24 hourly steps decay as much as one daily step.
  EXPECT_NEAR(std::pow(TracerDecayFactor(60.0, 1.0), 24.0), TracerDecayFactor(1440.0, 1.0), 1e-12);
}

TEST(TracerConcentrationTest, FileNamesTakeThePartsOfTheirFormat) {
  EXPECT_EQ(TracerFileName("out/", "chloride", "snow_model", "sta"), "out/chlsnow_.sta");
  EXPECT_EQ(TracerFileName("out/", "chl", "snow_model", "statistics"), "out/chlsnow_.sta");
  EXPECT_EQ(TracerFileName("", "n__", "unsatzon_model", "asc"), "n__unsat.asc");
  EXPECT_EQ(TracerFileName("/data/run1_", "ces", "gwf", "g"), "/data/run1_cesgwf.g");
}

} // namespace
} // namespace tavro
