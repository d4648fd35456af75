// The pure side of the grid and stack file formats: recognition from the
// first bytes, header encoding, number parsing against strtod, the written
// header texts, the geometry checks, offsets and header statistics, and the
// buffered token reader.
#include "raster/files/ascii_token_reader.h"
#include "raster/files/grid_format.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace tavro {
namespace {

std::vector<std::byte> Bytes(std::string_view text) {
  std::vector<std::byte> bytes(text.size());
  std::memcpy(bytes.data(), text.data(), text.size());
  return bytes;
}

template <std::size_t N> std::vector<std::byte> Bytes(const std::array<std::byte, N> &array) {
  return {array.begin(), array.end()};
}

GridFileHeader HeaderWithNodata(double nodata) {
  GridFileHeader header;
  header.ncols = 4;
  header.nrows = 3;
  header.xllcorner = 3500.5;
  header.yllcorner = 5200;
  header.cellsize = 25;
  header.nodata = nodata;
  return header;
}

TEST(GridFormat, RecognisesTheFormatFromTheFirstBytes) {
  const auto doubleHeader = Bytes(EncodeDoubleHeader(HeaderWithNodata(-9999)));
  const auto floatHeader = Bytes(EncodeFloatHeader(HeaderWithNodata(-9999)));
  struct Case {
    const char *name;
    std::vector<std::byte> start;
    std::optional<GridFileFormat> expected;
  };
  const std::vector<Case> cases = {
      {"ascii", Bytes("ncols 4\nNROWS 3\n"), GridFileFormat::Ascii},
      {"ascii first keyword upper case", Bytes("NCOLS 4\nnrows 3\n"), std::nullopt},
      {"double", doubleHeader, GridFileFormat::BinaryDouble},
      {"float", floatHeader, GridFileFormat::BinaryFloat},
      {"float file shorter than a double header",
       std::vector<std::byte>(floatHeader.begin(), floatHeader.begin() + 24),
       GridFileFormat::BinaryFloat},
      {"double with nodata -99999", Bytes(EncodeDoubleHeader(HeaderWithNodata(-99999))),
       std::nullopt},
      {"float with nodata -99999", Bytes(EncodeFloatHeader(HeaderWithNodata(-99999))),
       std::nullopt},
      {"gif", Bytes("GIF89a\x10\x00\x10\x00"), GridFileFormat::Gif},
      {"other text", Bytes("cols 4 rows 3"), std::nullopt},
      {"empty", {}, std::nullopt},
  };
  for (const auto &c : cases)
    EXPECT_EQ(RecognizeGridFormat(c.start), c.expected) << c.name;
}

TEST(GridFormat, RecognisesStackFormats) {
  auto stackHeader = HeaderWithNodata(-9999);
  stackHeader.deviation = 3;
  const auto floatHeader = Bytes(EncodeFloatHeader(stackHeader));
  EXPECT_EQ(RecognizeStackFormat(Bytes("stack_ncols\t4\n")), StackRecognition::Ascii);
  EXPECT_EQ(RecognizeStackFormat(Bytes(EncodeDoubleHeader(stackHeader))),
            StackRecognition::BinaryDouble);
  EXPECT_EQ(RecognizeStackFormat(floatHeader), StackRecognition::BinaryFloat);
  EXPECT_EQ(
      RecognizeStackFormat(std::vector<std::byte>(floatHeader.begin(), floatHeader.begin() + 40)),
      StackRecognition::ShortHeader);
  EXPECT_EQ(RecognizeStackFormat(Bytes(EncodeDoubleHeader(HeaderWithNodata(0)))),
            StackRecognition::Unknown);
  EXPECT_EQ(RecognizeStackFormat(Bytes(
                "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 25\nnodata_value -9999\n")),
            StackRecognition::Unknown);
}

TEST(GridFormat, BinaryHeadersRoundTripAndPlaceTheStatistics) {
  GridFileHeader header = HeaderWithNodata(-9999);
  header.count = 7.5;
  header.minimum = -2;
  header.maximum = 11;
  header.sum = 40;
  header.mean = 40 / 7.5;
  header.deviation = 1.25;

  const auto doubles = EncodeDoubleHeader(header);
  EXPECT_EQ(DecodeDoubleHeader(doubles).Values(), header.Values());
  const auto doubleStatistics = EncodeDoubleStatistics(header);
  EXPECT_EQ(std::memcmp(doubleStatistics.data(), doubles.data() + 48, 48), 0);
  double count = 0;
  std::memcpy(&count, doubles.data() + 48, sizeof count);
  EXPECT_EQ(count, 7.5);

  const auto floats = EncodeFloatHeader(header);
  const auto decoded = DecodeFloatHeader(floats).Values();
  const auto values = header.Values();
  for (std::size_t i = 0; i < values.size(); ++i)
    EXPECT_EQ(decoded[i], static_cast<double>(static_cast<float>(values[i]))) << i;
  const auto floatStatistics = EncodeFloatStatistics(header);
  EXPECT_EQ(std::memcmp(floatStatistics.data(), floats.data() + 24, 24), 0);
}

TEST(GridFormat, NumbersEqualWhatStrtodGives) {
  const std::vector<std::string> accepted = {"0",
                                             "-9999",
                                             "1.5",
                                             "3512345.5",
                                             "-0.000123",
                                             "1e-5",
                                             "2.5E+3",
                                             "+3",
                                             ".5",
                                             "5.",
                                             "0x1p3",
                                             "1e400",
                                             "-1e400",
                                             "1e-320",
                                             "nan",
                                             "inf",
                                             "-INF",
                                             "7",
                                             "0.1",
                                             "123456789012345678901234567890",
                                             "1.7976931348623157e308"};
  for (const auto &token : accepted) {
    const auto value = ParseGridNumber(token);
    ASSERT_TRUE(value.has_value()) << token;
    const double reference = std::strtod(token.c_str(), nullptr);
    if (std::isnan(reference))
      EXPECT_TRUE(std::isnan(*value)) << token;
    else
      EXPECT_EQ(*value, reference) << token;
  }
  for (const char *token : {"", "abc", "1.5abc", "1,5", "--1", "1e", "-", "ncols"})
    EXPECT_FALSE(ParseGridNumber(token).has_value()) << token;
}

TEST(GridFormat, HeaderNumbersReadBackExactly) {
  struct Case {
    double value;
    const char *text;
  };
  for (const Case &c : std::vector<Case>{{3512345.5, "3512345.5"},
                                         {25, "25"},
                                         {-9999, "-9999"},
                                         {0.1, "0.1"},
                                         {1e6, "1e+06"},
                                         {3456789.5, "3456789.5"},
                                         {5612345.25, "5612345.25"},
                                         {12.3456789, "12.3456789"}}) {
    EXPECT_EQ(FormatHeaderNumber(c.value), c.text);
    EXPECT_EQ(std::strtod(FormatHeaderNumber(c.value).c_str(), nullptr), c.value);
  }
  for (double value : {1.0 / 3.0, 2.0 / 3.0 * 1e7, 6378137.123456789, -1e-300})
    EXPECT_EQ(std::strtod(FormatHeaderNumber(value).c_str(), nullptr), value) << value;
}

TEST(GridFormat, CellValuesAreWrittenAsPercentG) {
  for (double value : {0.0, -9999.0, 1.5, 3512345.5, 1e-5, 123456789.0, -0.000123456789, 1e300,
                       -2.25, 0.1 + 0.2}) {
    char expected[64];
    std::snprintf(expected, sizeof expected, "%g", value);
    std::string text = "x";
    AppendCellValue(text, value);
    EXPECT_EQ(text, std::string("x") + expected) << value;
  }
}

TEST(GridFormat, AsciiHeadersAsWritten) {
  const RasterGeometry geometry{4, 3, 3512345.5, 5200, 25, -9999};
  EXPECT_EQ(FormatAsciiGridHeader(geometry),
            "ncols\t4\nnrows\t3\nxllcorner\t3512345.5\n"
            "yllcorner\t5200\ncellsize\t25\nnodata_value\t-9999\n");
  EXPECT_EQ(FormatAsciiStackHeader({4, 3, 3500, 5200, 25, -9999}, 3),
            "stack_ncols\t4\nnrows\t3\nxll\t3500\nyll\t5200\ncs\t25\nnodata\t-9999\n"
            "cnt\t0\nmin\t0\nmax\t0\nsum\t0\naverage\t0\nnumlevels\t3\n");
}

TEST(GridFormat, GridGeometryCheck) {
  const RasterGeometry model{10, 8, 3500.2, 5200, 25, -9999};
  const auto header = [](double ncols, double nrows, double xll, double yll, double cellsize,
                         double nodata) {
    GridFileHeader h;
    h.ncols = ncols;
    h.nrows = nrows;
    h.xllcorner = xll;
    h.yllcorner = yll;
    h.cellsize = cellsize;
    h.nodata = nodata;
    RoundCornersDown(h);
    return h;
  };
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char *name;
    GridFileHeader header;
    bool fits;
  };
  const std::vector<Case> cases = {
      {"equal", header(10, 8, 3500.2, 5200, 25, -9999), true},
      {"corner in whole units", header(10, 8, 3500.7, 5200.9, 25, -9999), true},
      {"corner one unit off", header(10, 8, 3501, 5200, 25, -9999), false},
      {"cell size", header(10, 8, 3500, 5200, 25.0001, -9999), false},
      {"lower file nodata", header(10, 8, 3500, 5200, 25, -99999), true},
      {"higher file nodata", header(10, 8, 3500, 5200, 25, 0), false},
      {"ncols rounded down", header(10.9, 8, 3500, 5200, 25, -9999), true},
      {"nrows", header(10, 9, 3500, 5200, 25, -9999), false},
      {"ncols beyond int", header(1e20, 8, 3500, 5200, 25, -9999), false},
      {"ncols not a number", header(std::nan(""), 8, 3500, 5200, 25, -9999), false},
      {"nrows infinite", header(10, inf, 3500, 5200, 25, -9999), false},
  };
  for (const auto &c : cases)
    EXPECT_EQ(GridHeaderFits(c.header, model), c.fits) << c.name;
}

