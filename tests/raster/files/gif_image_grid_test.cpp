// Image grids through a model object's grid reader: an image whose pixel
// centres fall on the cell corners reproduces its mapped indices exactly;
// a defective file ends with FATAL 22 naming the reason; an object without
// a georeference has no decoder.
#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "kernel/modelobject.h"
#include "raster/files/gif_image_reader.h"
#include "raster/files/gif_resampling.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro {
namespace {

std::string Fixture(const std::string &name) {
  const std::string file = __FILE__;
  return test::ReadWholeFile(file.substr(0, file.find_last_of('/')) + "/../../data/gif/" + name);
}

constexpr int kCols = 37; // the screen of the fixture gdal_16.gif
constexpr int kRows = 23;

class GifImageGridTest : public testing::Test {
protected:
  GifImageGridTest() {
    object.Registry = &registry;
    object.NCols = kCols;
    object.NRows = kRows;
    object.FirstRow = 1;
    object.LastRow = kRows;
    object.XllCorner = 3400000.0;
    object.YllCorner = 5200000.0;
    object.CellSize = 500.0;
    object.NoData = -9999.0;
    object.GifF1 = 0.1;
    object.GifX1 = 0.05;
    object.GifThreshold = 7;
    object.GifF2 = 0.2;
    object.GifX2 = 0.03;
  }

  // Pixel centres on the lower-left cell corners: the image lies half a
  // cell to the lower left of the raster.
  void Align() {
    object.SetGifGeoreference(nullptr, object.XllCorner - 250.0, object.YllCorner - 250.0, 500.0);
  }

  test::CallOutcome Read(const std::string &name, Grid &grid) {
    return test::RunCapturingConsole(
        [&] { object.ReadGrid(name, grid, 0, true, false, 0.0, false, true, false, false); });
  }

  DiagnosticsLog log{"Tavro_Diag.xml", 4};
  GridRegistry registry;
  modelobject object{log, "precipitation", "none.ctl"};
};

TEST_F(GifImageGridTest, AnAlignedImageReproducesItsMappedIndices) {
  test::WriteFixture("image.gif", Fixture("gdal_16.gif"));
  Align();
  Grid grid;
  const test::CallOutcome read = Read("image.gif", grid);
  ASSERT_EQ(read.code, -1) << read.console;

  GifImageReader reader("image.gif");
  Grid indices(1, kRows, kCols, kRows, log);
  reader.Decode(indices);
  MapGifValues(indices, kRows, kCols, {0.1, 0.05, 7, 0.2, 0.03});
  int distinct = 0;
  for (int r = 1; r <= kRows; ++r)
    for (int c = 1; c <= kCols; ++c) {
      ASSERT_EQ(grid[r][c], indices[r][c]) << r << "," << c;
      distinct += c > 1 && indices[r][c] != indices[r][c - 1] ? 1 : 0;
    }
  EXPECT_GT(distinct, 0); // the image is not uniform
}

TEST_F(GifImageGridTest, DefectiveFilesEndWithTheirReason) {
  std::string label = Fixture("gdal_16.gif");
  const std::size_t image = label.find('\x2C', 13 + 48);
  ASSERT_NE(image, std::string::npos);
  label.insert(image, std::string("\x21\xF8\x00", 3));
  const std::string whole = Fixture("gdal_16.gif");
  struct Case {
    const char *file;
    std::string content;
    std::string entry;
  };
  const Case cases[] = {
      {"label.gif", label,
       "error reading GIF label.gif (invalid extension type ID "
       "\"0xF8\" found)"},
      {"cut.gif", whole.substr(0, whole.size() / 2),
       "error reading GIF cut.gif (the file ends early)"},
  };
  Align();
  for (const Case &c : cases) {
    test::WriteFixture(c.file, c.content);
    Grid grid;
    const test::CallOutcome read = Read(c.file, grid);
    EXPECT_EQ(read.code, 22) << c.file;
    EXPECT_NE(read.console.find(c.entry), std::string::npos) << read.console;
  }
}

TEST_F(GifImageGridTest, WithoutAGeoreferenceThereIsNoDecoder) {
  test::WriteFixture("image.gif", Fixture("gdal_16.gif"));
  Grid grid;
  const test::CallOutcome read = Read("image.gif", grid);
  EXPECT_EQ(read.code, 22);
  EXPECT_NE(read.console.find("error reading GIF image.gif (no GIF decoder available)"),
            std::string::npos)
      << read.console;
}

} // namespace
} // namespace tavro
