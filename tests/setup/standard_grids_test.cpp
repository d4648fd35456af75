// Definitions of the standard grids in both styles with their errors, the
// sections' reader, and the periodic re-reading schedule over simulated date
// sequences.
#include "setup/standard_grids.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

TEST(StandardGridDefinition, ReadsOldAndNewStyleLines) {
  struct Case {
    const char *line;
    bool newStyle;
    int fillcode;
    int readcode;
    double defaultValue;
    int writecode;
    const char *outname;
    const char *statfile;
    int statcode;
  };
  const Case cases[] = {
      // Old style: the third word is the fillcode.
      {"soil.asc soil_types 1", false, 1, 1, 0.0, 0, "", "", 0},
      {"  soil.asc\tsoil_types   2  trailing words", false, 2, 1, 0.0, 0, "", "", 0},
      // Keys after the positional fillcode, and one overriding it.
      {"a.asc a 1 writecode = 40 fillcode=3 readcode=0", false, 3, 0, 0.0, 40, "", "", 0},
      // New style in any order.
      {"b.asc b readcode = 0 defaultValue = 5.5 fillcode = 0", true, 0, 0, 5.5, 0, "", "", 0},
      {"c.asc c fillcode=2 outname=c_out statfile = c.stat statcode=2001 writecode=1", true, 2, 1,
       0.0, 1, "c_out", "c.stat", 2001},
      // A key inside another value is not the key.
      {"d.asc d fillcode=0 outname=my_statfile", true, 0, 1, 0.0, 0, "my_statfile", "", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    const DefinitionParse parse = ParseStandardGridDefinition(c.line);
    ASSERT_EQ(parse.Status, DefinitionStatus::Ok) << parse.Detail;
    const StandardGridDefinition &d = parse.Definition;
    EXPECT_EQ(parse.NewStyle, c.newStyle);
    EXPECT_EQ(d.fillcode, c.fillcode);
    EXPECT_EQ(d.readcode, c.readcode);
    EXPECT_DOUBLE_EQ(d.defaultValue, c.defaultValue);
    EXPECT_EQ(d.writecode, c.writecode);
    EXPECT_EQ(d.outname, c.outname);
    EXPECT_EQ(d.statfile, c.statfile);
    EXPECT_EQ(d.statcode, c.statcode);
    EXPECT_EQ(d.PeriodFirst, -1);
    EXPECT_EQ(d.persistent, 1);
  }
  const DefinitionParse named = ParseStandardGridDefinition("soil.asc soil_types 1");
  EXPECT_EQ(named.Definition.FileName, "soil.asc");
  EXPECT_EQ(named.Definition.Identifier, "soil_types");
}

TEST(StandardGridDefinition, ReadsPeriodicityAndPersistent) {
  struct Case {
    const char *line;
    int first;
    const char *unit;
    int second;
    int persistent;
    int count;
  };
  const Case cases[] = {
      {"l.asc landuse fillcode=0 periodicity = 1 Y 4", 1, "Y", 4, 1, 0},
      {"l.asc landuse fillcode=0 periodicity=1, M, 1", 1, "M", 1, 1, 0},
      {"l.asc landuse 0 periodicity = 2 M 15 persistent = 0 3", 2, "M", 15, 0, 3},
      {"l.asc landuse 0 persistent = 0, 3 periodicity = 1 D 1", 1, "D", 1, 0, 3},
      {"l.asc landuse 0 periodicity = 1 Day 1 persistent = 1", 1, "Day", 1, 1, 0},
      // Without a periodicity, persistent plays no part.
      {"l.asc landuse 0 persistent = 0 3", -1, "", -1, 1, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    const DefinitionParse parse = ParseStandardGridDefinition(c.line);
    ASSERT_EQ(parse.Status, DefinitionStatus::Ok) << parse.Detail;
    EXPECT_EQ(parse.Definition.PeriodFirst, c.first);
    EXPECT_EQ(parse.Definition.PeriodUnit, c.unit);
    EXPECT_EQ(parse.Definition.PeriodSecond, c.second);
    EXPECT_EQ(parse.Definition.persistent, c.persistent);
    EXPECT_EQ(parse.Definition.PersistentCount, c.count);
  }
}

TEST(StandardGridDefinition, RefusesIncompleteLines) {
  struct Case {
    const char *line;
    DefinitionStatus status;
  };
  const Case cases[] = {
      {"", DefinitionStatus::MissingWords},
      {"only_a_file_name.asc", DefinitionStatus::MissingWords},
      // New style without any fillcode.
      {"b.asc b readcode=0 defaultValue=5", DefinitionStatus::MissingFillcode},
      {"b.asc b", DefinitionStatus::MissingFillcode},
      {"b.asc b fillcode = x", DefinitionStatus::BadValue},
      {"b.asc b 0 readcode =", DefinitionStatus::BadValue},
      {"b.asc b 0 defaultValue = abc", DefinitionStatus::BadValue},
      {"b.asc b 0 periodicity = 1 Y", DefinitionStatus::BadValue},
      {"b.asc b 0 periodicity = 1 weekly 2", DefinitionStatus::BadValue},
      {"b.asc b 0 periodicity = 1 D 1 persistent = 0", DefinitionStatus::BadValue},
      {"b.asc b 0 periodicity = 1 D 1 persistent = 2 1", DefinitionStatus::BadValue},
      {"b.asc b 0 writecode = -1", DefinitionStatus::BadValue},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ParseStandardGridDefinition(c.line).Status, c.status) << c.line;
  const std::string longIdentifier(GridRegistry::MaxIdentifierLength + 1, 'i');
  EXPECT_EQ(ParseStandardGridDefinition("f.asc " + longIdentifier + " 0").Status,
            DefinitionStatus::BadValue);
}

struct SectionOutcome {
  int code = 0;
  std::string console;
  GridSections sections;
};

SectionOutcome ReadSections(const std::string &standardSection) {
  test::WriteFixture("grids.ctl", "[zone_grid]\nzone.asc\n[elevation_model]\ndem.asc\n"
                                  "[standard_grids]\n" +
                                      standardSection + "[next_section]\n");
  SectionOutcome outcome;
  DiagnosticsLog log("Tavro_Diag.xml", 4);
  ControlFileReader reader(log, "defaults");
  EXPECT_TRUE(reader.Open("grids.ctl"));
  testing::internal::CaptureStdout();
  try {
    outcome.sections = ReadGridSections(reader);
  } catch (int code) {
    outcome.code = code;
  }
  outcome.console = testing::internal::GetCapturedStdout();
  return outcome;
}

TEST(StandardGridSections, ReadsTheThreeSectionsIntoTheRegistry) {
  const SectionOutcome outcome =
      ReadSections("3 grids\nsoil.asc soil_types 1\n\nlu.asc landuse fillcode=0 "
                   "periodicity=1 Y 4 persistent=0 2\nmade.asc made readcode=0 defaultValue=5 "
                   "fillcode=0 outname=made_out\n");
  ASSERT_EQ(outcome.code, 0) << outcome.console;
  const GridSections &s = outcome.sections;
  EXPECT_EQ(s.ZoneGridFile, "zone.asc");
  EXPECT_EQ(s.ElevationFile, "dem.asc");
  ASSERT_EQ(s.Standard.size(), 3u);

  GridRegistry registry;
  EnterGridSections(registry, s);
  EXPECT_EQ(registry[1].FileName, "zone.asc");
  EXPECT_EQ(registry[1].Identifier, "[zone_grid]");
  EXPECT_EQ(registry[2].Identifier, "[elevation_model]");
  EXPECT_EQ(registry[3].Identifier, "soil_types");
  EXPECT_EQ(registry[3].fillcode, 1);
  EXPECT_EQ(registry[4].Periodic.First, 1);
  EXPECT_EQ(registry[4].Periodic.Unit, "Y");
  EXPECT_EQ(registry[4].Periodic.Second, 4);
  EXPECT_EQ(registry[4].Periodic.Persistent, 0);
  EXPECT_EQ(registry[4].Periodic.RestoreAfter, 2);
  EXPECT_EQ(registry[5].readcode, 0);
  EXPECT_DOUBLE_EQ(registry[5].defaultValue, 5.0);
  EXPECT_EQ(registry[5].outname, "made_out");
  EXPECT_TRUE(registry[6].IsFree());
}

TEST(StandardGridSections, ACountBelowOneMeansNoStandardGrids) {
  const SectionOutcome outcome = ReadSections("0\n");
  ASSERT_EQ(outcome.code, 0);
  EXPECT_TRUE(outcome.sections.Standard.empty());
}

TEST(StandardGridSections, ReportsDefinitionErrorsWithTheGridNumber) {
  struct Case {
    const char *section;
    const char *message;
  };
  const Case cases[] = {
      {"2\nsoil.asc soil_types 1\nlonely\n",
       "error in control file, \nerror reading a grid name or identifier 2 in\n"},
      {"1\nmade.asc made readcode=0 defaultValue=5\n",
       "error in control file, \nerror reading the fillcode for standard grid 1 (found neither "
       "in old nor in new style standard grid definition) in\n; defaultsnot found!"},
      {"x\n", "couner/number of grids "},
      // More than the registry holds, refused before a definition is read.
      {"998\nsoil.asc soil_types 1\n",
       "error in control file grids.ctl, number of standard grids in [standard_grids] is 998, "
       "but the grid registry holds at most 997 standard grids"},
      {"2000000000\n", "number of standard grids in [standard_grids] is 2000000000"},
  };
  for (const Case &c : cases) {
    const SectionOutcome outcome = ReadSections(c.section);
    EXPECT_EQ(outcome.code, 17) << c.section;
    EXPECT_NE(outcome.console.find(c.message), std::string::npos) << outcome.console;
  }
}

// --- The periodic schedule -----------------------------------------------

struct ScheduleStep {
  ModelDate date;
  PeriodicAction action;
};

GridPeriodicState Schedule(int first, const char *unit, int second, int persistent = 1,
                           int count = 0) {
  GridPeriodicState state;
  state.First = first;
  state.Unit = unit;
  state.Second = second;
  state.Persistent = persistent;
  state.RestoreAfter = count;
  return state;
}

// Dates of consecutive steps from a start, stepping hours or days (months of
// 30 days are enough for these schedules).
std::vector<ModelDate> Steps(ModelDate start, int count, int hoursPerStep) {
  std::vector<ModelDate> dates;
  ModelDate d = start;
  for (int i = 0; i < count; ++i) {
    dates.push_back(d);
    d.Hour += hoursPerStep;
    while (d.Hour >= 24) {
      d.Hour -= 24;
      if (++d.Day > 30) {
        d.Day = 1;
        if (++d.Month > 12) {
          d.Month = 1;
          ++d.Year;
        }
      }
    }
  }
  return dates;
}

std::vector<ModelDate> Rereads(GridPeriodicState state, const std::vector<ModelDate> &dates) {
  std::vector<ModelDate> reads;
  for (const ModelDate &date : dates)
    if (AdvancePeriodicState(state, date) == PeriodicAction::Reread)
      reads.push_back(date);
  return reads;
}

TEST(PeriodicSchedule, YearlyScheduleReadsInAprilWhateverTheStartMonth) {
  // Daily steps from June 2001 to the end of May 2003.
  const auto dates = Steps({0, 1, 6, 2001}, 720, 24);
  const auto reads = Rereads(Schedule(1, "Y", 4), dates);
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0], (ModelDate{0, 1, 4, 2002}));
  EXPECT_EQ(reads[1], (ModelDate{0, 1, 4, 2003}));
  // A run starting in April reads at its first step.
  const auto fromApril = Rereads(Schedule(1, "Y", 4), Steps({0, 1, 4, 2001}, 60, 24));
  ASSERT_EQ(fromApril.size(), 1u);
  EXPECT_EQ(fromApril[0], (ModelDate{0, 1, 4, 2001}));
}

