// File names of the derived grids: the extension of the source's file part
// gives way to the suffix, and a dot in a directory never counts.
#include "setup/derived_file_names.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(DerivedFileName, ReplacesTheExtensionOfTheFilePartOnly) {
  struct Case {
    const char *source;
    const char *suffix;
    const char *withoutExtension;
    const char *expected;
  };
  const Case cases[] = {
      {"grids/zone.asc", "$csx", "", "grids/zone.$csx"},
      {"zone.asc", "$cy", "", "zone.$cy"},
      {"zone", "$csx", "", "zone.$csx"},
      {"../zone", "$csx", "", "../zone.$csx"},
      {"../grids/zone", "$csx", "", "../grids/zone.$csx"},
      {"grids.v2/zone", "$csx", "", "grids.v2/zone.$csx"},
      {"grids.v2/zone.asc", "$rca", "", "grids.v2/zone.$rca"},
      {"/data/dem.tar.asc", "$sl", "", "/data/dem.tar.$sl"},
      {"./elevation.asc", "$ex", "", "./elevation.$ex"},
      // The first weights of a region grid without an extension.
      {"regions", "$w1", "$rw1", "regions.$rw1"},
      {"regions.asc", "$w1", "$rw1", "regions.$w1"},
      {"../regions", "$w1", "$rw1", "../regions.$rw1"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(DerivedFileName(c.source, c.suffix, c.withoutExtension), c.expected) << c.source;
}

} // namespace
} // namespace tavro
