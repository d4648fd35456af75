// Method 9: the grid list's header (the GIF georeference from its first
// column, further columns accepted), the start search, the grids read step
// by step with "-9999" repeating the last valid one, the list kept open and
// reopened after a rewind, holes filled from the nearest cell or fatal, and
// Ctrl-C's handler put back after every read.
#include "interpolator_fixture.h"

#include "support/diagnostics_entries.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <string>
#include <vector>

namespace tavro {
namespace {

// A 3 x 4 ASCII grid with value base + 10 r + c in cell (r, c); cells listed
// in holes hold nodata.
std::string Grid3x4(double base, const std::vector<std::pair<int, int>> &holes = {}) {
  std::ostringstream text;
  text << "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 1000\nnodata_value -9999\n";
  for (int r = 1; r <= 3; ++r) {
    for (int c = 1; c <= 4; ++c) {
      bool hole = false;
      for (const auto &[hr, hc] : holes)
        hole = hole || (hr == r && hc == c);
      text << (hole ? -9999.0 : base + 10.0 * r + c) << " ";
    }
    text << "\n";
  }
  return text.str();
}

std::string GridList(const std::vector<std::string> &rows) {
  // One additional column; three numbers per header line, the first used.
  std::string text = "grids of the test\nYY MM DD HH extra 250 999 1\n"
                     "YY MM DD HH extra 500000 1 2\nYY MM DD HH extra 5200000 2 3\n"
                     "YY MM DD HH extra a b c\n";
  for (const std::string &row : rows)
    text += row + "\n";
  return text;
}

class GridListTest : public InterpolatorFixture {
protected:
  GridListTest() {
    test::WriteFixture("A.asc", Grid3x4(100.0));
    test::WriteFixture("B.asc", Grid3x4(200.0));
    spec_.method = 9;
    spec_.stationLines = "grids.lst AdditionalColumns=1";
    spec_.methodLine = "8.9e-5 0.077 127 6e-6 0.098";
    spec_.upper = spec_.upperReplacement = 1000.0;
  }

  SectionSpec spec_;
};

void TestInterruptHandler(int) {}

TEST_F(GridListTest, GridsOfTheListStepByStep) {
  test::WriteFixture("grids.lst",
                     GridList({"2001 1 1 0 x B.asc", "2001 1 2 0 x A.asc",
                               "2001 1 3 0 x -9999 comment", "", "2001 1 4 0 x B.asc"}));
  spec_.scaling = 2.0;
  auto variable = Make(spec_);
  EXPECT_EQ(variable->Description,
            "temperature read in from grids containing already interpolated data (grids.lst, "
            "add. col.: 1) zones from zones.asc, control file control.txt_0.$$$");
  // The GIF images of the list lie where its first column says.
  EXPECT_EQ(variable->GifCellSize, 250.0);
  EXPECT_EQ(variable->GifXllCorner, 500000.0);
  EXPECT_EQ(variable->GifYllCorner, 5200000.0);
  EXPECT_EQ(variable->GifMask, registry_[1].Data);
  EXPECT_EQ(variable->GifThreshold, 127);

  struct sigaction own {};
  own.sa_handler = TestInterruptHandler;
  sigemptyset(&own.sa_mask);
  struct sigaction before {};
  sigaction(SIGINT, &own, &before);
  const std::vector<double> bases{100.0, 100.0, 200.0};
  for (std::size_t step = 0; step < bases.size(); ++step) {
    SCOPED_TRACE(step);
    Step(*variable);
    EXPECT_EQ(variable->ResultGrid()[2][3], 2.0 * (bases[step] + 23.0));
    EXPECT_EQ(variable->ResultGrid()[3][1], -9999.0); // outside the catchment
    EXPECT_EQ(variable->LastValidGridName, step < 2 ? "A.asc" : "B.asc");
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, &TestInterruptHandler); // the handler is back
    EXPECT_TRUE(variable->GridList()->IsOpen() || step == 0);
    variable->ReadNextData();
  }
  EXPECT_TRUE(variable->EndOfData());
  EXPECT_FALSE(variable->GridList()->IsOpen());
  sigaction(SIGINT, &before, nullptr);

  // A rewind reopens the list at its start row.
  variable->Rewind();
  EXPECT_FALSE(variable->EndOfData());
  variable->ReadNextData();
  EXPECT_EQ(variable->CurrentGridName, "A.asc");
  Step(*variable);
  EXPECT_EQ(variable->ResultGrid()[1][1], 2.0 * 111.0);
}

TEST_F(GridListTest, TheEndDateEndsTheList) {
  test::WriteFixture("grids.lst",
                     GridList({"2001 1 2 0 x A.asc", "2001 1 3 0 x B.asc", "2001 1 4 0 x A.asc"}));
  settings_.EndDate = ModelDate{0, 3, 1, 2001};
  auto variable = Make(spec_);
  Step(*variable);
  variable->ReadNextData();
  Step(*variable);
  EXPECT_EQ(variable->ResultGrid()[1][1], 211.0);
  variable->ReadNextData();
  EXPECT_TRUE(variable->EndOfData());
}

TEST_F(GridListTest, NoValidGridNameYet) {
  test::WriteFixture("grids.lst", GridList({"2001 1 2 0 x -9999", "2001 1 3 0 x A.asc"}));
  auto variable = Make(spec_);
  EXPECT_EQ(test::ExitCodeOf([&] { Step(*variable); }), 1050);
  EXPECT_TRUE(test::Logged(
      "FATAL: interpolation method 9 (read from grid) no valid grid name was found (-9999 as "
      "input) and no last valid grid name present (i.e., simulation starts, when input list "
      "file contains -9999 only)"));
}

TEST_F(GridListTest, HolesAreFilledFromTheNearestCellOrFatal) {
  test::WriteFixture("holed.asc", Grid3x4(100.0, {{1, 1}}));
  test::WriteFixture("empty.asc", UniformGrid(-9999.0));
  test::WriteFixture("grids.lst", GridList({"2001 1 2 0 x holed.asc", "2001 1 3 0 x empty.asc"}));
  auto variable = Make(spec_);
  Step(*variable);
  const double filled = variable->ResultGrid()[1][1];
  EXPECT_TRUE(filled == 112.0 || filled == 121.0 || filled == 122.0) << filled;
  variable->ReadNextData();
  EXPECT_EQ(test::ExitCodeOf([&] { Step(*variable); }), 25);
}

TEST_F(GridListTest, ListErrors) {
  struct Case {
    const char *what;
    std::string list;
    int code;
    std::string entry;
  };
  const std::vector<Case> cases = {
      {"start date missing", GridList({"2001 1 3 0 x A.asc"}), 51,
       "FATAL: \nfile grids.lst dosnt contain date 2.1.2001, hour 0(feof)!"},
      {"a row without grid name", GridList({"2001 1 2 0 x"}), 49,
       "FATAL: error reading grid list grids.lst, line 6: no grid file name after the date"},
      {"a header without numbers", "title\nY M D H x\nY M D H x\nY M D H x\nn\n2001 1 2 0 x A\n",
       49, "FATAL: error reading grid list grids.lst: line 2 holds no number after its 5 labels"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteFixture("grids.lst", c.list);
    EXPECT_EQ(ConstructionCode(spec_), c.code);
    EXPECT_TRUE(test::Logged(c.entry));
  }
}

} // namespace
} // namespace tavro
