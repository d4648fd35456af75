// The GIF decoder against two independent encoders (GDAL and ImageMagick
// fixtures, whose index matrices GDAL reads), against GDAL at run time,
// against the tests' own LZW encoder (full tables with and without a clear
// code, strings longer than a row, pixels beyond the screen), and on
// defective files: named defects, every truncation and seeded mutations of a
// valid file end in a decode or a GifFormatError, never out of bounds.
#include "raster/files/gif_image_reader.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "support/gif_test_files.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::Bytes;

std::string FixtureDirectory() {
  const std::string file = __FILE__;
  return file.substr(0, file.find_last_of('/')) + "/../../data/gif/";
}

// An index matrix: width, height and the cells row by row from the top.
struct Indices {
  int width = 0;
  int height = 0;
  std::vector<double> cells;
  double At(int r, int c) const {
    return cells[static_cast<std::size_t>((r - 1) * width + (c - 1))];
  }
};

// The numbers of a ".indices" fixture or of a GDAL AAIGrid without its
// keyword words: width, height, then the cells.
Indices ReadIndices(const std::string &path, bool aaigrid) {
  std::ifstream in(path);
  Indices indices;
  std::string word;
  if (aaigrid) {
    // Keyword lines (five, or six with a nodata value) until the cells.
    std::string line;
    while (std::getline(in, line) && !line.empty() && std::isalpha(line[0])) {
      std::istringstream pair(line);
      double value = 0;
      pair >> word >> value;
      if (word == "ncols")
        indices.width = static_cast<int>(value);
      if (word == "nrows")
        indices.height = static_cast<int>(value);
    }
    std::istringstream first(line);
    double value = 0;
    while (first >> value)
      indices.cells.push_back(value);
  } else {
    in >> indices.width >> indices.height;
  }
  double value = 0;
  while (in >> value)
    indices.cells.push_back(value);
  return indices;
}

Bytes ReadBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class GifImageReaderTest : public testing::Test {
protected:
  // Decodes through the file interface: screen size, matrix, decode.
  Grid DecodeFile(const std::string &path, int &width, int &height) {
    GifImageReader reader(path);
    reader.GetScreenSize(width, height);
    Grid matrix(1, height, width, height, log);
    reader.Decode(matrix);
    return matrix;
  }

  Grid DecodeBytes(const Bytes &bytes, int width, int height) {
    Grid matrix(1, height, width, height, log);
    GifImageReader::DecodeBytes(bytes, matrix);
    return matrix;
  }

  // The reason a defective file gives, or "decoded".
  std::string Reason(const Bytes &bytes) {
    int width = 0;
    int height = 0;
    try {
      GifImageReader::ScreenSizeOfBytes(bytes, width, height);
      Grid matrix(1, height, width, height, log);
      GifImageReader::DecodeBytes(bytes, matrix);
    } catch (const GifFormatError &error) {
      return error.what();
    }
    return "decoded";
  }

  void ExpectIndices(const Grid &matrix, const Indices &expected, const std::string &what) {
    ASSERT_EQ(expected.cells.size(), static_cast<std::size_t>(expected.width * expected.height))
        << what;
    for (int r = 1; r <= expected.height; ++r)
      for (int c = 1; c <= expected.width; ++c) {
        const double index = expected.At(r, c);
        ASSERT_EQ(matrix[r][c], index == 255 ? -9999.0 : index)
            << what << " row " << r << " column " << c;
      }
  }

  DiagnosticsLog log{"", 4};
};

TEST_F(GifImageReaderTest, FixturesOfTwoEncodersDecodeToTheIndicesGdalReads) {
  // 2, 16 and 256 colours, comment and application extensions, a local
  // colour table, and noise that fills the table (12-bit codes, clear codes).
  for (const char *name : {"gdal_2", "gdal_16", "gdal_16_local", "gdal_256", "gdal_noise", "im_2",
                           "im_16", "im_16_extensions", "im_256", "im_noise"}) {
    const Indices expected = ReadIndices(FixtureDirectory() + name + ".indices", false);
    int width = 0;
    int height = 0;
    const Grid matrix = DecodeFile(FixtureDirectory() + name + ".gif", width, height);
    EXPECT_EQ(width, expected.width) << name;
    EXPECT_EQ(height, expected.height) << name;
    ExpectIndices(matrix, expected, name);
  }
}

TEST_F(GifImageReaderTest, ExtensionsDecodeAsWithoutThem) {
  int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
  const Grid plain = DecodeFile(FixtureDirectory() + "im_16.gif", w1, h1);
  const Grid extended = DecodeFile(FixtureDirectory() + "im_16_extensions.gif", w2, h2);
  ASSERT_EQ(w1, w2);
  ASSERT_EQ(h1, h2);
  for (int r = 1; r <= h1; ++r)
    for (int c = 1; c <= w1; ++c)
      ASSERT_EQ(plain[r][c], extended[r][c]);
}

