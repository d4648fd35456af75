// The precipitation correction on interpolators of a small raster: the
// station path (values and the refit of the regression) and the grid path.
#include "interpolator_fixture.h"
#include "meteo/precipitation_correction.h"
#include "support/diagnostics_entries.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tavro {
namespace {

// A mesh of four stations at rising altitudes, one near each corner.
const std::vector<MeshStation> kStations = {{500.0, 500.0, 500.0},
                                            {3500.0, 500.0, 800.0},
                                            {500.0, 2500.0, 1200.0},
                                            {3500.0, 2500.0, 1600.0}};

// Rain: 1.0 + 0.02 u; snow: 1.0 + 0.10 u; threshold 1 deg C.
std::string CorrectionSection(int doIt, double rainConstant = 1.0) {
  return "[precipitation_correction]\n" + std::to_string(doIt) + "\n1.0\n" +
         std::to_string(rainConstant) + "\n0.02\n1.0\n0.10\n";
}

struct VariableSpec {
  std::string name;
  SectionSpec section;
  std::vector<std::vector<double>> days; // the first station file
  std::vector<std::vector<double>> second = {};
};

class PrecipitationCorrectionTest : public InterpolatorFixture {
protected:
  // Writes the sections and station files and builds the variables at the
  // registry entries 5, 6, 8, ... and then the correction.
  void Build(std::vector<VariableSpec> specs, const std::string &correction) {
    std::string control;
    for (VariableSpec &spec : specs) {
      if (!spec.days.empty())
        spec.section.stationLines = spec.name + ".dat AdditionalColumns=0";
      if (!spec.second.empty()) {
        spec.section.stationLines += "\n" + spec.name + "_2.dat AdditionalColumns=0";
        test::WriteFixture(spec.name + "_2.dat", StationFile(kStations, spec.second));
      }
      std::string section = Section(spec.section);
      section.replace(0, std::string("[temperature]").size(), "[" + spec.name + "]");
      control += section;
      if (!spec.days.empty())
        test::WriteFixture(spec.name + ".dat", StationFile(kStations, spec.days));
    }
    test::WriteFixture(kControl, control + correction);
    int index = 5;
    for (const VariableSpec &spec : specs) {
      ModuleSettings settings = settings_;
      settings.ModuleName = spec.name;
      int error = -1;
      variables_.push_back(
          std::make_unique<meteointerpol>(error, settings, ModelDate{0, 2, 1, 2001}, index));
      ASSERT_EQ(error, 0) << spec.name;
      pointers_.push_back(variables_.back().get());
      names_.push_back(spec.name);
      index = index == 6 ? 8 : index + 1;
    }
    int error = -1;
    correction_ = std::make_unique<precicorrclass>(error, settings_, pointers_, names_, 1);
    ASSERT_EQ(error, 0);
    correction_->SetMaxElevation(1700.0);
  }

  meteointerpol &Variable(const std::string &name) {
    for (std::size_t i = 0; i < names_.size(); ++i)
      if (names_[i] == name)
        return *variables_[i];
    throw 1;
  }

  void Interpolate() {
    for (auto &variable : variables_)
      Step(*variable);
  }
  void Advance() {
    for (auto &variable : variables_)
      variable->ReadNextData();
  }

  // One step the way the run loop does it with the superposition off.
  void StationStep() {
    for (auto &variable : variables_)
      if (variable->InterpolationMethod == 10 || variable->InterpolationMethod == 11)
        variable->CalcElevationRegression(0);
    correction_->CorrectStationData();
    Interpolate();
  }
  // One step with the correction on the grid.
  void GridStep() {
    for (auto &variable : variables_)
      if (variable->InterpolationMethod == 10 || variable->InterpolationMethod == 11)
        variable->CalcElevationRegression(0);
    Interpolate();
    correction_->CorrectGrids();
  }

