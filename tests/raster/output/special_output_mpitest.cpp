// The special output over the real decomposition of a small raster: point
// series of a grid, a flux grid summed over three sub-steps, stack levels, an
// unowned point and an unregistered ID, written to files whose expected text
// is spelled out here, so that the files are the same under any process
// count. Also the inactive module and the errors of the section.
#include "raster/output/special_output.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "raster/parallel/mpi_decomposition.h"
#include "support/decomposed_raster.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::ProcessCount;
using test::Rank;
using test::ReadWholeFile;

constexpr int kCols = 5;
constexpr int kRows = 6;
constexpr double kNoData = -9999.0;
constexpr const char *kControl = "control.txt_0.$$$";

// Outside the zone grid: the two cells of the north-western corner and the
// south-eastern cell.
bool Valid(int r, int c) { return !(r == 1 && c <= 2) && !(r == 6 && c == 5); }

// Cells of 100 m from (1000, 2000); the points of the tests lie at the
// centres of their cells.
// Values of step s (1, 2) and sub-step j (1..3) at row r, column c.
double Terrain(int r, int c, int s) { return 100.0 * r + c + 0.5 * s; }
double Recharge(int r, int c, int s, int j) { return 0.25 * j + r + 10.0 * s + 0.125 * c; }
double Moisture(int r, int c, int k, int s) { return 1000.0 * k + 10.0 * r + c + s; }

std::string Section(int flowControl, const std::string &blocks) {
  return "[other]\n1\n[special_output]\n" + std::to_string(flowControl) +
         "  flow control parameter\n60  time interval\n" + blocks + "[after]\n1\n";
}

// P1 (2, 3), the no-data corner P3 (1, 1), P2 (5, 1) and P4 (6, 4).
const std::string kBlocks =
    "\n"
    "numfiles = 2;\n"
    "{\n"
    "  header = point series of the test;\n"
    "  filename = points.txt;\n"
    "  entity = { ID = terrain_height; Symbol = H; Xcoords = 1250, 1050, 1050;\n"
    "             Ycoords = 2450 2550 2150; };\n"
    "  entity = { ID = groundwater_recharge; Symbol = R; Xcoords = 1250 1350;\n"
    "             Ycoords = 2450, 2050; };\n"
    "  entity = { ID = no_such_grid; Symbol = X; Xcoords = 1050; Ycoords = 2150; };\n"
    "  entity = {\n"
    "    ID = soil_moisture; Symbol = S; Xcoords = 1250, 1050, 1350;\n"
    "    Ycoords = 2450, 2150, 2050; Level = 2, 5, -1;\n"
    "  };\n"
    "}\n"
    "{\n"
    "  header=second; filename=second.txt;\n"
    "  entity = { Symbol=GW_ID; ID = soil_moisture; Xcoords = 1250; Ycoords = 2450; };\n"
    "  entity = { ID = terrain_height; Symbol = T; Xcoords = 1350; Ycoords = 2050; };\n"
    "}\n";

class SpecialOutputTest : public testing::Test {
protected:
  void SetUp() override {
    decomposition_ = test::DecomposeRaster(zone_, kCols, kRows, kNoData, Valid, log_);

    const StripRows held = decomposition_.haloStrip;
    terrain_ = Grid(held.first, held.last, kCols, kRows, log_);
    recharge_ = Grid(held.first, held.last, kCols, kRows, log_);
    moisture_ = Stack(held.first, held.last, kCols, 3, kRows, log_);
    registry_.AddGrid(3, kRegionsGridName, &decomposition_.regions, nullptr, 1, kRegionsGridName, 0,
                      1, kRows, kCols, kRows, log_);
    registry_.AddGrid(4, "t", &terrain_, nullptr, 1, "terrain_height", 0, held.first, held.last,
                      kCols, kRows, log_);
    registry_.AddGrid(5, "r", &recharge_, nullptr, 1, "groundwater_recharge", 0, held.first,
                      held.last, kCols, kRows, log_);
    registry_.AddGrid(6, "m", nullptr, &moisture_, 3, "soil_moisture", 0, held.first, held.last,
                      kCols, kRows, log_);

    settings_.Log = &log_;
    settings_.ControlFileName = kControl;
    settings_.Registry = &registry_;
    settings_.ZoneIndex = &zoneIndex_;
    settings_.ZoneTable = &zoneTable_;
    settings_.ZoneCount = 1;
    settings_.MaxZoneCode = 1;
    settings_.NCols = kCols;
    settings_.NRows = kRows;
    settings_.XllCorner = 1000.0;
    settings_.YllCorner = 2000.0;
    settings_.CellSize = 100.0;
    settings_.FirstRow = static_cast<int>(decomposition_.strip.first);
    settings_.LastRow = static_cast<int>(decomposition_.strip.last);
    settings_.EndDate = ModelDate{0, 31, 1, 2012};
  }

