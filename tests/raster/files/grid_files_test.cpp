// Grid files on one process: the writers' bytes and header statistics, the
// documented header and cell errors of the reader, the opening retries and
// the filling of holes.
#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "raster/files/grid_file_context.h"
#include "raster/files/grid_hole_filling.h"
#include "raster/files/grid_reader.h"
#include "raster/files/grid_writer.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace tavro {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Console text of the entries written by call, and its exit code (-1: none).
std::pair<std::string, int> Capture(const std::function<void()> &call) {
  CaptureStdout();
  int code = -1;
  try {
    call();
  } catch (int thrown) {
    code = thrown;
  }
  return {GetCapturedStdout(), code};
}

bool Contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

template <class T> T ValueAt(const std::string &bytes, std::size_t offset) {
  T value;
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

std::string Bytes(const std::vector<double> &values) {
  std::string bytes(values.size() * sizeof(double), '\0');
  std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

class GridFilesTest : public testing::Test {
protected:
  GridFilesTest() {
    context_.geometry = {5, 4, 3500.2, 5200, 25, -9999};
    context_.firstRow = 1;
    context_.lastRow = 4;
    context_.moduleName = "snow_model";
    context_.zoneGridName = "zones.asc";
  }

  const RasterGeometry &G() const { return context_.geometry; }

  Grid WholeGrid(const std::function<double(int, int)> &value) {
    Grid grid(1, G().nrows, G().ncols, G().nrows, log_);
    for (int r = 1; r <= G().nrows; ++r)
      for (int c = 1; c <= G().ncols; ++c)
        grid[r][c] = value(r, c);
    return grid;
  }

  std::pair<std::string, int> Read(const std::string &name, Grid &grid,
                                   GridReadOptions options = {}) {
    return Capture([&] { ReadGrid(context_, name, grid, options); });
  }

  std::string AsciiFile(const std::string &header, const std::string &cells) {
    return header + cells;
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 5};
  GridFileContext context_{log_};
};

const std::string kHeader = "ncols 5\nNROWS 4\nXLLCORNER 3500.7\nYLLCORNER 5200\n"
                            "CELLSIZE 25\nNODATA_VALUE -9999\n";
const std::string kCells = "1 2 3 4 5\n6 7 8 9 10\n11 12 13 14 15\n16 17 18 19 20\n";

TEST_F(GridFilesTest, AsciiKeywordsAreNotComparedButTheFileMustStartWithNcol) {
  test::WriteFixture("upper.asc", kHeader + kCells);
  Grid grid;
  const auto [console, code] = Read("upper.asc", grid);
  ASSERT_EQ(code, -1) << console;
  EXPECT_EQ(grid[1][1], 1);
  EXPECT_EQ(grid[4][5], 20);

  test::WriteFixture("all_upper.asc", "NCOLS 5\n" + kHeader.substr(8) + kCells);
  const auto [entry, failed] = Read("all_upper.asc", grid);
  EXPECT_EQ(failed, 22);
  EXPECT_TRUE(Contains(entry, "could not recognise file format (neither ascii, nor single, "
                              "double, or GIF) for all_upper.asc"))
      << entry;
}

TEST_F(GridFilesTest, DocumentedHeaderAndCellErrors) {
  struct Case {
    const char *name;
    std::string content;
    int code;
    std::string entry;
  };
  const std::string h = "ncols 5\nnrows 4\nxllcorner 3500\nyllcorner 5200\ncellsize 25\n";
  const std::vector<Case> cases = {
      {"bad_pair.asc", "ncols 5\nnrows 4\nxllcorner east\n" + kCells, 22,
       "error reading ascii value #3 from bad_pair.asc"},
      {"bad_cell.asc", h + "nodata_value -9999\n1 2 3 4 5\n6 7 x 9 10\n", 22,
       "error reading ascii grid bad_cell.asc in ASCII-Format in row 2, col 3"},
      {"short.asc", h + "nodata_value -9999\n1 2 3 4 5\n6 7 8 9 10\n11 12\n", 22,
       "error reading ascii grid short.asc in ASCII-Format in row 3, col 3"},
      {"no_cells.asc", h + "nodata_value -9999", 22,
       "error reading ascii grid no_cells.asc in ASCII-Format in row 1, col 1"},
      {"last_cell.asc", h + "nodata_value -9999\n" + kCells.substr(0, kCells.size() - 3) + "2O", 22,
       "error reading ascii grid last_cell.asc in ASCII-Format in row 4, col 5"},
      // Longer than any number: once read as two values, shifting every later cell.
      {"overlong.asc",
       h + "nodata_value -9999\n1 2 3 4 5\n6 " + std::string(5000, '0') + " 8 9 10\n", 22,
       "error reading ascii grid overlong.asc in ASCII-Format in row 2, col 2"},
      {"cellsize.asc",
       "ncols 5\nnrows 4\nxllcorner 3500.7\nyllcorner 5200\ncellsize 25.0001\n"
       "nodata_value -9999\n" +
           kCells,
       24, "cellsize.asc has not the specified grid measures (in snow_model)!"},
      {"nodata0.asc", h + "nodata_value 0\n" + kCells, 24, "has not the specified grid measures"},
      {"ncols.asc",
       "ncols 1e300\nnrows 4\nxllcorner 3500\nyllcorner 5200\ncellsize 25\n"
       "nodata_value -9999\n" +
           kCells,
       24, "has not the specified grid measures"},
  };
  for (const auto &c : cases) {
    test::WriteFixture(c.name, c.content);
    Grid grid;
    const auto [console, code] = Read(c.name, grid);
    EXPECT_EQ(code, c.code) << c.name;
    EXPECT_TRUE(Contains(console, c.entry)) << c.name << "\n" << console;
  }
}

TEST_F(GridFilesTest, LowerFileNodataPassesAndIsKeptWithoutFilling) {
  test::WriteFixture("lower.asc", "ncols 5\nnrows 4\nxllcorner 3500\nyllcorner 5200\ncellsize 25\n"
                                  "nodata_value -99999\n1 2 3 4 5\n6 -99999 8 9 10\n" +
                                      kCells.substr(kCells.find("11")));
  Grid grid;
  const auto [console, code] = Read("lower.asc", grid);
  ASSERT_EQ(code, -1) << console;
  EXPECT_EQ(grid[2][2], -99999);
}

TEST_F(GridFilesTest, BinaryHeaderErrors) {
  // Nodata -99999 in a binary header: not recognised as binary.
  std::vector<double> header = {5, 4, 3500, 5200, 25, -99999, 0, 0, 0, 0, 0, 0};
  test::WriteFixture("nodata.bin", Bytes(header) + std::string(5 * 4 * 8, '\0'));
  Grid grid;
  auto [console, code] = Read("nodata.bin", grid);
  EXPECT_EQ(code, 22);
  EXPECT_TRUE(Contains(console, "could not recognise file format")) << console;

  // A float header cut after seven values.
  std::vector<float> floats = {5, 4, 3500, 5200, 25, -9999, 0};
  std::string bytes(floats.size() * sizeof(float) + 2, '\0');
  std::memcpy(bytes.data(), floats.data(), floats.size() * sizeof(float));
  test::WriteFixture("cut.flt", bytes);
  std::tie(console, code) = Read("cut.flt", grid);
  EXPECT_EQ(code, 22);
  EXPECT_TRUE(Contains(console, "error reading double value #8 from the header of cut.flt"))
      << console;
}

// A header that matches the raster but announces more cells than the file
// holds is refused before the grid is allocated, in every format.
TEST_F(GridFilesTest, HeaderThatTheFileCannotFillIsRefusedBeforeReading) {
  context_.geometry = {300, 200, 3500, 5200, 25, -9999}; // 60000 cells
  context_.lastRow = 200;
  const std::string asciiHeader = "ncols 300\nnrows 200\nxllcorner 3500\nyllcorner 5200\n"
                                  "cellsize 25\nnodata_value -9999\n";
  const std::vector<double> doubles = {300, 200, 3500, 5200, 25, -9999, 0, 0, 0, 0, 0, 0};
  const std::vector<float> floats(doubles.begin(), doubles.end());
  std::string floatHeader(floats.size() * sizeof(float), '\0');
  std::memcpy(floatHeader.data(), floats.data(), floatHeader.size());
  struct Case {
    const char *name;
    std::string content;
    std::string entry;
  };
  const std::vector<Case> cases = {
      {"rows.asc", asciiHeader + std::string(299, '1') + "\n",
       "error reading rows.asc: the header announces 200 rows and 300 columns, which need at "
       "least 120000 bytes, but the file holds 381 bytes"},
      {"rows.dbl", Bytes(doubles) + std::string(8 * 59999, '\0'),
       "error reading rows.dbl: the header announces 200 rows and 300 columns, which need at "
       "least 480096 bytes, but the file holds 480088 bytes"},
      {"rows.flt", floatHeader + std::string(4 * 60000 - 1, '\0'),
       "error reading rows.flt: the header announces 200 rows and 300 columns, which need at "
       "least 240048 bytes, but the file holds 240047 bytes"},
  };
  for (const auto &c : cases) {
    test::WriteFixture(c.name, c.content);
    Grid grid;
    const auto [console, code] = Read(c.name, grid);
    EXPECT_EQ(code, 22) << c.name;
    EXPECT_TRUE(Contains(console, c.entry)) << c.name << "\n" << console;
    EXPECT_FALSE(grid.Allocated()) << c.name;
  }
  // A binary file longer than its header needs is read.
  test::WriteFixture("long.dbl", Bytes(doubles) + std::string(8 * 60000 + 17, '\0'));
  Grid grid;
  const auto [console, code] = Read("long.dbl", grid);
  EXPECT_EQ(code, -1) << console;
}

TEST_F(GridFilesTest, ExistingGridMustCoverTheRowsWhenNotAllocating) {
  test::WriteFixture("g.asc", kHeader + kCells);
  Grid missing;
  GridReadOptions options;
  options.allocate = false;
  const auto [console, code] = Read("g.asc", missing, options);
  EXPECT_EQ(code, 22);
  EXPECT_TRUE(Contains(console, "error reading grid g.asc no memory allocated (pointer "
                                "given to function is NULL)"))
      << console;

  Grid narrow(1, 4, 3, 4, log_);
  EXPECT_EQ(Read("g.asc", narrow, options).second, 22);

  Grid existing(1, 4, 5, 4, log_);
  const auto [ok, none] = Read("g.asc", existing, options);
  EXPECT_EQ(none, -1) << ok;
  EXPECT_EQ(existing[3][2], 12);
}

TEST_F(GridFilesTest, OpensAtTheThirdAttemptAfterTwoRetryEntries) {
  int attempts = 0;
  int waits = 0;
  std::FILE *opened = nullptr;
  const auto [console, code] = Capture([&] {
    opened = OpenWithRetries(
        log_, "late.asc",
        [&]() -> std::FILE * { return ++attempts == 3 ? std::tmpfile() : nullptr; },
        [&] { ++waits; });
  });
  ASSERT_NE(opened, nullptr);
  std::fclose(opened);
  EXPECT_EQ(code, -1);
  EXPECT_EQ(waits, 2);
  EXPECT_TRUE(Contains(console, "error opening late.asc. Will try again in 200 ms... "
                                "(retriesleft = 5)"))
      << console;
  EXPECT_TRUE(Contains(console, "(retriesleft = 4)")) << console;
  EXPECT_FALSE(Contains(console, "(retriesleft = 3)")) << console;

  attempts = waits = 0;
  const auto [entries, failed] = Capture([&] {
    OpenWithRetries(
        log_, "never.asc", [&]() -> std::FILE * { return ++attempts, nullptr; }, [&] { ++waits; });
  });
  EXPECT_EQ(failed, 21);
  EXPECT_EQ(attempts, 6);
  EXPECT_EQ(waits, 5);
  EXPECT_TRUE(Contains(entries, "(retriesleft = 1)"));
  EXPECT_TRUE(Contains(entries, "still error opening never.asc - no retry.")) << entries;
}

TEST_F(GridFilesTest, AsciiWriterTextWithAbsentRowsAsTheRunsNodata) {
  context_.geometry.nodata = -1234;
  context_.geometry.xllcorner = 3512345.5;
  Grid strip(2, 3, 5, 4, log_);
  for (int r = 2; r <= 3; ++r)
    for (int c = 1; c <= 5; ++c)
      strip[r][c] = r * 10 + c + 0.5;
  strip[3][4] = 1234567.0; // six significant digits in a cell
  const auto [console, code] =
      Capture([&] { WriteGrid(context_, "strip.asc", strip, true, false); });
  ASSERT_EQ(code, -1) << console;
  EXPECT_EQ(test::ReadWholeFile("strip.asc"),
            "ncols\t5\nnrows\t4\nxllcorner\t3512345.5\nyllcorner\t5200\ncellsize\t25\n"
            "nodata_value\t-1234\n"
            "-1234\t-1234\t-1234\t-1234\t-1234\n"
            "21.5\t22.5\t23.5\t24.5\t25.5\n"
            "31.5\t32.5\t33.5\t1.23457e+06\t35.5\n"
            "-1234\t-1234\t-1234\t-1234\t-1234\n");
}

TEST_F(GridFilesTest, FloatFileOfOnlyNodataHasEmptyStatistics) {
  Grid grid = WholeGrid([](int, int) { return -9999.0; });
  ASSERT_EQ(Capture([&] { WriteGrid(context_, "empty.flt", grid, false, false); }).second, -1);
  const std::string bytes = test::ReadWholeFile("empty.flt");
  ASSERT_EQ(bytes.size(), 48u + 5 * 4 * 4);
  const std::vector<float> expected = {0, 0, 0, 0, -9999, -9999}; // bytes 24..47
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(ValueAt<float>(bytes, 24 + 4 * i), expected[i]) << i;
  EXPECT_EQ(ValueAt<float>(bytes, 48 + 4 * 7), -9999.0f);
}

TEST_F(GridFilesTest, DoubleFileLayoutAndWeightedStatistics) {
  Grid weights = WholeGrid([](int r, int) { return r == 2 ? 0.5 : 1.0; });
  context_.cellWeights = &weights;
  // Row 1 has no range: all cells count with weight 1; row 2 spans columns 2..4;
  // rows 3 and 4 span 1..5.
  context_.rowRange = [](int row) -> std::pair<int, int> {
    return row == 1 ? std::pair{0, -1} : row == 2 ? std::pair{2, 4} : std::pair{1, 5};
  };
  Grid grid = WholeGrid([](int r, int c) { return r <= 2 ? r * 10.0 + c : -9999.0; });
  GridStatistics statistics;
  context_.statistics = &statistics;
  GridFileHeader header;
  ASSERT_EQ(Capture([&] { header = WriteGrid(context_, "grid.dbl", grid, false, true); }).second,
            -1);

  const std::string bytes = test::ReadWholeFile("grid.dbl");
  ASSERT_EQ(bytes.size(), 96u + 5 * 4 * 8);
  EXPECT_EQ(ValueAt<double>(bytes, 16), 3500.2);
  EXPECT_EQ(ValueAt<double>(bytes, 96 + ((2 - 1) * 5 + (3 - 1)) * 8), 23.0);
  // Counted: 11..15 with weight 1, 22..24 with weight 0.5.
  const double count = 5 + 1.5;
  const double sum = (11 + 12 + 13 + 14 + 15) + 0.5 * (22 + 23 + 24);
  EXPECT_DOUBLE_EQ(ValueAt<double>(bytes, 48), count);
  EXPECT_EQ(ValueAt<double>(bytes, 56), 11);
  EXPECT_EQ(ValueAt<double>(bytes, 64), 24);
  EXPECT_DOUBLE_EQ(ValueAt<double>(bytes, 72), sum);
  EXPECT_DOUBLE_EQ(ValueAt<double>(bytes, 80), sum / count);
  EXPECT_EQ(header.count, ValueAt<double>(bytes, 48));
  EXPECT_EQ(statistics.Get().WeightSum, count); // the object's accumulator keeps them
}

TEST_F(GridFilesTest, StripWriterMasksOutsideTheColumnRanges) {
  context_.rowRange = [](int row) -> std::pair<int, int> {
    return row == 3 ? std::pair{2, 3} : row == 4 ? std::pair{0, -1} : std::pair{1, 5};
  };
  Grid grid = WholeGrid([](int r, int c) { return r * 10.0 + c; });
  ASSERT_EQ(Capture([&] { WriteStripGrid(context_, "strip.asc", grid, true, false); }).second, -1);
  const std::string text = test::ReadWholeFile("strip.asc");
  EXPECT_TRUE(Contains(text, "\n-9999\t32\t33\t-9999\t-9999\n-9999\t-9999\t-9999\t-9999\t-9999\n"))
      << text;
  EXPECT_EQ(grid[3][1], -9999);
  EXPECT_EQ(grid[3][4], -9999);
  EXPECT_EQ(grid[3][3], 33);
  EXPECT_EQ(grid[2][5], 25);
}

TEST_F(GridFilesTest, WriterFailures) {
  Grid grid = WholeGrid([](int, int) { return 1.0; });
  auto [console, code] =
      Capture([&] { WriteGrid(context_, "no/such/dir/g.flt", grid, false, false); });
  EXPECT_EQ(code, 26);
  EXPECT_TRUE(Contains(console, "error creating no/such/dir/g.flt for writing in binary "
                                "mode."))
      << console;
  context_.outputDirectory = "missing/";
  std::tie(console, code) = Capture([&] { WriteGrid(context_, "g.asc", grid, true, false); });
  EXPECT_EQ(code, 26);
  EXPECT_TRUE(Contains(console, "error creating missing/g.asc for writing in text mode."))
      << console;
  if (test::FileExists("/dev/full")) {
    std::tie(console, code) = Capture([&] { WriteGrid(context_, "/dev/full", grid, false, true); });
    EXPECT_EQ(code, 18);
    EXPECT_TRUE(Contains(console, "write error /dev/full ! (18)")) << console;
  }
}

// Our files as other GIS software sees them: an ASCII grid written here has
// GDAL's size, georeference and statistics, and GDAL's ASCII grids are read.
TEST_F(GridFilesTest, InterchangeWithGdal) {
  if (std::system("gdalinfo --version > /dev/null 2>&1") != 0 ||
      std::system("gdal_translate --version > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "GDAL (gdal-bin) is not installed";
  context_.geometry.xllcorner = 3512345.5;
  Grid grid =
      WholeGrid([](int r, int c) { return r == 2 && c == 2 ? -9999.0 : r * 10.0 + c + 0.5; });
  GridFileHeader header;
  ASSERT_EQ(Capture([&] {
              WriteGrid(context_, "model.asc", grid, true, false);
              header = WriteGrid(context_, "model.dbl", grid, false, true);
            }).second,
            -1);
  ASSERT_EQ(std::system("gdalinfo -stats model.asc > gdalinfo.txt 2>&1"), 0);
  const std::string info = test::ReadWholeFile("gdalinfo.txt");
  EXPECT_TRUE(Contains(info, "Size is 5, 4")) << info;
  // The upper-left corner: yllcorner + nrows * cellsize.
  EXPECT_TRUE(Contains(info, "Origin = (3512345.500000000000000,5300.000000000000000)")) << info;
  EXPECT_TRUE(Contains(info, "Pixel Size = (25.000000000000000,-25.000000000000000)")) << info;
  char statistics[160];
  std::snprintf(statistics, sizeof statistics, "Minimum=%.3f, Maximum=%.3f, Mean=%.3f",
                header.minimum, header.maximum, header.mean);
  EXPECT_TRUE(Contains(info, statistics)) << statistics << "\n" << info;
  EXPECT_TRUE(Contains(info, "NoData Value=-9999")) << info;

  ASSERT_EQ(std::system("gdal_translate -q -of AAIGrid model.asc gdal.asc > /dev/null 2>&1"), 0);
  Grid read;
  const auto [console, code] = Read("gdal.asc", read);
  ASSERT_EQ(code, -1) << console << test::ReadWholeFile("gdal.asc");
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 5; ++c)
      EXPECT_EQ(read[r][c], grid[r][c]) << r << "," << c;
}

class HoleFillingTest : public GridFilesTest {
protected:
  HoleFillingTest() { context_.geometry = {12, 12, 0, 0, 1, -9999}; }

  // Zone grid valid only at the given cells.
  Grid ZoneAt(const std::vector<std::pair<int, int>> &cells) {
    Grid zone = WholeGrid([](int, int) { return -9999.0; });
    for (const auto &[r, c] : cells)
      zone[r][c] = 1;
    return zone;
  }

  std::pair<std::string, int> Fill(Grid &grid, const Grid &zone, HoleFilling filling,
                                   long *replaced = nullptr) {
    return Capture([&] {
      const long count = FillGridHoles(log_, 0, "holes.asc", grid, zone, G(), -9999, filling);
      if (replaced)
        *replaced = count;
    });
  }
};

TEST_F(HoleFillingTest, NearestValueWindowsWidenDownwards) {
  // Valid cells two rows below and three columns right (found at k = 2) and
  // two rows above and one column right (only at k = 3): the first wins.
  Grid grid = WholeGrid([](int, int) { return -9999.0; });
  grid[8][8] = 42;
  grid[4][7] = 17;
  const Grid zone = ZoneAt({{6, 5}});
  long replaced = 0;
  const auto [console, code] = Fill(grid, zone, {1, 0.0, true, false}, &replaced);
  ASSERT_EQ(code, -1) << console;
  EXPECT_EQ(replaced, 1);
  EXPECT_EQ(grid[6][5], 42);
  EXPECT_EQ(grid[8][8], -9999); // outside the zone grid, once a hole was filled
  EXPECT_TRUE(Contains(console, "y: 6 x: 5in holes.asc: -9999 replaced by 42")) << console;
  EXPECT_TRUE(Contains(console, "In holes.asc: 1 nodata values replaced!")) << console;
  const std::string rankLog = test::ReadWholeFile("modell_0.log");
  EXPECT_TRUE(Contains(rankLog, "y: 6 x: 5  in holes.asc -9999.000000 replaced by 42.000000!\n"))
      << rankLog;
  EXPECT_TRUE(Contains(rankLog, "in holes.asc: 1 nodata values replaced!\n\n")) << rankLog;

  Grid above = WholeGrid([](int, int) { return -9999.0; });
  above[4][6] = 17;
  ASSERT_EQ(Fill(above, zone, {1, 0.0, true, false}).second, -1);
  EXPECT_EQ(above[6][5], 17);
}

TEST_F(HoleFillingTest, HoleBeyondTheSearchReachStopsTheRun) {
  Grid grid = WholeGrid([](int, int) { return -9999.0; });
  const Grid zone = ZoneAt({{2, 2}});
  const auto [console, code] = Fill(grid, zone, {1, 0.0, true, false});
  EXPECT_EQ(code, 25);
  EXPECT_TRUE(Contains(console, "In holes.asc is a too big hole at x/y = 2/2!")) << console;
  EXPECT_TRUE(Contains(test::ReadWholeFile("modell_0.log"),
                       "In holes.asc is a too big hole at x/y = 2/2\n!\n"));
}

TEST_F(HoleFillingTest, ConstantFillAndCellsOutsideTheZone) {
  for (const HoleFilling filling :
       {HoleFilling{2, 7.5, true, false}, HoleFilling{1, 7.5, false, false}}) {
    Grid grid = WholeGrid([](int r, int c) { return r * 100.0 + c; });
    grid[3][3] = -9999;
    grid[5][5] = -9999; // a hole outside the zone stays
    Grid zone = WholeGrid([](int r, int) { return r <= 4 ? 1.0 : -9999.0; });
    ASSERT_EQ(Fill(grid, zone, filling).second, -1);
    EXPECT_EQ(grid[3][3], 7.5);
    EXPECT_EQ(grid[5][5], -9999);
    EXPECT_EQ(grid[6][6], -9999); // outside the zone: nodata once anything was filled
    EXPECT_EQ(grid[4][6], 406);
  }
  // Without a hole inside the zone the values outside it are kept.
  Grid grid = WholeGrid([](int r, int c) { return r * 100.0 + c; });
  Grid zone = WholeGrid([](int r, int) { return r <= 4 ? 1.0 : -9999.0; });
  long replaced = -1;
  ASSERT_EQ(Fill(grid, zone, {1, 0.0, true, false}, &replaced).second, -1);
  EXPECT_EQ(replaced, 0);
  EXPECT_EQ(grid[6][6], 606);
}

TEST_F(HoleFillingTest, ReadGridFillsFromTheZoneGridOfTheContext) {
  context_.geometry = {5, 4, 3500, 5200, 25, -9999};
  test::WriteFixture("holes.asc", "ncols 5\nnrows 4\nxllcorner 3500\nyllcorner 5200\n"
                                  "cellsize 25\nnodata_value -9999\n"
                                  "1 2 3 4 5\n6 -9999 8 9 10\n11 12 13 14 15\n16 17 18 19 20\n");
  Grid zone = WholeGrid([](int, int) { return 1.0; });
  context_.zoneGrid = &zone;
  Grid grid;
  GridReadOptions options;
  options.fillMode = 1;
  options.searchNeighbours = true;
  const auto [console, code] = Read("holes.asc", grid, options);
  ASSERT_EQ(code, -1) << console;
  EXPECT_EQ(grid[2][2], 2); // k = 1, row above, column c
}

} // namespace
} // namespace tavro