TEST(PeriodicSchedule, MonthlyAndDailySchedules) {
  // 1 M 1 with hourly steps from the 10th: the first day of each later month only.
  const auto monthly = Rereads(Schedule(1, "M", 1), Steps({5, 10, 1, 2001}, 24 * 55, 1));
  ASSERT_EQ(monthly.size(), 2u);
  EXPECT_EQ(monthly[0], (ModelDate{0, 1, 2, 2001}));
  EXPECT_EQ(monthly[1], (ModelDate{0, 1, 3, 2001}));
  // 2 M 15: every second month on the 15th.
  const auto second = Rereads(Schedule(2, "M", 15), Steps({0, 1, 1, 2001}, 150, 24));
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[0], (ModelDate{0, 15, 2, 2001}));
  EXPECT_EQ(second[1], (ModelDate{0, 15, 4, 2001}));
  // 1 D 1 with 6-hourly steps: the first step of every day.
  const auto daily = Rereads(Schedule(1, "D", 1), Steps({0, 1, 1, 2001}, 12, 6));
  EXPECT_EQ(daily, (std::vector<ModelDate>{{0, 1, 1, 2001}, {0, 2, 1, 2001}, {0, 3, 1, 2001}}));
  // With daily steps the hour never changes: only the first step reads.
  const auto dailySteps = Rereads(Schedule(1, "D", 1), Steps({0, 1, 1, 2001}, 10, 24));
  EXPECT_EQ(dailySteps, (std::vector<ModelDate>{{0, 1, 1, 2001}}));
}