TEST(GridFormat, StackGeometryIsCheckedExactly) {
  const RasterGeometry model{10, 8, 3500, 5200, 25, -9999};
  GridFileHeader header = GridFileHeader::FromGeometry(model);
  EXPECT_TRUE(StackHeaderFits(header, model));
  header.xllcorner = 3500.5; // a grid file with this corner is accepted
  EXPECT_FALSE(StackHeaderFits(header, model));
  header = GridFileHeader::FromGeometry(model);
  header.nodata = -99999;
  EXPECT_FALSE(StackHeaderFits(header, model));

  for (const auto &[value, levels] :
       std::vector<std::pair<double, std::optional<int>>>{{3, 3},
                                                          {3.9, 3},
                                                          {0, 0},
                                                          {-1, std::nullopt},
                                                          {std::nan(""), std::nullopt},
                                                          {1e12, std::nullopt}}) {
    header.deviation = value;
    EXPECT_EQ(StackLevels(header), levels) << value;
  }
}

TEST(GridFormat, MismatchEntryNamesBothFilesAndAllSixPairs) {
  const RasterGeometry model{10, 8, 3500, 5200, 25, -9999};
  GridFileHeader header = GridFileHeader::FromGeometry(model);
  header.xllcorner = 3500; // read as 3500.7, rounded down
  header.cellsize = 25.0001;
  const std::string zone = "/a/very/long/directory/name/with/the/zone/grid/zones.asc";
  const std::string text =
      GeometryMismatchText("in/soil.asc", "snow_model", zone, model, header, false);
  EXPECT_EQ(text, "in/soil.asc has not the specified grid measures (in snow_model)!\n"
                  "y/name/with/the/zone/grid/zones.asc in/soil.asc"
                  "\n10 10\n8 8\n3500 3500\n5200 5200\n25 25.0001\n-9999 -9999");
  EXPECT_EQ(TailOf(zone, 35).size(), 35u);
  EXPECT_EQ(GeometryMismatchText("s", "m", "z", model, header, true),
            "s has not the specified grid measures (in m)\nz s"
            "\n10 10\n8 8\n3500 3500\n5200 5200\n25 25.0001\n-9999 -9999");
}

