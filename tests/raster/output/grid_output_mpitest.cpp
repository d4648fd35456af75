// The grid output over the real decomposition: three days of hourly steps
// that cross a day and a month boundary, grids with the writecodes of every
// kind of output and a stack write exactly the expected files with the
// expected values (computed here from the step values), the same under any
// process count. Also the vegetation-period mean (never divided by zero),
// its missing phenology grids, and the immediate ".filled" output.
#include "raster/output/grid_output.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "kernel/modelobject.h"
#include "raster/files/grid_file_context.h"
#include "raster/files/grid_reader.h"
#include "raster/files/stack_files.h"
#include "raster/parallel/mpi_decomposition.h"
#include "raster/parallel/strip_exchange.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::ProcessCount;
using test::Rank;

constexpr int kCols = 5;
constexpr int kRows = 6;
constexpr double N = -9999.0;
constexpr int kStepsPerDay = 24;
constexpr int kSteps = 3 * kStepsPerDay;
constexpr int kStackLevels = 2;

// Cells outside the zone grid: the start of row 3, one cell of row 5.
bool Valid(int r, int c) { return !(r == 3 && c <= 2) && !(r == 5 && c == 5); }

// Step s (0..71) runs on 27 and 28 February and 1 March 2021, hours 0..23.
ModelDate DateOfStep(int s) {
  const int day = s / kStepsPerDay;
  const long hour = s % kStepsPerDay;
  if (day < 2)
    return {hour, 27L + day, 2, 2021};
  return {hour, 1, 3, 2021};
}

// Step values of grid g: multiples of 0.25, up and down, so that sums are
// exact and minimum and maximum fall on different steps in different cells.
double Value(int g, int r, int c, int s) {
  return g * 100.0 + ((s * 7 + r * 3 + c * 5) % 13) * 0.5 - 3.0 + r * 0.25;
}
double LevelValue(int r, int c, int k, int s) { return Value(9, r, c, s) + k * 0.125; }

using CellValue = std::function<double(int r, int c)>;

// Sum of grid g's values over steps first..last.
double SumOver(int g, int r, int c, int first, int last) {
  double sum = 0.0;
  for (int s = first; s <= last; ++s)
    sum += Value(g, r, c, s);
  return sum;
}

struct ExpectedFile {
  std::string name;
  CellValue value; // at valid cells; every other cell holds nodata
};

// One grid per writecode; its number g sets its values apart.
struct OutputCase {
  int writecode;
  int g;
  std::string name;
};

const std::vector<OutputCase> &Cases() {
  static const std::vector<OutputCase> cases{
      {1, 1, "wc1.grd"},   {2, 2, "wc2.grd"},     {3, 3, "wc3.grd"},   {40, 4, "wc40.grd"},
      {80, 5, "wc80.grd"}, {300, 6, "wc300.grd"}, {30, 7, "wc30.grd"},
  };
  return cases;
}

// Step of the second write of the date-stamped grid in the same hour.
constexpr int kRepeatedStep = 8;

std::string Stamp(const char *part, int s) {
  const ModelDate d = DateOfStep(s);
  char text[64];
  std::snprintf(text, sizeof text, "%s_%04ld%02ld%02ld.%03ld", part, d.Year, d.Month, d.Day,
                d.Hour);
  return text;
}

