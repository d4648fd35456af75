// Grid and stack files over the real decomposition: what rank 0 writes is
// read back by every process for its own cells, through both reading paths
// (rank 0 with a scatter, MPI-IO at each process's offsets) with identical
// results; binary stacks written by all processes together form the whole
// file; truncated files stop every process with the read error; a stack file
// that cannot be opened for writing is still read.
#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "raster/files/grid_file_context.h"
#include "raster/files/grid_format.h"
#include "raster/files/grid_reader.h"
#include "raster/files/grid_writer.h"
#include "raster/files/stack_files.h"
#include "raster/parallel/mpi_decomposition.h"
#include "raster/parallel/strip_exchange.h"
#include "support/decomposed_raster.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::ProcessCount;
using test::Rank;

constexpr int kCols = 7;
constexpr int kRows = 6;
constexpr double kNoData = -9999.0;
constexpr int kLevels = 3;

// Cells outside the zone grid: row 3 entirely, two cells of row 1, one of row 6.
bool Valid(int r, int c) { return r != 3 && !(r == 1 && c <= 2) && !(r == 6 && c == 7); }
// Exact in float and in six significant digits.
double Value(int r, int c) { return r * 100.0 + c + 0.25; }
double LevelValue(int r, int c, int k) { return r * 100.0 + c + k * 0.125; }

// Exit code thrown by call on this process, or -1; the console text is dropped.
int QuietExitCodeOf(const std::function<void()> &call) {
  return test::RunCapturingConsole(call).code;
}

enum class Format { Ascii, Float, Double };
const char *NameOf(Format format) {
  return format == Format::Ascii ? "ascii" : format == Format::Float ? "float" : "double";
}

class GridFilesMpiTest : public testing::Test {
protected:
  void SetUp() override {
    decomposition_ = test::DecomposeRaster(zone_, kCols, kRows, kNoData, Valid, log_);
    context_.geometry = {kCols, kRows, 3512345.5, 5612345.0, 25, kNoData};
    context_.firstRow = static_cast<int>(decomposition_.strip.first);
    context_.lastRow = static_cast<int>(decomposition_.strip.last);
    context_.rank = Rank();
    context_.processCount = ProcessCount();
    context_.moduleName = "test";
    context_.zoneGridName = "zones.asc";
    context_.zoneGrid = Rank() == 0 ? &zone_ : nullptr;
    context_.mpiRegions = &decomposition_.regions;
    context_.rowRange = [this](int row) -> std::pair<int, int> {
      const auto &range = decomposition_.rowRanges[static_cast<std::size_t>(row)];
      return {range.first, range.last};
    };
    context_.scatterGrid = [this](Grid &grid) { ScatterGrid(decomposition_, grid, log_); };
    context_.exchangeHalo = [this](Grid &grid) { ExchangeHalo(decomposition_, grid, log_); };
    context_.scatterStack = [this](Stack &stack, int) {
      ScatterStack(decomposition_, stack, log_);
    };
  }

  bool Owned(int r, int c) const { return decomposition_.regions[r][c] == Rank(); }

  // Rank 0 writes the whole grid of Value(r, c) (nodata outside the zone).
  void WriteWholeGrid(const std::string &name, Format format) {
    if (Rank() == 0) {
      Grid grid(1, kRows, kCols, kRows, log_);
      for (int r = 1; r <= kRows; ++r)
        for (int c = 1; c <= kCols; ++c)
          grid[r][c] = Valid(r, c) ? Value(r, c) : kNoData;
      ASSERT_EQ(QuietExitCodeOf([&] {
                  WriteGrid(context_, name, grid, format == Format::Ascii,
                            format == Format::Double);
                }),
                -1);
    }
    MPI_Barrier(MPI_COMM_WORLD);
  }

  // This process's strip stack with LevelValue on its own cells, nodata elsewhere.
  Stack StripStack() {
    Stack stack(decomposition_.strip.first, decomposition_.strip.last, kCols, kLevels, kRows, log_);
    for (int r = context_.firstRow; r <= context_.lastRow; ++r)
      for (int c = 1; c <= kCols; ++c)
        for (int k = 0; k <= kLevels; ++k)
          stack[r][c][k] = Owned(r, c) ? LevelValue(r, c, k) : kNoData;
    return stack;
  }

