// The irrigation module on the small catchment of the groundwater fixture,
// under any process count: the owners' demand, the supply decided for the
// whole catchment and the precipitation every process gets, against values
// computed by hand.
#include "groundwater_module_fixture.h"

#include "kernel/exact_sum.h"
#include "lateral/irrigation_model.h"
#include "raster/parallel/non_finite_water.h"
#include "support/diagnostics_entries.h"
#include "tables/irrigation_table.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace tavro {
namespace {

// Columns 1-3 draw 24 mm per day from surface water on 1 January; column 4
// pumps groundwater on demand by suction; the rest has no code.
double Code(long r, long c) {
  if (test::GwZone(r, c) == test::kGwNoData)
    return test::kGwNoData;
  return c <= 3 ? 1.0 : (c == 4 ? 2.0 : 0.0);
}

class IrrigationModuleTest : public test::GroundwaterModuleTest {
protected:
  void SetUp() override {
    test::GroundwaterModuleTest::SetUp();
    // Zone 1 holds 27 cells of 1 ha, zone 2 34.
    zoneTable_[0].rel = 0.61;
    zoneTable_[1].rel = 0.27 / 0.61;
    zoneTable_[2].rel = 0.34 / 0.61;
    precipitation_ = &AddGrid("precipitation", [](long, long) { return 1.0; });
    AddGrid("irrigation_codes", Code);
    AddGrid("Max_Pumping", [](long, long) { return 0.5; });
    AddGrid("irrigation_amounts", [](long, long) { return 0.0; });
    AddGrid("SB_1_grid", [](long, long) { return 0.1; });
    AddGrid("SBLOW_grid", [](long, long) { return 0.2; });
    AddGrid("SBHIGH_grid", [](long, long) { return 0.3; });
    AddGrid("ETR2ETP", [](long, long) { return 1.0; });
    AddGrid("root_depth1", [](long, long) { return 0.5; });
    table_ = OneBasedArray<IrrigationTableEntry>(2);
    table_[0].Code = 2;
    IrrigationTableEntry &river = table_[1];
    river.Method = irrigation::FixedDates;
    river.Origin = irrigation::SurfaceWater;
    river.tabcnt = 1;
    river.months = OneBasedArray<std::int64_t>(1, 1);
    river.days = OneBasedArray<std::int64_t>(1, 1);
    river.amounts = OneBasedArray<double>(1, 24.0);
    table_[2].Method = irrigation::SuctionDemand;
    table_[2].Origin = irrigation::Groundwater;
    test::WriteFixture(
        test::kGwControl,
        "[irrigation]\n1 flow control\n60 time interval\nirrgw.sta 0\nirrsw.sta 0\n");
    limits_.Resize(0, 2);
    reservoirs_.Resize(0, 2);
    targets_.Target = OneBasedArray<int>(2, 0);
    targets_.Target[1] = 2; // zone 1 drains into zone 2
  }

  // Hands the module the limits, targets and relations of the routing.
  void Link(irrigationclass &irrigation) {
    irrigation.SetMaxIrrig(&limits_, &reservoirs_);
    irrigation.SetRoutingTarget(&targets_);
    irrigation.SetAbfrel(&relations_);
  }