TEST(PeriodicSchedule, UnitsAndInactiveSchedules) {
  EXPECT_EQ(WatchedFieldOf("H"), WatchedField::Hour);
  EXPECT_EQ(WatchedFieldOf("D"), WatchedField::Hour);
  EXPECT_EQ(WatchedFieldOf("M"), WatchedField::Day);
  EXPECT_EQ(WatchedFieldOf("Y"), WatchedField::Month);
  EXPECT_EQ(WatchedFieldOf("MDY"), WatchedField::Hour); // D is searched before M
  EXPECT_EQ(WatchedFieldOf("weekly"), WatchedField::None);
  const auto dates = Steps({0, 1, 1, 2001}, 50, 24);
  EXPECT_TRUE(Rereads(Schedule(-1, "", -1), dates).empty());
  EXPECT_TRUE(Rereads(Schedule(0, "D", 1), dates).empty());
}

TEST(PeriodicSchedule, PersistentZeroRestoresTheInitialValues) {
  GridPeriodicState state = Schedule(1, "D", 1, 0, 3);
  const auto dates = Steps({0, 1, 1, 2001}, 8, 6);
  std::vector<PeriodicAction> actions;
  for (const ModelDate &date : dates)
    actions.push_back(AdvancePeriodicState(state, date));
  using A = PeriodicAction;
  // Re-read at the first step of each day, restore in the third step after.
  EXPECT_EQ(actions, (std::vector<A>{A::Reread, A::None, A::None, A::Restore, A::Reread, A::None,
                                     A::None, A::Restore}));
  // Persistent 1 keeps re-read values.
  GridPeriodicState kept = Schedule(1, "D", 1);
  for (const ModelDate &date : dates)
    EXPECT_NE(AdvancePeriodicState(kept, date), PeriodicAction::Restore);
}

TEST(PeriodicSchedule, DatedFileNames) {
  EXPECT_EQ(DatedGridFileName("lu/landuse.asc", {7, 3, 4, 2002}), "lu/landuse.asc_2002040307");
  EXPECT_EQ(DatedGridFileName("x", {23, 31, 12, 1999}), "x_1999123123");
}

} // namespace
} // namespace tavro
