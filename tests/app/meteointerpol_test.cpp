// The interpolator's section and station files: walking the rows from the
// start of the model time, the end of the data (end date, end of file, end
// marker), rewinding, the nodata rule, and the errors of malformed input.
#include "meteo/meteointerpol.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "meteo/station_file_checks.h"
#include "support/diagnostics_entries.h"
#include "support/setup_grids.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tavro {
namespace {

constexpr const char *kControl = "control.txt_0.$$$";

std::string Section(const std::string &name, int method, const std::string &stationLines,
                    const std::string &methodLine = "regression.dat  # regression file\n") {
  return "[" + name + "]\n" + std::to_string(method) + "  # method\n" + stationLines + methodLine +
         "result.grd  # result grid\n0  # writecode\n1.0  # scaling\ntemp.stat 1001\n"
         "9999.5  # nodata\n2  # idw weight\n0.5\n50000  # max distance\n0\n1\n-100\n-100\n"
         "100\n100\n0  # SzenUse\n";
}

// Three stations behind one additional column.
const char *kStations = "station data of the test\n"
                        "YY MM DD HH extra 500 600 700\n"
                        "YY MM DD HH extra 1000 2000 3000\n"
                        "YY MM DD HH extra 10 20 30\n"
                        "YY MM DD HH extra a b c\n"
                        "2001 01 01 00 x 1.0 2.0 3.0\n"
                        "2001 01 02 00 x 1.5 1.5 1.5\n"
                        "2001 01 03 00 x 2.0 -99999 3.0\n"
                        "\n"
                        "2001 01 04 00 x 2 10000 9999.5\n";

class MeteointerpolTest : public testing::Test {
protected:
  MeteointerpolTest() {
    setupGrids_.FillSettings(settings_, registry_, "temperature", kControl);
    settings_.EndDate = ModelDate{0, 3, 1, 2001};
    setupGrids_.Register(registry_);
  }

  std::unique_ptr<meteointerpol> Make(const ModelDate &start = {0, 2, 1, 2001}) {
    int error = -1;
    auto variable = std::make_unique<meteointerpol>(error, settings_, start, 5);
    EXPECT_EQ(error, 0);
    return variable;
  }

  // Code thrown by the construction (0 when none), with the error it stored.
  int ConstructionCode(const ModelDate &start = {0, 2, 1, 2001}) {
    int error = -1;
    try {
      meteointerpol variable(error, settings_, start, 5);
    } catch (int code) {
      EXPECT_EQ(error, code);
      return code;
    }
    EXPECT_EQ(error, 0);
    return 0;
  }

