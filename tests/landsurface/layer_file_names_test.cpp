// File names of the vegetation layers from the layer-0 name.
#include "landsurface/layer_file_names.h"

#include <gtest/gtest.h>

namespace tavro {
namespace {

TEST(LayerFileNames, NumberGoesBeforeTheExtension) {
  struct Case {
    const char *name;
    int layer;
    const char *expected;
  };
  const Case cases[] = {
      {"etp.grd", 1, "etp_Layer_1.grd"},
      {"etp.grd", 12, "etp_Layer_12.grd"},
      {"out/etp.v2.grd", 2, "out/etp.v2_Layer_2.grd"},
      {"etp", 3, "etp_Layer_3"},
      {"out.v2/etp", 1, "out.v2/etp_Layer_1"}, // a directory's dot stays
      {"./etp.stat", 1, "./etp_Layer_1.stat"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(LayerFileName(c.name, c.layer), c.expected) << c.name;
}

} // namespace
} // namespace tavro
