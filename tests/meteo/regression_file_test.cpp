// Regression files and the methods that read them: the text test on the
// first five bytes, text and binary records (the binary fixture written
// here byte by byte, little-endian), two- and three-digit years, the start
// search, the end of the data, the rewind, malformed records; method 2 on
// the raster (a missing regression keeps the grid), method 3 blending the
// regression with inverse distance weighting, and its date agreement.
#include "interpolator_fixture.h"

#include "meteo/interpolation/inverse_distance.h"
#include "meteo/regression_file.h"
#include "support/diagnostics_entries.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace tavro {
namespace {

using namespace std::string_literals;

using Values = std::array<double, 11>; // A1 B1 Lo A2 B2 Hi A3 B3 T CX CY

const Values kFirst{10.0, -0.002, 600.0, 12.0, -0.006, 700.0, 6.0, -0.001, -99999.0, 0.0, 0.0};
const Values kTrend{10.0, -0.002, 600.0, 12.0, -0.006, 700.0, 6.0, -0.001, 11.0, 0.001, -0.0005};
const Values kMissingRegression{-10000.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};

std::string TextRow(const std::string &date, const Values &v) {
  std::ostringstream row;
  row << date;
  for (const double value : v)
    row << " " << value;
  row << " trailing words\n";
  return row.str();
}

std::string TextFile(const std::vector<std::string> &rows) {
  std::string text = "jr\tmo\tdy\thr\tA1 B1 Lo A2 B2 Hi A3 B3 T CX CY\n";
  for (const std::string &row : rows)
    text += row;
  return text;
}

void PutLittleEndian(std::string &bytes, std::uint64_t value) {
  for (int i = 0; i < 8; ++i)
    bytes += static_cast<char>((value >> (8 * i)) & 0xFFu);
}

std::string BinaryRecord(std::int64_t y, std::int64_t m, std::int64_t d, std::int64_t h,
                         const Values &v) {
  std::string bytes;
  for (const std::int64_t field : {y, m, d, h})
    PutLittleEndian(bytes, static_cast<std::uint64_t>(field));
  for (const double value : v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    PutLittleEndian(bytes, bits);
  }
  return bytes;
}

void ExpectRecord(const interpolation::RegressionRecord &r, const Values &v) {
  EXPECT_EQ(r.Intercept[1], v[0]);
  EXPECT_EQ(r.Slope[1], v[1]);
  EXPECT_EQ(r.LowerHeight, v[2]);
  EXPECT_EQ(r.Intercept[2], v[3]);
  EXPECT_EQ(r.Slope[2], v[4]);
  EXPECT_EQ(r.UpperHeight, v[5]);
  EXPECT_EQ(r.Intercept[3], v[6]);
  EXPECT_EQ(r.Slope[3], v[7]);
  EXPECT_EQ(r.TrendConstant, v[8]);
  EXPECT_EQ(r.TrendX, v[9]);
  EXPECT_EQ(r.TrendY, v[10]);
}

class RegressionFileTest : public InterpolatorFixture {
protected:
  RegressionFile Open(const std::string &name, const ModelDate &start) {
    RegressionFile file(log_, "temperature", name);
    file.FindStartDate(start);
    return file;
  }
};

TEST(RegressionFileFormTest, TextTestOnTheFirstFiveBytes) {
  struct Case {
    std::string bytes;
    bool text;
  };
  const std::vector<Case> cases = {
      {"jr\tmo", true},  {"jr mo", true},   {"jrXmo\n", true}, {"Jr\tmo", false}, {"jR\tmo", false},
      {"jr\tMo", false}, {"jr\tmO", false}, {"jr\tm", false},  {"", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.bytes);
    const std::vector<unsigned char> bytes(c.bytes.begin(), c.bytes.end());
    EXPECT_EQ(IsTextRegressionFile(bytes), c.text);
  }
}

TEST_F(RegressionFileTest, TextRecordsWithTwoAndThreeDigitYears) {
  const Values second{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  test::WriteFixture("reg.txt",
                     TextFile({TextRow("94 12 31 0", kFirst), "\n", TextRow("95 1 1 0", kFirst),
                               TextRow("1995 1 2 0", second), TextRow("105 1 3 0", kTrend)}));
  RegressionFile file = Open("reg.txt", ModelDate{0, 1, 1, 1995});
  EXPECT_TRUE(file.IsText());
  EXPECT_EQ(file.Date(), (ModelDate{0, 1, 1, 1995}));
  ExpectRecord(file.Record(), kFirst);
  const long end = DateCode(ModelDate{0, 31, 12, 2010});
  ASSERT_TRUE(file.NextRecord(true, end));
  EXPECT_EQ(file.Date(), (ModelDate{0, 2, 1, 1995}));
  ExpectRecord(file.Record(), second);
  ASSERT_TRUE(file.NextRecord(true, end));
  EXPECT_EQ(file.Date(), (ModelDate{0, 3, 1, 2005}));
  ExpectRecord(file.Record(), kTrend);
  // The file ends before the end date: the data end after its last row.
  EXPECT_FALSE(file.NextRecord(true, end));
  EXPECT_EQ(file.Date(), (ModelDate{0, 3, 1, 2005}));

  // Back at the start record, twice over.
  for (int pass = 0; pass < 2; ++pass) {
    file.Rewind();
    ASSERT_TRUE(file.NextRecord(true, end));
    EXPECT_EQ(file.Date(), (ModelDate{0, 1, 1, 1995}));
    ExpectRecord(file.Record(), kFirst);
  }
}

TEST_F(RegressionFileTest, BinaryRecordsDecodedFieldByField) {
  std::string bytes;
  bytes += BinaryRecord(2000, 12, 31, 0, kTrend);
  bytes += BinaryRecord(101, 1, 1, 0, kFirst);
  bytes += BinaryRecord(2001, 1, 1, 1, kTrend);
  bytes += BinaryRecord(2001, 1, 1, 2, kMissingRegression);
  bytes += BinaryRecord(0, 0, 0, 0, kFirst); // the end marker
  bytes += BinaryRecord(2001, 1, 1, 4, kFirst);
  test::WriteFixture("reg.bin", bytes);
  RegressionFile file = Open("reg.bin", ModelDate{0, 1, 1, 2001});
  EXPECT_FALSE(file.IsText());
  ExpectRecord(file.Record(), kFirst);
  const long end = DateCode(ModelDate{0, 31, 12, 2001});
  ASSERT_TRUE(file.NextRecord(true, end));
  EXPECT_EQ(file.Date(), (ModelDate{1, 1, 1, 2001}));
  ExpectRecord(file.Record(), kTrend);
  ASSERT_TRUE(file.NextRecord(true, end));
  EXPECT_EQ(file.Record().Intercept[1], -10000.0);
  EXPECT_FALSE(file.NextRecord(true, end)); // 0 0 0
  // The end date ends method 2's data; without the test (method 3) the
  // station file decides.
  file.Rewind();
  EXPECT_FALSE(file.NextRecord(true, DateCode(ModelDate{0, 1, 1, 2001})));
  EXPECT_TRUE(file.NextRecord(false, DateCode(ModelDate{0, 1, 1, 2001})));

  // A binary file whose first bytes differ from the text header in one of
  // the tested bytes: records from byte 0 (the first one's year holds
  // "jr\tmp" as a number).
  std::string lookalike = "jr\tmp\0\0\0"s;
  lookalike += bytes.substr(8);
  test::WriteFixture("lookalike.bin", lookalike);
  RegressionFile binary = Open("lookalike.bin", ModelDate{0, 1, 1, 2001});
  EXPECT_FALSE(binary.IsText());
  ExpectRecord(binary.Record(), kFirst);
}

TEST_F(RegressionFileTest, StartDateMissingAndMalformedFiles) {
  test::WriteFixture("reg.txt", TextFile({TextRow("2001 1 1 0", kFirst)}));
  EXPECT_EQ(test::ExitCodeOf([&] { Open("reg.txt", ModelDate{0, 5, 1, 2001}); }), 51);
  EXPECT_TRUE(test::Logged("FATAL: \nEOF reached: reg.txt, date 5.1.2001, 0. h not found!"));
  EXPECT_EQ(test::ExitCodeOf([&] { Open("absent.txt", ModelDate{0, 5, 1, 2001}); }), 49);
  EXPECT_TRUE(test::Logged("FATAL: \nerror opening file absent.txt"));

  struct Case {
    const char *what;
    std::string content;
    std::string entry;
  };
  Values notFinite = kFirst;
  notFinite[4] = std::numeric_limits<double>::infinity();
  const std::vector<Case> cases = {
      {"a text row with ten values", TextFile({"2001 1 1 0 1 2 3 4 5 6 7 8 9 10\n"}),
       "error reading regression file bad, line 2: value 11 of 11 is missing or not a number"},
      {"a text row without date", TextFile({"2001 1 x 0 1 2 3 4 5 6 7 8 9 10 11\n"}),
       "error reading regression file bad, line 2: no date (year month day hour) could be read"},
      {"a cut binary record", BinaryRecord(2001, 1, 1, 0, kFirst).substr(0, 100),
       "error reading regression file bad: the file ends inside record 1 (100 of 120 bytes)"},
      {"a binary value that is not finite", BinaryRecord(2001, 1, 1, 0, notFinite),
       "error reading regression file bad, record 1: a value is not a finite number or the date "
       "is out of range"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteFixture("bad", c.content);
    EXPECT_EQ(test::ExitCodeOf([&] { Open("bad", ModelDate{0, 1, 1, 2001}); }), 49);
    EXPECT_TRUE(test::Logged("FATAL: " + c.entry));
  }
}

// Method 2 on the raster: rows 1 (segment 1), 2 (segment 2) and 3 (segment
// 3) of the test raster lie at 510-540, 610-640 and 710-740 m.
TEST_F(RegressionFileTest, MethodTwoEvaluatesTheRecordOfTheStep) {
  test::WriteFixture(
      "reg.txt", TextFile({TextRow("2001 1 2 0", kTrend), TextRow("2001 1 3 0", kMissingRegression),
                           TextRow("2001 1 4 0", kFirst)}));
  SectionSpec s;
  s.method = 2;
  s.stationLines = "never_opened.dat"; // read, not opened
  s.methodLine = "reg.txt";
  s.scaling = 2.0;
  auto variable = Make(s);
  EXPECT_EQ(variable->Description,
            "temperature interpolated with regression from  reg.txt, zones from zones.asc, "
            "control file: control.txt_0.$$$");
  const auto expected = [&](const interpolation::RegressionRecord &r, long row, long column) {
    return 2.0 * interpolation::ElevationRegressionValue(
                     r, setup_.coordX[row][column], setup_.coordY[row][column],
                     setup_.height[row][column], {-9999.0, -10000.0});
  };
  Step(*variable);
  const interpolation::RegressionRecord first = variable->Regression();
  ExpectRecord(first, kTrend);
  std::vector<double> day1;
  for (long r = 1; r <= 3; ++r)
    for (long c = 1; c <= 4; ++c) {
      const double v = variable->ResultGrid()[r][c];
      day1.push_back(v);
      EXPECT_DOUBLE_EQ(v, r == 3 && c == 1 ? -9999.0 : expected(first, r, c)) << r << " " << c;
    }
  // Cell (1, 2) by hand: the trend 11 + 1 - 1 replaces A1 = 10 in segment 1.
  EXPECT_NEAR(variable->ResultGrid()[1][2], 2.0 * (11.0 + 1.0 - 1.0 - 0.002 * 520.0), 1e-12);

  // A missing regression: the grid keeps its values, scaled only once.
  variable->ReadNextData();
  Step(*variable);
  std::vector<double> day2;
  for (long r = 1; r <= 3; ++r)
    for (long c = 1; c <= 4; ++c)
      day2.push_back(variable->ResultGrid()[r][c]);
  EXPECT_EQ(day2, day1);

  variable->ReadNextData();
  Step(*variable);
  EXPECT_DOUBLE_EQ(variable->ResultGrid()[3][4], expected(variable->Regression(), 3, 4));
  EXPECT_FALSE(variable->EndOfData());
  variable->ReadNextData(); // the file ends before the model time
  EXPECT_TRUE(variable->EndOfData());

  variable->Rewind();
  variable->ReadNextData();
  long h = 0, d = 0, m = 0, y = 0;
  variable->GetActualDate(h, d, m, y);
  EXPECT_EQ((ModelDate{h, d, m, y}), (ModelDate{0, 2, 1, 2001}));
  ExpectRecord(variable->Regression(), kTrend);
}

TEST_F(RegressionFileTest, MethodThreeBlendsRegressionAndInverseDistance) {
  test::WriteFixture("stations.dat",
                     Stations({"2001 1 2 0 10 20", "2001 1 3 0 10 20", "2001 1 4 0 10 20"}));
  test::WriteFixture(
      "reg.txt", TextFile({TextRow("2001 1 2 0", kFirst), TextRow("2001 1 3 0", kMissingRegression),
                           TextRow("2001 1 4 1", kFirst)}));
  SectionSpec s;
  s.method = 3;
  s.methodLine = "reg.txt";
  s.fraction = 0.3;
  auto variable = Make(s);
  Step(*variable);
  // Cell (2, 2) at (1000, 1000), 620 m: between the stations and in segment 2.
  const double r = 12.0 - 0.006 * 620.0;
  const double d1 = 1000.0 * 1000.0 + 1000.0 * 1000.0, d2 = 2000.0 * 2000.0 + 1000.0 * 1000.0;
  const double v = (10.0 / d1 + 20.0 / d2) / (1.0 / d1 + 1.0 / d2);
  EXPECT_NEAR(variable->ResultGrid()[2][2], 0.7 * r + 0.3 * v, 1e-12);
  variable->ReadNextData();
  Step(*variable); // without regression: inverse distance alone
  EXPECT_NEAR(variable->ResultGrid()[2][2], v, 1e-12);
  // The regression row one hour behind the station row.
  EXPECT_EQ(test::ExitCodeOf([&] { variable->ReadNextData(); }), 52);
  const std::string dashes(77, '-');
  EXPECT_TRUE(test::Logged("FATAL: " + dashes +
                           "\nerror in date column of temperature for IDW*Regress \n\nDate from "
                           "station/regress file stations.dat:\n4.1.2001 0 h\n\nbut date from "
                           "regres file reg.txt:\n4.1.2001 1 h\n\n" +
                           dashes + "\n"));
  variable->ReleaseMemory();

  // Without a station within the radius: the regression alone.
  s.radius = 10.0;
  auto near = Make(s);
  Step(*near);
  EXPECT_NEAR(near->ResultGrid()[2][2], r, 1e-12);
}

} // namespace
} // namespace tavro
