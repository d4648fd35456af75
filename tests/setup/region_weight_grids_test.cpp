// The set-up step of the region weights on the fixture catchment: the
// refusals of region codes outside 1..32767, of a 31st region and of a
// control file without the transition distance.
#include "setup/setup_catchment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

namespace tavro {
namespace {

const std::pair<std::string, std::string> kRegionGrid =
    test::MoreStandardGrids({"regions.asc regression_regions 0"});

TEST(RegionWeightGrids, RefuseCodesOutsideTheRange) {
  for (const double code : {0.0, 32768.0}) {
    SCOPED_TRACE(code);
    test::WriteFixture("regions.asc", test::CatchmentGrid([code](long r, long c) {
                         return r == 4 && c == 2 ? code : 5.0;
                       }));
    test::WriteCatchment({kRegionGrid});
    test::SetupRun run;
    const test::SetupOutcome outcome = run.Run();
    EXPECT_EQ(outcome.code, 3);
    EXPECT_EQ(outcome.calls, 21); // step 20
    EXPECT_NE(outcome.console.find(
                  "invalid region code in regions.asc!\n (codes has to be between 1 and 32767)!"),
              std::string::npos)
        << outcome.console;
  }
}

TEST(RegionWeightGrids, RefuseA31stRegion) {
  // Every fixture grid as 8 x 4 valid cells; 30 regions pass, a 31st stops.
  const auto wide = [](const std::function<double(long, long)> &value) {
    std::string text = "ncols 8\nnrows 4\nxllcorner 3400000\nyllcorner 5200000\n"
                       "cellsize 1000\nnodata_value -9999\n";
    for (long r = 1; r <= 4; ++r) {
      for (long c = 1; c <= 8; ++c)
        text += std::to_string(value(r, c)) + " ";
      text += "\n";
    }
    return text;
  };
  test::WriteCatchment({kRegionGrid});
  for (const char *name :
       {"zone.asc", "elevation.asc", "soil_depth.asc", "albedo.asc", "river.asc", "vg_read.asc"})
    test::WriteFixture(name, wide([](long, long) { return 3.0; }));
  test::WriteFixture("regions.asc",
                     wide([](long r, long c) { return std::min(30.0, 8.0 * (r - 1) + c); }));
  test::SetupRun run;
  test::SetupOutcome outcome = run.Run();
  EXPECT_EQ(outcome.code, 0) << outcome.console;
  EXPECT_EQ(run.setup->Regions().Count, 30);

  test::WriteFixture("regions.asc",
                     wide([](long r, long c) { return std::min(31.0, 8.0 * (r - 1) + c); }));
  test::SetupRun refused;
  outcome = refused.Run();
  EXPECT_EQ(outcome.code, 4);
  EXPECT_EQ(outcome.calls, 21);
  EXPECT_NE(outcome.console.find("too much zones in regions.asc, (max. 30)!"), std::string::npos)
      << outcome.console;
}

TEST(RegionWeightGrids, RequireTheTransitionDistance) {
  test::WriteCatchment({{"[region_transition_distance]", "[transition]"}});
  test::SetupRun run;
  const test::SetupOutcome outcome = run.Run();
  EXPECT_EQ(outcome.code, 17);
  EXPECT_EQ(outcome.calls, 21);
  EXPECT_NE(outcome.console.find("[region_transition_distance]; (EOF)not found!"),
            std::string::npos)
      << outcome.console;
}

} // namespace
} // namespace tavro
