// Definition lines of the variable grids.
#include "setup/variable_grids.h"

#include "kernel/grid_registry.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro {
namespace {

TEST(VariableGridLine, ReadsTheFirstFourItems) {
  const auto d = ParseVariableGridLine("  vg.asc  vg_id\t1  2.5 the rest is skipped 7");
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ(d->FileName, "vg.asc");
  EXPECT_EQ(d->Identifier, "vg_id");
  EXPECT_EQ(d->fillcode, 1);
  EXPECT_DOUBLE_EQ(d->defaultValue, 2.5);
  const auto negative = ParseVariableGridLine("a b -2 -1e3");
  ASSERT_TRUE(negative.has_value());
  EXPECT_EQ(negative->fillcode, -2);
  EXPECT_DOUBLE_EQ(negative->defaultValue, -1000.0);
}

TEST(VariableGridLine, RefusesMissingOrMalformedItems) {
  for (const char *line : {"", "vg.asc", "vg.asc vg", "vg.asc vg 1", "vg.asc vg x 2.5",
                           "vg.asc vg 1 value", "vg.asc vg 1 1e999"})
    EXPECT_FALSE(ParseVariableGridLine(line).has_value()) << line;
  const std::string longIdentifier(GridRegistry::MaxIdentifierLength + 1, 'v');
  EXPECT_FALSE(ParseVariableGridLine("f " + longIdentifier + " 0 0").has_value());
}

} // namespace
} // namespace tavro
