// The dynamic-phenology models day by day against sequences worked out by
// hand from their rules: the sigmoid forcing, the dryness stress, the
// chilling triangle, the start against F*, the stages of the degree-day
// model, the chilling-day threshold and the leaf fall of the linear model,
// and the resets of each.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "tables/landuse_class.h"
#include "tables/phenology/dynamic_phenology.h"

namespace tavro {
namespace {

using phenology::CellState;
using phenology::Day;

constexpr double kNoData = -9999.0;

// Element 0 closes the year: the last day minus 366.
std::vector<int> Days(std::vector<int> days) {
  days.insert(days.begin(), days.back() - 366);
  return days;
}

std::vector<double> Closed(std::vector<double> values) {
  values.insert(values.begin(), values.back());
  return values;
}

Day DayOf(int julianDay, double temperature, double movingMean = 0.0) {
  Day day;
  day.JulianDay = julianDay;
  day.Temperature = temperature;
  day.MovingMean = movingMean;
  return day;
}

// Runs the model for days first..last with the temperature of each day.
void RunDays(const std::function<void(const Day &)> &model, int first, int last,
             const std::function<double(int)> &temperature) {
  for (int d = first; d <= last; ++d)
    model(DayOf(d, temperature(d)));
}

TEST(PhenologyTerms, SigmoidForcing) {
  EXPECT_DOUBLE_EQ(phenology::SigmoidForcing(23.4, 5.0), 14.2); // T = Tb + 18.4
  EXPECT_DOUBLE_EQ(phenology::SigmoidForcing(5.0, 5.0), 0.0);   // at the base temperature
  EXPECT_DOUBLE_EQ(phenology::SigmoidForcing(-3.0, 5.0), 0.0);
  EXPECT_DOUBLE_EQ(phenology::SigmoidForcing(15.0, 5.0), 28.4 / (1.0 + std::exp(0.185 * 8.4)));
  EXPECT_NEAR(phenology::SigmoidForcing(200.0, 0.0), 28.4, 1e-12); // saturates
}

TEST(PhenologyTerms, ChillingTriangle) {
  struct Case {
    double temperature;
    double unit;
  };
  // Lower limit -3.4, optimum 3, upper limit 12.
  const Case cases[] = {{-5.0, 0.0}, {-3.4, 0.0}, {0.0, 3.4 / 6.4}, {3.0, 1.0},
                        {7.5, 0.5},  {12.0, 0.0}, {20.0, 0.0}};
  for (const Case &c : cases)
    EXPECT_DOUBLE_EQ(phenology::ChillingUnit(c.temperature, -3.4, 3.0, 12.0), c.unit)
        << c.temperature;
}

TEST(PhenologyTerms, DrynessStressRaisesTheForcing) {
  const double wet = 100.0;
  const double dry = 40.0;
  EXPECT_DOUBLE_EQ(phenology::DrynessStress(&wet, 50.0), 0.5); // (100 - 50) / (150 - 50)
  EXPECT_DOUBLE_EQ(phenology::DrynessStress(&dry, 50.0), 0.0);
  EXPECT_DOUBLE_EQ(phenology::DrynessStress(nullptr, 50.0), 0.0);
  EXPECT_DOUBLE_EQ(phenology::AddForcing(10.0, 4.0, 0.5, 2.0), 18.0); // 10 + (1 + 1) * 4
  EXPECT_DOUBLE_EQ(phenology::AddForcing(10.0, 4.0, 0.5, 0.0), 14.0); // no stress factor
  EXPECT_DOUBLE_EQ(phenology::AddForcing(10.0, 4.0, 0.5, -1.0), 14.0);
}

TEST(PhenologyTerms, CurrentStage) {
  const std::vector<double> stages = {0, 10, 50, -1, 300};
  EXPECT_EQ(phenology::CurrentStage(stages, 5), 1);
  EXPECT_EQ(phenology::CurrentStage(stages, 10), 1);
  EXPECT_EQ(phenology::CurrentStage(stages, 11), 2);
  EXPECT_EQ(phenology::CurrentStage(stages, 51), 3); // not reached yet
  const std::vector<double> reached = {0, 10, 50, 80, 300};
  EXPECT_EQ(phenology::CurrentStage(reached, 200), 4);
  EXPECT_EQ(phenology::CurrentStage(reached, 366), 4); // after the last stage
  const std::vector<double> first = {0, -1, 50, 80, 300};
  EXPECT_EQ(phenology::CurrentStage(first, 200), 1);
}

// DynamicPhenology_1: forcing from day 60 against F* = 28.4 with Tb = 0;
// 14.2 a day at 18.4 degrees.
LanduseParameters Sigmoid1() {
  LanduseParameters p;
  p.Method = landuse::DynamicPhenology1;
  p.FixPointCount = 4;
  p.JulDays = Days({30, -1, 40, 330});
  p.TStartIndex = 2;
  p.FStar = 28.4;
  p.DP1_t1_dorm = 60;
  p.DP1_T_Bf = 0.0;
  p.JDReset_TStart = 300;
  return p;
}

TEST(DynamicPhenology1, ASumEqualToFStarDoesNotStartTheVegetation) {
  const LanduseParameters p = Sigmoid1();
  CellState cell;
  const auto model = [&](const Day &day) { phenology::DynamicPhenology1(p, day, cell); };
  RunDays(model, 1, 59, [](int) { return 30.0; }); // dormant: warmth does not count
  EXPECT_EQ(cell.ForcingSum, 0.0);
  RunDays(model, 60, 61, [](int) { return 18.4; });
  EXPECT_EQ(cell.ForcingSum, 28.4); // equal to F*: not yet
  EXPECT_EQ(cell.StartDay, -1.0);
  RunDays(model, 62, 62, [](int) { return 18.4; });
  EXPECT_EQ(cell.StartDay, 62.0);
  EXPECT_DOUBLE_EQ(cell.ForcingSum, 42.6);
  RunDays(model, 63, 299, [](int) { return 25.0; }); // started: the sum rests
  EXPECT_DOUBLE_EQ(cell.ForcingSum, 42.6);
  EXPECT_EQ(cell.StartDay, 62.0);
  cell.LeafFallDay = 280.0;
  RunDays(model, 300, 300, [](int) { return 25.0; }); // the reset day
  EXPECT_EQ(cell.ForcingSum, 0.0);
  EXPECT_EQ(cell.StartDay, -1.0);
  EXPECT_EQ(cell.LeafFallDay, 0.0);
  RunDays(model, 301, 301, [](int) { return 18.4; }); // and the next season begins
  EXPECT_DOUBLE_EQ(cell.ForcingSum, 14.2);
}

TEST(DynamicPhenology1, DrynessStressSpeedsUpTheStart) {
  LanduseParameters p = Sigmoid1();
  p.HReduDry = 50.0;
  p.StressFactorDynPhen = 2.0;
  CellState cell;
  const double rootZone = 100.0; // g = 0.5, forcing doubled
  Day day = DayOf(60, 18.4);
  day.RootZoneWater = &rootZone;
  phenology::DynamicPhenology1(p, day, cell);
  EXPECT_DOUBLE_EQ(cell.ForcingSum, 28.4);
  day.JulianDay = 61;
  phenology::DynamicPhenology1(p, day, cell);
  EXPECT_EQ(cell.StartDay, 61.0);
}

// The DynamicPhenology_1 rules of a DynamicPhenology_4 entry whose start is
// preset move its stages: TStart to the day, the stage after it by the offset.
TEST(DynamicPhenology1, AStartMovesTheStagesOfAStagedEntry) {
  LanduseParameters p = Sigmoid1();
  p.Method = landuse::DynamicPhenology4;
  std::vector<double> stages = {0, 30, -1, 40, 330};
  CellState cell;
  cell.Stages = stages;
  phenology::AdvanceOneDay(p, true, DayOf(60, 18.4), cell);
  phenology::AdvanceOneDay(p, true, DayOf(61, 18.4), cell);
  phenology::AdvanceOneDay(p, true, DayOf(62, 18.4), cell);
  EXPECT_EQ(cell.StartDay, 62.0);
  EXPECT_EQ(stages, (std::vector<double>{0, 30, 62, 102, 330}));
  phenology::AdvanceOneDay(p, true, DayOf(300, 0.0), cell);
  EXPECT_EQ(stages, (std::vector<double>{0, 30, -1, 40, 330})); // back to the table
}

TEST(DynamicPhenology1, AStartInTheLastStageWritesNothingBeyondIt) {
  LanduseParameters p = Sigmoid1();
  p.Method = landuse::DynamicPhenology4;
  // Stages 1..4 all passed; a fifth level guards what follows the cell's stages.
  std::vector<double> levels = {0, 30, 50, 90, 200, kNoData};
  CellState cell;
  cell.Stages = std::span<double>(levels.data(), 5);
  phenology::AdvanceOneDay(p, true, DayOf(250, 30.0), cell);
  phenology::AdvanceOneDay(p, true, DayOf(251, 30.0), cell);
  EXPECT_EQ(cell.StartDay, 251.0);
  EXPECT_EQ(levels, (std::vector<double>{0, 30, 50, 90, 251, kNoData}));
}

// DynamicPhenology_2: chilling from day 270 to day 19 with the triangle
// -3.4 / 3 / 12, F* = 400 exp(-0.01 CU) on day 19, forcing from day 20.
LanduseParameters Sigmoid2() {
  LanduseParameters p = Sigmoid1();
  p.Method = landuse::DynamicPhenology2;
  p.DP2_t0_dorm = 270;
  p.DP2_t1_dorm = 20;
  p.DP2_T_Bf = 0.0;
  p.DP2_T_Bc = 3.0;
  p.DP2_Offset_1 = -3.4;
  p.DP2_Offset_2 = 12.0;
  p.DP2_Par_a = 400.0;
  p.DP2_Par_b = -0.01;
  return p;
}

TEST(DynamicPhenology2, ChillingSetsTheThresholdOfTheSpring) {
  const LanduseParameters p = Sigmoid2();
  CellState cell;
  cell.FStar = 400.0;
  const auto model = [&](const Day &day) { phenology::DynamicPhenology2(p, day, cell); };
  // 1 to 19 January at the optimum: one unit a day.
  RunDays(model, 1, 18, [](int) { return 3.0; });
  EXPECT_DOUBLE_EQ(cell.ChillingSum, 18.0);
  EXPECT_EQ(cell.FStar, 400.0);
  RunDays(model, 19, 19, [](int) { return 3.0; });
  EXPECT_DOUBLE_EQ(cell.ChillingSum, 19.0);
  const double fStar = 400.0 * std::exp(-0.19); // 330.78
  EXPECT_DOUBLE_EQ(cell.FStar, fStar);
  // From day 20 at 18.4 degrees, 14.2 a day: 23 days give 326.6, the 24th
  // 340.8 > F*, on day 43. No chilling counts between the dormancy days.
  RunDays(model, 20, 42, [](int) { return 18.4; });
  EXPECT_EQ(cell.StartDay, -1.0);
  RunDays(model, 43, 43, [](int) { return 18.4; });
  EXPECT_EQ(cell.StartDay, 43.0);
  EXPECT_DOUBLE_EQ(cell.ChillingSum, 19.0);
  // The chilling sum restarts the day before the dormancy.
  RunDays(model, 44, 269, [](int) { return 0.0; });
  EXPECT_EQ(cell.ChillingSum, 0.0);
  EXPECT_EQ(cell.StartDay, 43.0);
  RunDays(model, 270, 271, [](int d) { return d == 270 ? 7.5 : 0.0; });
  const double chilling = 0.5 + 3.4 / 6.4;
  EXPECT_DOUBLE_EQ(cell.ChillingSum, chilling);
  // The start and the forcing restart on the reset day.
  RunDays(model, 272, 300, [](int) { return 20.0; }); // above the upper limit: no chilling
  EXPECT_EQ(cell.StartDay, -1.0);
  EXPECT_EQ(cell.ForcingSum, 0.0);
  EXPECT_DOUBLE_EQ(cell.ChillingSum, chilling);
}

TEST(DynamicPhenology2, APresetStartFollowsTheFirstModel) {
  const LanduseParameters p = Sigmoid2();
  CellState cell;
  cell.FStar = 1000.0; // not used by the first model, which takes the entry's F*
  for (int d = 60; d <= 62; ++d)
    phenology::AdvanceOneDay(p, true, DayOf(d, 18.4), cell);
  EXPECT_EQ(cell.StartDay, 62.0);
  EXPECT_EQ(cell.ChillingSum, 0.0);
}

// DynamicPhenology_3: stage 1 on 1 January, stage 2 at 50 degree days above
// 5 degrees (day 150 at the latest), stage 3 at 100 (day 250 at the latest),
// stage 4 on 31 December.
LanduseParameters DegreeDays() {
  LanduseParameters p;
  p.Method = landuse::DynamicPhenology3;
  p.FixPointCount = 4;
  p.JulDays = Days({1, 150, 250, 366});
  p.ForcingThreshold = Closed({-1, 50, 100, -1});
  p.DP1_T_Bf = 5.0;
  return p;
}

TEST(DynamicPhenology3, AThresholdReachedStartsItsStage) {
  const LanduseParameters p = DegreeDays();
  std::vector<double> stages(5, 0.0);
  CellState cell;
  cell.Stages = stages;
  const auto model = [&](const Day &day) { phenology::DynamicPhenology3(p, day, cell); };
  RunDays(model, 1, 1, [](int) { return 15.0; }); // 1 January restarts the year
  EXPECT_EQ(cell.ForcingSum, 0.0);
  EXPECT_EQ(stages, (std::vector<double>{0, 1, -1, -1, 366}));
  // Ten degree days a day: 50 on day 6, a sum equal to the threshold.
  RunDays(model, 2, 5, [](int) { return 15.0; });
  EXPECT_EQ(stages[2], -1.0);
  RunDays(model, 6, 6, [](int) { return 15.0; });
  EXPECT_EQ(stages, (std::vector<double>{50, 1, 6, -1, 366}));
  RunDays(model, 7, 11, [](int) { return 15.0; });
  EXPECT_EQ(stages, (std::vector<double>{100, 1, 6, 11, 366}));
  EXPECT_EQ(cell.ForcingSum, 100.0);
  RunDays(model, 12, 20, [](int) { return 2.0; }); // below the base: nothing
  EXPECT_EQ(cell.ForcingSum, 100.0);
  EXPECT_EQ(stages, (std::vector<double>{100, 1, 6, 11, 366}));
}

TEST(DynamicPhenology3, AStageIsReachedOnItsFixPointAtTheLatest) {
  const LanduseParameters p = DegreeDays();
  std::vector<double> stages(5, 0.0);
  CellState cell;
  cell.Stages = stages;
  const auto model = [&](const Day &day) { phenology::DynamicPhenology3(p, day, cell); };
  RunDays(model, 1, 149, [](int) { return 5.25; }); // a quarter degree day a day
  EXPECT_EQ(stages[2], -1.0);
  EXPECT_EQ(cell.ForcingSum, 37.0);
  // Day 150, stage 2's fix point, reaches it with its threshold; day 250 stage 3.
  RunDays(model, 150, 150, [](int) { return 5.25; });
  EXPECT_EQ(stages, (std::vector<double>{50, 1, 150, -1, 366}));
  RunDays(model, 151, 249, [](int) { return 5.25; });
  EXPECT_EQ(stages[3], -1.0);
  RunDays(model, 250, 250, [](int) { return 5.25; });
  EXPECT_EQ(stages, (std::vector<double>{100, 1, 150, 250, 366}));
  EXPECT_EQ(cell.ForcingSum, 62.25);
}

// DynamicPhenology_4: linear forcing above 5 degrees from day 60 against
// F* = 200 - 20 ln(CU), chilling days at or below 5 degrees, leaf fall
// from day 200 on stage 4 (day 330) or after five cold days.
LanduseParameters Linear() {
  LanduseParameters p;
  p.Method = landuse::DynamicPhenology4;
  p.FixPointCount = 5;
  p.JulDays = Days({30, -1, 40, 250, 330});
  p.TStartIndex = 2;
  p.JDReset_TStart = 340;
  p.DP4_t0_dorm = 280;
  p.DP4_t1_dorm = 60;
  p.DP4_T0 = 5.0;
  p.DP4_T1 = 5.0;
  p.DP4_Par_a = 200.0;
  p.DP4_Par_b = -20.0;
  p.DP4_T_xylstop = 10.0;
  p.DP4_t_xs1 = 200;
  p.DP4_SPSLF = 4;
  return p;
}

struct LinearCell {
  LanduseParameters p = Linear();
  std::vector<double> stages = {0, 30, -1, 40, 250, 330};
  CellState cell;
  LinearCell() { cell.Stages = stages; }
  void Advance(int day, double temperature, double movingMean = 20.0) {
    phenology::DynamicPhenology4(p, DayOf(day, temperature, movingMean), cell);
  }
};

TEST(DynamicPhenology4, ChillingDaysSetTheThresholdOfLinearForcing) {
  LinearCell c;
  for (int d = 1; d <= 58; ++d)
    c.Advance(d, d <= 20 ? 5.0 : 8.0); // 20 chilling days, T = T0 counts
  EXPECT_EQ(c.cell.ChillingSum, 20.0);
  EXPECT_EQ(c.cell.FStar, 0.0);                       // not yet computed
  c.Advance(59, 8.0);                                 // the day before the end of dormancy
  const double fStar = 200.0 - 20.0 * std::log(20.0); // 140.09
  EXPECT_DOUBLE_EQ(c.cell.FStar, fStar);
  EXPECT_EQ(c.cell.ForcingSum, 0.0);
  // T = T1 adds 0 to the forcing, T = T0 is one more chilling day: until
  // the start, F* follows the count.
  c.Advance(60, 5.0);
  EXPECT_EQ(c.cell.ForcingSum, 0.0);
  EXPECT_EQ(c.cell.ChillingSum, 21.0);
  const double startFStar = 200.0 - 20.0 * std::log(21.0); // 139.11
  EXPECT_DOUBLE_EQ(c.cell.FStar, startFStar);
  // 15 degree-days a day: 135 after nine days, 150 > 139.11 on day 70.
  for (int d = 61; d <= 69; ++d)
    c.Advance(d, 20.0);
  EXPECT_EQ(c.cell.StartDay, -1.0);
  c.Advance(70, 20.0);
  EXPECT_EQ(c.cell.StartDay, 70.0);
  c.Advance(71, 0.0);
  EXPECT_DOUBLE_EQ(c.cell.FStar, startFStar); // frozen once started
  EXPECT_EQ(c.cell.ChillingSum, 21.0);
  EXPECT_EQ(c.stages, (std::vector<double>{0, 30, 70, 110, 250, 330}));
}

TEST(DynamicPhenology4, FiveColdDaysBringTheLeafFallOneWarmDayCancelsTheCount) {
  LinearCell c;
  c.cell.StartDay = 70.0;
  c.stages = {0, 30, 70, 230, 250, 330};
  for (int d = 201; d <= 204; ++d)
    c.Advance(d, 3.0, 8.0); // four cold days below 10 degrees
  EXPECT_EQ(c.cell.ColdDays, 4.0);
  c.Advance(205, 15.0, 11.0); // one warm day
  EXPECT_EQ(c.cell.ColdDays, 0.0);
  for (int d = 206; d <= 209; ++d)
    c.Advance(d, 3.0, 8.0);
  EXPECT_EQ(c.cell.LeafFallDay, 0.0);
  c.Advance(210, 3.0, 8.0); // the fifth cold day
  EXPECT_EQ(c.cell.LeafFallDay, 210.0);
  // Stage 4 moves 40 days earlier to the day, stage 5 with it; stage 3,
  // now after the day, to the day before.
  EXPECT_EQ(c.stages, (std::vector<double>{0, 30, 70, 209, 210, 290}));
  c.Advance(211, 3.0, 8.0); // one leaf fall a season
  EXPECT_EQ(c.cell.ColdDays, 5.0);
  EXPECT_EQ(c.stages, (std::vector<double>{0, 30, 70, 209, 210, 290}));
  // The reset day clears leaf fall and start and restores the table's stages.
  c.Advance(340, 3.0, 8.0);
  EXPECT_EQ(c.cell.LeafFallDay, 0.0);
  EXPECT_EQ(c.cell.StartDay, -1.0);
  EXPECT_EQ(c.stages, (std::vector<double>{0, 30, -1, 40, 250, 330}));
}

TEST(DynamicPhenology4, LeafFallOnItsFixPointInAWarmAutumn) {
  LinearCell c;
  c.p.DP4_SPSLF = 4; // stage 4 (day 250) moves, stage 5 follows it
  c.cell.StartDay = 70.0;
  c.stages = {0, 30, 70, 110, 250, 330};
  c.Advance(249, 20.0);
  EXPECT_EQ(c.cell.LeafFallDay, 0.0);
  c.Advance(250, 20.0);
  EXPECT_EQ(c.cell.LeafFallDay, 250.0);
  EXPECT_EQ(c.stages, (std::vector<double>{0, 30, 70, 110, 250, 330}));
}

TEST(DynamicPhenology4, WithoutALeafFallStageOnlyTheDayIsKept) {
  LinearCell c;
  c.p.DP4_SPSLF = -1;
  c.cell.StartDay = 70.0;
  c.stages = {0, 30, 70, 110, 250, 330};
  c.Advance(200, 20.0); // due at once: no fix point to wait for
  EXPECT_EQ(c.cell.LeafFallDay, 200.0);
  EXPECT_EQ(c.stages, (std::vector<double>{0, 30, 70, 110, 250, 330}));
}

TEST(DynamicPhenology4, LeafFallOnTheLastStageWritesNothingBeyondIt) {
  LinearCell c;
  c.p.DP4_SPSLF = 5;
  c.cell.StartDay = 70.0;
  std::vector<double> levels = {0, 30, 70, 110, 250, 330, kNoData};
  c.cell.Stages = std::span<double>(levels.data(), 6);
  for (int d = 301; d <= 305; ++d)
    c.Advance(d, 3.0, 8.0);
  EXPECT_EQ(c.cell.LeafFallDay, 305.0);
  EXPECT_EQ(levels, (std::vector<double>{0, 30, 70, 110, 250, 305, kNoData}));
}

TEST(DynamicPhenology, OtherMethodsAreLeftAlone) {
  LanduseParameters p = Sigmoid1();
  p.Method = landuse::VariableDayCount;
  CellState cell;
  phenology::AdvanceOneDay(p, true, DayOf(100, 30.0), cell);
  EXPECT_EQ(cell.ForcingSum, 0.0);
  EXPECT_EQ(cell.StartDay, -1.0);
}

} // namespace
} // namespace tavro
