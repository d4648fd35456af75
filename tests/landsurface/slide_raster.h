// The whole-raster grids of a snow-slide test, every value set by the test
// (zone 1, shares 0.25 and a capacity of 1000 mm until it changes them), with
// the slides of one step and the pack sums per zone.
#pragma once

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "landsurface/snow/snow_slides.h"

#include <array>
#include <map>
#include <vector>

namespace tavro::test {

inline constexpr double kSlideNoData = -9999.0;

// The grids of a slide test over rows x cols, every value set by the test.
struct SlideRaster {
  SlideRaster(DiagnosticsLog &log, long rows, long cols) : extent{rows, cols, kSlideNoData} {
    for (Grid *g : All())
      *g = Grid(1, rows, cols, rows, log);
    zone.Fill(1.0);
    for (Grid &share : shares)
      share.Fill(0.25);
    capacity.Fill(1000.0);
  }
  std::vector<Grid *> All() {
    std::vector<Grid *> all{&zone,  &slope,  &elevation, &capacity, &orderRow, &orderCol,
                            &input, &mobile, &deposited, &total,    &liquid,   &solid};
    for (Grid &share : shares)
      all.push_back(&share);
    return all;
  }
  void SetPack(long r, long c, double totalValue, double liquidValue = 0.0) {
    total[r][c] = totalValue;
    liquid[r][c] = liquidValue;
    solid[r][c] = totalValue - liquidValue;
  }
  void Slide(const snow::SlideParameters &parameters) {
    snow::BuildElevationOrder(extent, zone, elevation, orderRow, orderCol);
    snow::SlideGrids g;
    g.Zone = &zone;
    g.Slope = &slope;
    for (std::size_t k = 0; k < 4; ++k)
      g.Shares[k] = &shares[k];
    g.MaxDeposition = &capacity;
    g.OrderRow = &orderRow;
    g.OrderColumn = &orderCol;
    g.InputMass = &input;
    g.MobileMass = &mobile;
    g.Deposition = &deposited;
    g.Pack = {&total, &liquid, &solid};
    snow::SlideSnow(extent, parameters, g);
  }
  // Sum of the packs per zone code.
  std::map<double, double> ZoneSums() const {
    std::map<double, double> sums;
    for (long r = 1; r <= extent.Rows; ++r)
      for (long c = 1; c <= extent.Columns; ++c)
        if (zone[r][c] != kSlideNoData)
          sums[zone[r][c]] += total[r][c];
    return sums;
  }

  snow::RasterExtent extent;
  Grid zone, slope, elevation, capacity, orderRow, orderCol, input, mobile, deposited, total,
      liquid, solid;
  std::array<Grid, 4> shares;
};

} // namespace tavro::test
