// The "[SpinUp]" section on the fixture catchment: without the section or
// with switch 0 nothing is built or written; the refusals of the section
// with their entries and exit codes.
#include "setup/setup_catchment.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro {
namespace {

using test::WriteCatchment;

// The fixture's control file with a "[SpinUp]" section before "[model_time]".
void WriteWithSpinUp(const std::string &section) {
  WriteCatchment({{"[model_time]", section + "\n[model_time]"}});
}

struct SpinUpRun {
  test::CatchmentSetup run;
  int spinUpSwitch = -1;
  int preSpinUp = -1;
  int repeats = -1;
  const std::vector<HydrologicResponseUnit> *units = nullptr;

  test::CallOutcome Run() {
    const test::SetupOutcome setup = run.Run();
    EXPECT_EQ(setup.code, 0) << setup.console;
    return test::RunCapturingConsole(
        [&] { run.setup->InitSpinUp(spinUpSwitch, preSpinUp, repeats, units); });
  }
};

TEST(SpinUp, WithoutSectionOrSwitchNothingIsBuilt) {
  for (const char *section : {"", "[SpinUp]\n0 SpinUpSwitch\nnot read\n"}) {
    SCOPED_TRACE(section);
    WriteWithSpinUp(section);
    SpinUpRun s;
    const test::CallOutcome outcome = s.Run();
    ASSERT_EQ(outcome.code, -1) << outcome.console;
    EXPECT_EQ(s.spinUpSwitch, 0);
    EXPECT_EQ(s.preSpinUp, std::string(section).empty() ? 0 : -1); // not read with switch 0
    ASSERT_NE(s.units, nullptr);
    EXPECT_EQ(s.units->size(), 1u);
    EXPECT_EQ(s.run.registry.FindGrid("HydrologicResponseUnits", true), 0);
    EXPECT_FALSE(test::FileExists("All_HydrologicResponseUnits_000"));
    EXPECT_FALSE(test::FileExists("All_HydrologicResponseUnits"));
    EXPECT_NE(outcome.console.find("Creating HRUs"), std::string::npos);
  }
}

TEST(SpinUp, RefusalsOfTheSection) {
  struct Case {
    const char *what;
    std::string section;
    int code;
    std::string entry;
  };
  const std::string head = "[SpinUp]\n1 SpinUpSwitch\n0 pre-spin-up\n2 repetitions\n";
  const Case cases[] = {
      {"class width 0", head + "1 number of grids\nsoil_depth 0 linear\n", 17,
       "error in control file,  error reading HRU defintions ; defaultsnot found!"},
      {"negative class width", head + "1 number of grids\nsoil_depth -5 linear\n", 17,
       " error reading HRU defintions "},
      {"row without a width", head + "1 number of grids\nsoil_depth linear\n", 17,
       " error reading HRU defintions "},
      {"repeat count missing", "[SpinUp]\n1 SpinUpSwitch\n0 pre-spin-up\nmany\n", 17,
       "repeatCnt not found"},
      {"grid not registered", head + "1 number of grids\nno_such_grid 10 linear\n", 33,
       "Wether no_such_grid, [no_such_grid] or [no_such_grid]"},
      {"no unit grid", head + "0 number of grids: the units are a standard grid\n", 1030,
       "standard grid with identifier HydrologicResponseUnits not found (Hydrologic Respond "
       "Units, HRU; used for SpinUp mode)"},
      {"class above 9999", head + "1 number of grids\nsoil_depth 0.0009765625 linear\n", 1031,
       "Creating HRUs resulted in a re-classify result of 12288 for grid soil_depth at row=1 "
       "and col=2. Only 10'000 Classes are allowed for each grid. Choose a larger class width "
       "or use lg2 spacing to reduce the amount of HRUs."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    WriteWithSpinUp(c.section);
    SpinUpRun s;
    const test::CallOutcome outcome = s.Run();
    EXPECT_EQ(outcome.code, c.code);
    EXPECT_NE(outcome.console.find(c.entry), std::string::npos) << outcome.console;
  }
}

TEST(SpinUp, UnitsGivenAsAStandardGridAreWrittenUnderTheUnitName) {
  // The standard grid "HydrologicResponseUnits" read from soil_depth.asc:
  // its file is not overwritten, the units go to All_HydrologicResponseUnits.
  WriteCatchment({test::MoreStandardGrids({"soil_depth.asc HydrologicResponseUnits 0"}),
                  {"[model_time]", "[SpinUp]\n1\n0\n1\n0\n\n[model_time]"}});
  const std::string input = test::ReadWholeFile("soil_depth.asc");
  SpinUpRun s;
  const test::CallOutcome outcome = s.Run();
  ASSERT_EQ(outcome.code, -1) << outcome.console;
  EXPECT_EQ(s.spinUpSwitch, 1);
  EXPECT_EQ(s.repeats, 1);
  // Every valid cell has a value of its own (11..56): 22 units.
  EXPECT_EQ(s.units->size(), 23u);
  EXPECT_EQ(test::ReadWholeFile("soil_depth.asc"), input);
  for (const char *file : {"All_HydrologicResponseUnits", "All_HydrologicResponseUnits_000",
                           "MasterHydrologicResponseUnits", "MasterHydrologicResponseUnits_000"})
    EXPECT_TRUE(test::FileExists(file)) << file;
}

} // namespace
} // namespace tavro