TEST(GridFormat, OffsetsOfCellsAndStackLevels) {
  EXPECT_EQ(GridCellOffset(1, 1, 10, true), 96);
  EXPECT_EQ(GridCellOffset(3, 4, 10, true), 96 + (2 * 10 + 3) * 8);
  EXPECT_EQ(GridCellOffset(3, 4, 10, false), 48 + (2 * 10 + 3) * 4);
  EXPECT_EQ(GridCellOffset(70000, 1, 70000, true), 96 + 69999LL * 70000 * 8); // beyond 2^32
  // levels 3: four values per cell; the file ends after the last level of the last cell.
  EXPECT_EQ(StackElementIndex(1, 1, 0, 5, 3), 12);
  EXPECT_EQ(StackElementIndex(2, 3, 1, 5, 3), 12 + (5 + 2) * 4 + 1);
  EXPECT_EQ(StackElementIndex(6, 5, 4, 5, 3) * 8, 96 + 6 * 5 * 4 * 8);
}

TEST(GridFormat, HeaderStatisticsOfWeightedValues) {
  GridStatistics statistics;
  statistics.Reset(-9999);
  GridFileHeader header;
  StoreStatistics(statistics.Get(), header);
  EXPECT_EQ(header.count, 0);
  EXPECT_EQ(header.mean, -9999);
  EXPECT_EQ(header.deviation, -9999);

  for (const auto &[value, weight] :
       std::vector<std::pair<double, double>>{{2, 1}, {4, 0.5}, {-9999, 1}, {-9998.5, 1}, {6, 1.5}})
    statistics.Add(value, weight);
  StoreStatistics(statistics.Get(), header);
  EXPECT_DOUBLE_EQ(header.count, 3.0);
  EXPECT_EQ(header.minimum, 2);
  EXPECT_EQ(header.maximum, 6);
  EXPECT_DOUBLE_EQ(header.sum, 2 + 2 + 9);
  EXPECT_DOUBLE_EQ(header.mean, 13.0 / 3.0);
  const double squares = 4 + 8 + 54;
  EXPECT_DOUBLE_EQ(header.deviation, std::sqrt((squares - 13.0 * 13.0 / 3.0) / 2.0));
}

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};

