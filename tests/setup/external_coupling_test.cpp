// External coupling on the fixture catchment, one process: the section's
// values and refusals, the binding of its lists (registry unchanged), the
// reading of the partner's grids with their files deleted, renamed or kept,
// the accumulation of a day of hourly steps into "Sum", "Mean" and
// "SumTotal" grids with their end-of-period files, and the statistics files.
#include "setup/setup_catchment.h"

#include "kernel/teilmodellklasse.h"
#include "raster/files/grid_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::WriteCatchment;

constexpr double N = -9999.0;
const auto &kZone = test::kCatchmentZone;

// The fixture's control file with a coupling section before "[model_time]".
void WriteWithCoupling(const std::string &section) {
  WriteCatchment({{"[model_time]", section + "\n[model_time]"}});
}

std::string Section(const std::string &letterLine, const std::string &lists) {
  return "[ExternalCoupling]\n1 coupling mode\npartner.sem semaphore file\n"
         "250 wait interval\n" +
         letterLine + "\n60 external time step\n" + lists +
         "tavro.sem own semaphore file\nstep_done own semaphore content\n";
}

const std::string kLists = "2 grids to read\n"
                           "gw.asc GWTableExtern 0 1 label\n"
                           "soil_depth 2 0 free label\n"
                           "3 grids to write\n"
                           "sum.asc created_five Sum mean.asc created_five Mean\n"
                           "total.asc created_five SumTotal_DMY rest of the line\n"
                           "1 statistics to write\n"
                           "depth.txt soil_depth Sum\n";

struct CouplingRun {
  test::CatchmentSetup run;
  test::SetupOutcome Setup() { return run.Run(); }
  defaultini &Setup_() { return *run.setup; }
  test::CallOutcome Link() {
    return test::RunCapturingConsole(
        [&] { run.setup->LinkExternalGrids(&run.statistics, run.statistics.Capacity()); });
  }
};

// An ASCII grid of the fixture's raster with one value in every cell.
std::string UniformGrid(double value) {
  std::ostringstream text;
  text << "ncols 6\nnrows 5\nxllcorner 3400000\nyllcorner 5200000\ncellsize 1000\n"
          "nodata_value -9999\n";
  for (int r = 0; r < 5; ++r)
    text << value << " " << value << " " << value << " " << value << " " << value << " " << value
         << "\n";
  return text.str();
}

// The cells of an ASCII grid file, row by row.
std::vector<double> Cells(const std::string &name) {
  std::istringstream in(test::ReadWholeFile(name));
  std::string word;
  for (int i = 0; i < 12; ++i)
    in >> word;
  std::vector<double> cells;
  double value = 0;
  while (in >> value)
    cells.push_back(value);
  return cells;
}

void ExpectUniformOnValidCells(const std::string &name, double value) {
  const std::vector<double> cells = Cells(name);
  ASSERT_EQ(cells.size(), 30u) << name;
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 6; ++c)
      EXPECT_EQ(cells[static_cast<std::size_t>(r * 6 + c)], kZone[r][c] == N ? N : value)
          << name << " " << r + 1 << "," << c + 1;
}

TEST(ExternalCoupling, AbsentOrModeZeroIsOff) {
  for (const char *section : {"", "[ExternalCoupling]\n0 coupling mode\nnothing else is read\n"}) {
    SCOPED_TRACE(section);
    WriteWithCoupling(section);
    CouplingRun c;
    const test::SetupOutcome outcome = c.Setup();
    ASSERT_EQ(outcome.code, 0) << outcome.console;
    EXPECT_FALSE(c.Setup_().IsCouplingActive());
    EXPECT_EQ(c.Link().code, -1);
  }
}