std::vector<ExpectedFile> ExpectedGridFiles() {
  std::vector<ExpectedFile> files;
  const int last = kSteps - 1;
  const auto at = [](int g, int s) -> CellValue {
    return [g, s](int r, int c) { return Value(g, r, c, s); };
  };
  for (const OutputCase &oc : Cases()) {
    const int g = oc.g;
    switch (oc.writecode) {
    case 1: // every step under the same name: the last step remains
    case 3: // once, at the end of the run
      files.push_back({oc.name, at(g, last)});
      break;
    case 2:
      for (int s = 0; s < kSteps; ++s)
        files.push_back({Stamp("wc2", s), at(g, s)});
      files.push_back({Stamp("wc2", kRepeatedStep) + "_001", at(g, kRepeatedStep)});
      files.push_back({oc.name, at(g, last)});
      break;
    case 40:
    case 80: {
      const bool mean = oc.writecode == 80;
      const char *days[] = {"2102.27", "2102.28", "2103.01"};
      for (int day = 0; day < 3; ++day) {
        const int first = day * kStepsPerDay;
        const int end = first + kStepsPerDay - 1;
        files.push_back({std::string(mean ? "wc80_" : "wc40_") + days[day] + (mean ? "m" : "s"),
                         [g, first, end, mean](int r, int c) {
                           const double sum = SumOver(g, r, c, first, end);
                           return mean ? sum / kStepsPerDay : sum;
                         }});
      }
      break;
    }
    case 300: {
      const auto extreme = [g](bool minimum) -> CellValue {
        return [g, minimum](int r, int c) {
          double value = Value(g, r, c, 0);
          for (int s = 1; s < kSteps; ++s)
            value =
                minimum ? std::min(value, Value(g, r, c, s)) : std::max(value, Value(g, r, c, s));
          return value;
        };
      };
      files.push_back({"wc300.min", extreme(true)});
      files.push_back({"wc300.max", extreme(false)});
      break;
    }
    case 30: // February closes on the 28th; the run ends before March does
      files.push_back({"wc30_2102.sum",
                       [g](int r, int c) { return SumOver(g, r, c, 0, 2 * kStepsPerDay - 1); }});
      break;
    default:
      ADD_FAILURE() << "no expectation for writecode " << oc.writecode;
    }
  }
  return files;
}

// The stack, writecode 5: at the end of each day under four characters of
// its name and the date stamp, and at the end of the run under its name.
std::vector<std::pair<std::string, int>> ExpectedStackFiles() {
  return {{"soil_20210227.023", 23},
          {"soil_20210228.023", 47},
          {"soil_20210301.023", 71},
          {"soilmoist.stk", 71}};
}

class GridOutputMpiTest : public testing::Test {
protected:
  void SetUp() override {
    test::WriteFixture(kSpeedFactorFileName, "1\n");
    const RasterShape shape{kCols, kRows, N};
    Grid wholeZone;
    if (Rank() == 0)
      wholeZone = ZoneGrid(1, kRows);
    testing::internal::CaptureStdout(); // the decomposition's own report
    decomposition_ = DistributeMpiRegions(Rank() == 0 ? &wholeZone : nullptr, shape, log_);
    testing::internal::GetCapturedStdout();
    held_ = decomposition_.HeldRows();
    zone_ = ZoneGrid(held_.first, held_.last);

    object_ = std::make_unique<modelobject>(log_, "grid_output_test", "none.ctl");
    modelobject &o = *object_;
    o.Registry = &registry_;
    o.NCols = kCols;
    o.NRows = kRows;
    o.XllCorner = 3500000.0;
    o.YllCorner = 5600000.0;
    o.CellSize = 100.0;
    o.NoData = N;
    o.FirstRow = static_cast<int>(decomposition_.strip.first);
    o.LastRow = static_cast<int>(decomposition_.strip.last);
    o.RowRanges = &decomposition_.rowRanges;
    o.Halo.Decomposition = &decomposition_; // the object's gathers work on it
    o.HoursToIntervalEnd = 1.0;
    o.EndDateCode = DateCode(DateOfStep(kSteps - 1));
    o.WriteAsciiGrids = false;
    o.WriteDoubleGrids = true; // exact values in the files
    o.AddGrid(1, "zones.asc", &zone_, nullptr, 1, "zones", 0, held_.first, held_.last);
    // The output finds the decomposition through the registry.
    o.AddGrid(2, "MPIRegions_0", &decomposition_.regions, nullptr, 1, kRegionsGridName, 0,
              held_.first, held_.last);
  }

