// The readers of the soil-water sections on text fixtures: "[unsatzon_model]"
// value by value with its checks and exit codes, the state file name with the
// rank, "[heat_transfer]", the lines of "[unsatzon_tuning]" and the
// soil-water line of "[permafrost]".
#include "soil/soil_configuration.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "support/diagnostics_entries.h"
#include "support/soil_water_inputs.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

using test::Logged;

class SoilConfigurationTest : public testing::Test {
protected:
  SoilConfigurationTest() {
    index_ = OneBasedArray<int>(3, 0);
    table_ = OneBasedArray<ZoneRecord>(2);
    index_[1] = 1;
    index_[3] = 2;
    table_[1].zonenwert = 1;
    table_[2].zonenwert = 3;
    context_.rows = 10;
    context_.columns = 12;
    context_.rank = 3;
    context_.outputDirectory = "out/";
    context_.codes = SubbasinRanks{&index_, &table_, 2, 3};
  }

  // Reads the section after its two head values.
  SoilConfiguration Read(const std::string &section) {
    test::WriteFixture("control.txt", section + "[next]\n");
    EXPECT_TRUE(reader_.Open("control.txt"));
    reader_.FindControlKey("[unsatzon_model]", true);
    reader_.ReadInt("flow control parameter for ");
    reader_.ReadDouble("time interval for ");
    return ReadSoilSection(reader_, context_);
  }

  int Failure(const std::string &section) {
    return test::ExitCodeOf([&] { Read(section); });
  }