  void WriteStackFile(const std::string &name, Format format) {
    Stack strip = StripStack();
    if (format == Format::Ascii) {
      Stack whole = GatherStackForOutput(decomposition_, strip, log_);
      ASSERT_EQ(QuietExitCodeOf([&] { WriteStack(context_, name, whole, kLevels, true, false); }),
                -1);
    } else {
      ASSERT_EQ(QuietExitCodeOf([&] {
                  WriteStack(context_, name, strip, kLevels, false, format == Format::Double);
                }),
                -1);
    }
    MPI_Barrier(MPI_COMM_WORLD);
  }

  void Truncate(const std::string &name, int bytes) {
    if (Rank() == 0)
      std::filesystem::resize_file(name, std::filesystem::file_size(name) - bytes);
    MPI_Barrier(MPI_COMM_WORLD);
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  Grid zone_;
  MpiDecomposition decomposition_;
  GridFileContext context_{log_};
};

TEST_F(GridFilesMpiTest, GridsRoundTripThroughBothReadingPaths) {
  for (const Format format : {Format::Ascii, Format::Float, Format::Double}) {
    SCOPED_TRACE(NameOf(format));
    const std::string name = std::string("grid.") + NameOf(format);
    WriteWholeGrid(name, format);

    Grid strip;
    GridFileHeader header;
    ASSERT_EQ(QuietExitCodeOf([&] { header = ReadGrid(context_, name, strip, {}); }), -1);
    EXPECT_EQ(header.ncols, kCols);
    EXPECT_EQ(header.xllcorner, 3512345.0); // read back exactly, kept rounded down
    EXPECT_EQ(header.yllcorner, 5612345.0);

    GridReadOptions whole;
    whole.keepWholeOnRoot = true;
    Grid kept;
    ASSERT_EQ(QuietExitCodeOf([&] { ReadGrid(context_, name, kept, whole); }), -1);

    for (int r = context_.firstRow; r <= context_.lastRow; ++r)
      for (int c = 1; c <= kCols; ++c)
        if (Owned(r, c)) {
          EXPECT_EQ(strip[r][c], Value(r, c)) << r << "," << c;
          EXPECT_EQ(std::memcmp(&strip[r][c], &kept[r][c], sizeof(double)), 0) << r << "," << c;
        }
    if (Rank() == 0) {
      EXPECT_EQ(kept.FirstRow(), 1);
      for (int r = 1; r <= kRows; ++r)
        for (int c = 1; c <= kCols; ++c)
          EXPECT_EQ(kept[r][c], Valid(r, c) ? Value(r, c) : kNoData) << r << "," << c;
    } else {
      EXPECT_FALSE(kept.HasRow(1) && context_.firstRow > 1);
    }
  }
  if (Rank() == 0) {
    const std::string text = test::ReadWholeFile("grid.ascii");
    EXPECT_EQ(text.substr(0, 54), "ncols\t7\nnrows\t6\nxllcorner\t3512345.5\nyllcorner\t5612345\n");
  }
}

TEST_F(GridFilesMpiTest, HaloRowsHoldTheNeighboursValues) {
  WriteWholeGrid("halo.dbl", Format::Double);
  for (const bool mpiIo : {true, false}) {
    GridReadOptions options;
    options.withHalo = true;
    options.keepWholeOnRoot = !mpiIo;
    Grid grid;
    ASSERT_EQ(QuietExitCodeOf([&] { ReadGrid(context_, "halo.dbl", grid, options); }), -1);
    for (const HaloRecord &record : decomposition_.haloReceive)
      for (int c = record.firstColumn; c < record.firstColumn + record.count; ++c)
        EXPECT_EQ(grid[record.row][c], Value(record.row, c)) << record.row << "," << c;
  }
}

TEST_F(GridFilesMpiTest, TruncatedBinaryGridStopsEveryProcess) {
  for (const Format format : {Format::Float, Format::Double}) {
    SCOPED_TRACE(NameOf(format));
    const std::string name = std::string("cut.") + NameOf(format);
    WriteWholeGrid(name, format);
    Truncate(name, 4);
    for (const bool keepWhole : {false, true}) {
      GridReadOptions options;
      options.keepWholeOnRoot = keepWhole;
      Grid grid;
      EXPECT_EQ(QuietExitCodeOf([&] { ReadGrid(context_, name, grid, options); }), 22)
          << "keepWholeOnRoot " << keepWhole;
    }
  }
  // The header's size is checked against the file before anything is read.
  if (Rank() == 0) {
    const std::string diagnostics = test::ReadWholeFile("Tavro_Diag_0.xml");
    EXPECT_NE(diagnostics.find("error reading cut.float: the header announces 6 rows and 7 "
                               "columns, which need at least 216 bytes, but the file holds 212 "
                               "bytes"),
              std::string::npos);
    EXPECT_NE(diagnostics.find("error reading cut.double: the header announces 6 rows and 7 "
                               "columns, which need at least 432 bytes, but the file holds 428 "
                               "bytes"),
              std::string::npos);
  }
}

TEST_F(GridFilesMpiTest, StacksRoundTripInAllFormats) {
  for (const Format format : {Format::Ascii, Format::Float, Format::Double}) {
    SCOPED_TRACE(NameOf(format));
    const std::string name = std::string("stack.") + NameOf(format);
    if (format != Format::Ascii) // an older, longer file leaves nothing behind
      test::WriteFixture(name, std::string(4096, 'x'));
    WriteStackFile(name, format);

    if (Rank() == 0 && format != Format::Ascii) {
      const std::string bytes = test::ReadWholeFile(name);
      const std::size_t size = format == Format::Double ? 8 : 4;
      ASSERT_EQ(bytes.size(), (12 + kRows * kCols * (kLevels + 1)) * size);
      for (int r = 1; r <= kRows; ++r)
        for (int c = 1; c <= kCols; ++c)
          for (int k = 0; k <= kLevels; ++k) {
            const auto index = StackElementIndex(r, c, k, kCols, kLevels);
            double value = 0;
            if (size == 8) {
              std::memcpy(&value, bytes.data() + index * 8, 8);
            } else {
              float single = 0;
              std::memcpy(&single, bytes.data() + index * 4, 4);
              value = single;
            }
            EXPECT_EQ(value, Valid(r, c) ? LevelValue(r, c, k) : kNoData) << r << "," << c;
          }
    }

    for (const bool keepWhole : {false, true}) {
      Stack stack;
      StackReadResult result;
      ASSERT_EQ(QuietExitCodeOf([&] { result = ReadStack(context_, name, stack, keepWhole); }), -1);
      EXPECT_EQ(result.levels, kLevels);
      for (int r = context_.firstRow; r <= context_.lastRow; ++r)
        for (int c = 1; c <= kCols; ++c)
          for (int k = 0; k <= kLevels; ++k) {
            if (Owned(r, c)) {
              EXPECT_EQ(stack[r][c][k], LevelValue(r, c, k)) << r << "," << c << "," << k;
            } else if (keepWhole && Rank() != 0 && k > 0) {
              EXPECT_EQ(stack[r][c][k], kNoData) << r << "," << c << "," << k;
            }
          }
      if (keepWhole && Rank() == 0) {
        ASSERT_TRUE(stack.HasRow(1) && stack.HasRow(kRows));
        EXPECT_EQ(stack[1][3][2], LevelValue(1, 3, 2));
        EXPECT_EQ(stack[3][1][0], kNoData);
      }
    }
  }
  if (Rank() == 0) {
    const std::string text = test::ReadWholeFile("stack.ascii");
    EXPECT_EQ(text.substr(0, 48), "stack_ncols\t7\nnrows\t6\nxll\t3512345.5\nyll\t5612345\n");
  }
}

TEST_F(GridFilesMpiTest, TruncatedStackStopsEveryProcess) {
  WriteStackFile("cut.stack", Format::Double);
  Truncate("cut.stack", 8);
  for (const bool keepWhole : {false, true}) {
    Stack stack;
    EXPECT_EQ(QuietExitCodeOf([&] { ReadStack(context_, "cut.stack", stack, keepWhole); }), 22)
        << "keepWholeOnRoot " << keepWhole;
  }
  if (Rank() == 0) {
    EXPECT_NE(test::ReadWholeFile("Tavro_Diag_0.xml")
                  .find("error reading cut.stack: the header announces 6 rows and 7 columns of 4 "
                        "values per cell (levels 0 to 3), which need at least 1440 bytes, but the "
                        "file holds 1432 bytes"),
              std::string::npos);
  }
}

// A NaN or an infinity in a cell of the catchment stops the read of a grid or
// stack on every process with 22, naming the file, the first such cell (and
// level); in a cell outside the catchment it is read as it stands.
TEST_F(GridFilesMpiTest, NonFiniteValuesInValidCellsAreRefused) {
  struct Case {
    int row, column, level;
    const char *token; // the ASCII spelling; binary files get the value
    double value;
    std::string entry; // empty: the file reads
  };
  const double nan = std::nan("");
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
      {2, 4, 2, "nan", nan, "the value at row 2, col 4"},
      {5, 1, 0, "-inf", -inf, "the value at row 5, col 1"},
      {6, 6, 3, "inf", inf, "the value at row 6, col 6"},
      {3, 2, 1, "nan", nan, ""}, // row 3 lies outside the zone grid
      {1, 1, 0, "inf", inf, ""},
  };
  for (const Case &c : cases) {
    const std::string where = std::to_string(c.row) + "," + std::to_string(c.column);
    {
      std::string text = "ncols 7\nnrows 6\nxllcorner 3512345.5\nyllcorner 5612345\n"
                         "cellsize 25\nnodata_value -9999\n";
      for (int r = 1; r <= kRows; ++r)
        for (int col = 1; col <= kCols; ++col) {
          text += r == c.row && col == c.column ? std::string(c.token)
                  : Valid(r, col)               ? std::to_string(Value(r, col))
                                                : std::string("-9999");
          text += col == kCols ? "\n" : " ";
        }
      test::WriteFixture("bad.asc", text);
    }
    WriteStackFile("bad.stack", Format::Double);
    {
      std::string bytes = test::ReadWholeFile("bad.stack");
      std::memcpy(bytes.data() + StackElementIndex(c.row, c.column, c.level, kCols, kLevels) * 8,
                  &c.value, 8);
      test::WriteFixture("bad.stack", bytes);
    }
    MPI_Barrier(MPI_COMM_WORLD);
    const int expected = c.entry.empty() ? -1 : 22;
    Grid grid;
    const test::CallOutcome read =
        test::RunCapturingConsole([&] { ReadGrid(context_, "bad.asc", grid, {}); });
    EXPECT_EQ(read.code, expected) << where;
    if (Rank() == 0 && !c.entry.empty()) {
      EXPECT_NE(read.console.find("error reading bad.asc: " + c.entry + " is " + c.token +
                                  ", not a finite number"),
                std::string::npos)
          << where << "\n"
          << read.console;
    }
    for (const bool keepWhole : {false, true}) {
      Stack stack;
      const test::CallOutcome stackRead =
          test::RunCapturingConsole([&] { ReadStack(context_, "bad.stack", stack, keepWhole); });
      EXPECT_EQ(stackRead.code, expected) << where << " keepWholeOnRoot " << keepWhole;
      if (Rank() == 0 && !c.entry.empty()) {
        EXPECT_NE(stackRead.console.find("error reading bad.stack: " + c.entry + ", level " +
                                         std::to_string(c.level) + " is " + c.token +
                                         ", not a finite number"),
                  std::string::npos)
            << where << "\n"
            << stackRead.console;
      }
    }
  }
}

