// A model object's exchange members reach the run's decomposition and the
// registered grid of an index: scatter then gather-for-output restores the
// raster, and an object without a decomposition fails loudly.
#include <gtest/gtest.h>

#include <memory>

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "kernel/modelobject.h"
#include "raster/parallel/mpi_decomposition.h"
#include "support/test_support.h"

namespace tavro {
namespace {

constexpr double N = -9999.0;
constexpr long kRows = 9;
constexpr long kCols = 7;

bool Valid(long r, long c) { return !(r == 4 && c > 3) && !(c == 1 && r % 2 == 0); }
double Value(long r, long c) { return r * 100.0 + c + 0.25; }

class ModelObjectExchange : public testing::Test {
protected:
  void SetUp() override {
    testing::internal::CaptureStdout();
    log_ = std::make_unique<DiagnosticsLog>("", 4);
    test::WriteFixture(kSpeedFactorFileName, "1.0\n");
    const RasterShape shape{kCols, kRows, N};
    Grid zone;
    if (test::Rank() == 0) {
      zone = Grid(1, kRows, kCols, kRows, *log_);
      for (long r = 1; r <= kRows; ++r)
        for (long c = 1; c <= kCols; ++c)
          zone[r][c] = Valid(r, c) ? 1.0 : N;
    }
    decomposition_ = DistributeMpiRegions(test::Rank() == 0 ? &zone : nullptr, shape, *log_);
  }
  void TearDown() override {
    log_.reset();
    testing::internal::GetCapturedStdout();
  }

  std::unique_ptr<DiagnosticsLog> log_;
  MpiDecomposition decomposition_;
};

TEST_F(ModelObjectExchange, ScatterByIndexThenGatherForOutput) {
  GridRegistry registry;
  modelobject object(*log_, "exchange_test", "none.ctl");
  object.Registry = &registry;
  object.Halo = {&decomposition_.haloSend, &decomposition_.haloReceive, &decomposition_};

  const StripRows rows = decomposition_.HeldRows();
  Grid values(rows.first, rows.last, kCols, kRows, *log_);
  if (test::Rank() == 0) {
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c)
        values[r][c] = Value(r, c);
  }
  registry.AddGrid(5, "values", &values, nullptr, 1, "values", 0, rows.first, rows.last, kCols,
                   kRows, *log_);
  object.MPIScatterGrid(5, nullptr);
  for (long r = decomposition_.strip.first; r <= decomposition_.strip.last; ++r) {
    for (long c = 1; c <= kCols; ++c) {
      if (decomposition_.regions[r][c] == test::Rank()) {
        ASSERT_EQ(values[r][c], Value(r, c)) << r << "," << c;
      }
    }
  }

  object.MPIExchangeHalo(5, nullptr);
  const Grid whole = object.MPIGatherGridForOutput(5, nullptr);
  if (test::Rank() == 0) {
    for (long r = 1; r <= kRows; ++r)
      for (long c = 1; c <= kCols; ++c)
        EXPECT_EQ(whole[r][c], Valid(r, c) ? Value(r, c) : N) << r << "," << c;
  } else {
    EXPECT_FALSE(whole.Allocated());
  }
}

TEST_F(ModelObjectExchange, WithoutDecompositionIsFatal) {
  modelobject object(*log_, "lonely", "none.ctl");
  Grid grid(1, 1, 1, 1, *log_);
  int code = 0;
  try {
    object.MPIExchangeHalo(0, &grid);
  } catch (int thrown) {
    code = thrown;
  }
  EXPECT_EQ(code, 122);
}

} // namespace
} // namespace tavro