TEST_F(GifImageReaderTest, NoiseEncodedByGdalAtRunTimeDecodesAsGdalReadsIt) {
  if (std::system("gdal_translate --version > /dev/null 2>&1") != 0)
    GTEST_SKIP() << "GDAL (gdal-bin) is not installed";
  // 211 x 157 noise over 256 levels: the table fills many times.
  std::mt19937 random(20240611);
  std::ostringstream grid;
  grid << "ncols 211\nnrows 157\nxllcorner 0\nyllcorner 0\ncellsize 1\n";
  for (int r = 0; r < 157; ++r) {
    for (int c = 0; c < 211; ++c)
      grid << (c ? " " : "") << random() % 256;
    grid << "\n";
  }
  test::WriteFixture("noise.asc", grid.str());
  ASSERT_EQ(std::system("gdal_translate -q -ot Byte -of GIF noise.asc noise.gif > /dev/null 2>&1"),
            0);
  // A GIF has no georeference: GDAL places it with rows going south and
  // AAIGrid would then write the bottom row first, unless it is north-up.
  ASSERT_EQ(std::system("gdal_translate -q -a_ullr 0 157 211 0 -of AAIGrid noise.gif gdal.asc "
                        "> /dev/null 2>&1"),
            0);
  int width = 0;
  int height = 0;
  const Grid matrix = DecodeFile("noise.gif", width, height);
  ExpectIndices(matrix, ReadIndices("gdal.asc", true), "noise.gif");
}

TEST_F(GifImageReaderTest, OwnEncoderRoundTrips) {
  struct Case {
    const char *what;
    int width;
    int height;
    int minimumCodeSize;
    bool clearWhenFull;
    bool noise;
  };
  // A full table kept to the end is a deferred clear, which is legal; a
  // uniform image makes strings longer than a row and codes that are the
  // next free entry.
  for (const Case c : {Case{"noise, clear codes", 173, 119, 8, true, true},
                       Case{"noise, deferred clear", 173, 119, 8, false, true},
                       Case{"two colours", 61, 47, 2, true, true},
                       Case{"one colour, long strings", 40, 300, 2, false, false},
                       Case{"code size 11", 67, 71, 11, true, true}}) {
    std::mt19937 random(7);
    Bytes pixels(static_cast<std::size_t>(c.width * c.height));
    const int colours = std::min(1 << c.minimumCodeSize, 256);
    for (auto &p : pixels)
      p = c.noise ? static_cast<std::uint8_t>(random() % colours) : 1;
    const Bytes file = test::GifFile(c.width, c.height, c.minimumCodeSize,
                                     test::EncodeLzw(pixels, c.minimumCodeSize, c.clearWhenFull));
    const Grid matrix = DecodeBytes(file, c.width, c.height);
    for (int r = 1; r <= c.height; ++r)
      for (int col = 1; col <= c.width; ++col) {
        const double p = pixels[static_cast<std::size_t>((r - 1) * c.width + col - 1)];
        ASSERT_EQ(matrix[r][col], p == 255 ? -9999.0 : p) << c.what << " " << r << "," << col;
      }
  }
}

TEST_F(GifImageReaderTest, IndexTwoHundredFiftyFiveIsNodata) {
  const Bytes pixels{0, 254, 255, 7, 255, 1};
  const Grid matrix = DecodeBytes(test::GifFile(3, 2, 8, test::EncodeLzw(pixels, 8, true)), 3, 2);
  EXPECT_EQ(matrix[1][1], 0.0);
  EXPECT_EQ(matrix[1][2], 254.0);
  EXPECT_EQ(matrix[1][3], -9999.0);
  EXPECT_EQ(matrix[2][1], 7.0);
  EXPECT_EQ(matrix[2][2], -9999.0);
  EXPECT_EQ(matrix[2][3], 1.0);
}

TEST_F(GifImageReaderTest, PixelsBeyondTheScreenAreDropped) {
  // Data for 5 x 4 pixels behind a screen of 5 x 3: the matrix holds the
  // first three rows; the fourth goes nowhere.
  Bytes pixels(20);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = static_cast<std::uint8_t>(i % 4);
  Bytes file = test::GifFile(5, 4, 2, test::EncodeLzw(pixels, 2, true));
  file[8] = 3; // screen height
  const Grid matrix = DecodeBytes(file, 5, 3);
  for (int r = 1; r <= 3; ++r)
    for (int c = 1; c <= 5; ++c)
      EXPECT_EQ(matrix[r][c], static_cast<double>(((r - 1) * 5 + c - 1) % 4));
}

