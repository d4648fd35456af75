// The red-black layer sweep against analytic solutions of groundwater flow:
// Poisson problems with fixed heads (1-D and 2-D), steady pumping (Thiem),
// transient pumping (Theis), the water balance of a closed confined layer,
// the over-relaxation and the independence of the result from the threads.
#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "lateral/groundwater/cell_update.h"
#include "lateral/groundwater_sweep.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

namespace tavro {
namespace {

constexpr double kNoData = -9999.0;

// A confined layer (top far below the heads) of rows x cols cells with one
// transmissivity, storage coefficient and cell size; fixed-head cells are not
// swept.
class Aquifer {
public:
  Aquifer(long rows, long cols, double t, double s, double cell)
      : rows_(rows), cols_(cols), log_("Tavro_Diag_sweep.xml", 0), head(1, rows, cols, rows, log_),
        old(1, rows, cols, rows, log_), prevIter(1, rows, cols, rows, log_),
        tx(1, rows, cols, rows, log_), ty(1, rows, cols, rows, log_),
        storage(1, rows, cols, rows, log_), top(1, rows, cols, rows, log_),
        inflow(1, rows, cols, rows, log_),
        fixed(static_cast<std::size_t>(rows * (cols + 1)), false) {
    for (long r = 1; r <= rows; ++r)
      for (long c = 1; c <= cols; ++c) {
        tx[r][c] = c < cols ? t : 0.0;
        ty[r][c] = r < rows ? t : 0.0;
        storage[r][c] = s;
        top[r][c] = -1000.0;
        inflow[r][c] = kNoData;
      }
    grids.head = &head;
    grids.headOld = &old;
    grids.headPrevIter = &prevIter;
    grids.tx = &tx;
    grids.ty = &ty;
    grids.storage = &storage;
    grids.specificYield = &storage;
    grids.top = &top;
    grids.fixedInflow = &inflow;
    settings.cellSize = cell;
    settings.nRows = rows;
    settings.nCols = cols;
    settings.noData = kNoData;
  }

  void Fix(long r, long c, double h) {
    fixed[static_cast<std::size_t>((r - 1) * (cols_ + 1) + c)] = true;
    head[r][c] = old[r][c] = h;
  }
  bool Fixed(long r, long c) const {
    return fixed[static_cast<std::size_t>((r - 1) * (cols_ + 1) + c)];
  }

  // Sweeps of one sub-step until the measured change is at most tolerance
  // (or maxSweeps); returns the number of sweeps.
  // twoPasses: each colour in a pass of its own, the reference of the
  // sweep that does both in one pass.
  int Solve(double tolerance, int maxSweeps = 100000, bool twoPasses = false) {
    SweepCells cells(1, rows_, cols_);
    for (long r = 1; r <= rows_; ++r)
      for (long c = 1; c <= cols_; ++c)
        if (!Fixed(r, c))
          cells.Mark(r, c);
    int sweeps = 0;
    double change = 0.0;
    do {
      ++sweeps;
      if (twoPasses) {
        const SweepResult even = SweepColour(grids, settings, cells, 0, scratch_);
        last = SweepColour(grids, settings, cells, 1, scratch_);
        last.maxChange = std::max(last.maxChange, even.maxChange);
      } else {
        last = RedBlackSweep(grids, settings, cells, scratch_);
      }
      change = last.maxChange;
    } while (sweeps < maxSweeps && change > tolerance);
    return sweeps;
  }

  // A new sub-step: the current heads become the heads at its start.
  void StartSubstep() {
    for (long r = 1; r <= rows_; ++r)
      for (long c = 1; c <= cols_; ++c)
        old[r][c] = prevIter[r][c] = head[r][c];
  }

  void FillHeads(double h) {
    for (long r = 1; r <= rows_; ++r)
      for (long c = 1; c <= cols_; ++c)
        head[r][c] = old[r][c] = prevIter[r][c] = h;
  }

