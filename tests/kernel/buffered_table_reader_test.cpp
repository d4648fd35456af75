// Walking time-series tables through the bounded row buffer, across block
// boundaries, and the reader's failure states.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kernel/buffered_table_reader.h"
#include "kernel/diagnostics_log.h"
#include "support/test_support.h"

namespace tavro {
namespace {

using Reader = BufferedTableReader;

// Row i of a generated table: a date and three values that name the row.
struct ExpectedRow {
  int year, month, day, hour;
  double values[3];
};

ExpectedRow RowNumber(int i) {
  return {2000 + i, 1 + i % 12, 1 + i % 28, i % 24, {i + 0.5, -1.0 * i, i * 1000.25}};
}

std::string TableText(int rows,
                      const std::string &header = "station A\nyear month day hour a b c\n") {
  std::string text = header;
  char line[160];
  for (int i = 0; i < rows; ++i) {
    const ExpectedRow r = RowNumber(i);
    std::snprintf(line, sizeof line, "%d %d %d %d %.2f %.2f %.2f\n", r.year, r.month, r.day, r.hour,
                  r.values[0], r.values[1], r.values[2]);
    text += line;
  }
  return text;
}

// Budget for a buffer of the given rows of three values (40 bytes a row).
unsigned long BudgetForRows(long rows) { return static_cast<unsigned long>(rows) * 40; }

void ExpectCurrentRow(const Reader &reader, int i) {
  const ExpectedRow r = RowNumber(i);
  int year = 0, month = 0, day = 0, hour = 0;
  reader.GetDate(year, month, day, hour);
  EXPECT_EQ(year, r.year) << "row " << i;
  EXPECT_EQ(month, r.month) << "row " << i;
  EXPECT_EQ(day, r.day) << "row " << i;
  EXPECT_EQ(hour, r.hour) << "row " << i;
  for (int c = 0; c < 3; ++c)
    EXPECT_DOUBLE_EQ(reader.GetValue(c), r.values[c]) << "row " << i << " column " << c;
}

TEST(BufferedTableReader, HeaderLinesColumnsAndCapacity) {
  test::WriteFixture("table.txt", TableText(4));
  Reader reader;
  EXPECT_EQ(reader.Open("table.txt", 0, 100000), 2);
  EXPECT_EQ(reader.State(), Reader::kDataEnd);
  EXPECT_EQ(reader.ColumnCount(), 3);
  EXPECT_EQ(reader.RowCapacity(), 2500);
  EXPECT_EQ(reader.RowCount(), 4);
  EXPECT_EQ(reader.CurrentRow(), 0);
  ExpectCurrentRow(reader, 0);
  EXPECT_EQ(reader.GetValue(3), Reader::kMissing);
  EXPECT_EQ(reader.GetValue(-1), Reader::kMissing);
  // A second Open does nothing.
  EXPECT_EQ(reader.Open("other.txt", 0, 100000), 0);
  EXPECT_EQ(reader.FileName(), "table.txt");
}

struct WalkCase {
  int rows;
  long capacity;
};

class BufferedTableWalk : public testing::TestWithParam<WalkCase> {};

// Every row is visited once and in order; after the last row NextRow leaves
// it current and reports the end, whatever the block boundaries.
TEST_P(BufferedTableWalk, VisitsEveryRowOnce) {
  const WalkCase c = GetParam();
  test::WriteFixture("walk.txt", TableText(c.rows));
  Reader reader("walk.txt", 0, BudgetForRows(c.capacity));
  ASSERT_EQ(reader.RowCapacity(), c.capacity);
  int visited = 0;
  while (reader.State() == Reader::kReady || reader.State() == Reader::kDataEnd) {
    ASSERT_LT(visited, c.rows) << "more rows than the table holds";
    ExpectCurrentRow(reader, visited);
    ++visited;
    reader.NextRow();
  }
  EXPECT_EQ(visited, c.rows);
  EXPECT_EQ(reader.State(), Reader::kPastEnd);
  ExpectCurrentRow(reader, c.rows - 1);
  reader.NextRow();
  EXPECT_EQ(reader.State(), Reader::kPastEnd);
  ExpectCurrentRow(reader, c.rows - 1);
}

INSTANTIATE_TEST_SUITE_P(BlockBoundaries, BufferedTableWalk,
                         testing::Values(WalkCase{10, 3},  // last block partly filled
                                         WalkCase{9, 3},   // exact multiple of the buffer
                                         WalkCase{3, 3},   // exactly one buffer
                                         WalkCase{1, 1},   // one-row buffer, one row
                                         WalkCase{7, 1},   // one-row buffer
                                         WalkCase{2, 50}), // all in the first block
                         [](const testing::TestParamInfo<WalkCase> &info) {
                           return std::to_string(info.param.rows) + "RowsBy" +
                                  std::to_string(info.param.capacity);
                         });

TEST(BufferedTableReader, FullBufferSeesTheEndOnlyAtTheNextBlock) {
  test::WriteFixture("full.txt", TableText(3));
  Reader reader("full.txt", 0, BudgetForRows(3));
  EXPECT_EQ(reader.State(), Reader::kReady); // the end is not seen yet
  EXPECT_EQ(reader.RowCount(), 3);
  reader.SetRow(2);
  reader.NextRow();
  EXPECT_EQ(reader.State(), Reader::kPastEnd);
  EXPECT_EQ(reader.CurrentRow(), 2);
  EXPECT_EQ(reader.RowCount(), 3);
}

TEST(BufferedTableReader, BudgetBelowOneRowIsRefused) {
  test::WriteFixture("wide.txt", TableText(5));
  Reader reader;
  EXPECT_EQ(reader.Open("wide.txt", 0, BudgetForRows(1) - 1), Reader::kNoRowFits);
  EXPECT_EQ(reader.State(), Reader::kNoRowFits);
  reader.NextRow(); // returns at once instead of refilling empty blocks
  EXPECT_EQ(reader.GetValue(0), Reader::kMissing);
}

TEST(BufferedTableReader, FailureStates) {
  Reader missing;
  EXPECT_EQ(missing.Open("no_such_table.txt", 0, 100000), Reader::kNoFile);
  EXPECT_EQ(missing.State(), Reader::kNoFile);

  test::WriteFixture("headers_only.txt", "station\ncolumns\n");
  Reader noData("headers_only.txt", 0, 100000);
  EXPECT_EQ(noData.State(), Reader::kParseError);

  // A bad row in the second block: the walk stops with the parse error and
  // hands out no stale row; further steps keep the error.
  test::WriteFixture("bad.txt", "2021 1 1 0 1.0 2.0\n2021 1 1 1 3.0 x\n2021 1 1 2 5.0 6.0\n");
  Reader bad("bad.txt", 0, 32);
  ASSERT_EQ(bad.RowCapacity(), 1);
  EXPECT_EQ(bad.State(), Reader::kReady);
  EXPECT_EQ(bad.GetValue(1), 2.0);
  bad.NextRow();
  EXPECT_EQ(bad.State(), Reader::kParseError);
  EXPECT_EQ(bad.GetValue(0), Reader::kMissing);
  bad.NextRow();
  EXPECT_EQ(bad.State(), Reader::kParseError);
}

TEST(BufferedTableReader, LayoutVariants) {
  // No header, a row running over two lines, trailing blank lines, and a last
  // row without its line break.
  test::WriteFixture("variants.txt",
                     "2021 1 1 0 1.5 2.5\n2021 1 1 1\n 3.5 4.5\n2021 1 1 2 5.5 6.5\n\n\n\n\n\n\n"
                     "\n\n\n\n\n\n2021 1 1 3 7.5 8.5");
  Reader reader;
  EXPECT_EQ(reader.Open("variants.txt", 0, 100000), 0);
  EXPECT_EQ(reader.ColumnCount(), 2);
  std::vector<double> firstColumn;
  std::vector<int> hours;
  while (reader.State() == Reader::kReady || reader.State() == Reader::kDataEnd) {
    int year = 0, month = 0, day = 0, hour = 0;
    reader.GetDate(year, month, day, hour);
    hours.push_back(hour);
    firstColumn.push_back(reader.GetValue(0));
    reader.NextRow();
  }
  EXPECT_EQ(hours, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(firstColumn, (std::vector<double>{1.5, 3.5, 5.5, 7.5}));

  test::WriteFixture("blank_tail.txt", "2021 1 1 0 1.5\n2021 1 1 1 2.5\n" + std::string(30, '\n'));
  Reader blankTail("blank_tail.txt", 0, 100000);
  EXPECT_EQ(blankTail.State(), Reader::kDataEnd);
  EXPECT_EQ(blankTail.RowCount(), 2);
}

TEST(BufferedTableReader, SetRowAndMoveRowStayInRange) {
  test::WriteFixture("rows.txt", TableText(5));
  Reader reader("rows.txt", 0, 100000);
  ASSERT_EQ(reader.RowCount(), 5);
  reader.SetRow(3);
  ExpectCurrentRow(reader, 3);
  reader.SetRow(6); // outside -1..5: ignored
  EXPECT_EQ(reader.CurrentRow(), 3);
  reader.MoveRow(-2);
  ExpectCurrentRow(reader, 1);
  reader.MoveRow(-3); // would be -2: ignored
  EXPECT_EQ(reader.CurrentRow(), 1);
  reader.MoveRow(-2); // -1 is allowed but names no row
  EXPECT_EQ(reader.CurrentRow(), -1);
  EXPECT_EQ(reader.GetValue(0), Reader::kMissing);
  int year = 0, month = 0, day = 0, hour = 0;
  reader.GetDate(year, month, day, hour);
  EXPECT_EQ(year, -9999);
  reader.SetRow(5); // RowCount itself is allowed but names no row
  EXPECT_EQ(reader.CurrentRow(), 5);
  EXPECT_EQ(reader.GetValue(2), Reader::kMissing);
  reader.NextRow();
  EXPECT_EQ(reader.State(), Reader::kPastEnd);
}

TEST(BufferedTableReader, FreeBufferAllowsAnotherOpen) {
  test::WriteFixture("a.txt", TableText(2));
  test::WriteFixture("b.txt", TableText(6, ""));
  Reader reader("a.txt", 0, 100000);
  reader.FreeBuffer();
  EXPECT_EQ(reader.State(), Reader::kNotOpened);
  EXPECT_EQ(reader.GetValue(0), Reader::kMissing);
  EXPECT_EQ(reader.Open("b.txt", 0, 100000), 0);
  EXPECT_EQ(reader.RowCount(), 6);
  ExpectCurrentRow(reader, 0);
}

TEST(BufferedTableReader, OverlongFirstDataLineIsRefused) {
  std::string line = "2021 1 1 0";
  while (line.size() < 2100)
    line += " 1.0";
  test::WriteFixture("long.txt", line + "\n");
  int code = -1;
  try {
    Reader reader("long.txt", 0, 1000000);
  } catch (int thrown) {
    code = thrown;
  }
  EXPECT_EQ(code, 201);

  code = -1;
  testing::internal::CaptureStdout();
  {
    DiagnosticsLog log("", 4);
    try {
      Reader reader("long.txt", 0, 1000000, &log);
    } catch (int thrown) {
      code = thrown;
    }
  }
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(code, 201);
  EXPECT_NE(test::ReadWholeFile("Tavro_Diag_0.xml")
                .find("table long.txt: first data line longer than 2047 characters"),
            std::string::npos);
}

} // namespace
} // namespace tavro