  Grid ZoneGrid(long first, long last) {
    Grid zone(first, last, kCols, kRows, log_);
    for (long r = first; r <= last; ++r)
      for (int c = 1; c <= kCols; ++c)
        zone[r][c] = Valid(static_cast<int>(r), c) ? 1.0 : N;
    return zone;
  }

  Grid HeldGrid() { return Grid(held_.first, held_.last, kCols, kRows, log_); }

  void SetDate(int s) {
    const ModelDate d = DateOfStep(s);
    object_->ActualYear = d.Year;
    object_->ActualMonth = d.Month;
    object_->ActualDay = d.Day;
    object_->ActualHour = d.Hour;
  }

  // Every held cell (own or not) gets the step's value: only own cells may
  // reach the files.
  void Fill(Grid &grid, int g, int s) {
    for (long r = held_.first; r <= held_.last; ++r)
      for (int c = 1; c <= kCols; ++c)
        grid[r][c] = Value(g, static_cast<int>(r), c, s);
  }

  GridFileContext ReadContext() {
    GridFileContext context(log_);
    context.geometry = {kCols, kRows, 3500000.0, 5600000.0, 100.0, N};
    context.firstRow = static_cast<int>(decomposition_.strip.first);
    context.lastRow = static_cast<int>(decomposition_.strip.last);
    context.rank = Rank();
    context.processCount = ProcessCount();
    context.moduleName = "grid_output_test";
    context.mpiRegions = &decomposition_.regions;
    return context;
  }

  // Rank 0: the whole grid of a written file.
  Grid ReadWhole(const std::string &name) {
    Grid grid;
    GridReadOptions options;
    options.keepWholeOnRoot = true;
    options.rootOnly = true;
    ReadGrid(ReadContext(), name, grid, options);
    return grid;
  }

  void ExpectGridFile(const ExpectedFile &file) {
    SCOPED_TRACE(file.name);
    ASSERT_TRUE(test::FileExists(file.name));
    const Grid grid = ReadWhole(file.name);
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c) {
        if (Valid(r, c)) {
          ExpectWritten(grid[r][c], file.value(r, c), r, c);
        } else {
          EXPECT_EQ(grid[r][c], N) << "cell " << r << "," << c;
        }
      }
  }

  // Binary double files hold the values exactly; ASCII files six significant digits.
  void ExpectWritten(double written, double expected, int r, int c) const {
    if (object_->WriteAsciiGrids)
      EXPECT_NEAR(written, expected, 5e-6 * std::fabs(expected)) << "cell " << r << "," << c;
    else
      EXPECT_DOUBLE_EQ(written, expected) << "cell " << r << "," << c;
  }

  // Every process reads the stack file together; rank 0 checks its valid cells.
  void ExpectStackFile(const std::string &name, int step) {
    SCOPED_TRACE(name);
    Stack read;
    testing::internal::CaptureStdout(); // the reader's progress lines
    const StackReadResult result = ReadStack(ReadContext(), name, read, true);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(result.levels, kStackLevels);
    if (Rank() != 0)
      return;
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c)
        for (int k = 0; k <= kStackLevels && Valid(r, c); ++k)
          ExpectWritten(read[r][c][k], LevelValue(r, c, k, step), r, c);
  }

  // Written files of the working directory, the test's own files aside.
  static std::set<std::string> OutputFiles() {
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(test::WorkDirectory())) {
      const std::string name = entry.path().filename().string();
      if (name == kSpeedFactorFileName || name.rfind("Tavro_Diag", 0) == 0 ||
          name.rfind("modell_", 0) == 0)
        continue;
      names.insert(name);
    }
    return names;
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  MpiDecomposition decomposition_;
  StripRows held_;
  Grid zone_;
  GridRegistry registry_;
  std::unique_ptr<modelobject> object_;
};

