// The amounts of the abstraction modes as one table of cases, and the
// buffered table of reservoirs and abstractions.
#include "routing/element_table_writer.h"
#include "routing/reservoirs/abstraction_amount.h"

#include "kernel/diagnostics_log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <vector>

namespace tavro {
namespace {
using test::ExitCodeOf;
using test::ReadWholeFile;

TEST(AbstractionAmount, ModesAsATableOfCases) {
  const ShareParameters share{2.0, 0.5, 10.0};
  const ShareParameters capped{2.0, 0.5, 0.5};
  const ShareParameters negative{2.0, 0.5, -1.0};
  const struct {
    const char *what;
    double amount;
    double expected;
  } cases[] = {
      {"mode 3: A 6 gives 2", ShareAmount(share, 6.0, 0.0), 2.0},
      {"mode 3: after S 3 gives 1", ShareAmount(share, 6.0, 3.0), 1.0},
      {"mode 3: maximum 0.5", ShareAmount(capped, 6.0, 0.0), 0.5},
      {"mode 3: below the threshold", ShareAmount(share, 1.5, 0.0), 0.0},
      {"mode 3: earlier takings below the threshold", ShareAmount(share, 6.0, 5.0), 0.0},
      {"mode 3: a negative maximum takes nothing", ShareAmount(negative, 6.0, 0.0), 0.0},
      {"mode 5: within the rest", BoundedAmount(1.5, false, 6.0, 1.0), 1.5},
      {"mode 5: limited to A - S", BoundedAmount(9.0, false, 6.0, 1.0), 5.0},
      {"mode 5: -9999 is missing", BoundedAmount(-9999.0, true, 6.0, 0.0), 0.0},
      {"mode 5: negative value", BoundedAmount(-2.0, false, 6.0, 0.0), 0.0},
      {"mode 6: A - S below 0", BoundedAmount(3.0, false, 2.0, 3.0), 0.0},
  };
  for (const auto &c : cases)
    EXPECT_DOUBLE_EQ(c.amount, c.expected) << c.what;
}

TEST(AbstractionAmount, ModeWordsAndUnits) {
  const struct {
    const char *word;
    int mode;
  } modes[] = {
      {"intern", 3},           {"extern", 4},           {"from_file", 5},
      {"intern_with_rule", 6}, {"extern_with_rule", 7}, {"intern_with_rule_from_reservoir", 8},
      {"extern)", 4},          {"external", 0},         {"Intern", 0},
  };
  for (const auto &m : modes)
    EXPECT_EQ(AbstractionModeOf(m.word), m.mode) << m.word;
  for (const char *unit : {"m3/s", "m^3/s", "m3s)", "inm3s"})
    EXPECT_TRUE(IsCubicMetresPerSecondUnit(unit)) << unit;
  for (const char *unit : {"mm", "m3", "l/s"})
    EXPECT_FALSE(IsCubicMetresPerSecondUnit(unit)) << unit;
  EXPECT_TRUE(AbstractionWritesTable(5));
  EXPECT_FALSE(AbstractionWritesTable(6));
  EXPECT_TRUE(AbstractionIsInternal(8));
  EXPECT_FALSE(AbstractionIsInternal(7));
}

TEST(ElementTableWriter, BuffersRowsAndAppendsThemWhenFullOrFlushed) {
  DiagnosticsLog log("", 4);
  ElementTableWriter writer("table.txt", 2, 2);
  ASSERT_TRUE(writer.Create("YY\tMM\tDD\tHH\tm^3/s\tT1\n"));
  const double a[] = {1.5, 0.25};
  const double b[] = {1e-7, 1234567.0};
  writer.Append(log, 2024, 1, 2, 3, a);
  writer.Append(log, 2024, 1, 2, 4, b);
  EXPECT_EQ(ReadWholeFile("table.txt"), "YY\tMM\tDD\tHH\tm^3/s\tT1\n");
  writer.Append(log, 2024, 1, 2, 5, a); // the block was full
  EXPECT_EQ(writer.BufferedRows(), 1);
  writer.Flush(log);
  writer.Flush(log); // nothing left
  EXPECT_EQ(ReadWholeFile("table.txt"), "YY\tMM\tDD\tHH\tm^3/s\tT1\n"
                                        "2024\t 1\t 2\t 3\t1.5\t0.25\n"
                                        "2024\t 1\t 2\t 4\t1e-07\t1.23457e+06\n"
                                        "2024\t 1\t 2\t 5\t1.5\t0.25\n");
  ElementTableWriter lost("no_such_dir/t.txt", 1, 1);
  EXPECT_FALSE(lost.Create("x\n"));
  lost.Append(log, 2024, 1, 1, 1, a);
  EXPECT_EQ(ExitCodeOf([&] { lost.Flush(log); }), kElementTableAppendExitCode);
}

} // namespace
} // namespace tavro