  Grid *precipitation_ = nullptr;
  OneBasedArray<IrrigationTableEntry> table_;
  IrrigationLimits limits_;
  IrrigationLimits reservoirs_;
  RoutingTargets targets_;
  DischargeRelations relations_;
};

TEST_F(IrrigationModuleTest, SupplyAndPrecipitationMatchTheHandComputedValues) {
  int error = 0;
  irrigationclass irrigation(error, settings_, &table_);
  ASSERT_EQ(error, 0);
  Link(irrigation);
  // Zone 1: reservoirs 0.3 mm, river 0.05 mm; zone 2: river 5 mm.
  reservoirs_[0][1] = 0.3;
  limits_[0][1] = 0.05;
  limits_[0][2] = 5.0;
  irrigation.ComputeTimeStep(1, 1, 1, 2012);

  // Zone 1: 11 surface-water cells ask 1 mm each, 110 m3 or 110 / 270 mm;
  // 0.3 mm come from the reservoirs and 0.05 mm from the river.
  const double demand1 = 110.0 / 270.0;
  const double fraction1 = (0.3 + 0.05) / demand1;
  if (test::Rank() == 0) {
    EXPECT_NEAR(irrigation.DemandVolume()[1], 110.0, 1e-9);
    EXPECT_NEAR(irrigation.DemandVolume()[2], 150.0, 1e-9);
    EXPECT_NEAR(irrigation.SuppliedFraction()[1], fraction1, 1e-12);
    EXPECT_NEAR(irrigation.SuppliedFraction()[2], 1.0, 1e-12);
    // Applied surface water = reservoir share + river withdrawal, as volumes.
    EXPECT_NEAR(irrigation.AppliedVolume()[1], (0.3 + 0.05) * 270.0, 1e-9 * 110.0);
    EXPECT_NEAR(irrigation.AppliedVolume()[2], 150.0, 1e-9 * 150.0);
    EXPECT_DOUBLE_EQ(reservoirs_[0][1], 0.3); // the share taken from the reservoirs
  }
  // Every process's cells: surface water scaled, groundwater cut to Max_Pumping.
  ExactSum local;
  for (long r = held_.first; r <= held_.last; ++r)
    for (long c = 1; c <= test::kGwColumns; ++c) {
      if (!Own(r, c))
        continue;
      const double code = Code(r, c);
      double expected = 1.0;
      if (code == 1.0)
        expected += test::GwZone(r, c) == 1.0 ? fraction1 : 1.0;
      else if (code == 2.0)
        expected += 0.5;
      EXPECT_NEAR((*precipitation_)[r][c], expected, 1e-12) << r << " " << c;
      local.Add((*precipitation_)[r][c]);
    }
  // The catchment's total is the same for any process count.
  double total = 0.0;
  const double mine = local.ToDouble();
  MPI_Allreduce(&mine, &total, 1, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
  EXPECT_NEAR(total, 61.0 + 11.0 * fraction1 + 15.0 + 9.0 * 0.5, 1e-9);
  irrigation.ReleaseMemory();
}

// With the writecode 2 (a file of every step, stamped with the step's date)
// the amounts applied in the step reach the grid's file: the scaled surface
// water, the groundwater cut to Max_Pumping, 0 where nothing is irrigated.
TEST_F(IrrigationModuleTest, AmountsGridIsWrittenByItsWritecode) {
  GridEntry &entry = registry_[registry_.FindGrid("irrigation_amounts", false)];
  entry.OutputKind = DecodeWritecode(2).OutputKind;
  entry.outname = "irrigation.asc";
  const std::string file = "irrigation_20120101.001";
  settings_.WriteAsciiGrids = true;
  int error = 0;
  irrigationclass irrigation(error, settings_, &table_);
  ASSERT_EQ(error, 0);
  Link(irrigation);
  reservoirs_[0][1] = 0.3;
  limits_[0][1] = 0.05;
  limits_[0][2] = 5.0;
  irrigation.ComputeTimeStep(1, 1, 1, 2012);
  MPI_Barrier(MPI_COMM_WORLD);
  if (test::Rank() == 0) {
    ASSERT_TRUE(test::FileExists(file));
    const std::vector<double> values = test::ReadAsciiGridValues(file);
    ASSERT_EQ(values.size(), static_cast<std::size_t>(test::kGwRows * test::kGwColumns));
    const double fraction1 = (0.3 + 0.05) / (110.0 / 270.0);
    for (long r = 1; r <= test::kGwRows; ++r)
      for (long c = 1; c <= test::kGwColumns; ++c) {
        const double code = Code(r, c);
        double expected = 0.0;
        if (code == test::kGwNoData)
          expected = test::kGwNoData;
        else if (code == 1.0)
          expected = test::GwZone(r, c) == 1.0 ? fraction1 : 1.0;
        else if (code == 2.0)
          expected = 0.5;
        // The file's first row is the raster's first row.
        EXPECT_NEAR(values[static_cast<std::size_t>((r - 1) * test::kGwColumns + c - 1)], expected,
                    1e-6)
            << r << " " << c;
      }
  }
  irrigation.ReleaseMemory();
}

// Precipitation that is no usable number at a cell of the last row, irrigated
// or not, stops the step on every process with the exit code, and rank 0's
// FATAL entry names the module, the grid and the cell.
TEST_F(IrrigationModuleTest, WaterThatIsNoNumberStopsTheRun) {
  struct Case {
    long column;
    double value;
    const char *named; // the grid and value the entry names
  };
  const double inf = std::numeric_limits<double>::infinity();
  for (const Case &k : {Case{1, std::nan(""), "precipitation holds nan"},
                        Case{6, inf, "precipitation holds inf"}}) {
    SCOPED_TRACE(k.column);
    int error = 0;
    irrigationclass irrigation(error, settings_, &table_);
    ASSERT_EQ(error, 0);
    Link(irrigation);
    limits_[0][1] = 0.05;
    limits_[0][2] = 5.0;
    if (Own(test::kGwRows, k.column))
      (*precipitation_)[test::kGwRows][k.column] = k.value;
    const int code = test::ExitCodeOf([&] { irrigation.ComputeTimeStep(1, 1, 1, 2012); });
    if (precipitation_->HasRow(test::kGwRows))
      (*precipitation_)[test::kGwRows][k.column] = 1.0;
    EXPECT_EQ(code, NonFiniteWaterExitCode);
    if (test::Rank() == 0) {
      EXPECT_TRUE(
          test::Logged(std::string("FATAL: irrigation: water out of range on 1.1.2012 1h: ") +
                       k.named + " at row 9, col " + std::to_string(k.column)))
          << test::ReadWholeFile("Tavro_Diag_0.xml");
    }
    irrigation.ReleaseMemory();
  }
}

} // namespace
} // namespace tavro
