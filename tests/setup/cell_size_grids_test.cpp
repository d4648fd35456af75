// The cell sizes and relative cell area of the set-up on the fixture
// catchment: every combination of read and created grids, the refusals of
// zero and contradictory sizes, and the single write of the created grids.
#include "setup/cell_size_grids.h"

#include "setup/setup_catchment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace tavro {
namespace {

using Field = std::function<double(long, long)>;

struct ReadGrid {
  const char *identifier;
  const char *file;
  Field values;
};

double SizeX(long r, long c) { return 500.0 + 100.0 * c + 10.0 * r; }
double SizeY(long r, long c) { return 800.0 + 50.0 * r + 7.0 * c; }
double Area(long r, long c) { return SizeX(r, c) * SizeY(r, c) / 1e6; }
double Constant(double value, long, long) { return value; }

// The set-up of the catchment with the given grids declared as standard grids.
test::SetupOutcome RunReading(const std::vector<ReadGrid> &read, test::SetupRun &run) {
  std::vector<std::string> definitions;
  for (const ReadGrid &grid : read) {
    definitions.push_back(std::string(grid.file) + " " + grid.identifier + " 0");
    test::WriteFixture(grid.file, test::CatchmentGrid(grid.values));
  }
  test::WriteCatchment({test::MoreStandardGrids(definitions)});
  return run.Run();
}

TEST(CellSizeGrids, ReadOrCreatedInEveryCombination) {
  using namespace std::placeholders;
  const Field cs = std::bind(Constant, 1000.0, _1, _2);
  const Field one = std::bind(Constant, 1.0, _1, _2);
  const Field four = [](long r, long c) { return r == 2 && c == 3 ? 4.0 : 1.0; };
  const ReadGrid x{"CellSizeX", "csx.asc", SizeX};
  const ReadGrid y{"CellSizeY", "csy.asc", SizeY};
  struct Case {
    const char *name;
    std::vector<ReadGrid> read;
    Field x, y, area; // expected in every valid cell
  };
  const Case cases[] = {
      {"nothing read", {}, cs, cs, one},
      {"relative area 4 in one cell",
       {{"RelCellArea", "rca.asc", four}},
       [&](long r, long c) { return 1000.0 * std::sqrt(four(r, c)); },
       [&](long r, long c) { return 1000.0 * std::sqrt(four(r, c)); },
       four},
      {"x read", {x}, SizeX, [](long r, long c) { return 1e6 / SizeX(r, c); }, one},
      {"y read", {y}, [](long r, long c) { return 1e6 / SizeY(r, c); }, SizeY, one},
      {"x and y read", {x, y}, SizeX, SizeY, Area},
      {"all three read and consistent",
       {x, y, {"RelCellArea", "rca.asc", Area}},
       SizeX,
       SizeY,
       Area},
      {"agreement within 0.001 %",
       {x, y, {"RelCellArea", "rca.asc", [](long r, long c) { return Area(r, c) + 5e-6; }}},
       SizeX,
       SizeY,
       [](long r, long c) { return Area(r, c) + 5e-6; }},
      {"x and area read",
       {x, {"RelCellArea", "rca.asc", std::bind(Constant, 2.0, _1, _2)}},
       SizeX,
       [](long r, long c) { return 2.0 * 1e6 / SizeX(r, c); },
       std::bind(Constant, 2.0, _1, _2)},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    test::SetupRun run;
    const test::SetupOutcome outcome = RunReading(k.read, run);
    ASSERT_EQ(outcome.code, 0) << outcome.console;
    const Grid &sizeX = run.GridOf("CellSizeX");
    const Grid &sizeY = run.GridOf("CellSizeY");
    const Grid &area = run.GridOf("RelCellArea");
    EXPECT_EQ(run.setup->CellWeights, &area);
    for (long r = 1; r <= test::kCatchmentRows; ++r)
      for (long c = 1; c <= test::kCatchmentColumns; ++c) {
        if (test::ZoneAt(r, c) == -9999) {
          EXPECT_EQ(sizeX[r][c], -9999.0);
          EXPECT_EQ(sizeY[r][c], -9999.0);
          EXPECT_EQ(area[r][c], -9999.0);
          continue;
        }
        EXPECT_DOUBLE_EQ(sizeX[r][c], k.x(r, c)) << r << "/" << c;
        EXPECT_DOUBLE_EQ(sizeY[r][c], k.y(r, c)) << r << "/" << c;
        EXPECT_DOUBLE_EQ(area[r][c], k.area(r, c)) << r << "/" << c;
      }
    // Only the created grids are written, beside the zone grid's name.
    for (const auto &[identifier, file] : {std::pair{"CellSizeX", "zone.$csx"},
                                           {"CellSizeY", "zone.$csy"},
                                           {"RelCellArea", "zone.$rca"}}) {
      bool read = false;
      for (const ReadGrid &grid : k.read)
        read = read || std::string(grid.identifier) == identifier;
      EXPECT_EQ(test::FileExists(file), !read) << file;
      std::remove(file);
    }
  }
}

TEST(CellSizeGrids, ZeroOrContradictorySizesStopTheSetUp) {
  const auto zeroAt23 = [](const Field &values) {
    return [values](long r, long c) { return r == 2 && c == 3 ? 0.0 : values(r, c); };
  };
  const auto areaPlus = [](double excess) {
    return [excess](long r, long c) { return Area(r, c) + (r == 4 && c == 2 ? excess : 0.0); };
  };
  // X = 740, Y = 1014 in row 4, column 2: X * Y / cs² = 0.75036.
  const std::string mismatch = "Cell size Y (1014, from csy.asc) times\ncell size X (740, "
                               "from csx.asc) \ndivided by the mean cell area is 0.75036 and "
                               "differs from \nthe relative grid cell size ";
  struct Case {
    const char *name;
    std::vector<ReadGrid> read;
    std::string entry;
  };
  const Case cases[] = {
      {"zero x",
       {{"CellSizeX", "csx.asc", zeroAt23(SizeX)}},
       "cell size in x direction is zero at row 2, column 3,\nread from file csx.asc\n"},
      {"zero y",
       {{"CellSizeY", "csy.asc", zeroAt23(SizeY)}},
       "cell size in y direction is zero at row 2, column 3,\nread from file csy.asc"},
      {"zero y with x and area read",
       {{"CellSizeX", "csx.asc", SizeX},
        {"CellSizeY", "csy.asc", zeroAt23(SizeY)},
        {"RelCellArea", "rca.asc", Area}},
       "cell size in y direction is zero at row 2, column 3,\nread from file csy.asc"},
      {"area too large",
       {{"CellSizeX", "csx.asc", SizeX},
        {"CellSizeY", "csy.asc", SizeY},
        {"RelCellArea", "rca.asc", areaPlus(2e-5)}},
       mismatch + "0.75038 (from rca.asc) by more than 0.001%%\n"},
      // Smaller by as much: the check holds in both directions.
      {"area too small",
       {{"CellSizeX", "csx.asc", SizeX},
        {"CellSizeY", "csy.asc", SizeY},
        {"RelCellArea", "rca.asc", areaPlus(-2e-5)}},
       mismatch + "0.75034 (from rca.asc) by more than 0.001%%\n"},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.name);
    test::SetupRun run;
    const test::SetupOutcome outcome = RunReading(k.read, run);
    EXPECT_EQ(outcome.code, kCellSizeExitCode);
    EXPECT_EQ(outcome.calls, 11); // step 10
    EXPECT_NE(outcome.console.find(k.entry + "\n"), std::string::npos) << outcome.console;
  }
}