TEST(ExternalCoupling, TheSectionsValuesAndLists) {
  WriteWithCoupling(Section("D daily exchange", kLists));
  CouplingRun c;
  const test::SetupOutcome outcome = c.Setup();
  ASSERT_EQ(outcome.code, 0) << outcome.console;
  const defaultini &s = c.Setup_();
  EXPECT_TRUE(s.IsCouplingActive());
  EXPECT_EQ(s.GetSemaphoreFile(), "partner.sem");
  EXPECT_EQ(s.GetWaitInterval(), 250);
  EXPECT_EQ(s.GetCouplingMode(), 'D');
  EXPECT_EQ(s.GetExternalTimeStep(), 60);
  EXPECT_EQ(s.GetOwnSemaphoreFile(), "tavro.sem");
  EXPECT_EQ(s.GetOwnSemaphoreContent(), "step_done");
  EXPECT_TRUE(s.HasExternalGWTable());
  const ExternalCouplingSettings &k = s.Coupling();
  // A label behind a row other than the last is the first word of the next row.
  ASSERT_EQ(k.ReadGrids.size(), 2u);
  EXPECT_EQ(k.ReadGrids[0].fileName, "gw.asc");
  EXPECT_EQ(k.ReadGrids[0].renameCode, 1);
  EXPECT_EQ(k.ReadGrids[1].fileName, "label");
  EXPECT_EQ(k.ReadGrids[1].entity, "soil_depth");
  EXPECT_EQ(k.ReadGrids[1].fillCode, 2);
  EXPECT_EQ(k.ReadGrids[1].renameCode, 0);
  ASSERT_EQ(k.WriteGrids.size(), 3u);
  EXPECT_EQ(k.WriteGrids[1].fileName, "mean.asc");
  EXPECT_EQ(k.WriteGrids[2].writecode, "SumTotal_DMY");
  ASSERT_EQ(k.Statistics.size(), 1u);
  EXPECT_EQ(k.Statistics[0].fileName, "depth.txt");
}

TEST(ExternalCoupling, RefusalsOfTheSection) {
  struct Case {
    const char *what;
    std::string section;
    int code;
    std::string entry;
  };
  const std::string tail = "\npossible reason: parameter missing or a linefeed \nbefore the end "
                           "of the parameter block";
  const std::string empty = "0\n0\n0\n";
  const Case cases[] = {
      {"unknown letter", Section("X", empty), 10,
       "error reading Coupling Mode (I, H, D, M or Y) for external gw table grid defaults" + tail},
      {"letter after a blank", Section(" D", empty), 10,
       "error reading Coupling Mode (I, H, D, M or Y) for external gw table grid defaults"},
      {"read row without rename code", Section("I", "1\ngw.asc GWTableExtern 0 x\n0\n0\n"), 10,
       "error reading external (read) grid name/entity/fill code/rename code defaults" + tail},
      {"wait interval unreadable",
       "[ExternalCoupling]\n1\npartner.sem\nsoon\nI\n60\n0\n0\n0\nx\ny\n", 17,
       "wait interval for scanning for external grids "},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    WriteWithCoupling(c.section);
    CouplingRun run;
    const test::SetupOutcome outcome = run.Setup();
    EXPECT_EQ(outcome.code, c.code);
    EXPECT_NE(outcome.console.find(c.entry), std::string::npos) << outcome.console;
  }
  // Rows cut short by the end of the section: the two texts without a
  // blank before the module name.
  for (const auto &[lists, text] :
       {std::pair<std::string, std::string>{"0\n1\nsum.asc", "error reading external (write) grid "
                                                             "name/entity/Writecodedefaults"},
        {"0\n0\n1\nfile.txt", "error reading external (write) Statfile "
                              "name/entity/writecodedefaults"}}) {
    // The section at the end of the file, so that the rows end there.
    WriteCatchment();
    test::WriteFixture("catchment.ctl", test::ReadWholeFile("catchment.ctl") +
                                            "[ExternalCoupling]\n1\npartner.sem\n100\nI\n60\n" +
                                            lists);
    CouplingRun run;
    const test::SetupOutcome outcome = run.Setup();
    EXPECT_EQ(outcome.code, 10);
    EXPECT_NE(outcome.console.find(text), std::string::npos) << outcome.console;
  }
}