TEST_F(GridOutputMpiTest, ThreeDaysOfHourlyStepsWriteTheExpectedFiles) {
  modelobject &o = *object_;
  std::vector<Grid> grids;
  std::vector<int> indexes;
  int next = 3;
  for (std::size_t i = 0; i < Cases().size(); ++i) {
    grids.push_back(HeldGrid());
    indexes.push_back(next++);
  }
  for (std::size_t i = 0; i < Cases().size(); ++i)
    o.AddGrid(indexes[i], Cases()[i].name, &grids[i], nullptr, 1,
              "grid_" + std::to_string(Cases()[i].writecode), Cases()[i].writecode, held_.first,
              held_.last);
  Stack stack(held_.first, held_.last, kCols, kStackLevels, kRows, log_);
  const int stackIndex = next;
  o.AddGrid(stackIndex, "soilmoist.stk", nullptr, &stack, kStackLevels, "soilmoist", 5, held_.first,
            held_.last);

  for (int s = 0; s < kSteps; ++s) {
    SetDate(s);
    for (std::size_t i = 0; i < Cases().size(); ++i) {
      Fill(grids[i], Cases()[i].g, s);
      o.WriteGridOutput(indexes[i]);
      if (Cases()[i].writecode == 2 && s == kRepeatedStep)
        o.WriteGridOutput(indexes[i]); // a second file with the same stamp
    }
    for (long r = held_.first; r <= held_.last; ++r)
      for (int c = 1; c <= kCols; ++c)
        for (int k = 0; k <= kStackLevels; ++k)
          stack[r][c][k] = LevelValue(static_cast<int>(r), c, k, s);
    o.WriteStackOutput(stackIndex);
    MPI_Barrier(MPI_COMM_WORLD);
    if (Rank() == 0 && s < kSteps - 1) {
      // What belongs to the end of the run is not written before it.
      ASSERT_FALSE(test::FileExists("wc3.grd")) << "step " << s;
      ASSERT_FALSE(test::FileExists("wc300.min")) << "step " << s;
      ASSERT_FALSE(test::FileExists("wc2.grd")) << "step " << s;
      ASSERT_FALSE(test::FileExists("soilmoist.stk")) << "step " << s;
    }
  }

  const std::vector<ExpectedFile> gridFiles = ExpectedGridFiles();
  const auto stackFiles = ExpectedStackFiles();
  if (Rank() == 0) {
    std::set<std::string> expectedNames;
    for (const ExpectedFile &file : gridFiles)
      expectedNames.insert(file.name);
    for (const auto &file : stackFiles)
      expectedNames.insert(file.first);
    EXPECT_EQ(OutputFiles(), expectedNames);
    for (const ExpectedFile &file : gridFiles)
      ExpectGridFile(file);
  }

  for (const auto &[name, step] : stackFiles)
    ExpectStackFile(name, step);
}

// ASCII output is gathered on rank 0 for stacks too. A stack that also asks
// for a period aggregate sums its level 1; its output kind is the stack's
// alone (no grid file under the stack's name, no shared date stamps). An
// object whose own write code is 4 does not write the stack once more under
// its plain name at the end.
TEST_F(GridOutputMpiTest, AsciiStacksAndTheAggregateOfAStackLevel) {
  modelobject &o = *object_;
  o.WriteAsciiGrids = true;
  o.EndDateCode = DateCode(DateOfStep(2));
  Grid level = HeldGrid();
  Stack stack(held_.first, held_.last, kCols, kStackLevels, kRows, log_);
  o.AddGrid(3, "soilmoist.stk", &level, &stack, kStackLevels, "soilmoist", 12, held_.first,
            held_.last);
  for (int s = 0; s <= 2; ++s) {
    SetDate(s);
    for (long r = held_.first; r <= held_.last; ++r)
      for (int c = 1; c <= kCols; ++c)
        for (int k = 0; k <= kStackLevels; ++k)
          stack[r][c][k] = LevelValue(static_cast<int>(r), c, k, s);
    o.WriteGridOutput(3);
    WriteStackOutput(o, 3, 4, GatherOf(o));
  }
  MPI_Barrier(MPI_COMM_WORLD);
  if (Rank() == 0) {
    EXPECT_EQ(OutputFiles(), (std::set<std::string>{"soil_20210227.000", "soil_20210227.001",
                                                    "soil_20210227.002", "soilmoist.sum"}));
    ExpectGridFile({"soilmoist.sum", [](int r, int c) {
                      return LevelValue(r, c, 1, 0) + LevelValue(r, c, 1, 1) +
                             LevelValue(r, c, 1, 2);
                    }});
  }
  ExpectStackFile("soil_20210227.001", 1);
}

