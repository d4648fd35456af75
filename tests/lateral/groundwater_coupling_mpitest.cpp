// The soil columns and the groundwater module coupled on the soil's test
// catchment (6 x 5 cells of 1 km, falling 10 m a row), stepped in the
// application's order: every call of a step the soil water, then the lateral
// groundwater flow, which hands each column the water it gives or takes in
// the next call through "baseflow". The river cells of column 5 lie on beds
// below the soil and leak fast, so their exfiltration drains the layers
// below the groundwater layer within a call while the table stays in that
// layer; the module takes its head from the table and lets the river cell
// give water to the next one downstream. Each column moves through the
// baseflow exactly the water the module booked for it, so the columns
// conserve water: what they hold, with what left them through the rivers
// (direct runoff, interflow, exfiltration) and the evapotranspiration, is
// what they held at the start plus the rain.
#include "soil/soil_module_fixture.h"

#include "lateral/groundwater_flow.h"

#include <mpi.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::kSoilColumns;
using test::SoilSubbasin;

constexpr int kCalls = 2;
constexpr double kCallSeconds = 3600.0 / kCalls; // hourly steps
constexpr int kSteps = 24;
constexpr double kConductivity = 0.05; // m/s: the hillslopes drain within the day
constexpr double kRiverDepth = 2.0;    // m, below the soil's 1.5 m
constexpr double kRiverWidth = 20.0;   // m
constexpr double kLeakage = 1e-2;      // 1/s

std::string GroundwaterSection() {
  return "[groundwater_flow]\n1 flow control\n60 time interval\n1 method\n1000 maxiter\n1e-12 "
         "maxerror\n1 alpha\n1 sor\n0 grid read\n1 layers\n0 0 control cell\ngw_control.txt "
         "control file\nheads1.asc\n0\nqx1.asc\n0\nqy1.asc\n0\nbalance1.asc\n0\n";
}

double Rain(int step, long r, long c) { return step <= 2 ? 3.0 + r + 0.5 * c : 0.0; }

// What one run leaves: every column's water contents and table, and the
// largest departures from the closures it checked.
struct RunResult {
  std::vector<double> state;
  double worstHandOver =
      0.0;                  // |delivered - booked| over |booked| (at least 1 mm), per cell and call
  double worstColumn = 0.0; // a column's own balance (mm), per cell and call
  double worstTotal = 0.0;  // the catchment's water, relative, per step
  double movedLaterally = 0.0; // |baseflow| summed over the cells and calls (mm)
};

class GroundwaterCouplingTest : public test::SoilModuleTest {
protected:
  void SetUp() override {
    test::SoilModuleTest::SetUp();
    rain_ = &AddGrid("precipitation", [](long, long) { return 0.0; });
    AddGrid("aquifer_thickness_1", [](long, long) { return 10.0; }); // the soil's depth replaces it
    storage_ = &AddGrid("gw_storage_coeff_1", [](long, long) { return 0.1; });
    AddGrid("kolmation", [](long, long) { return kLeakage; });
    AddGrid("river_depth", [](long, long c) { return c == 5 ? kRiverDepth : 0.0; });
    AddGrid("river_width", [](long, long c) { return c == 5 ? kRiverWidth : 0.0; });
    AddGrid("river_links", [](long r, long c) { return c == 5 ? SoilSubbasin(r, c) : 0.0; });
    AddGrid("[elevation_model]", test::SoilElevation);
    AddGrid("MPIRegions", [this](long r, long c) { return decomposition_.regions[r][c]; });
    AddGrid("CellSizeX", [](long, long) { return 1000.0; });
    AddGrid("CellSizeY", [](long, long) { return 1000.0; });
    for (const char *k : {"gw_k_x_1", "gw_k_y_1"})
      AddGrid(k, [](long, long) { return kConductivity; });
    for (const char *fixed : {"gw_boundary_fix_h_1", "gw_boundary_fix_q_1"})
      AddGrid(fixed, [](long, long) { return test::kSoilNoData; });
  }

  void BuildBoth() {
    soil_ = BuildCoupled(test::SoilSection(test::CoupledHourly(1)) + GroundwaterSection(), kCalls);
    ModuleSettings s = settings_;
    soil_->CopyZoneTableTo(s);
    int error = -1;
    Quietly([&] { groundwater_ = std::make_unique<gwflowclass>(error, s, nullptr, kCalls); });
    ASSERT_EQ(error, 0);
  }

  template <class Body> static void Quietly(Body &&body) {
    testing::internal::CaptureStdout();
    body();
    testing::internal::GetCapturedStdout();
  }

  template <class Value> double Total(Value &&value) const {
    return TotalOverProcesses(*soil_, value);
  }

  static double OverProcesses(double value, MPI_Op op) {
    double all = 0.0;
    MPI_Allreduce(&value, &all, 1, MPI_DOUBLE, op, MPI_COMM_WORLD);
    return all;
  }

