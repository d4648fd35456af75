// Resampling of image indices onto the model raster and their mapping to
// values: a linear image is reproduced between pixel centres, edges repeat
// the edge pixels, nodata pixels and mask cells give nodata, and the two
// branches of the mapping meet at the threshold.
#include "raster/files/gif_resampling.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tavro {
namespace {

class GifResamplingTest : public testing::Test {
protected:
  Grid Matrix(int rows, int columns) { return Grid(1, rows, columns, rows, log); }
  DiagnosticsLog log{"", 4};
};

// The value of a plane at map coordinates, and an image of it sampled at
// the pixel centres (row 1 at the top).
double Plane(double x, double y) { return 3.0 + 0.02 * (x - 1000.0) + 0.05 * (y - 2000.0); }

TEST_F(GifResamplingTest, APlaneIsReproducedBetweenPixelCentres) {
  const int w = 8, h = 6;
  const GifGeoreference geo{1000.0, 2000.0, 50.0, nullptr};
  Grid image = Matrix(h, w);
  for (int i = 1; i <= h; ++i)
    for (int j = 1; j <= w; ++j)
      image[i][j] = Plane(1000.0 + (j - 0.5) * 50.0, 2000.0 + (h - i + 0.5) * 50.0);
  // A model raster of 30 m cells inside the hull of the pixel centres.
  const RasterGeometry model{10, 7, 1040.0, 2030.0, 30.0, -9999.0};
  Grid grid = Matrix(model.nrows, model.ncols);
  ResampleGifImage(image, w, h, geo, model, grid);
  for (int r = 1; r <= model.nrows; ++r)
    for (int c = 1; c <= model.ncols; ++c) {
      const double x = model.xllcorner + (c - 1) * model.cellsize; // lower-left corner
      const double y = model.yllcorner + (model.nrows - r) * model.cellsize;
      EXPECT_NEAR(grid[r][c], Plane(x, y), 1e-9) << r << "," << c;
    }
}

TEST_F(GifResamplingTest, BeyondTheImageTheEdgePixelsRepeat) {
  const GifGeoreference geo{0.0, 0.0, 10.0, nullptr};
  Grid image = Matrix(2, 2);
  image[1][1] = 1; // top left
  image[1][2] = 2;
  image[2][1] = 3; // bottom left
  image[2][2] = 4;
  // Cells far left and below, far right and above: the nearest corner pixel.
  const RasterGeometry model{3, 3, -100.0, -100.0, 100.0, -9999.0};
  Grid grid = Matrix(3, 3);
  ResampleGifImage(image, 2, 2, geo, model, grid);
  EXPECT_EQ(grid[3][1], 3.0); // (-100, -100): below left
  EXPECT_EQ(grid[1][3], 2.0); // (100, 100): above right
  EXPECT_EQ(grid[1][1], 1.0); // (-100, 100): above left
  EXPECT_EQ(grid[3][3], 4.0); // (100, -100): below right
}

TEST_F(GifResamplingTest, NodataPixelsAndMaskCellsGiveNodata) {
  const GifGeoreference plain{0.0, 0.0, 10.0, nullptr};
  Grid image = Matrix(4, 4);
  for (int i = 1; i <= 4; ++i)
    for (int j = 1; j <= 4; ++j)
      image[i][j] = 10.0 * i + j;
  image[2][2] = -9999.0; // centre (15, 25)
  // Cells of 10 m whose lower-left corners lie on the image's pixel corners
  // in between the centres: each samples four pixels.
  const RasterGeometry model{4, 4, 0.0, 0.0, 10.0, -9999.0};
  Grid grid = Matrix(4, 4);
  ResampleGifImage(image, 4, 4, plain, model, grid);
  // Samples whose four neighbours include pixel (2, 2): x in {10, 20}, y in {20, 30}.
  for (int r = 1; r <= 4; ++r)
    for (int c = 1; c <= 4; ++c) {
      const double x = (c - 1) * 10.0, y = (4 - r) * 10.0;
      const bool touches = (x == 10.0 || x == 20.0) && (y == 20.0 || y == 30.0);
      EXPECT_EQ(grid[r][c] == -9999.0, touches) << r << "," << c << " " << grid[r][c];
    }

  Grid mask = Matrix(4, 4);
  mask.Fill(1.0);
  mask[4][4] = -9999.0;
  mask[3][4] = -10000.0;
  image[2][2] = 22.0;
  ResampleGifImage(image, 4, 4, GifGeoreference{0.0, 0.0, 10.0, &mask}, model, grid);
  EXPECT_EQ(grid[4][4], -9999.0);
  EXPECT_EQ(grid[3][4], -10000.0); // the mask's own value
  EXPECT_NE(grid[2][4], -9999.0);
}

TEST_F(GifResamplingTest, TheMappingHasTwoBranchesAndNodataAbove250) {
  const GifMapping m{2.0, 0.01, 127, 0.5, 0.02};
  Grid grid = Matrix(1, 7);
  const double in[] = {0.0, 1.0, 127.0, 127.5, 250.0, 250.5, -9999.0};
  for (int c = 1; c <= 7; ++c)
    grid[1][c] = in[c - 1];
  MapGifValues(grid, 1, 7, m);
  EXPECT_EQ(grid[1][1], 0.0);
  EXPECT_DOUBLE_EQ(grid[1][2], 2.0 * std::exp(0.01));
  EXPECT_DOUBLE_EQ(grid[1][3], 2.0 * std::exp(1.27));
  EXPECT_DOUBLE_EQ(grid[1][4], 0.5 * std::exp(2.55));
  EXPECT_DOUBLE_EQ(grid[1][5], 0.5 * std::exp(5.0));
  EXPECT_EQ(grid[1][6], -9999.0);
  EXPECT_EQ(grid[1][7], -9999.0);
}

} // namespace
} // namespace tavro