  void SetCells(const std::function<void(int r, int c)> &set) {
    for (long r = terrain_.FirstRow(); r <= terrain_.LastRow(); ++r)
      for (int c = 1; c <= kCols; ++c)
        set(static_cast<int>(r), c);
  }

  // Two daily steps of `substeps` sub-steps, flushed after each step.
  void Run(SpecialOutputClass &output, int substeps) {
    for (int s = 1; s <= 2; ++s) {
      for (int j = 1; j <= substeps; ++j) {
        SetCells([&](int r, int c) {
          terrain_[r][c] = -1.0; // not taken on sub-steps
          recharge_[r][c] = Recharge(r, c, s, j);
        });
        output.SampleStep(0, s, 1, 2012, true, j);
      }
      SetCells([&](int r, int c) {
        terrain_[r][c] = Terrain(r, c, s);
        recharge_[r][c] = 999.0; // a flux keeps the sum of its sub-steps
        for (int k = 0; k <= 3; ++k)
          moisture_[r][c][k] = Moisture(r, c, k, s);
      });
      output.SampleStep(0, s, 1, 2012, false, 0);
      output.FlushFiles();
    }
  }

  std::string Diagnostics() {
    log_.FlushConsole();
    return ReadWholeFile("Tavro_Diag_0.xml");
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  Grid zone_;
  MpiDecomposition decomposition_;
  Grid terrain_;
  Grid recharge_;
  Stack moisture_;
  GridRegistry registry_;
  OneBasedArray<int> zoneIndex_{1, 1};
  OneBasedArray<ZoneRecord> zoneTable_{1};
  ModuleSettings settings_;
};

std::string G(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string Row(int s, const std::vector<double> &values) {
  std::string row = "2012\t1\t" + std::to_string(s) + "\t0";
  for (const double v : values) {
    row += '\t';
    row += G(v);
  }
  return row + "\n";
}

const std::string kPointsHeader = "YY\tMM\tDD\tHH\tH/3/2\tH/1/1\tH/1/5\tR/3/2\tR/4/6\tX/1/5\tS/3/2/"
                                  "2\tS/1/5/5\tS/4/6/-1\n"
                                  "point\n"
                                  "YY\tMM\tDD\tHH\tH/1250/2450\tH/1050/2550\tH/1050/2150\tR/1250/"
                                  "2450\tR/1350/2050\tX/1050/2150\tS/1250/2450/2\tS/1050/2150/"
                                  "5\tS/1350/2050/-1\n";

TEST_F(SpecialOutputTest, PointSeriesWithFluxesSummedOverSubsteps) {
  test::WriteFixture(kControl, Section(1, kBlocks));
  int error = -1;
  SpecialOutputClass output(error, settings_, 3);
  ASSERT_EQ(error, 0);
  ASSERT_EQ(output.FileCount(), 2);
  Run(output, 3);
  output.ReleaseMemory();
  MPI_Barrier(MPI_COMM_WORLD);

  std::string points = kPointsHeader;
  std::string second = "YY\tMM\tDD\tHH\tGW_ID/3/2\tT/4/6\nsecond\n"
                       "YY\tMM\tDD\tHH\tGW_ID/1250/2450\tT/1350/2050\n";
  for (int s = 1; s <= 2; ++s) {
    const auto recharge = [s](int r, int c) {
      return Recharge(r, c, s, 1) + Recharge(r, c, s, 2) + Recharge(r, c, s, 3);
    };
    points += Row(s, {Terrain(2, 3, s), kNoData, Terrain(5, 1, s), recharge(2, 3), recharge(6, 4),
                      kNoData, Moisture(2, 3, 2, s), kNoData, kNoData});
    // A stack named without levels has no grid to sample.
    second += Row(s, {kNoData, Terrain(6, 4, s)});
  }
  if (Rank() == 0) {
    EXPECT_EQ(ReadWholeFile("points.txt"), points);
    EXPECT_EQ(ReadWholeFile("second.txt"), second);
  }
}

TEST_F(SpecialOutputTest, WithOneSubstepNoEntityIsAFlux) {
  test::WriteFixture(kControl, Section(1, kBlocks));
  int error = -1;
  SpecialOutputClass output(error, settings_, 1);
  ASSERT_EQ(error, 0);
  Run(output, 1);
  output.ReleaseMemory();
  MPI_Barrier(MPI_COMM_WORLD);
  std::string points = kPointsHeader;
  for (int s = 1; s <= 2; ++s)
    points += Row(s, {Terrain(2, 3, s), kNoData, Terrain(5, 1, s), 999.0, 999.0, kNoData,
                      Moisture(2, 3, 2, s), kNoData, kNoData});
  if (Rank() == 0) {
    EXPECT_EQ(ReadWholeFile("points.txt"), points);
  }
}

TEST_F(SpecialOutputTest, InactiveModuleWritesNothing) {
  test::WriteFixture(kControl, Section(0, kBlocks));
  int error = -1;
  SpecialOutputClass output(error, settings_, 3);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(output.IsActive(), 0);
  EXPECT_EQ(output.FileCount(), 0);
  Run(output, 3);
  output.ReleaseMemory();
  MPI_Barrier(MPI_COMM_WORLD);
  EXPECT_FALSE(test::FileExists("points.txt"));
}

TEST_F(SpecialOutputTest, AFileThatCannotBeAppendedToEndsTheRunOnRankZero) {
  if (Rank() == 0)
    std::filesystem::create_directory("gone");
  test::WriteFixture(kControl, Section(1, "numfiles = 1;\n{\nheader=h; filename=gone/p.txt;\n"
                                          "entity = { ID = terrain_height; Symbol = H; "
                                          "Xcoords = 1250; Ycoords = 2450; };\n}\n"));
  int error = -1;
  SpecialOutputClass output(error, settings_, 1);
  ASSERT_EQ(error, 0);
  if (Rank() == 0)
    std::filesystem::remove_all("gone");
  MPI_Barrier(MPI_COMM_WORLD);
  output.SampleStep(0, 1, 1, 2012, false, 0);
  // Every process takes part in the reduction; only rank 0 opens the file.
  const test::CallOutcome outcome = test::RunCapturingConsole([&] { output.FlushFiles(); });
  EXPECT_EQ(outcome.code, Rank() == 0 ? 65 : -1);
  if (Rank() == 0) {
    EXPECT_NE(Diagnostics().find("level=\"0\" description= \";error opening file gone/p.txt"),
              std::string::npos);
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

TEST_F(SpecialOutputTest, SectionErrorsEndTheRunWithTheirCodeAndEntry) {
  struct Case {
    std::string name;
    std::string blocks;
    int code;
    std::string entry;
  };
  const std::string entity = "entity = { ID = t; Symbol = H; Xcoords = 1250; Ycoords = 2450; };\n";
  const std::vector<Case> cases = {
      {"no numfiles", "{\nheader=h; filename=f.txt;\n}\n", 104,
       "Error in section [special_output]: key numfiles missing"},
      {"no filename", "numfiles = 1;\n{\nheader = h;\n" + entity + "}\n", 104,
       "Error in section [special_output]: key filename missing in file block 1"},
      {"no Symbol in the second block",
       "numfiles = 2;\n{\nheader=h; filename=a.txt;\n" + entity +
           "}\n{\nheader=h; filename=b.txt;\nentity = { ID = t; Xcoords = 1; Ycoords = 2; };\n}\n",
       104, "Error in section [special_output]: key Symbol missing in file block 2"},
      {"not a number",
       "numfiles = 1;\n{\nheader=h; filename=a.txt;\n"
       "entity = { ID = t; Symbol = H; Xcoords = 1250; Ycoords = 24S0; };\n}\n",
       104,
       "Error in section [special_output]: value 24S0 of key Ycoords in file block 1 is not "
       "a number"},
      {"unclosed block", "numfiles = 1;\n{\nheader=h; filename=a.txt;\n" + entity, 17,
       "Error in section [special_output]: file block 1 of 1 is not closed before the end of "
       "the control file"},
      {"point outside",
       "numfiles = 1;\n{\nheader=h; filename=a.txt;\n"
       "entity = { ID = t; Symbol = H; Xcoords = 1250, 1500.5; Ycoords = 2450, 2450; };\n}\n",
       1008,
       "Error in section [special_output]: x-coordinate 1500.5, defined as point 1 for entity t, "
       "is located outside the actual grid."},
      {"file cannot be created",
       "numfiles = 1;\n{\nheader=h; filename=no_such_directory/a.txt;\n" + entity + "}\n", 1007,
       "error opening file for special output of file;no_such_directory/a.txt;-> check file "
       "name, disk space or user rights"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFixture(kControl, Section(1, c.blocks));
    int error = -1;
    const test::CallOutcome outcome = test::RunCapturingConsole([&] {
      testing::internal::CaptureStderr(); // the echo of other ranks
      try {
        SpecialOutputClass output(error, settings_, 3);
      } catch (int) {
        testing::internal::GetCapturedStderr();
        throw;
      }
      testing::internal::GetCapturedStderr();
    });
    EXPECT_EQ(outcome.code, c.code);
    EXPECT_EQ(error, c.code);
    if (Rank() == 0) {
      EXPECT_NE(
          Diagnostics().find("level=\"0\" description= \"" + DiagnosticsLog::EscapeForXml(c.entry)),
          std::string::npos);
    }
    MPI_Barrier(MPI_COMM_WORLD);
  }
}

} // namespace
} // namespace tavro