  long rows_, cols_;
  DiagnosticsLog log_;
  Grid head, old, prevIter, tx, ty, storage, top, inflow;
  std::vector<bool> fixed;
  SweepLayerGrids grids;
  SweepSettings settings;
  SweepResult last;

private:
  SweepScratch scratch_;
};

TEST(GroundwaterSweep, StripBetweenFixedHeadsWithUniformInflowIsAParabola) {
  const double t = 2e-3, q = 1e-8, dx = 10.0, h0 = 5.0;
  Aquifer a(1, 21, t, 0.0, dx);
  a.settings.alpha = 1.0;
  a.settings.omega = 1.8;
  a.FillHeads(h0);
  a.Fix(1, 1, h0);
  a.Fix(1, 21, h0);
  for (long c = 1; c <= 21; ++c)
    a.inflow[1][c] = q;
  a.Solve(1e-10);
  const double length = 20 * dx;
  for (long c = 1; c <= 21; ++c) {
    const double x = (c - 1) * dx;
    EXPECT_NEAR(a.head[1][c], h0 + q / (2 * t) * x * (length - x), 1e-6) << c;
  }
}

TEST(GroundwaterSweep, QuadraticHeadWithMatchingInflowIsReproduced) {
  const double t = 1e-3, dx = 10.0;
  const long rows = 12, cols = 15;
  const auto exact = [&](long r, long c) {
    const double x = c * dx, y = r * dx;
    return 50.0 + 1e-3 * x * x - 2e-3 * y * y + 5e-4 * x * y + 0.01 * x;
  };
  // T (h_xx + h_yy) + q = 0.
  const double q = -t * (2e-3 - 4e-3);
  Aquifer a(rows, cols, t, 0.0, dx);
  a.settings.alpha = 1.0;
  a.settings.omega = 0.0; // adaptive
  a.FillHeads(50.0);
  for (long r = 1; r <= rows; ++r)
    for (long c = 1; c <= cols; ++c) {
      a.inflow[r][c] = q;
      if (r == 1 || c == 1 || r == rows || c == cols)
        a.Fix(r, c, exact(r, c));
    }
  a.Solve(1e-10);
  for (long r = 1; r <= rows; ++r)
    for (long c = 1; c <= cols; ++c)
      EXPECT_NEAR(a.head[r][c], exact(r, c), 1e-6) << r << " " << c;
}

TEST(GroundwaterSweep, SteadyPumpingFollowsThiem) {
  const double t = 1e-3, dx = 10.0, pumping = 0.01;
  const long n = 61, centre = 31; // R = 30 cells
  Aquifer a(n, n, t, 0.0, dx);
  a.settings.alpha = 1.0;
  a.settings.omega = 1.9;
  a.FillHeads(0.0);
  for (long i = 1; i <= n; ++i) {
    a.Fix(1, i, 0.0);
    a.Fix(n, i, 0.0);
    a.Fix(i, 1, 0.0);
    a.Fix(i, n, 0.0);
  }
  a.inflow[centre][centre] = -pumping / (dx * dx);
  a.Solve(1e-10);
  const auto drawdown = [&](long cells) { return -a.head[centre][centre + cells]; };
  for (long r1 : {2, 3, 5})
    for (long r2 : {8, 10, 15}) {
      const double expected = pumping / (2 * std::numbers::pi * t) * std::log(double(r2) / r1);
      EXPECT_NEAR(drawdown(r1) - drawdown(r2), expected, 0.05 * expected) << r1 << " " << r2;
    }
}

// Exponential integral W(u) = E1(u) by its series (u well below 1).
double WellFunction(double u) {
  double sum = -0.5772156649015329 - std::log(u);
  double term = -1.0;
  for (int n = 1; n < 40; ++n) {
    term *= -u / n;
    sum -= term / n;
  }
  return sum;
}

TEST(GroundwaterSweep, TransientPumpingFollowsTheis) {
  const double t = 1e-3, s = 1e-4, dx = 10.0, pumping = 0.01;
  const long n = 121, centre = 61;
  EXPECT_NEAR(pumping / (4 * std::numbers::pi * t) *
                  WellFunction(50.0 * 50.0 * s / (4 * t * 7200.0)),
              3.32, 0.01);
  Aquifer a(n, n, t, s, dx);
  a.settings.alpha = 1.0;
  a.settings.omega = 1.5;
  a.settings.dt = 30.0;
  a.FillHeads(0.0);
  a.inflow[centre][centre] = -pumping / (dx * dx);
  for (int step = 1; step <= 240; ++step) {
    a.StartSubstep();
    a.Solve(1e-9);
  }
  const double time = 240 * 30.0;
  for (long cells = 5; cells <= 10; ++cells) {
    const double r = cells * dx;
    const double expected =
        pumping / (4 * std::numbers::pi * t) * WellFunction(r * r * s / (4 * t * time));
    EXPECT_NEAR(-a.head[centre][centre + cells], expected, 0.05 * expected) << cells;
    EXPECT_NEAR(-a.head[centre + cells][centre], expected, 0.05 * expected) << cells;
  }
  // The cone stays clear of the border (600 m away, where Theis gives
  // 0.12 m): the closed border has not yet doubled more than that.
  EXPECT_LT(-a.head[1][centre], 0.1 * -a.head[centre][centre + 5]);
}

TEST(GroundwaterSweep, ClosedConfinedLayerStoresWhatFlowsIn) {
  const double t = 5e-4, s = 2e-4, dx = 20.0, dt = 3600.0;
  Aquifer a(9, 11, t, s, dx);
  a.settings.alpha = 1.0;
  a.settings.omega = 1.3;
  a.settings.dt = dt;
  a.FillHeads(30.0);
  a.inflow[3][4] = 2e-7;
  a.inflow[7][9] = 5e-8;
  double stored = 0.0;
  a.StartSubstep();
  a.Solve(1e-12);
  for (long r = 1; r <= 9; ++r)
    for (long c = 1; c <= 11; ++c)
      stored += s * dx * dx * (a.head[r][c] - a.old[r][c]);
  const double entered = (2e-7 + 5e-8) * dx * dx * dt;
  EXPECT_NEAR(stored, entered, 1e-6 * entered);
}

TEST(GroundwaterSweep, OverRelaxationCountsAndFirstAdaptiveFactor) {
  const long n = 20;
  const auto sweepsWith = [&](double omega, int maxSweeps = 100000) {
    Aquifer a(1, n + 2, 1e-3, 0.0, 10.0);
    a.settings.alpha = 1.0;
    a.settings.omega = omega;
    a.FillHeads(0.0);
    a.Fix(1, 1, 1.0);
    a.Fix(1, n + 2, 0.0);
    return a.Solve(1e-9, maxSweeps);
  };
  const double optimal = 2.0 / (1.0 + std::sin(std::numbers::pi / (n + 1)));
  const int plain = sweepsWith(1.0);
  const int middle = sweepsWith(1.0 + 0.5 * (optimal - 1.0));
  const int best = sweepsWith(optimal);
  const int beyond = sweepsWith(1.98);
  EXPECT_GT(plain, middle);
  EXPECT_GT(middle, best);
  EXPECT_GT(beyond, best);
  EXPECT_EQ(sweepsWith(1.0, 1), 1);

  Aquifer a(3, 3, 1e-3, 1e-4, 10.0);
  a.settings.omega = 0.0;
  a.settings.dt = 60.0;
  a.FillHeads(1.0);
  a.Fix(1, 1, 5.0);
  a.StartSubstep();
  a.Solve(0.0, 1);
  EXPECT_EQ(a.last.factorSum, static_cast<double>(a.last.factorCount)); // every factor 1
  EXPECT_EQ(a.last.factorCount, 8);
}

TEST(GroundwaterSweep, ResultDoesNotDependOnTheThreads) {
  const auto run = [](int threads, bool twoPasses = false) {
    omp_set_num_threads(threads);
    Aquifer a(37, 23, 1e-3, 1e-4, 10.0);
    a.settings.alpha = 0.6;
    a.settings.omega = 0.0;
    a.settings.dt = 600.0;
    for (long r = 1; r <= 37; ++r)
      for (long c = 1; c <= 23; ++c)
        a.head[r][c] = a.old[r][c] = a.prevIter[r][c] = std::sin(0.3 * r) + 0.1 * c;
    a.Fix(5, 5, 3.0);
    a.inflow[20][10] = -1e-5;
    a.Solve(1e-12, 57, twoPasses);
    std::vector<double> heads;
    for (long r = 1; r <= 37; ++r)
      for (long c = 1; c <= 23; ++c)
        heads.push_back(a.head[r][c]);
    return heads;
  };
  const int before = omp_get_max_threads();
  const std::vector<double> one = run(1);
  EXPECT_EQ(run(2), one);
  EXPECT_EQ(run(3), one);
  EXPECT_EQ(run(8), one); // blocks of a few rows each
  EXPECT_EQ(run(2, true), one);
  omp_set_num_threads(before);
}

} // namespace
} // namespace tavro