// kLists with every entity registered in the fixture.
std::string AllRegistered() {
  std::string lists = kLists;
  lists.replace(lists.find("GWTableExtern"), 13, "albedo");
  return lists;
}

TEST(ExternalCoupling, BindingRefusalsAndAnUnchangedRegistry) {
  struct Case {
    const char *what;
    std::string lists;
    int code;
    std::string entry;
  };
  const Case cases[] = {
      {"read grid", "1\nx.asc no_such_grid 0 0\n0\n0\n", 1003,
       "error looking for internal grid to read from x.asc, with internal name \"no_such_grid\"\n"
       "possible reason: internal name of the grid is wrong (case sensitive!)"},
      {"write grid", "0\n1\ny.asc no_such_grid Sum\n0\n", 1004,
       "error looking for internal grid to write to y.asc with internal name \"no_such_grid\""},
      {"statistic", "0\n0\n1\nz.txt no_statistic Sum\n", 1005,
       "error looking for zonal statistic with internal name \"no_statistic\"\npossible reason: "
       "name of the statistic entity is wrong (case sensitive!)"},
      {"all found", AllRegistered(), -1, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    WriteWithCoupling(Section("I", c.lists));
    CouplingRun run;
    ASSERT_EQ(run.Setup().code, 0);
    run.run.setup->CreateStandardGridStatistics();
    const StatisticsRegistry before = run.run.statistics;
    const test::CallOutcome link = run.Link();
    EXPECT_EQ(link.code, c.code);
    EXPECT_NE(link.console.find(c.entry), std::string::npos) << link.console;
    // Binding copies entries; it never writes over one.
    for (int i = 0; i <= run.run.statistics.Capacity(); ++i) {
      EXPECT_EQ(run.run.statistics[i].title, before[i].title) << i;
      EXPECT_EQ(run.run.statistics[i].columns, before[i].columns) << i;
    }
  }
}

class CouplingExchange : public testing::Test {
protected:
  void Build(const std::string &lists) {
    WriteWithCoupling(Section("D", lists));
    const test::SetupOutcome outcome = c.Setup();
    ASSERT_EQ(outcome.code, 0) << outcome.console;
  }
  void Link() {
    const test::CallOutcome link = c.Link();
    ASSERT_EQ(link.code, -1) << link.console;
  }
  test::CallOutcome Quietly(const std::function<void()> &call) {
    return test::RunCapturingConsole(call);
  }
  CouplingRun c;
};

TEST_F(CouplingExchange, PartnerGridsAreReadAndTheirFilesHandledAsCoded) {
  Build("3 grids to read\ndeleted.asc soil_depth 0 0\nrenamed.asc created_five 0 1\n"
        "kept.asc albedo 0 2\n0\n0\n");
  Link();
  test::WriteFixture("deleted.asc", UniformGrid(7.0));
  test::WriteFixture("renamed.asc", UniformGrid(8.0));
  test::WriteFixture("kept.asc", UniformGrid(9.0));
  test::WriteFixture("partner.sem", "ready\n");
  const test::CallOutcome read =
      Quietly([&] { EXPECT_EQ(c.Setup_().ReadExternalGrids(2003, 7, 14, 6), 0); });
  ASSERT_EQ(read.code, -1) << read.console;
  const Grid &depth = *c.run.registry[c.run.registry.FindGrid("soil_depth", false)].Data;
  const Grid &five = *c.run.registry[c.run.registry.FindGrid("created_five", false)].Data;
  EXPECT_EQ(depth[2][1], 7.0);
  EXPECT_EQ(five[4][6], 8.0);
  EXPECT_FALSE(test::FileExists("deleted.asc"));
  EXPECT_FALSE(test::FileExists("renamed.asc"));
  EXPECT_TRUE(test::FileExists("kept.asc"));
  EXPECT_FALSE(test::FileExists("partner.sem"));
  int renamed = 0;
  for (const auto &entry : std::filesystem::directory_iterator("."))
    renamed += entry.path().filename().string().rfind("renamed.asc_2003_07_14_06_", 0) == 0;
  EXPECT_EQ(renamed, 1);

  // Without the semaphore file the deletion fails: 1001.
  test::WriteFixture("deleted.asc", UniformGrid(7.0));
  test::WriteFixture("renamed.asc", UniformGrid(8.0));
  const test::CallOutcome missing = Quietly([&] { c.Setup_().ReadExternalGrids(2003, 7, 14, 7); });
  EXPECT_EQ(missing.code, 1001);
  EXPECT_NE(missing.console.find("error deleting semaphore file partner.sem"), std::string::npos);
}

TEST_F(CouplingExchange, ADayOfHourlyStepsSumsAndAverages) {
  Build("0\n3\nsum.asc created_five Sum mean.asc created_five Mean\n"
        "out/total.asc created_five SumTotal_DMY\n0\n");
  std::filesystem::create_directory("out");
  Link();
  // Exchange 'D' over hourly steps: 23 steps accumulate, the 24th writes.
  const test::CallOutcome day = Quietly([&] {
    for (int hour = 1; hour <= 23; ++hour)
      c.Setup_().AccumulateExternalOutput();
    c.Setup_().WriteExternalOutput(31, 12, 2001, 1, 1, 1);
  });
  ASSERT_EQ(day.code, -1) << day.console;
  ExpectUniformOnValidCells("sum.asc", 24 * 5.0);
  ExpectUniformOnValidCells("mean.asc", 5.0);
  // SumTotal holds only the exchanged steps' sources and is never reset.
  ExpectUniformOnValidCells("out/total.asc", 5.0);
  for (const char *name :
       {"out/SumTotal_EndOf_Day_2001_12_31_total.asc", "out/SumTotal_EndOf_Month_2001_12_total.asc",
        "out/SumTotal_EndOf_Year_2001_total.asc"})
    ExpectUniformOnValidCells(name, 5.0);

  // The next day: the sums start again, the total goes on.
  const test::CallOutcome next = Quietly([&] {
    for (int hour = 1; hour <= 23; ++hour)
      c.Setup_().AccumulateExternalOutput();
    c.Setup_().WriteExternalOutput(1, 1, 2002, 1, 0, 0);
  });
  ASSERT_EQ(next.code, -1) << next.console;
  ExpectUniformOnValidCells("sum.asc", 24 * 5.0);
  ExpectUniformOnValidCells("mean.asc", 5.0);
  ExpectUniformOnValidCells("out/total.asc", 10.0);
  EXPECT_TRUE(test::FileExists("out/SumTotal_EndOf_Day_2002_01_01_total.asc"));
  EXPECT_FALSE(test::FileExists("out/SumTotal_EndOf_Month_2002_01_total.asc"));
}

TEST(CouplingRules, EndOfPeriodNames) {
  struct Case {
    const char *writecode;
    bool day, month, year;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"SumTotal_DM",
       true,
       true,
       true,
       {"d/SumTotal_EndOf_Day_2003_07_31_g.asc", "d/SumTotal_EndOf_Month_2003_07_g.asc"}},
      {"SumTotal_DMY",
       true,
       true,
       true,
       {"d/SumTotal_EndOf_Day_2003_07_31_g.asc", "d/SumTotal_EndOf_Month_2003_07_g.asc",
        "d/SumTotal_EndOf_Year_2003_g.asc"}},
      {"SumTotal_MY", true, true, false, {"d/SumTotal_EndOf_Month_2003_07_g.asc"}},
      {"SumTotal_Y", true, true, true, {"d/SumTotal_EndOf_Year_2003_g.asc"}},
      {"SumTotal", true, true, true, {}},
      {"SumTotal_D", false, true, true, {}},
  };
  for (const Case &c : cases)
    EXPECT_EQ(SumTotalEndOfPeriodNames("d/g.asc", c.writecode, 31, 7, 2003, c.day, c.month, c.year),
              c.names)
        << c.writecode;
  EXPECT_EQ(SumTotalEndOfPeriodNames("a\\g.asc", "SumTotal_Y", 1, 1, 99, false, false, true),
            std::vector<std::string>{"a\\SumTotal_EndOf_Year_0099_g.asc"});
}