  // Opens the file at the line after the section header.
  std::FILE *At(const std::string &text, const std::string &section) {
    test::WriteFixture("control.txt", text);
    EXPECT_TRUE(reader_.Open("control.txt"));
    EXPECT_TRUE(reader_.FindControlKey(section, false));
    return reader_.Handle();
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  ControlFileReader reader_{log_, "unsatzon_model"};
  OneBasedArray<int> index_;
  OneBasedArray<ZoneRecord> table_;
  SoilSectionContext context_;
};

TEST_F(SoilConfigurationTest, TheWholeSectionInItsOrder) {
  test::SoilSectionText s;
  s.pond = 1;
  s.drainage = 1;
  s.iniGwLevel = 2.5;
  s.controlPoint = "4 7";
  s.statisticsCode = 2001;
  s.gridNames = {{4, "theta.stack"}, {24, "irrigation.asc"}};
  const SoilConfiguration c = Read(test::SoilSection(s));
  EXPECT_EQ(c.methode, 2);
  EXPECT_EQ(c.pond_use, 1);
  EXPECT_EQ(c.drainage_use, 1);
  EXPECT_EQ(c.clay_use, 0);
  EXPECT_EQ(c.ksat_clay, 1e-8);
  EXPECT_EQ(c.ini_gw_level, 2.5);
  EXPECT_EQ(c.Statistic(SoilStatistic::QDRAIN).name, "qdrain.stat");
  EXPECT_EQ(c.Statistic(SoilStatistic::SB_2).name, "sb2.stat");
  EXPECT_EQ(c.Statistic(SoilStatistic::INFILT).name, "infilt.stat");
  EXPECT_EQ(c.Statistic(SoilStatistic::INFILT).code, 2001);
  EXPECT_EQ(c.Grid(SoilGridFile::SB_1).name, "soilgrid_1.asc");
  EXPECT_EQ(c.Grid(SoilGridFile::Theta).name, "theta.stack");
  EXPECT_EQ(c.Grid(SoilGridFile::Irrigation).name, "irrigation.asc");
  EXPECT_EQ(c.control_row, 4);
  EXPECT_EQ(c.control_column, 7);
  EXPECT_EQ(c.ControlPointFiles.Qbottom, "out/qbottom.cp");
  EXPECT_EQ(c.ControlPointFiles.Interflow, "out/interflow.cp");
  // Subbasins 1 and 3 with their own values.
  EXPECT_EQ(c.Subbasins.kelsqd[2], 120.0);
  EXPECT_EQ(c.Subbasins.InvKelsqlat[1], 0.05);
  EXPECT_EQ(c.Subbasins.InvKelsqlat[2], 0.0);
  EXPECT_EQ(c.readgrids, 0);
  // The rank follows the name; no directory is put in front.
  EXPECT_EQ(c.StorageFileName, "state.txt_3");
  EXPECT_EQ(c.dParameterMinStep, 0.0);
  EXPECT_EQ(reader_.NextWord(), "[next]");
}

TEST_F(SoilConfigurationTest, DynamicStepsReadFourValuesMore) {
  test::SoilSectionText s;
  s.methode = 3;
  const SoilConfiguration c = Read(test::SoilSection(s));
  EXPECT_EQ(c.dParameterMinStep, 1.0);
  EXPECT_EQ(c.SubstepsStatistics.name, "substeps.stat");
  EXPECT_EQ(c.SubstepsGrid.name, "substeps.asc");
  EXPECT_EQ(reader_.NextWord(), "[next]");
}

TEST_F(SoilConfigurationTest, RefusedValuesEndTheRunWithTheirCodes) {
  struct Case {
    const char *what;
    std::function<void(test::SoilSectionText &)> change;
    int processes;
    int code;
    std::string entry;
  };
  const std::vector<Case> cases = {
      {"row", [](auto &s) { s.controlPoint = "11 1"; }, 1, 8,
       "FATAL: in modul unsatzon_model:\nrow index (11) for output-cell must be between 1 and 10 "
       "(Input as row col) or 0 0 "},
      {"column", [](auto &s) { s.controlPoint = "3 13"; }, 1, 9,
       "FATAL: in modul unsatzon_model:\ncolumn index (13) for output-cell must be between 1 and "
       "12 (Input as row col) "},
      {"row before column", [](auto &s) { s.controlPoint = "-1 13"; }, 1, 8, "row index (-1)"},
      {"method", [](auto &s) { s.methode = 4; }, 1, 91,
       "FATAL: in modul unsatzon_model:\ninvalid method (4)\npossible values are:\n 2 for Finite "
       "Differences with fixed timestep\n 3 for Finite Differences with dynamically calculated "
       "timestep\n"},
      {"surface interaction", [](auto &s) { s.surfaceInteraction = 2; }, 3, 9,
       "FATAL: in modul unsatzon_model:\nparameter for surface_interaction (actual value: 2) can "
       "only be 0 or 1 for MPI version when running more than one instance!"},
      {"ini_gw_level", [](auto &s) { s.iniGwLevel = 1; }, 1, 17,
       "FATAL: error in control file, ini_gw_level (must be greater than 1); unsatzon_modelnot "
       "found!"},
      {"pond_use", [](auto &s) { s.pond = 2; }, 1, 17,
       "FATAL: error in control file, pond_use (must be 0 or 1, found 2); unsatzon_model"},
      {"clay_use", [](auto &s) { s.clay = -1; }, 1, 17, "clay_use (must be 0 or 1, found -1)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    test::SoilSectionText s;
    c.change(s);
    context_.processCount = c.processes;
    EXPECT_EQ(Failure(test::SoilSection(s)), c.code);
    EXPECT_TRUE(Logged(c.entry));
  }
}

TEST_F(SoilConfigurationTest, AcceptedEdgeValues) {
  struct Case {
    const char *what;
    std::function<void(test::SoilSectionText &)> change;
  };
  const std::vector<Case> cases = {
      {"surface interaction 2 on one process", [](auto &s) { s.surfaceInteraction = 2; }},
      {"no control point", [](auto &s) { s.controlPoint = "0 0"; }},
      {"row 0 with a column", [](auto &s) { s.controlPoint = "0 5"; }},
      {"last cell", [](auto &s) { s.controlPoint = "10 12"; }},
      // Only a computed state divides by ini_gw_level.
      {"ini_gw_level 1 with a distance read",
       [](auto &s) {
         s.iniGwLevel = 1;
         s.readgrids = 2;
       }},
      {"ini_gw_level 0 with the state read",
       [](auto &s) {
         s.iniGwLevel = 0;
         s.readgrids = 1;
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    test::SoilSectionText s;
    c.change(s);
    context_.processCount = 1;
    EXPECT_EQ(Failure(test::SoilSection(s)), -1);
  }
}

TEST_F(SoilConfigurationTest, AValueThatCannotBeReadNamesItsDescription) {
  std::string section = test::SoilSection({});
  section.replace(section.find("0 pond_use"), 1, "x");
  EXPECT_EQ(Failure(section), 17);
  EXPECT_TRUE(Logged("Next line in Tavro control file: "));
  EXPECT_TRUE(
      Logged("FATAL: error in control file,  pond parameter of ; unsatzon_modelnot found!"));
}

TEST_F(SoilConfigurationTest, HeatTransferValues) {
  const HeatTransferConfiguration on =
      (At(test::HeatSection(1), "[heat_transfer]"), ReadHeatTransferSection(reader_, "out/"));
  EXPECT_EQ(on.HeatTransferActive, 1);
  EXPECT_EQ(on.HeatTransferMethod, 1);
  EXPECT_EQ(on.dTModLowBoundBase, 12.0);
  EXPECT_EQ(on.dTModLapseRate, -0.007);
  EXPECT_EQ(on.dTModFactor, 1.22);
  EXPECT_EQ(on.dTModNFactorThawing, 1.0);
  EXPECT_EQ(on.TemperatureFile, "out/temperature.cp");
  EXPECT_EQ(on.TemperStatistics.name, "temper.stat");
  EXPECT_EQ(on.TemperatureStack.name, "temper.stack");
  EXPECT_EQ(on.ThawDepthGrid.name, "thawdepth.asc");

  // A first value of 0 leaves the defaults and reads nothing more.
  const HeatTransferConfiguration off =
      (At("[heat_transfer]\n0\n7 not a method\n", "[heat_transfer]"),
       ReadHeatTransferSection(reader_, "out/"));
  EXPECT_EQ(off.HeatTransferActive, 0);
  EXPECT_EQ(off.HeatTransferMethod, 0);
  EXPECT_EQ(off.dTModLowBoundBase, 12.0);
  EXPECT_EQ(reader_.NextWord(), "7");
}

TEST_F(SoilConfigurationTest, TuningLines) {
  struct Case {
    std::string lines;
    double maxError;
    double maxIterations;
  };
  const std::vector<Case> cases = {
      {"max_error = 1e-4\n\n", 1e-4, 100},
      {"   max_iterations=50\n\n", 1e-5, 50},
      {"\tmax_error_old = 3\n\n", 3, 100},
      {"other = 1\nmax_error=2e-3 ; comment\n", 2e-3, 100},
      // A following section header does not end the reading.
      {"max_error = 1e-4\n[next]\nmax_iterations = 7\n", 1e-4, 7},
      // An empty line does.
      {"max_error = 1e-4\n   \nmax_iterations = 7\n", 1e-4, 100},
      // A last line without a line break is not evaluated.
      {"max_error = 1e-4\nmax_iterations = 7", 1e-4, 100},
      // The first key found on a line wins.
      {"max_iterations and max_error = 8\n", 8, 100},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.lines);
    const TuningConfiguration t =
        ReadTuningLines(At("[unsatzon_tuning]\n" + c.lines, "[unsatzon_tuning]"), log_);
    EXPECT_EQ(t.max_error, c.maxError);
    EXPECT_EQ(t.max_iterations, c.maxIterations);
  }
}

TEST_F(SoilConfigurationTest, ATuningValueThatIsNoNumberIsRefused) {
  for (const std::string line : {"max_error = abc\n", "max_iterations 40\n"}) {
    std::FILE *file = At("[unsatzon_tuning]\n" + line, "[unsatzon_tuning]");
    EXPECT_EQ(test::ExitCodeOf([&] { ReadTuningLines(file, log_); }), 17);
  }
  EXPECT_TRUE(Logged("FATAL: error in control file, max_error in [unsatzon_tuning] needs a number "
                     "after \"=\": max_error = abc"));
  EXPECT_TRUE(Logged("max_iterations in [unsatzon_tuning] needs a number"));
}

// A limit that is not above 0 makes a step count endless or divides by zero:
// refused while the section is read, naming the key.
TEST_F(SoilConfigurationTest, StepLengthsAndIterationLimitsNotAbove0AreRefused) {
  enum class Section { Heat, Soil, Tuning };
  struct Case {
    Section section;
    std::string key;
    std::string line;  // the line of the valid section that takes the bad value
    std::string label; // what follows the value on that line
    std::string where;
  };
  const std::vector<Case> cases = {
      {Section::Heat, "dTModShortestStep", "\n60 heat value", " heat value", "[heat_transfer]"},
      {Section::Heat, "dTModLongestStep", "\n1800 heat value", " heat value", "[heat_transfer]"},
      {Section::Soil, "dParameterMinStep", "\n1 minimum step", " minimum step", "unsatzon_model"},
      {Section::Tuning, "max_iterations", "\nmax_iterations = 50", "", "[unsatzon_tuning]"},
  };
  for (const Case &c : cases) {
    for (const std::string bad : {"0", "-1", "-0.5"}) {
      SCOPED_TRACE(c.key + " " + bad);
      test::SoilSectionText soil;
      soil.methode = 3;
      std::string text = c.section == Section::Heat ? test::HeatSection(1)
                         : c.section == Section::Soil
                             ? test::SoilSection(soil)
                             : "[unsatzon_tuning]\nmax_iterations = 50\n\n";
      const std::size_t at = text.find(c.line);
      ASSERT_NE(at, std::string::npos);
      const std::string valueStart = c.section == Section::Tuning ? "\nmax_iterations = " : "\n";
      text.replace(at, c.line.size(), valueStart + bad + c.label);
      const int code = test::ExitCodeOf([&] {
        switch (c.section) {
        case Section::Heat:
          At(text, "[heat_transfer]");
          ReadHeatTransferSection(reader_, "out/");
          break;
        case Section::Soil:
          Read(text);
          break;
        case Section::Tuning:
          ReadTuningLines(At(text, "[unsatzon_tuning]"), log_);
          break;
        }
      });
      EXPECT_EQ(code, 17);
      EXPECT_TRUE(Logged(Concat("FATAL: error in control file, ", c.key,
                                " (must be above 0, found ", bad, "); ", c.where)));
    }
  }
}

TEST_F(SoilConfigurationTest, PermafrostLinePassesOverTheSnowModelsLines) {
  At("[permafrost]\n1 switch\n0.5 a\n0.2 b\nthaw.asc 3\n2e-9 reduced k_sat (in m/s)\n",
     "[permafrost]");
  EXPECT_EQ(ReadPermafrostReducedKsat(reader_), 2e-9);
}

} // namespace
} // namespace tavro