  std::string Diagnostics() const { return test::ReadWholeFile("Tavro_Diag_0.xml"); }
  bool Logged(const std::string &text) const { return test::Logged(text); }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  GridRegistry registry_;
  test::SetupGrids setupGrids_{log_, test::SetupRaster{}};
  ModuleSettings settings_;
};

ModelDate DateOf(const meteointerpol &variable) {
  ModelDate date;
  variable.GetActualDate(date.Hour, date.Day, date.Month, date.Year);
  return date;
}

TEST_F(MeteointerpolTest, ReadsItsSectionAndRegistersItsGrid) {
  test::WriteFixture("stations.dat", kStations);
  test::WriteFixture(kControl,
                     "[meteo_names]\ntemperature\n" +
                         Section("temperature", 1, "stations.dat AdditionalColumns=1 comment\n"));
  auto variable = Make();
  EXPECT_EQ(variable->InterpolationMethod, 1);
  EXPECT_EQ(variable->StationFileNames, std::vector<std::string>{"stations.dat"});
  EXPECT_EQ(variable->AdditionalColumns, std::vector<int>{1});
  EXPECT_EQ(variable->RegressionFileName, "regression.dat");
  EXPECT_EQ(variable->ResultGridFileName, "result.grd");
  EXPECT_EQ(variable->StatisticsFileName, "temp.stat");
  EXPECT_EQ(variable->StatisticsCode, 1001);
  EXPECT_DOUBLE_EQ(variable->NodataBound, 9999.5);
  EXPECT_DOUBLE_EQ(variable->MaxDistance, 2.5e9); // squared for the weight 2
  EXPECT_FALSE(variable->ControlFile().IsOpen());

  const StationTable &table = variable->StationFile(0).Table();
  ASSERT_EQ(table.Count, 3);
  EXPECT_DOUBLE_EQ(table.Altitude[3], 700.0);
  EXPECT_DOUBLE_EQ(table.X[2], 2000.0);
  EXPECT_DOUBLE_EQ(table.Y[1], 10.0);

  EXPECT_EQ(registry_.FindGrid("temperature", false), 5);
  EXPECT_EQ(registry_[5].FileName, "result.grd");
  EXPECT_EQ((*registry_[5].Data)[2][3], -9999.0);
  variable->ReleaseMemory();
  EXPECT_TRUE(registry_[5].IsFree());
  EXPECT_TRUE(Logged("DEBUG: deleting interpolator for temperature"));
}

TEST_F(MeteointerpolTest, WalksTheRowsToTheEndDateAndRewinds) {
  test::WriteFixture("stations.dat", kStations);
  test::WriteFixture(kControl, Section("temperature", 1, "stations.dat AdditionalColumns=1\n"));
  auto variable = Make();
  const StationDataFile &file = variable->StationFile(0);

  // The start row gives the first step.
  EXPECT_EQ(DateOf(*variable), (ModelDate{0, 2, 1, 2001}));
  EXPECT_DOUBLE_EQ(file.Values()[1], 1.5);
  variable->ReadNextData();
  EXPECT_FALSE(variable->EndOfData());
  EXPECT_EQ(DateOf(*variable), (ModelDate{0, 3, 1, 2001}));
  EXPECT_DOUBLE_EQ(file.Values()[2], -10000.5); // outside the nodata bound
  EXPECT_EQ(file.UniformValues(), 0);
  // The row of the end date was the last one used.
  variable->ReadNextData();
  EXPECT_TRUE(variable->EndOfData());

  variable->Rewind();
  EXPECT_FALSE(variable->EndOfData());
  variable->ReadNextData();
  EXPECT_EQ(DateOf(*variable), (ModelDate{0, 2, 1, 2001}));
  EXPECT_EQ(file.UniformValues(), 1);
  EXPECT_FALSE(variable->EndOfData());
}

TEST_F(MeteointerpolTest, DataEndWithTheFileOrTheEndMarker) {
  settings_.EndDate = ModelDate{0, 31, 12, 2001};
  struct Case {
    std::string rows;
    std::vector<int> days; // days delivered after the start row
  };
  const std::vector<Case> cases = {
      {"2001 01 02 00 x 1 1 1\n2001 01 03 00 x 1 2 3\n2001 01 04 00 x 2 10000 9999.5\n", {3, 4}},
      {"2001 01 02 00 x 1 1 1\n2001 01 03 00 x 1 2 3\n0 0 0 0\n2001 01 05 00 x 1 1 1\n", {3}},
  };
  const std::string header = "title\nY M D H e 1 2 3\nY M D H e 1 2 3\nY M D H e 1 2 3\nnames\n";
  for (const Case &c : cases) {
    SCOPED_TRACE(c.rows);
    test::WriteFixture("stations.dat", header + c.rows);
    test::WriteFixture(kControl, Section("temperature", 4, "stations.dat AdditionalColumns=1\n"));
    auto variable = Make();
    for (int day : c.days) {
      variable->ReadNextData();
      EXPECT_FALSE(variable->EndOfData());
      EXPECT_EQ(DateOf(*variable).Day, day);
    }
    variable->ReadNextData();
    EXPECT_TRUE(variable->EndOfData());
    EXPECT_EQ(DateOf(*variable).Day, c.days.back()); // the last real row stays current
  }
}

TEST_F(MeteointerpolTest, TwoDigitYearsAndAMovedEndDate) {
  settings_.EndDate = ModelDate{0, 31, 12, 1995};
  test::WriteFixture("stations.dat", "t\nY M D H 1 2\nY M D H 1 2\nY M D H 1 2\nn\n"
                                     "95 1 1 0 4 4\n95 1 2 0 5 6\n95 1 3 0 5 6\n");
  test::WriteFixture(kControl, Section("temperature", 1, "stations.dat\n"));
  auto variable = Make(ModelDate{0, 1, 1, 1995});
  EXPECT_EQ(variable->StationFile(0).Table().Count, 2);
  variable->ReadNextData();
  EXPECT_EQ(DateOf(*variable), (ModelDate{0, 2, 1, 1995}));
  // Cancelling with the next interval: the next advance ends the data.
  variable->SetActualDateFromData();
  variable->ReadNextData();
  EXPECT_TRUE(variable->EndOfData());
}

TEST_F(MeteointerpolTest, MalformedStationInputIsFatal) {
  const std::string header = "title\nY M D H 1 2 3\nY M D H 1 2 3\nY M D H 1 2 3\nnames\n";
  struct Case {
    std::string file;
    int code;
    std::string entry;
  };
  const std::vector<Case> cases = {
      {header + "2001 1 2 0 1 1 1\n2001 1 3 0 1 abc 1\n", 49,
       "FATAL: error reading station data file stations.dat, line 7 (date 2001 1 3 0): no "
       "readable value for station 2 of 3"},
      {header + "2001 1 2 0 1 1 1\n2001 1 3 0 1 2\n", 49, "no readable value for station 3 of 3"},
      {header + "2001 1 2 0 1 1 1\nx 1 3 0 1 2 3\n", 49,
       "FATAL: error reading station data file stations.dat, line 7: no date"},
      // A year too long for 64 bits, and parts of a date that the date code
      // cannot hold: the same refusal, never an overflow.
      {header + "2001 1 2 0 1 1 1\n9223372036854775808 1 3 0 1 2 3\n", 49,
       "FATAL: error reading station data file stations.dat, line 7: no date (year month day "
       "hour) could be read"},
      {header + "2001 1 2 0 1 1 1\n9223372036854775807 1 3 0 1 2 3\n", 49,
       "FATAL: error reading station data file stations.dat, line 7: no date (year month day "
       "hour) could be read"},
      {header + "2001 1 2 0 1 1 1\n2001 1 3 -9223372036854775807 1 2 3\n", 49,
       "FATAL: error reading station data file stations.dat, line 7: no date"},
      {header + "2001 1 2 0 1 1 1\n2001 99999999999999999 3 0 1 2 3\n", 49,
       "FATAL: error reading station data file stations.dat, line 7: no date"},
      {"title\nY M D H 1 2 3\nY M D H 1 2\nY M D H 1 2 3\nnames\n2001 1 2 0 1 1 1\n", 49,
       "FATAL: error reading station description from stations.dat: line 3 holds no readable "
       "value for station 3 of 3"},
      {header + "2001 1 1 0 1 1 1\n2001 1 3 0 1 1 1\n", 51,
       "FATAL: \nfile stations.dat dosnt contain date 2.1.2001, hour 0(feof)!"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.entry);
    test::WriteFixture("stations.dat", c.file);
    test::WriteFixture(kControl, Section("temperature", 1, "stations.dat\n"));
    int code = 0;
    try {
      int error = 0;
      meteointerpol variable(error, settings_, ModelDate{0, 2, 1, 2001}, 5);
      variable.ReadNextData();
    } catch (int thrown) {
      code = thrown;
    }
    EXPECT_EQ(code, c.code);
    EXPECT_TRUE(Logged(c.entry));
    EXPECT_TRUE(registry_[5].IsFree()); // a failed construction leaves no entry
  }
}

TEST_F(MeteointerpolTest, TwoStationFilesMustAgree) {
  const std::string header = "title\nY M D H 1 2\nY M D H 1 2\nY M D H 1 2\nnames\n";
  test::WriteFixture("residuals.dat", header + "2001 1 2 0 1 1\n2001 1 3 0 1 1\n");
  test::WriteFixture("gradients.dat", header + "2001 1 2 0 1 1\n2001 1 3 1 1 1\n");
  std::vector<std::unique_ptr<StationDataFile>> files;
  for (const char *name : {"residuals.dat", "gradients.dat"}) {
    files.push_back(std::make_unique<StationDataFile>(log_, "temperature", name, 0, 9999.0));
    files.back()->ReadDescription();
    files.back()->FindStartDate(ModelDate{0, 2, 1, 2001});
  }
  CheckSameStations(log_, *files[0], *files[1]);
  CheckStationDates(log_, files, ModelDate{0, 2, 1, 2001});
  for (auto &file : files)
    file->NextRow(DateCode(ModelDate{0, 3, 1, 2001}));
  EXPECT_EQ(test::ExitCodeOf([&] { CheckStationDates(log_, files, files[0]->Date()); }), 73);
  EXPECT_TRUE(Logged("FATAL: error reading date from stationfiles:"));
  EXPECT_TRUE(Logged("file gradients.dat: YYYY=2001, MM=1, DD=3, HH=1"));

  test::WriteFixture("gradients.dat", "t\nY M D H 1 2\nY M D H 1 2\nY M D H 1 5\nn\n"
                                      "2001 1 2 0 1 1\n");
  StationDataFile moved(log_, "temperature", "gradients.dat", 0, 9999.0);
  moved.ReadDescription();
  EXPECT_EQ(test::ExitCodeOf([&] { CheckSameStations(log_, *files[0], moved); }), 73);
  EXPECT_TRUE(Logged("Altitude and/or coordinates of station 2 are different in"));

  // The interpolator of method 6 compares its two files at construction.
  test::WriteFixture(kControl, Section("temperature", 6, "residuals.dat\ngradients.dat\n"));
  EXPECT_EQ(ConstructionCode(), 73);
  EXPECT_TRUE(registry_[5].IsFree());
  // The splines of method 8 need a mesh: two stations on a diagonal give
  // two columns of one station.
  test::WriteFixture(kControl, Section("temperature", 8, "residuals.dat\nresiduals.dat\n"));
  EXPECT_EQ(ConstructionCode(), 70);
  EXPECT_TRUE(Logged("FATAL: Error converting the station coordinates into a grid:"));
  EXPECT_TRUE(registry_[5].IsFree());
}

TEST_F(MeteointerpolTest, SectionErrors) {
  test::WriteFixture("stations.dat", kStations);
  struct Case {
    std::string control;
    int code;
    std::string entry;
  };
  const std::vector<Case> cases = {
      {Section("temperature", 13, "stations.dat\n"), 53,
       "FATAL: error! interpolation method has to range from 1..12 (here: 13)"},
      {Section("temperature", 9, "grids.lst\n", "8.9e-5 0.07 127 6e-6\n"), 49,
       "FATAL: error reading the required 5 GIF-Mapping parameters"},
      {Section("temperature", 10, "stations.dat\n", "100 1500 0.5 2\n"), 49,
       "FATAL: error reading the required 5 or 6 regression parameters"},
      {Section("temperature", 12, "stations.dat\n", "-0.0065 1500\n"), 49,
       "FATAL: error reading the required parameter \"lapse rate\""},
      {"[temperature]\n1\n\n", 49,
       "FATAL: error reading station data file name nr. 0 for interpolation of temperature"},
      {"[precipitation]\n1\n", 17, "FATAL: error in control file, [temperature]; (EOF)not found!"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.entry);
    test::WriteFixture(kControl, c.control);
    EXPECT_EQ(ConstructionCode(), c.code);
    EXPECT_TRUE(Logged(c.entry));
  }
}

TEST_F(MeteointerpolTest, MethodParameterLines) {
  test::WriteFixture("stations.dat", kStations);
  test::WriteFixture(kControl, Section("temperature", 12, "stations.dat AdditionalColumns=1\n",
                                       "-0.0065 1500 -0.004 P-type\n"));
  auto twelve = Make();
  EXPECT_DOUBLE_EQ(twelve->LapseRate, -0.0065);
  EXPECT_DOUBLE_EQ(twelve->UpperInversion, 1500.0);
  EXPECT_DOUBLE_EQ(twelve->FixedUpperLapseRate, -0.004);
  EXPECT_EQ(twelve->PType, 1);
  twelve->ReleaseMemory();

  // Five regression numbers are a complete line, the lapse rate above the
  // upper inversion then none; a sixth sets it.
  test::WriteFixture(kControl, Section("temperature", 10, "stations.dat AdditionalColumns=1\n",
                                       "100 1500 0.5 2 300\n"));
  auto ten = Make();
  EXPECT_DOUBLE_EQ(ten->LowerInversion, 100.0);
  EXPECT_DOUBLE_EQ(ten->UpperInversion, 1500.0);
  EXPECT_DOUBLE_EQ(ten->Tolerance, 0.5);
  EXPECT_EQ(ten->Overlap, 2);
  EXPECT_DOUBLE_EQ(ten->ClusterRange, 300.0);
  EXPECT_EQ(ten->LapseRate, -9999.0);
  ten->ReleaseMemory();
  test::WriteFixture(kControl, Section("temperature", 11, "stations.dat AdditionalColumns=1\n",
                                       "100 1500 0.5 0 300 -0.0065 label\n"));
  auto eleven = Make();
  EXPECT_DOUBLE_EQ(eleven->LapseRate, -0.0065);
  eleven->ReleaseMemory();

  // An upper inversion below the lower one is refused; equal ones are not.
  test::WriteFixture(kControl, Section("temperature", 11, "stations.dat AdditionalColumns=1\n",
                                       "1500 1000 0.5 0 300\n"));
  EXPECT_EQ(ConstructionCode(), 49);
  EXPECT_TRUE(Logged("FATAL: error reading the required 5 or 6 regression parameters <lower "
                     "inversion> <upper inversion> <tolerance> <overlap> <clusterrange> [<lapse "
                     "rate above upper inversion>] for interpolation of temperature"));
  test::WriteFixture(kControl, Section("temperature", 10, "stations.dat AdditionalColumns=1\n",
                                       "1000 1000 0.5 0 300\n"));
  EXPECT_EQ(ConstructionCode(), 0);
}

} // namespace
} // namespace tavro
