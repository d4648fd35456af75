// The block parse of ASCII grid cells: every value bit-equal to strtod's and
// to the one-token-at-a-time reader's, for any thread count, block size and
// layout of the text (tabs, CRLF, rows over several lines, no final newline);
// the first cell that cannot be read, wherever the blocks are cut; and the
// grid files of the tests and the example read as before.
#include "raster/files/ascii_cell_parse.h"
#include "raster/files/ascii_grid_cells.h"
#include "raster/files/ascii_token_reader.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace tavro {
namespace {

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePointer = std::unique_ptr<std::FILE, FileCloser>;

// Cells of a grid held as plain rows, and what a reader left in them.
struct Cells {
  Cells(int nrows, int ncols)
      : ncols(ncols), values(static_cast<std::size_t>(nrows) * (ncols + 1), -1.5),
        rows(static_cast<std::size_t>(nrows) + 1) {
    for (int r = 1; r <= nrows; ++r)
      rows[static_cast<std::size_t>(r)] =
          values.data() + static_cast<std::size_t>(r - 1) * (ncols + 1);
  }
  CellTarget Target() const {
    return {rows.data(), ncols, static_cast<std::int64_t>(rows.size() - 1) * ncols};
  }
  std::vector<std::uint64_t> Bits() const {
    std::vector<std::uint64_t> bits;
    for (std::size_t r = 1; r < rows.size(); ++r)
      for (int c = 1; c <= ncols; ++c)
        bits.push_back(std::bit_cast<std::uint64_t>(rows[r][c]));
    return bits;
  }