// Two statistics in the registry: a zonal table (three zones and the areal
// mean) and a discharge table (three subbasins, no areal mean) whose title
// is 120 characters long.
class CouplingStatistics : public CouplingExchange {
protected:
  void Register(int entry, const std::string &title, bool arealMean) {
    StatisticsRegistryEntry &e = c.run.statistics[entry];
    e.columns = std::make_shared<StatisticsColumns>(6);
    e.title = title;
    e.hasArealMean = arealMean;
    e.valueCount = arealMean ? 4 : 3;
    for (int k = 1; k <= 3; ++k)
      e.columns->codes[static_cast<std::size_t>(k)] = static_cast<std::uint64_t>(10 * k);
  }
  void SetLatest(int entry, double base) {
    for (int k = 1; k <= 4; ++k)
      c.run.statistics[entry].columns->values[static_cast<std::size_t>(k)] = base + k;
  }
  const std::string longTitle = "discharge " + std::string(92, 'Q') + " _submodel:routing";
};

TEST_F(CouplingStatistics, FilesHoldTheHeaderAndEverySubbasin) {
  Build("0\n0\n3\nzones.txt depth_table Sum\nq_sum.txt QQQQ Mean\nq_plain.txt QQQQ latest\n");
  Register(0, "depth table_submodel:(default)", true);
  Register(1, longTitle, false);
  ASSERT_EQ(longTitle.size(), 120u);
  Link();
  const test::CallOutcome steps = Quietly([&] {
    SetLatest(0, 0.0);
    SetLatest(1, 100.0);
    c.Setup_().AccumulateExternalOutput();
    SetLatest(0, 10.0);
    SetLatest(1, 200.0);
    c.Setup_().WriteExternalOutput(1, 1, 2001, 1, 0, 0);
  });
  ASSERT_EQ(steps.code, -1) << steps.console;
  // The zone count is the set-up's (zones 3, 7 and 10 of the fixture).
  EXPECT_EQ(test::ReadWholeFile("zones.txt"),
            "depth table_submodel:(default); 3 zones\n10\t12\n20\t14\n30\t16\n");
  const std::string header = longTitle.substr(0, 100) + "...; 3 Gebiete\n";
  // Mean over the two steps; the last subbasin is written too.
  EXPECT_EQ(test::ReadWholeFile("q_sum.txt"), header + "10\t151\n20\t152\n30\t153\n");
  EXPECT_EQ(test::ReadWholeFile("q_plain.txt"), header + "10\t201\n20\t202\n30\t203\n");

  // The accumulators start again after an exchange.
  const test::CallOutcome again =
      Quietly([&] { c.Setup_().WriteExternalOutput(2, 1, 2001, 1, 0, 0); });
  ASSERT_EQ(again.code, -1);
  EXPECT_EQ(test::ReadWholeFile("zones.txt"),
            "depth table_submodel:(default); 3 zones\n10\t11\n20\t12\n30\t13\n");
}

TEST_F(CouplingStatistics, AFileThatCannotBeCreatedStops) {
  Build("0\n0\n1\nno_such_directory/zones.txt depth_table Sum\n");
  Register(0, "depth table", true);
  Link();
  const test::CallOutcome write =
      Quietly([&] { c.Setup_().WriteExternalOutput(1, 1, 2001, 1, 0, 0); });
  EXPECT_EQ(write.code, 26);
  EXPECT_NE(write.console.find("error creating no_such_directory/zones.txt for writing in text "
                               "mode."),
            std::string::npos)
      << write.console;
}

} // namespace
} // namespace tavro