  // The own cells of the precipitation grid.
  std::map<std::pair<long, long>, double> Cells() {
    std::map<std::pair<long, long>, double> cells;
    const Grid &grid = Variable("precipitation").ResultGrid();
    for (long r = 1; r <= 3; ++r)
      for (long c = 1; c <= 4; ++c)
        if (DefaultZone(r, c) > 0.0)
          cells[{r, c}] = grid[r][c];
    return cells;
  }

  void Release() {
    correction_->ReleaseMemory();
    correction_.reset();
    for (auto &variable : variables_)
      variable->ReleaseMemory();
    variables_.clear();
    pointers_.clear();
    names_.clear();
  }

  void TearDown() override {
    if (correction_)
      Release();
  }

  static SectionSpec Method(int method, std::string methodLine = "regression.dat") {
    SectionSpec spec;
    spec.method = method;
    spec.methodLine = std::move(methodLine);
    spec.lower = -100.0;
    spec.upper = 1000.0;
    return spec;
  }

  std::vector<std::unique_ptr<meteointerpol>> variables_;
  std::vector<meteointerpol *> pointers_;
  std::vector<std::string> names_;
  std::unique_ptr<precicorrclass> correction_;
};

TEST_F(PrecipitationCorrectionTest, StationValuesOfMethodOneGetTheFactorsOfTheirStations) {
  Build({{"precipitation", Method(1), {{10.0, 20.0, -10000.0, 40.0}}},
         {"temperature", Method(4), {{5.0, -2.0, 3.0, 1.0}}},
         {"wind_speed", Method(4), {{3.0, 4.0, 5.0, 0.0}}}},
        CorrectionSection(1));
  EXPECT_FALSE(correction_->CorrectsGridInsteadOfStations());
  correction_->CorrectStationData();
  const OneBasedArray<double> &values = Variable("precipitation").StationFile(0).Values();
  EXPECT_DOUBLE_EQ(values[1], 10.0 * (1.0 + 0.02 * 3.0)); // rain
  EXPECT_DOUBLE_EQ(values[2], 20.0 * (1.0 + 0.10 * 4.0)); // snow
  EXPECT_DOUBLE_EQ(values[3], -10000.0);                  // missing: unchanged
  EXPECT_DOUBLE_EQ(values[4], 40.0);                      // at the threshold: snow; calm
  Release();

  // Temperature and wind missing at every station: rain, calm.
  Build({{"precipitation", Method(1), {{10.0, 20.0, 30.0, 40.0}}},
         {"temperature", Method(4), {{-10000.0, -10000.0, -10000.0, -10000.0}}},
         {"wind_speed", Method(4), {{-10000.0, -10000.0, -10000.0, -10000.0}}}},
        CorrectionSection(1, 1.3));
  correction_->CorrectStationData();
  EXPECT_DOUBLE_EQ(Variable("precipitation").StationFile(0).Values()[2], 20.0 * 1.3);
}

TEST_F(PrecipitationCorrectionTest, GridPathAndStationPathAgreeAndKeepAGapUncompounded) {
  // Thiessen everywhere on the same stations: every cell takes the values
  // of one station, so correcting the stations or the cells is the same.
  // Day 2 has no valid precipitation: both grids keep day 1's correction.
  const std::vector<VariableSpec> specs = {
      {"precipitation",
       Method(4),
       {{10.0, 20.0, 30.0, 40.0}, {-10000.0, -10000.0, -10000.0, -10000.0}}},
      {"temperature", Method(4), {{5.0, -2.0, 3.0, 0.5}, {5.0, 5.0, 5.0, 5.0}}},
      {"wind_speed", Method(4), {{3.0, 4.0, 5.0, 6.0}, {1.0, 1.0, 1.0, 1.0}}}};
  std::vector<std::map<std::pair<long, long>, double>> station, grid;
  Build(specs, CorrectionSection(1));
  StationStep();
  station.push_back(Cells());
  Advance();
  StationStep();
  station.push_back(Cells());
  Release();

  Build(specs, CorrectionSection(1));
  GridStep();
  grid.push_back(Cells());
  Advance();
  GridStep();
  grid.push_back(Cells());
  EXPECT_EQ(station, grid);
  EXPECT_EQ(station[0], station[1]);
  // Cell (1, 1) is nearest to station 3 (rain, 5 m/s): 30 * 1.1.
  EXPECT_DOUBLE_EQ(grid[0].at({1, 1}), 30.0 * 1.1);
}

TEST_F(PrecipitationCorrectionTest, RegressionIsRefittedToTheRainConstantTimesTheFit) {
  // A uniform temperature above the threshold and no wind: every factor is
  // the rain constant, so every refitted segment is 1.2 times the fitted one
  // (or left as it was), whatever the samples.
  for (const int method : {10, 11}) {
    SCOPED_TRACE(method);
    Build({{"precipitation", Method(method, "700 1300 100 0 50"), {{2.0, 3.0, 5.0, 6.0}}},
           {"temperature", Method(4), {{10.0, 10.0, 10.0, 10.0}}}},
          CorrectionSection(1, 1.2));
    meteointerpol &precipitation = Variable("precipitation");
    precipitation.CalcElevationRegression(0);
    double lo = 0, hi = 0;
    std::array<double, 4> i0{}, s0{}, i1{}, s1{};
    precipitation.GetRegressionParameters(1, lo, hi, i0, s0);
    correction_->CorrectStationData();
    double lo1 = 0, hi1 = 0;
    precipitation.GetRegressionParameters(1, lo1, hi1, i1, s1);
    int scaled = 0;
    for (std::size_t j = 1; j <= 3; ++j) {
      const bool same = i1[j] == i0[j] && s1[j] == s0[j];
      const bool times = std::abs(i1[j] - 1.2 * i0[j]) <= 1e-9 * (1.0 + std::abs(i0[j])) &&
                         std::abs(s1[j] - 1.2 * s0[j]) <= 1e-12 * (1.0 + std::abs(s0[j]));
      EXPECT_TRUE(same || times) << j << ": " << i0[j] << " " << s0[j] << " -> " << i1[j] << " "
                                 << s1[j];
      scaled += times && !same ? 1 : 0;
    }
    EXPECT_GE(scaled, 1);
    EXPECT_DOUBLE_EQ(lo1, lo);
    const OneBasedArray<double> &values = precipitation.StationFile(0).Values();
    // Method 10 refits only; method 11 corrects the station values too.
    EXPECT_DOUBLE_EQ(values[1], method == 10 ? 2.0 : 2.4);
    EXPECT_DOUBLE_EQ(values[4], method == 10 ? 6.0 : 7.2);
    Release();
  }
}

TEST_F(PrecipitationCorrectionTest, WindAsAStandardGridCorrectsTheGridAfterTheInterpolation) {
  Grid wind(1, 3, 4, 3, log_);
  wind.Fill(5.0);
  wind[2][2] = -9999.0; // missing: calm
  registry_.AddGrid(20, "wind.asc", &wind, nullptr, 1, "wind_speed", 0, 1, 3, 4, 3, log_);
  Build({{"precipitation", Method(4), {{10.0, 10.0, 10.0, 10.0}}},
         {"temperature", Method(4), {{5.0, 5.0, 5.0, 5.0}}}},
        CorrectionSection(1));
  EXPECT_TRUE(correction_->CorrectsGridInsteadOfStations());
  correction_->CorrectStationData(); // nothing: grid-only
  EXPECT_DOUBLE_EQ(Variable("precipitation").StationFile(0).Values()[1], 10.0);
  GridStep();
  const auto cells = Cells();
  EXPECT_DOUBLE_EQ(cells.at({1, 1}), 10.0 * 1.1);
  EXPECT_DOUBLE_EQ(cells.at({2, 2}), 10.0);
  Release();
  registry_.ReleaseGrid(20);
}

TEST_F(PrecipitationCorrectionTest, GridReadOnceIsCorrectedOnce) {
  Grid precipitation(1, 3, 4, 3, log_);
  precipitation.Fill(10.0);
  precipitation[1][2] = -9999.0; // missing: unchanged
  registry_.AddGrid(20, "p.asc", &precipitation, nullptr, 1, "precipitation", 0, 1, 3, 4, 3, log_);
  Build({{"temperature", Method(4), {{-5.0, -5.0, -5.0, -5.0}}}}, CorrectionSection(1));
  EXPECT_TRUE(correction_->CorrectsGridInsteadOfStations());
  GridStep();
  GridStep();
  EXPECT_DOUBLE_EQ(precipitation[1][1], 10.0); // snow, no wind: 1.0
  Release();
  registry_.ReleaseGrid(20);
}

TEST_F(PrecipitationCorrectionTest, MethodSixCorrectsResidualsAndGradientsAlike) {
  std::vector<std::map<std::pair<long, long>, double>> grids;
  for (const int doIt : {0, 1}) {
    Build({{"precipitation", Method(6), {{1.0, 2.0, 3.0, 4.0}}, {{0.001, 0.002, 0.003, 0.004}}},
           {"temperature", Method(4), {{5.0, 5.0, 5.0, 5.0}}}},
          CorrectionSection(doIt, 1.5));
    StationStep();
    grids.push_back(Cells());
    Release();
  }
  for (const auto &[cell, value] : grids[0])
    EXPECT_NEAR(grids[1].at(cell), 1.5 * value, 1e-12 * (1.0 + std::abs(value)))
        << cell.first << "/" << cell.second;
}

TEST_F(PrecipitationCorrectionTest, TemperatureFromGridsCountsAsRainAtTheStations) {
  // Temperature read from a grid list has no value at a station: a WARNING
  // names it, and the station values get the rain factor (calm: 1.2).
  test::WriteFixture("cold.asc", UniformGrid(-10.0));
  test::WriteFixture("grids.lst", "grids\nYY MM DD HH extra 1000 999 1\n"
                                  "YY MM DD HH extra 0 1 2\nYY MM DD HH extra 0 2 3\n"
                                  "YY MM DD HH extra a b c\n2001 1 2 0 x cold.asc\n");
  SectionSpec temperature = Method(9, "8.9e-5 0.077 127 6e-6 0.098");
  temperature.stationLines = "grids.lst AdditionalColumns=1";
  Build(
      {{"precipitation", Method(1), {{10.0, 20.0, 30.0, 40.0}}}, {"temperature", temperature, {}}},
      CorrectionSection(1, 1.2));
  EXPECT_TRUE(test::Logged("WARNING: precipitation correction: temperature is read from grids "
                           "(interpolation method 9) and has no value at a point; precipitation "
                           "counts as rain in the correction of the station values"));
  correction_->CorrectStationData();
  EXPECT_DOUBLE_EQ(Variable("precipitation").StationFile(0).Values()[1], 12.0);
}

TEST_F(PrecipitationCorrectionTest, WithoutPrecipitationGridTheConstructionFails) {
  test::WriteFixture(kControl, CorrectionSection(1));
  EXPECT_EQ(test::ExitCodeOf([&] {
              int error = 0;
              precicorrclass correction(error, settings_, {}, {}, 1);
            }),
            33);
}

TEST_F(PrecipitationCorrectionTest, DoItZeroChangesNothing) {
  Build({{"precipitation", Method(4), {{10.0, 20.0, 30.0, 40.0}}}}, CorrectionSection(0));
  correction_->CorrectStationData();
  GridStep();
  EXPECT_DOUBLE_EQ(Variable("precipitation").StationFile(0).Values()[2], 20.0);
  EXPECT_DOUBLE_EQ(Cells().at({1, 1}), 30.0);
}

} // namespace
} // namespace tavro