  int ncols;
  std::vector<double> values;
  std::vector<double *> rows;
};

// The reference: the text split at white space, each token through strtod.
std::vector<std::uint64_t> StrtodBits(const std::string &text, std::size_t count) {
  std::istringstream stream(text);
  std::vector<std::uint64_t> bits;
  std::string token;
  while (bits.size() < count && stream >> token)
    bits.push_back(std::bit_cast<std::uint64_t>(std::strtod(token.c_str(), nullptr)));
  return bits;
}

// The reader the block parse replaced: one token after another from the file.
std::vector<std::uint64_t> TokenReaderBits(const std::string &path, std::size_t skipTokens,
                                           std::size_t count) {
  FilePointer file(std::fopen(path.c_str(), "rb"));
  AsciiTokenReader reader(file.get());
  for (std::size_t i = 0; i < skipTokens; ++i)
    reader.Next();
  std::vector<std::uint64_t> bits;
  while (bits.size() < count)
    if (const auto value = reader.NextNumber())
      bits.push_back(std::bit_cast<std::uint64_t>(*value));
    else
      break;
  return bits;
}

// Thread counts and chunk sizes: blocks cut inside tokens, one thread's pieces
// and several threads' pieces of one block, few enough blocks for a slow machine.
struct Blocking {
  int threads;
  std::size_t chunk;
};
const std::vector<Blocking> kBlockings = {
    {1, 7}, {1, std::size_t{1} << 20}, {3, 64}, {3, std::size_t{1} << 20}};

// Runs the block reader over a file whose first pendingBytes bytes come from
// the caller's buffer, with threads threads and blocks of chunk bytes each.
std::optional<std::int64_t> ReadBlocks(const std::string &path, std::size_t pendingBytes,
                                       const Cells &cells, int threads, std::size_t chunk) {
  const std::string text = test::ReadWholeFile(path);
  FilePointer file(std::fopen(path.c_str(), "rb"));
  std::fseek(file.get(), static_cast<long>(pendingBytes), SEEK_SET);
  const int before = omp_get_max_threads();
  omp_set_num_threads(threads);
  const auto unread = ReadAsciiGridCells(file.get(), std::string_view(text).substr(0, pendingBytes),
                                         cells.Target(), {chunk, 0});
  omp_set_num_threads(before);
  return unread;
}

// Tokens where from_chars and strtod part ways or that sit at the edges of
// the double range, and the common forms of a grid file.
const std::vector<std::string> kEdgeTokens = {
    "250.274",
    "-9999",
    "0.1",
    "3512345.5",
    "-0",
    "+5",
    ".5",
    "5.",
    "1E5",
    "1e-5",
    "2.5E+3",
    "1e-320",
    "4.9406564584124654e-324",
    "2.4703282292062327e-324",
    "2.2250738585072011e-308",
    "1.7976931348623157e308",
    "1e400",
    "-1e400",
    "1e-400",
    "inf",
    "-inf",
    "INF",
    "Infinity",
    "nan",
    "-nan",
    "NAN",
    "nan(123)",
    "-nan(5)",
    "0x1p3",
    "0X1.8P1",
    "+.5e-3",
    "-.0",
    "3.14159265358979323846264338327950288419716939937510582097494459230781640628620899",
    "9007199254740993",
    "2.00000000000000011102230246251565404236316680908203125",
    "0.000000000000000000000000000000000000000000001234567890123456789012345678901234",
    "123456789012345678901234567890",
    std::string(700, '7') + "e-700",
    "00000000000000000001"};

// The edge tokens, cycled, as a grid text in one of several layouts.
std::string GridText(int nrows, int ncols, int layout) {
  std::string text;
  std::size_t next = 0;
  for (int r = 1; r <= nrows; ++r) {
    for (int c = 1; c <= ncols; ++c) {
      const std::string &token = kEdgeTokens[next++ % kEdgeTokens.size()];
      switch (layout) {
      case 0: // tabs, LF, no final newline
        text += (c > 1 ? "\t" : "") + token;
        break;
      case 1: // CRLF and runs of mixed white space
        text += (c > 1 ? " \t  " : "") + token;
        break;
      case 2: // a row over several lines, and two rows on one line
        text += token + (c % 3 == 0 ? "\n" : r % 2 == 1 && c == ncols ? " " : "\v\f ");
        break;
      }
    }
    if (layout == 0 && r < nrows)
      text += "\n";
    if (layout == 1)
      text += "\r\n";
  }
  return text;
}

TEST(AsciiGridCells, EdgeValuesEqualStrtodAndTheTokenReaderBitForBit) {
  const int nrows = 13;
  const int ncols = 11;
  const auto count = static_cast<std::size_t>(nrows * ncols);
  for (int layout = 0; layout < 3; ++layout) {
    const std::string text = GridText(nrows, ncols, layout);
    test::WriteFixture("edges.asc", text);
    const auto reference = StrtodBits(text, count);
    ASSERT_EQ(reference.size(), count);
    EXPECT_EQ(TokenReaderBits("edges.asc", 0, count), reference) << "layout " << layout;
    for (const auto [threads, chunk] : kBlockings)
      for (std::size_t pending : {std::size_t{0}, std::size_t{5}, text.size() / 2}) {
        Cells cells(nrows, ncols);
        EXPECT_EQ(ReadBlocks("edges.asc", pending, cells, threads, chunk), std::nullopt);
        EXPECT_EQ(cells.Bits(), reference)
            << "layout " << layout << ", " << threads << " threads, chunk " << chunk << ", pending "
            << pending;
      }
  }
}

TEST(AsciiGridCells, FirstUnreadableCellWhereverTheBlocksAreCut) {
  struct Case {
    const char *what;
    std::string text;
    std::optional<std::int64_t> unread;
  };
  const std::string overlong(MaxNumberTokenLength + 1, '1');
  const std::string longest(MaxNumberTokenLength, '0');
  const std::vector<Case> cases = {
      {"all cells", "1 2 3\n4 5 6\n", std::nullopt},
      {"a bad value", "1 2 3\n4 x 6\n", 4},
      {"the first of two bad values", "1 2 y\n4 x 6\n", 2},
      {"a value read in part", "1 2 3\n4 5e 6\n", 4},
      {"a short file", "1 2 3\n4", 4},
      {"an empty file", "", 0},
      {"white space alone", " \r\n\t", 0},
      {"bad values after the last cell", "1 2 3\n4 5 6\nx y\n", std::nullopt},
      {"more values than cells", "1 2 3 4 5 6 7 8 9", std::nullopt},
      {"a token longer than any number", "1 2 " + overlong + " 4 5 6", 2},
      {"an overlong token at the end", "1 2 3 4 5 " + overlong, 5},
      {"the longest number", "1 2 3 4 " + longest + " 6", std::nullopt},
      {"a NUL inside a value", std::string("1 2 3 4 5\0 6", 11), 4},
  };
  for (const Case &c : cases) {
    test::WriteFixture("cells.asc", c.text);
    for (const auto [threads, chunk] : kBlockings) {
      Cells cells(2, 3);
      EXPECT_EQ(ReadBlocks("cells.asc", 0, cells, threads, chunk), c.unread)
          << c.what << ", " << threads << " threads, chunk " << chunk;
    }
  }
}

TEST(AsciiCellParse, TokenCountsAndSplits) {
  for (const auto &[text, count] : std::vector<std::pair<std::string, std::int64_t>>{
           {"", 0},
           {" ", 0},
           {"1", 1},
           {" 1", 1},
           {"1 ", 1},
           {"1 2\n3\r\n4\t5\v6\f7", 7},
           {std::string(1000, ' ') + "x" + std::string(300, 'y') + " z", 2}})
    EXPECT_EQ(CountCellTokens(text), count) << text;

  const std::string text = "11 22\n33 44 55\n66";
  EXPECT_EQ(CellTokenSplit(text, 0, 100), 6u);   // after the first line end
  EXPECT_EQ(CellTokenSplit(text, 6, 100), 15u);  // a split at a line start keeps to lines
  EXPECT_EQ(CellTokenSplit(text, 7, 3), 9u);     // no line end within reach: the next space
  EXPECT_EQ(CellTokenSplit(text, 16, 100), 17u); // no space left: the end
  EXPECT_EQ(CellTokenSplit(text, 40, 100), 17u);
}

TEST(AsciiCellParse, StopsAtTheLastCellAndAtTheFailedOne) {
  Cells cells(2, 2);
  const CellParse full = ParseCellTokens("1 2 3 4 x", 0, cells.Target());
  EXPECT_FALSE(full.failed);
  EXPECT_EQ(full.next, 4);
  EXPECT_EQ(cells.rows[2][2], 4.0);

  const CellParse fromThird = ParseCellTokens("7 bad 9", 2, cells.Target());
  EXPECT_TRUE(fromThird.failed);
  EXPECT_EQ(fromThird.next, 3);
  EXPECT_EQ(cells.rows[2][1], 7.0);
}

// Every ASCII grid the tests and the example ship: the block reader gives the
// values the one-token-at-a-time reader gave, bit for bit.
TEST(AsciiGridCells, ShippedGridsReadAsBefore) {
  const std::filesystem::path source = std::filesystem::path(__FILE__).parent_path();
  std::vector<std::filesystem::path> grids;
  for (const auto &folder : {source / "../../data/setup", source / "../../../examples",
                             source / "../../../../shared/data/upper-moselle/grids"})
    if (std::filesystem::is_directory(folder))
      for (const auto &entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".asc")
          grids.push_back(entry.path());
  ASSERT_FALSE(grids.empty());
  for (const auto &path : grids) {
    FilePointer file(std::fopen(path.c_str(), "rb"));
    AsciiTokenReader header(file.get());
    std::vector<double> values;
    for (int i = 1; i <= 6; ++i) {
      header.Next();
      values.push_back(header.NextNumber().value_or(0));
    }
    const auto ncols = static_cast<int>(values[0]);
    const auto nrows = static_cast<int>(values[1]);
    const auto count = static_cast<std::size_t>(nrows) * static_cast<std::size_t>(ncols);
    for (int threads : {1, 3}) {
      Cells cells(nrows, ncols);
      const int before = omp_get_max_threads();
      omp_set_num_threads(threads);
      FilePointer again(std::fopen(path.c_str(), "rb"));
      std::fseek(again.get(), std::ftell(file.get()), SEEK_SET);
      const auto unread = ReadAsciiGridCells(again.get(), header.Pending(), cells.Target(),
                                             {std::size_t{4} << 10, 0});
      omp_set_num_threads(before);
      EXPECT_EQ(unread, std::nullopt) << path;
      EXPECT_EQ(cells.Bits(), TokenReaderBits(path.string(), 12, count)) << path;
    }
  }
}

} // namespace
} // namespace tavro