// A vegetation period of layer 2 from step 1 to step 4: the sum over the
// steps inside it, divided per cell by the duration; a cell with duration 0
// has no mean and is written as nodata, never inf or NaN.
TEST_F(GridOutputMpiTest, VegetationPeriodMeanWithZeroDuration) {
  modelobject &o = *object_;
  Grid lai = HeldGrid();
  Grid start = HeldGrid();
  Grid stop = HeldGrid();
  Grid duration = HeldGrid();
  const auto durationOf = [](int r, int c) { return c == 2 ? 0.0 : r + 1.0; };
  for (long r = held_.first; r <= held_.last; ++r)
    for (int c = 1; c <= kCols; ++c)
      duration[r][c] = durationOf(static_cast<int>(r), c);
  o.AddGrid(3, "VegetationStart2", &start, nullptr, 1, "VegetationStart2", 0, held_.first,
            held_.last);
  o.AddGrid(4, "VegetationStop2", &stop, nullptr, 1, "VegetationStop2", 0, held_.first, held_.last);
  o.AddGrid(5, "VegetationDuration2", &duration, nullptr, 1, "VegetationDuration2", 0, held_.first,
            held_.last);
  o.AddGrid(6, "out_lai_Layer_2.grd", &lai, nullptr, 1, "lai_2", 2000, held_.first, held_.last);
  GridEntry &entry = registry_[6];

  for (int s = 0; s <= 5; ++s) {
    SetDate(s);
    Fill(lai, 3, s);
    // Step 0 is before the period (start below 0), step 5 after it (stop above 0).
    start.Fill(s == 0 ? -1.0 : 0.0);
    stop.Fill(s == 5 ? 1.0 : 0.0);
    entry.VegetationPeriodBegins = s == 0 ? 1 : 0;
    entry.VegetationPeriodEnded = s == 5 ? 1 : 0;
    o.WriteGridOutput(6);
  }
  EXPECT_EQ(entry.VegetationPeriodEnded, 0);
  MPI_Barrier(MPI_COMM_WORLD);
  if (Rank() == 0) {
    ExpectGridFile({"out_lai_Layer_2_0021_vegper.mit", [&](int r, int c) {
                      return c == 2 ? N : SumOver(3, r, c, 1, 4) / durationOf(r, c);
                    }});
    const Grid written = ReadWhole("out_lai_Layer_2_0021_vegper.mit");
    for (int r = 1; r <= kRows; ++r)
      for (int c = 1; c <= kCols; ++c)
        EXPECT_TRUE(std::isfinite(written[r][c])) << r << "," << c;
  }
}

TEST_F(GridOutputMpiTest, MissingPhenologyGridStopsTheRun) {
  modelobject &o = *object_;
  Grid lai = HeldGrid();
  o.AddGrid(3, "lai.grd", &lai, nullptr, 1, "lai", 1000, held_.first, held_.last);
  SetDate(0);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr(); // other ranks report their fatal error there
  int code = 0;
  try {
    o.WriteGridOutput(3);
  } catch (int thrown) {
    code = thrown;
  }
  testing::internal::GetCapturedStderr();
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(code, 33);
  if (Rank() == 0) {
    EXPECT_NE(console.find("VegetationStart1 not found in memory"), std::string::npos) << console;
  }
}

