// The staged set-up on variants of the fixture catchment: refusals with their
// entries and exit codes, the land-use layer without a multilayer table, and
// a run without variable grids.
#include "setup/defaultini.h"

#include "setup/setup_catchment.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>

namespace tavro {
namespace {

using test::SetupOutcome;
using test::SetupRun;
using test::WriteCatchment;

TEST(DefaultiniErrors, StopsWithTheDocumentedEntries) {
  struct Case {
    const char *name;
    std::pair<std::string, std::string> replacement;
    int code;
    int step; // call on which the set-up stops
    const char *entry;
  };
  const Case cases[] = {
      {"definition without fillcode",
       {"created_five readcode = 0 defaultValue = 5 fillcode = 0",
        "created_five readcode = 0 defaultValue = 5"},
       17,
       2,
       "error reading the fillcode for standard grid 2 (found neither in old nor in new style "
       "standard grid definition)"},
      {"missing zone grid", {"\nzone.asc", "\nnowhere.asc"}, 21, 7, "error opening nowhere.asc"},
      {"missing section",
       {"[elevation_model]", "[elevation]"},
       17,
       2,
       "error in control file, [elevation_model]; (EOF)not found!"},
      {"variable grid line",
       {"vg_made.asc  vg_made  0  2.5", "vg_made.asc  vg_made"},
       17,
       9,
       "file for vargrid 2 or the identifier or the fillcode or the defaultvalue"},
      {"variable grid count beyond the registry",
       {"2 number of variable grids", "2000000000 number of variable grids"},
       17,
       9,
       "number of variable grids in [variable_grids] is 2000000000, but the grid registry holds "
       "at most 999 grids"},
      {"missing standard grid file",
       {"soil_depth.asc   soil_depth", "absent.asc   soil_depth"},
       21,
       9,
       "absent.asc"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    WriteCatchment({c.replacement});
    SetupRun run;
    const SetupOutcome outcome = run.Run();
    EXPECT_EQ(outcome.code, c.code);
    EXPECT_EQ(outcome.calls, c.step);
    EXPECT_NE(outcome.console.find(c.entry), std::string::npos) << outcome.console;
  }
}

TEST(DefaultiniErrors, RefusesAZoneGridOfUnknownFormat) {
  WriteCatchment({{"\nzone.asc", "\nzone.bin"}});
  // Twelve doubles whose sixth value is no -9999: neither binary form.
  const double header[12] = {6, 5, 3400000, 5200000, 1000, -1, 0, 0, 0, 0, 0, 0};
  if (test::Rank() == 0) {
    std::FILE *file = std::fopen("zone.bin", "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(header, sizeof(double), 12, file);
    std::fclose(file);
  }
  SetupRun run;
  const SetupOutcome outcome = run.Run();
  EXPECT_EQ(outcome.code, 22);
  EXPECT_NE(outcome.console.find(
                "could not recognise file format (ascii, double or double) for zone.bin"),
            std::string::npos)
      << outcome.console;
}

// A zone grid whose header announces far more rows than the file holds is
// refused from its header, before the raster is allocated.
TEST(DefaultiniErrors, RefusesAZoneGridHeaderThatTheFileCannotFill) {
  WriteCatchment();
  std::string zone = test::ReadWholeFile("zone.asc");
  zone.replace(zone.find("nrows 5"), 7, "nrows 1e9");
  test::WriteFixture("zone.asc", zone);
  SetupRun run;
  const SetupOutcome outcome = run.Run();
  EXPECT_EQ(outcome.code, 22);
  EXPECT_EQ(outcome.calls, 7);
  EXPECT_NE(outcome.console.find("error reading zone.asc: the header announces 1000000000 rows "
                                 "and 6 columns, which need at least 12000000000 bytes, but the "
                                 "file holds " +
                                 std::to_string(zone.size()) + " bytes"),
            std::string::npos)
      << outcome.console;
}

TEST(DefaultiniErrors, ConstructorReportsThroughItsErrorArgument) {
  DiagnosticsLog log("Tavro_Diag.xml", 4);
  StatisticsRegistry statistics(200);
  int error = -1;
  testing::internal::CaptureStdout();
  defaultini setup(error, log, "catchment.ctl", &statistics, 200, 2, nullptr);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(error, 12);
}

TEST(DefaultiniLanduse, ALanduseGridWithoutMultilayerTableIsTheOnlyLayer) {
  // Land use needs an "albedo" grid: the made variable grid is one.
  WriteCatchment({{"albedo.asc       albedo ", "albedo.asc       landuse "},
                  {"vg_made.asc  vg_made", "vg_made.asc  albedo"},
                  {"0 land-use types\n", "1 land-use type\n" + test::LanduseLine(1, "grass")}});
  SetupRun run;
  const SetupOutcome outcome = run.Run();
  ASSERT_EQ(outcome.code, 0) << outcome.console;
  EXPECT_EQ(run.registry.FindGrid("landuse", true), 0);
  EXPECT_EQ(run.registry.FindGrid("landuse1", false), 5);
  EXPECT_EQ(run.setup->LanduseLayerCount(), 1);
  EXPECT_NE(outcome.console.find("generateMultiLayerParameterGrids..."), std::string::npos);
}

TEST(DefaultiniVariableGrids, NoVariableGridsRegisterNothing) {
  WriteCatchment({{"2 number of variable grids", "0 number of variable grids"}});
  SetupRun run;
  const SetupOutcome outcome = run.Run();
  ASSERT_EQ(outcome.code, 0) << outcome.console;
  EXPECT_EQ(run.setup->VariableGridCount(), 0);
  EXPECT_EQ(run.registry.FindGrid("vg_read", true), 0);
  // Four standard grids and the nine derived ones, which take the entries
  // right after the decomposition's grids.
  EXPECT_EQ(run.setup->SetupGridCount(), 13);
  EXPECT_EQ(run.registry[10].Identifier, "CellSizeX");
  // Nothing to flush without statistics.
  run.setup->CreateStandardGridStatistics();
  run.setup->FlushStatistics();
}

} // namespace
} // namespace tavro