TEST(CellSizeRule, CompletesTheCreatedValuesOfOneCell) {
  struct Case {
    CellSizeSources sources;
    CellSizes in;
    CellSizes out;
    CellSizeProblem problem;
  };
  const Case cases[] = {
      {{false, false, true}, {0, 0, 4}, {50, 50, 4}, CellSizeProblem::None},
      {{false, true, false}, {0, 20, 1}, {31.25, 20, 1}, CellSizeProblem::None},
      {{true, false, true}, {10, 0, 2}, {10, 125, 2}, CellSizeProblem::None},
      {{true, true, false}, {10, 20, 1}, {10, 20, 0.32}, CellSizeProblem::None},
      {{true, true, true}, {10, 20, 0.32}, {10, 20, 0.32}, CellSizeProblem::None},
      {{true, true, true}, {10, 20, 0.3201}, {10, 20, 0.3201}, CellSizeProblem::AreaMismatch},
      {{true, true, true}, {10, 20, 0.3199}, {10, 20, 0.3199}, CellSizeProblem::AreaMismatch},
      {{true, false, false}, {0, 0, 1}, {0, 0, 1}, CellSizeProblem::ZeroX},
      {{false, true, false}, {0, 0, 1}, {0, 0, 1}, CellSizeProblem::ZeroY},
  };
  // cs = 25: the square cell has the area 625.
  for (const Case &k : cases) {
    CellSizes cell = k.in;
    EXPECT_EQ(DeriveCellSizes(cell, k.sources, 25.0), k.problem);
    EXPECT_DOUBLE_EQ(cell.X, k.out.X);
    EXPECT_DOUBLE_EQ(cell.Y, k.out.Y);
    EXPECT_DOUBLE_EQ(cell.A, k.out.A);
  }
}

} // namespace
} // namespace tavro