  // What left a column in the call just made, besides the baseflow (mm).
  double LeftColumn(long r, long c) const {
    const SoilWaterGrids &g = soil_->Grids;
    return g.DirectFlow.Values[r][c] + g.Interflow.Values[r][c] + g.RiverExfiltration.Values[r][c] -
           g.RiverInfiltration.Values[r][c] + (*evapotranspiration_)[r][c];
  }

  // Both modules from the start, kSteps hourly steps under the given number
  // of threads; the modules are released at the end.
  RunResult Run(int threads) {
    omp_set_num_threads(threads);
    for (long r = held_.first; r <= held_.last; ++r)
      for (long c = 1; c <= kSoilColumns; ++c)
        (*storage_)[r][c] = 0.1;
    BuildBoth();
    evapotranspiration_ = registry_[registry_.FindGrid("real_transpiration0", false)].Data;
    SoilWaterGrids &g = soil_->Grids;
    RunResult result;
    const double start = Total([&](long r, long c) { return ColumnWater(*soil_, r, c); });
    double rain = 0.0;
    double left = 0.0;
    for (int step = 1; step <= kSteps; ++step) {
      const long hour = step % 24, day = 2 + step / 24;
      for (long r = held_.first; r <= held_.last; ++r)
        for (long c = 1; c <= kSoilColumns; ++c)
          (*rain_)[r][c] = Rain(step, r, c);
      rain += Total([&](long r, long c) { return Rain(step, r, c); });
      Quietly([&] {
        soil_->BeginTimeStep(hour, day, 1, 2012);
        groundwater_->BeginTimeStep(hour, day, 1, 2012);
      });
      for (int call = 0; call < kCalls; ++call) {
        std::vector<double> booked, before;
        ForOwnCell(*soil_, [&](long r, long c) {
          booked.push_back(g.Baseflow.Values[r][c] * kCallSeconds * 1000.0);
          before.push_back(ColumnWater(*soil_, r, c));
          (*evapotranspiration_)[r][c] = 0.0;
        });
        Quietly([&] { soil_->ComputeTimeStep(hour, day, 1, 2012); });
        std::size_t i = 0;
        ForOwnCell(*soil_, [&](long r, long c) {
          const double gave = g.Baseflow.Values[r][c];
          result.worstHandOver =
              std::max(result.worstHandOver,
                       std::fabs(gave - booked[i]) / std::max(1.0, std::fabs(booked[i])));
          const double change = ColumnWater(*soil_, r, c) - before[i];
          const double own = Rain(step, r, c) / kCalls - LeftColumn(r, c) - gave - change;
          result.worstColumn = std::max(result.worstColumn, std::fabs(own));
          result.movedLaterally += std::fabs(gave);
          ++i;
        });
        left += Total([&](long r, long c) { return LeftColumn(r, c); });
        Quietly([&] { groundwater_->ComputeTimeStep(hour, day, 1, 2012); });
      }
      Quietly([&] { soil_->ConcentrateRunoff(hour, day, 1, 2012); });
      const double now = Total([&](long r, long c) { return ColumnWater(*soil_, r, c); });
      result.worstTotal =
          std::max(result.worstTotal, std::fabs(now + left - start - rain) / (start + rain));
    }
    result.worstHandOver = OverProcesses(result.worstHandOver, MPI_MAX);
    result.worstColumn = OverProcesses(result.worstColumn, MPI_MAX);
    result.movedLaterally = OverProcesses(result.movedLaterally, MPI_SUM);
    ForOwnCell(*soil_, [&](long r, long c) {
      for (int k = 1; k <= soil_->MaxSoilLayers; ++k)
        result.state.push_back(g.Theta.Levels[r][c][k]);
      result.state.push_back(g.GroundwaterDistance.Values[r][c]);
    });
    groundwater_->ReleaseMemory();
    soil_->ReleaseMemory();
    groundwater_.reset();
    soil_.reset();
    return result;
  }

  Grid *rain_ = nullptr;
  Grid *storage_ = nullptr;
  Grid *evapotranspiration_ = nullptr;
  std::unique_ptr<unsatzonmodellklasse> soil_;
  std::unique_ptr<gwflowclass> groundwater_;
};

TEST_F(GroundwaterCouplingTest, ColumnsGiveWhatTheModuleBookedAndConserveWater) {
  const int threads = omp_get_max_threads();
  const RunResult one = Run(1);
  // Every column moved exactly the water the module booked for it, also the
  // river cells whose deeper layers the exfiltration drained below their table
  // (a column that gave only from its lowest unsaturated layer down dropped
  // such withdrawals, and the catchment's water drifted by 2e-5 in the day).
  EXPECT_LT(one.worstHandOver, 1e-12);
  EXPECT_LT(one.worstColumn, 1e-10);
  EXPECT_LT(one.worstTotal, 1e-12);
  // The lateral flow moved a lot of water between the columns.
  EXPECT_GT(one.movedLaterally, 10.0);
  // Two threads give the same columns bit for bit.
  const RunResult two = Run(2);
  EXPECT_EQ(two.state, one.state);
  EXPECT_LT(two.worstTotal, 1e-12);
  omp_set_num_threads(threads);
}

} // namespace
} // namespace tavro
