// The general sections read at set-up: values, key list, output-list order,
// model-time corrections, sub-steps, radiation correction and the error
// entries with their exit codes.
#include "setup/general_sections.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tavro {
namespace {

using test::CallOutcome;
using test::RunCapturingConsole;
using test::WriteFixture;

// Section bodies of a complete control file; a test replaces or drops one.
using Sections = std::vector<std::pair<std::string, std::string>>;

Sections CompleteSections() {
  return {
      {"[output_interval]", "24 hour divisor\n1 warnings\n1 further switch\n"
                            "30.5 minutes to the interval end\n"
                            "WriteAsciiGrids = 1\n"
                            "  other text = 7\n"
                            "InitialStateDirectory =   state/in/  trailing words\n"
                            "x DefaultOutputDirectory=out/\n"
                            "WriteDoubleGrids = 0\n"
                            "\n"
                            "WriteDoubleGrids = 1 after the empty line\n"},
      {"[output_list]", "2 10\n20 second code\n"},
      {"[coordinates]", "47.5 latitude\n8.25 longitude\n15 meridian\n1 shift\n"},
      {"[meteo_data_count]", "2 count\n"},
      {"[meteo_names]", "temperature_interpolation the first\nprecipitation_interpolation\n"},
      {"[model_time]", "1\n2\n3\n2001\n23\n31\n12\n2002\n"},
      {"[soil_surface_groundwater_substeps]", "4\n"},
      {"[radiation_correction]", "3\n"},
  };
}

std::string Render(const Sections &sections) {
  std::string text;
  for (const auto &[header, body] : sections)
    text += header + "\n" + body + "\n";
  return text;
}

Sections With(Sections sections, const std::string &header, const std::string &body) {
  for (auto &[h, b] : sections)
    if (h == header)
      b = body;
  return sections;
}

Sections Without(Sections sections, const std::string &header) {
  std::erase_if(sections, [&](const auto &s) { return s.first == header; });
  return sections;
}

class GeneralSectionsTest : public testing::Test {
protected:
  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  GeneralSettings settings_;

  CallOutcome ReadOutputControlFrom(const Sections &sections) {
    WriteFixture("ctl.txt", Render(sections));
    return RunCapturingConsole([&] { ReadOutputControl(log_, "ctl.txt", settings_); });
  }

  CallOutcome ReadModelTimeFrom(const Sections &sections) {
    WriteFixture("ctl.txt", Render(sections));
    return RunCapturingConsole([&] {
      ControlFileReader reader(log_, kSetupModuleName);
      ASSERT_TRUE(reader.Open("ctl.txt"));
      ReadModelTime(reader, settings_.Time);
    });
  }