TEST(AsciiTokenReader, TokensAcrossBufferBoundariesEqualStrtod) {
  // Enough numbers of uneven length to cross the smallest buffer several times.
  std::ostringstream text;
  for (int i = 0; i < 6000; ++i)
    text << (i % 7 == 0 ? "\r\n" : i % 3 ? " \t" : "  ") << (i * 0.37 - 900.0) / 3.0;
  text << "\n";
  test::WriteFixture("tokens.txt", text.str());
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen("tokens.txt", "rb"));
  ASSERT_TRUE(file);
  AsciiTokenReader reader(file.get(), 1);

  std::istringstream expected(text.str());
  std::string token;
  int count = 0;
  while (expected >> token) {
    const auto value = reader.NextNumber();
    ASSERT_TRUE(value.has_value()) << count;
    ASSERT_EQ(*value, std::strtod(token.c_str(), nullptr)) << count;
    ++count;
  }
  EXPECT_EQ(count, 6000);
  EXPECT_FALSE(reader.Next().has_value());
  EXPECT_FALSE(reader.Failed());
}

TEST(AsciiTokenReader, OverlongTokenIsNotANumber) {
  test::WriteFixture("long.txt", "1 " + std::string(5000, '7') + " 2");
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen("long.txt", "rb"));
  ASSERT_TRUE(file);
  AsciiTokenReader reader(file.get());
  EXPECT_EQ(reader.NextNumber(), 1.0);
  EXPECT_FALSE(reader.NextNumber().has_value());
}

TEST(AsciiTokenReader, OverlongZerosAreNotANumber) {
  // from_chars reads any number of digits: the length alone must refuse them.
  test::WriteFixture("zeros.txt", "1 " + std::string(MaxNumberTokenLength + 1, '0') + " 2");
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen("zeros.txt", "rb"));
  ASSERT_TRUE(file);
  AsciiTokenReader reader(file.get());
  EXPECT_EQ(reader.NextNumber(), 1.0);
  EXPECT_FALSE(reader.NextNumber().has_value());
  EXPECT_FALSE(ParseGridNumber(std::string(MaxNumberTokenLength + 1, '0')).has_value());
  EXPECT_EQ(ParseGridNumber(std::string(MaxNumberTokenLength, '0')), 0.0);
}

} // namespace
} // namespace tavro