TEST_F(GifImageReaderTest, DefectsAreNamed) {
  auto codes = [](std::initializer_list<std::pair<int, int>> list) {
    test::CodeWriter writer;
    for (const auto &[code, bits] : list)
      writer.Put(code, bits);
    Bytes data{2};
    const Bytes blocks = writer.SubBlocks();
    data.insert(data.end(), blocks.begin(), blocks.end());
    return test::GifFile(2, 2, 2, data);
  };
  const Bytes valid = test::GifFile(2, 2, 2, test::EncodeLzw({0, 1, 2, 3}, 2, true));
  Bytes wide = valid;
  wide[6] = 0x01; // width 16385
  wide[7] = 0x40;
  Bytes empty = valid;
  empty[8] = 0; // height 0
  Bytes codeSize = valid;
  codeSize[6 + 7 + 12 + 10] = 12; // minimum code size byte behind the descriptor
  Bytes codeSizeOne = valid;
  codeSizeOne[6 + 7 + 12 + 10] = 1;
  Bytes label = valid;
  label.insert(label.begin() + 25, {0x21, 0xF8, 0x00});
  Bytes block = valid;
  block.insert(block.begin() + 25, {0x00});
  const Bytes graphicControl = test::GifFile(2, 2, 2, test::EncodeLzw({0, 1, 2, 3}, 2, true),
                                             Bytes{0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x07});
  struct Case {
    const char *what;
    Bytes file;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"valid", valid, "decoded"},
      {"screen too wide", wide, "a screen of 16385 x 2 pixels (0 or above 16384 is refused)"},
      {"screen without rows", empty, "a screen of 2 x 0 pixels (0 or above 16384 is refused)"},
      {"code size", codeSize, "a minimum code size of 12 (2 to 11 are possible)"},
      {"code size one", codeSizeOne, "a minimum code size of 1 (2 to 11 are possible)"},
      {"label F8", label, "invalid extension type ID \"0xF8\" found"},
      {"block 0", block, "invalid extension type ID \"0x0\" found"},
      {"graphic control", graphicControl,
       "Graphics COntrol extension found, but block end not found as 0x00 after 4 bytes\n"},
      // clear, 0, then 7 while 6 is the next free entry
      {"code beyond the table", codes({{4, 3}, {0, 3}, {7, 3}}),
       "the code 7 lies beyond the next free table entry 6"},
      {"first code not a root", codes({{4, 3}, {6, 3}}),
       "the first code 6 after a clear code is not a root"},
      {"first code after a second clear", codes({{4, 3}, {1, 3}, {4, 3}, {6, 3}}),
       "the first code 6 after a clear code is not a root"},
      {"no trailer", Bytes(valid.begin(), valid.end() - 1), "the file ends early"},
      {"header only", Bytes(valid.begin(), valid.begin() + 9), "the file ends early"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Reason(c.file), c.reason) << c.what;
}

TEST_F(GifImageReaderTest, TheLargestScreenIsAccepted) {
  Bytes file = test::GifFile(2, 2, 2, test::EncodeLzw({0, 1, 2, 3}, 2, true));
  file[6] = 0x00; // width 16384
  file[7] = 0x40;
  int width = 0;
  int height = 0;
  GifImageReader::ScreenSizeOfBytes(file, width, height);
  EXPECT_EQ(width, 16384);
  EXPECT_EQ(height, 2);
}

TEST_F(GifImageReaderTest, EveryTruncationEndsInAGifFormatError) {
  for (const char *name : {"im_16_extensions.gif", "gdal_2.gif"}) {
    const Bytes whole = ReadBytes(FixtureDirectory() + name);
    ASSERT_GT(whole.size(), 20u);
    ASSERT_EQ(Reason(whole), "decoded");
    // The trailer is the last byte: every shorter file ends early.
    for (std::size_t size = 0; size < whole.size(); ++size) {
      const std::string reason = Reason(Bytes(whole.begin(), whole.begin() + size));
      ASSERT_NE(reason, "decoded") << name << " cut to " << size << " bytes";
    }
  }
}

TEST_F(GifImageReaderTest, SeededMutationsEndInADecodeOrAGifFormatError) {
  const Bytes whole = ReadBytes(FixtureDirectory() + "im_16_extensions.gif");
  std::mt19937 random(12345);
  int decoded = 0;
  int refused = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    Bytes mutant = whole;
    // The screen size stays (its limits have their own test), so that no
    // mutant asks for a matrix of gigabytes.
    const int changes = 1 + static_cast<int>(random() % 4);
    for (int k = 0; k < changes; ++k)
      mutant[10 + random() % (mutant.size() - 10)] = static_cast<std::uint8_t>(random());
    if (Reason(mutant) == "decoded")
      ++decoded;
    else
      ++refused;
  }
  // Both outcomes occur: mutated pixel data decodes, mutated structure is refused.
  EXPECT_GT(decoded, 0);
  EXPECT_GT(refused, 0);
}

} // namespace
} // namespace tavro