// Makes a file impossible to open for writing, even for root, while it lives.
class WriteProtection {
public:
  explicit WriteProtection(const std::string &name) : name_(name) {
    if (Rank() == 0)
      protected_ = Set(true);
    MPI_Bcast(&protected_, 1, MPI_CXX_BOOL, 0, MPI_COMM_WORLD);
  }
  ~WriteProtection() {
    MPI_Barrier(MPI_COMM_WORLD);
    if (Rank() == 0 && protected_)
      Set(false);
  }
  bool Active() const { return protected_; }

private:
  bool Set(bool on) {
    if (geteuid() != 0) {
      std::filesystem::permissions(name_, on ? std::filesystem::perms::owner_read
                                             : std::filesystem::perms::owner_all);
      return true;
    }
    const int fd = open(name_.c_str(), O_RDONLY);
    if (fd < 0)
      return false;
    int flags = 0;
    bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    close(fd);
    return done;
  }

  std::string name_;
  bool protected_ = false;
};

TEST_F(GridFilesMpiTest, ReadOnlyStackFileIsRead) {
  WriteStackFile("readonly.stack", Format::Float);
  const WriteProtection protection("readonly.stack");
  if (!protection.Active())
    GTEST_SKIP() << "cannot make a file read-only for this user here";
  Stack stack;
  ASSERT_EQ(QuietExitCodeOf([&] { ReadStack(context_, "readonly.stack", stack, false); }), -1);
  for (int r = context_.firstRow; r <= context_.lastRow; ++r)
    for (int c = 1; c <= kCols; ++c)
      if (Owned(r, c)) {
        EXPECT_EQ(stack[r][c][kLevels], LevelValue(r, c, kLevels));
      }
}

} // namespace
} // namespace tavro