// A grid written three times a step (sub-steps) with the accumulate-only flag
// on all but the last call: every call joins the daily mean, the minimum and
// the maximum, but only the last call of a step writes them; the per-step
// file holds the last sub-step.
TEST_F(GridOutputMpiTest, AccumulateOnlyCallsJoinTheAggregatesButWriteNone) {
  modelobject &o = *object_;
  Grid shadow = HeldGrid();
  o.AddGrid(3, "shade.grd", &shadow, nullptr, 1, "shade", 381, held_.first, held_.last);
  constexpr int kSubSteps = 3;
  o.EndDateCode = DateCode(DateOfStep(kStepsPerDay - 1));
  for (int s = 0; s < kStepsPerDay; ++s) {
    SetDate(s);
    for (int k = 0; k < kSubSteps; ++k) {
      Fill(shadow, 5, kSubSteps * s + k);
      const bool last = k == kSubSteps - 1;
      o.WriteGridOutput(3, !last);
      MPI_Barrier(MPI_COMM_WORLD);
      if (Rank() == 0 && s == kStepsPerDay - 1 && !last) {
        ASSERT_FALSE(test::FileExists("shade_2102.27m")) << k;
        ASSERT_FALSE(test::FileExists("shade.min")) << k;
      }
    }
  }
  constexpr int kLast = kSubSteps * kStepsPerDay - 1;
  const auto extreme = [](bool minimum) -> CellValue {
    return [minimum](int r, int c) {
      double value = Value(5, r, c, 0);
      for (int s = 1; s <= kLast; ++s)
        value = minimum ? std::min(value, Value(5, r, c, s)) : std::max(value, Value(5, r, c, s));
      return value;
    };
  };
  if (Rank() == 0) {
    EXPECT_EQ(OutputFiles(),
              (std::set<std::string>{"shade.grd", "shade_2102.27m", "shade.min", "shade.max"}));
    ExpectGridFile({"shade.grd", [](int r, int c) { return Value(5, r, c, kLast); }});
    ExpectGridFile(
        {"shade_2102.27m", [](int r, int c) { return SumOver(5, r, c, 0, kLast) / (kLast + 1); }});
    ExpectGridFile({"shade.min", extreme(true)});
    ExpectGridFile({"shade.max", extreme(false)});
  }
}

// Output kind 8: the grid with its holes filled is written at registration
// under outname + ".filled", every step again, and at the end of the run
// under outname; registration adds nothing to the step count.
TEST_F(GridOutputMpiTest, FilledGridIsWrittenAtRegistrationAndEveryStep) {
  modelobject &o = *object_;
  InstallGridOutputHook(registry_);
  Grid filled = HeldGrid();
  Fill(filled, 4, 0);
  o.AddGrid(3, "tempr.grd", &filled, nullptr, 1, "tempr", 48, held_.first, held_.last);
  MPI_Barrier(MPI_COMM_WORLD);
  if (Rank() == 0)
    ExpectGridFile({"tempr.grd.filled", [](int r, int c) { return Value(4, r, c, 0); }});
  EXPECT_EQ(registry_[3].AggregateCount, 0.0);
  EXPECT_FALSE(test::FileExists("tempr.grd"));

  o.EndDateCode = DateCode(DateOfStep(kStepsPerDay - 1));
  for (int s = 0; s < kStepsPerDay; ++s) {
    SetDate(s);
    Fill(filled, 4, s + 1);
    o.WriteGridOutput(3);
  }
  MPI_Barrier(MPI_COMM_WORLD);
  if (Rank() == 0) {
    const auto last = [](int r, int c) { return Value(4, r, c, kStepsPerDay); };
    ExpectGridFile({"tempr.grd.filled", last});
    ExpectGridFile({"tempr.grd", last});
    ExpectGridFile({"tempr_2102.27s", [](int r, int c) { return SumOver(4, r, c, 1, 24); }});
  }
}

} // namespace
} // namespace tavro