  CallOutcome ReadSubstepsFrom(const Sections &sections) {
    WriteFixture("ctl.txt", Render(sections));
    return RunCapturingConsole([&] { ReadSubsteps(log_, "ctl.txt", settings_); });
  }
};

TEST_F(GeneralSectionsTest, ReadsCompleteFixture) {
  const CallOutcome outcome = ReadOutputControlFrom(CompleteSections());
  ASSERT_EQ(outcome.code, -1) << outcome.console;
  EXPECT_EQ(settings_.HourDivisor, 24);
  EXPECT_EQ(settings_.InterpolationWarnings, 1);
  EXPECT_EQ(settings_.FurtherSwitch, 1);
  EXPECT_DOUBLE_EQ(settings_.MinToIntEnd, 30.5);
  EXPECT_EQ(settings_.WriteAsciiGrids, 1);
  EXPECT_EQ(settings_.WriteDoubleGrids, 0); // the line after the empty line is not read
  EXPECT_EQ(settings_.InitialStateDirectory, "state/in/");
  EXPECT_EQ(settings_.DefaultOutputDirectory, "out/");
  ASSERT_EQ(settings_.OutputListCodes.Count(), 2u);
  EXPECT_EQ(settings_.OutputListCodes[1], 10);
  EXPECT_EQ(settings_.OutputListCodes[2], 20);
  EXPECT_DOUBLE_EQ(settings_.Latitude, 47.5);
  EXPECT_DOUBLE_EQ(settings_.Longitude, 8.25);
  EXPECT_DOUBLE_EQ(settings_.ReferenceMeridian, 15.0);
  EXPECT_DOUBLE_EQ(settings_.TimeShift, 1.0);
  EXPECT_EQ(settings_.MeteoVariableCount, 2);
  ASSERT_EQ(settings_.MeteoNames.Count(), 2u);
  EXPECT_EQ(settings_.MeteoNames[1], "temperature_interpolation");
  EXPECT_EQ(settings_.MeteoNames[2], "precipitation_interpolation");
}

TEST_F(GeneralSectionsTest, OutputIntervalValueRules) {
  struct Case {
    std::string body;
    int warnings, further;
    double minutes;
    int ascii;
  };
  const Case cases[] = {
      {"1\n5\n7\n-30\n", 1, 0, 0.0, 0},
      {"1\n0\n1\n15\n", 0, 1, 15.0, 0},
      // Unreadable values 2 to 4 stay 0; the key list still follows.
      {"1\nx\ny\nz\nWriteAsciiGrids = 1\n", 0, 0, 0.0, 1},
      // An empty line right after the fourth value ends the key list.
      {"1\n1\n1\n1\n\nWriteAsciiGrids = 1\n", 1, 1, 1.0, 0},
      {"1\n1\n1\n1\n \t \nWriteAsciiGrids = 1\n", 1, 1, 1.0, 0},
  };
  for (const Case &c : cases) {
    settings_ = GeneralSettings();
    const CallOutcome outcome =
        ReadOutputControlFrom(With(CompleteSections(), "[output_interval]", c.body));
    ASSERT_EQ(outcome.code, -1) << c.body << outcome.console;
    EXPECT_EQ(settings_.HourDivisor, 1) << c.body;
    EXPECT_EQ(settings_.InterpolationWarnings, c.warnings) << c.body;
    EXPECT_EQ(settings_.FurtherSwitch, c.further) << c.body;
    EXPECT_DOUBLE_EQ(settings_.MinToIntEnd, c.minutes) << c.body;
    EXPECT_EQ(settings_.WriteAsciiGrids, c.ascii) << c.body;
    EXPECT_TRUE(settings_.InitialStateDirectory.empty()) << c.body;
  }
}

TEST_F(GeneralSectionsTest, OutputListOrderAndCount) {
  CallOutcome outcome =
      ReadOutputControlFrom(With(CompleteSections(), "[output_list]", "3\n10\n20\n20\n"));
  EXPECT_EQ(outcome.code, 97);
  EXPECT_NE(outcome.console.find(
                "\nError in control file: order of subbasin codes in output_list!\nif output "
                "should be written for a specified set of subbasins,\n(specified by a statcode of "
                "5 for averaging in time or 6 for summing in time)\nthan the codes has to be "
                "arranged in ascendend order\n.look in [output_list]\n"),
            std::string::npos)
      << outcome.console;

  outcome = ReadOutputControlFrom(With(CompleteSections(), "[output_list]", "1\n-7\n"));
  ASSERT_EQ(outcome.code, -1) << outcome.console;
  ASSERT_EQ(settings_.OutputListCodes.Count(), 1u);
  EXPECT_EQ(settings_.OutputListCodes[1], -7);

  outcome = ReadOutputControlFrom(With(CompleteSections(), "[output_list]", "-2 10\n"));
  ASSERT_EQ(outcome.code, -1) << outcome.console;
  EXPECT_EQ(settings_.OutputListCodes.Count(), 0u);
}

TEST_F(GeneralSectionsTest, UnreadableValueIsReportedByItsLabel) {
  struct Case {
    std::string header;
    std::string body;
    std::string label;
  };
  const Case cases[] = {
      {"[output_interval]", "x\n1\n1\n1\n", "output control"},
      {"[output_list]", "two\n10\n20\n", "number of subbasins in output list"},
      {"[output_list]", "2\n10\nzwanzig\n", "codes in output-list"},
      {"[coordinates]", "n\n8\n15\n1\n", "geographic latitude"},
      {"[coordinates]", "47\ne\n15\n1\n", "geographic longitude"},
      {"[coordinates]", "47\n8\nm\n1\n", "reference meridian"},
      {"[coordinates]", "47\n8\n15\nt\n", "time shift of data time to lokal time"},
      {"[meteo_data_count]", "many\n", "number of meteorological variables"},
      {"[output_interval]", "1\n1\n1\n1\nWriteAsciiGrids = yes\n",
       "value of WriteAsciiGrids in [output_interval]"},
  };
  for (const Case &c : cases) {
    const CallOutcome outcome = ReadOutputControlFrom(With(CompleteSections(), c.header, c.body));
    EXPECT_EQ(outcome.code, 17) << c.label;
    const std::string entry = "error in control file, " + c.label + "; defaultsnot found!";
    EXPECT_NE(outcome.console.find(entry), std::string::npos) << c.label << outcome.console;
  }
}

TEST_F(GeneralSectionsTest, ModelTimeValuesAreReportedByTheirLabels) {
  const std::string labels[] = {"starting hour in ", "starting day in ", "starting month in ",
                                "starting year in ", "end hour in ",     "and day in ",
                                "end month in ",     "end year in "};
  for (int broken = 0; broken < 8; ++broken) {
    std::string body;
    for (int i = 0; i < 8; ++i)
      body += i == broken ? "x\n" : "1\n";
    const CallOutcome outcome = ReadModelTimeFrom(With(CompleteSections(), "[model_time]", body));
    EXPECT_EQ(outcome.code, 17) << labels[broken];
    const std::string entry = "error in control file, " + labels[broken] + "; defaultsnot found!";
    EXPECT_NE(outcome.console.find(entry), std::string::npos) << outcome.console;
  }
}

TEST_F(GeneralSectionsTest, MissingMandatorySectionsAreControlFileErrors) {
  for (const std::string header : {"[output_interval]", "[output_list]", "[coordinates]",
                                   "[meteo_data_count]", "[meteo_names]"}) {
    const CallOutcome outcome = ReadOutputControlFrom(Without(CompleteSections(), header));
    EXPECT_EQ(outcome.code, 17) << header;
    EXPECT_NE(outcome.console.find("error in control file, " + header + "; (EOF)not found!"),
              std::string::npos)
        << outcome.console;
  }
  const CallOutcome outcome = ReadModelTimeFrom(Without(CompleteSections(), "[model_time]"));
  EXPECT_EQ(outcome.code, 17);
  EXPECT_NE(outcome.console.find("error in control file, [model_time]; (EOF)not found!"),
            std::string::npos);
}

TEST_F(GeneralSectionsTest, RefusesOutOfRangeValuesAndUnopenableFile) {
  struct Case {
    std::string header;
    std::string body;
    std::string message;
  };
  const Case cases[] = {
      {"[output_interval]", "0\n1\n1\n1\n", "must be at least 1, found 0"},
      {"[meteo_data_count]", "-1\n", "must not be negative, found -1"},
      {"[meteo_names]", std::string(201, 'n') + "\nsecond\n", "is longer than 200 characters"},
      {"[output_interval]", "1\n1\n1\n1\nWriteAsciiGrids 1\n", "WriteAsciiGrids needs \"=\""},
  };
  for (const Case &c : cases) {
    const CallOutcome outcome = ReadOutputControlFrom(With(CompleteSections(), c.header, c.body));
    EXPECT_EQ(outcome.code, 17) << c.message;
    EXPECT_NE(outcome.console.find(c.message), std::string::npos) << outcome.console;
  }

  const CallOutcome outcome =
      RunCapturingConsole([&] { ReadOutputControl(log_, "missing.txt", settings_); });
  EXPECT_EQ(outcome.code, 28);
  EXPECT_NE(outcome.console.find("Error opening missing.txt"), std::string::npos);
}

TEST_F(GeneralSectionsTest, ModelTimeIsReadAndCorrected) {
  const CallOutcome outcome = ReadModelTimeFrom(
      With(CompleteSections(), "[model_time]", "6 h\n31 d\n4 m\n95 y\n18\n29\n2\n96\n"));
  ASSERT_EQ(outcome.code, -1) << outcome.console;
  const ModelTime &t = settings_.Time;
  EXPECT_EQ(t.StartHour, 6);
  EXPECT_EQ(t.StartDay, 30);
  EXPECT_EQ(t.StartMonth, 4);
  EXPECT_EQ(t.StartYear, 1995);
  EXPECT_EQ(t.EndHour, 18);
  EXPECT_EQ(t.EndDay, 29);
  EXPECT_EQ(t.EndMonth, 2);
  EXPECT_EQ(t.EndYear, 1996);
  EXPECT_EQ(t.DaysPerMonth[2], 29);
}

TEST(ModelTimeCorrectionTest, LeapYearsAndRanges) {
  struct Case {
    int startDay, startMonth, startYear, endDay, endMonth, endYear;
    int expStartDay, expStartMonth, expStartYear, expEndDay, expEndMonth, expEndYear;
    int february;
  };
  const Case cases[] = {
      {1, 1, 1900, 29, 2, 1900, 1, 1, 1900, 28, 2, 1900, 28}, // 1900 is no leap year
      {1, 1, 2000, 29, 2, 2000, 1, 1, 2000, 29, 2, 2000, 29}, // 2000 is one
      {1, 1, 2004, 29, 2, 2004, 1, 1, 2004, 29, 2, 2004, 29}, // so is 2004
      {1, 1, 2003, 30, 2, 2003, 1, 1, 2003, 28, 2, 2003, 28}, // common year
      {29, 2, 1900, 1, 1, 2004, 28, 2, 1900, 1, 1, 2004, 29}, // start by its own year
      {29, 2, 2000, 1, 1, 2001, 29, 2, 2000, 1, 1, 2001, 28}, // ... also when it is leap
      {0, 0, 99, 40, 13, 5, 1, 1, 1999, 31, 12, 1905, 28},    // ranges and short years
      {31, 4, 1000, -3, 6, 999, 30, 4, 1000, 1, 6, 2899, 28}, // 999 is still short
  };
  for (const Case &c : cases) {
    ModelTime t;
    t.StartDay = c.startDay, t.StartMonth = c.startMonth, t.StartYear = c.startYear;
    t.EndDay = c.endDay, t.EndMonth = c.endMonth, t.EndYear = c.endYear;
    t.StartHour = 30, t.EndHour = -1; // hours are not checked
    CorrectModelTime(t);
    const std::string what = std::to_string(c.startYear) + "/" + std::to_string(c.endYear);
    EXPECT_EQ(t.StartDay, c.expStartDay) << what;
    EXPECT_EQ(t.StartMonth, c.expStartMonth) << what;
    EXPECT_EQ(t.StartYear, c.expStartYear) << what;
    EXPECT_EQ(t.EndDay, c.expEndDay) << what;
    EXPECT_EQ(t.EndMonth, c.expEndMonth) << what;
    EXPECT_EQ(t.EndYear, c.expEndYear) << what;
    EXPECT_EQ(t.DaysPerMonth[2], c.february) << what;
    EXPECT_EQ(t.StartHour, 30);
    EXPECT_EQ(t.EndHour, -1);
  }
}

TEST_F(GeneralSectionsTest, SubstepCount) {
  CallOutcome outcome = ReadSubstepsFrom(CompleteSections());
  ASSERT_EQ(outcome.code, -1) << outcome.console;
  EXPECT_EQ(settings_.SubstepCount, 4);

  outcome = ReadSubstepsFrom(Without(CompleteSections(), "[soil_surface_groundwater_substeps]"));
  ASSERT_EQ(outcome.code, -1) << outcome.console;
  EXPECT_EQ(settings_.SubstepCount, 1);

  outcome =
      ReadSubstepsFrom(With(CompleteSections(), "[soil_surface_groundwater_substeps]", "four\n"));
  EXPECT_EQ(outcome.code, 17);
  EXPECT_NE(outcome.console.find("error in control file, sub step counter from "
                                 "[soil_surface_groundwater_substeps] not found; defaultsnot "
                                 "found!"),
            std::string::npos)
      << outcome.console;

  for (const std::string body : {"0\n", "-2\n"}) {
    outcome =
        ReadSubstepsFrom(With(CompleteSections(), "[soil_surface_groundwater_substeps]", body));
    EXPECT_EQ(outcome.code, 17) << body;
    EXPECT_NE(outcome.console.find("must be at least 1"), std::string::npos) << outcome.console;
  }

  outcome = RunCapturingConsole([&] { ReadSubsteps(log_, "missing.txt", settings_); });
  EXPECT_EQ(outcome.code, 28);
  EXPECT_NE(outcome.console.find("Error opening missing.txt"), std::string::npos);
}

TEST_F(GeneralSectionsTest, RadiationCorrection) {
  const auto read = [&](const Sections &sections, int &value) {
    WriteFixture("ctl.txt", Render(sections));
    return RunCapturingConsole([&] {
      ControlFileReader reader(log_, kSetupModuleName);
      ASSERT_TRUE(reader.Open("ctl.txt"));
      ReadRadiationCorrection(reader, value);
    });
  };
  int value = -5;
  CallOutcome outcome = read(CompleteSections(), value);
  ASSERT_EQ(outcome.code, -1) << outcome.console;
  EXPECT_EQ(value, 3);

  value = -5; // an unreadable value is ignored
  outcome = read(With(CompleteSections(), "[radiation_correction]", "none\n"), value);
  ASSERT_EQ(outcome.code, -1) << outcome.console;
  EXPECT_EQ(value, -5);

  outcome = read(Without(CompleteSections(), "[radiation_correction]"), value);
  EXPECT_EQ(outcome.code, 17);
  EXPECT_NE(outcome.console.find("error in control file, [radiation_correction]; (EOF)not found!"),
            std::string::npos);
}

} // namespace
} // namespace tavro
