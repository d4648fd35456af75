// Surface routing continued from its state while water flows over the
// surface: a run split through the state section and the per-cell state
// files equals one long run bit for bit (velocities, outflow weights,
// fluxes, surface storage, river water, Qg), also when the per-cell files
// were written under another number of processes; a missing file leaves
// that part of the flow at rest with a warning, and a file that does not fit
// stops the run naming it.
#include "surface_routing_fixture.h"

#include "raster/files/grid_format.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace tavro {
namespace {

using test::kSrNoData;
using test::StripCrossingPlane;
using test::SurfacePlane;
using test::SurfaceRoutingTest;
using test::SurfaceSectionText;
using test::UnevenDirectRunoff;
using test::UnevenInterflow;

constexpr int kLevels = surfaceroutingclass::StackLevels;
constexpr int kSteps = 4; // time steps of the long run, two sub-steps each
constexpr int kHalf = 2;  // where the split run stops and goes on
constexpr int kSubsteps = 2;
const std::vector<std::string> kFlowStateSuffixes = {
    "_SurfaceRoutingVelocity", "_SurfaceRoutingWeights", "_SurfaceRoutingFluxes"};
// The levels 0..n each file carries.
constexpr int kFileLevels[] = {9, 8, 8};

// What a run leaves, gathered on rank 0.
struct RunEnd {
  Stack velocity, weights, fluxes;
  Grid storage, direct;
  std::vector<double> qg; // both subbasins of every step of the second half
};

class SurfaceRoutingRestart : public SurfaceRoutingTest {
protected:
  void SetUp() override {
    Raster(StripCrossingPlane());
    text_.minStep = 1.0;
    text_.maxStep = 150.0;
    // A velocity iteration stopped early, as in catchment runs: its start,
    // the velocities of the last inner step, shapes the result.
    text_.maxErrorVelocity = 0.001;
    text_.maxIterVelocity = 20;
    text_.storageFile = "restart.txt";
    for (std::size_t k = 1; k <= 2; ++k)
      qbb_.Components[0][k] = 0.25;
  }

  // Time steps first..last-1, the soil handing the water left on the surface
  // back with the new direct runoff; Qg of the steps from kHalf on.
  void Steps(surfaceroutingclass &module, int first, int last, RunEnd &end) {
    for (int step = first; step < last; ++step) {
      testing::internal::CaptureStdout();
      module.BeginTimeStep(0, step + 1, 6, 2012);
      for (int s = 0; s < kSubsteps; ++s) {
        const int substep = kSubsteps * step + s;
        ForOwn([&](long r, long c) {
          (*direct_)[r][c] = UnevenDirectRunoff(r, c, substep) + (*storage_)[r][c];
          (*inter_)[r][c] = UnevenInterflow(r, c, substep);
        });
        module.ComputeTimeStep(0, step + 1, 6, 2012);
        EXPECT_GT(module.InnerStepsRun(), 10) << "the water needs many inner steps";
      }
      module.ConcentrateRunoff(0, step + 1, 6, 2012);
      testing::internal::GetCapturedStdout();
      if (test::Rank() == 0 && step >= kHalf)
        for (std::size_t k = 1; k <= 2; ++k)
          end.qg.push_back(module.GetQg()->Components[0][k]);
    }
  }

  void Gather(surfaceroutingclass &module, RunEnd &end) {
    const auto stack = [&](const char *identifier) {
      return module.MPIGatherStackForOutput(registry_.FindGrid(identifier, false), nullptr);
    };
    const auto grid = [&](const char *identifier) {
      return module.MPIGatherGridForOutput(registry_.FindGrid(identifier, false), nullptr);
    };
    end.velocity = stack("SurfaceRoutingVelocity");
    end.weights = stack("SurfaceRoutingWeights");
    end.fluxes = stack("SurfaceRoutingFluxes");
    end.storage = grid("SurfStorSiltingUp");
    end.direct = grid("directflow");
  }

  void ClearSurface() {
    ForOwn([&](long r, long c) { (*storage_)[r][c] = 0.0; });
  }

  RunEnd LongRun() {
    ClearSurface();
    SurfaceSectionText text = text_;
    text.storageFile = "long.txt";
    RunEnd end;
    auto module = Ready(text.Text(), kSubsteps);
    Steps(*module, 0, kSteps, end);
    Gather(*module, end);
    module->FinishRun(false);
    return end;
  }

  // The first half, which writes the state section and the per-cell files.
  void FirstHalf() {
    ClearSurface();
    RunEnd unused;
    auto module = Ready(text_.Text(), kSubsteps);
    Steps(*module, 0, kHalf, unused);
    module->FinishRun(false);
    MPI_Barrier(MPI_COMM_WORLD);
  }

  // The second half from the state; the surface storage grid is the one the
  // first half left, as a run reads it from its state grid.
  RunEnd SecondHalf() {
    SurfaceSectionText text = text_;
    text.readGrids = 1;
    RunEnd end;
    auto module = Ready(text.Text(), kSubsteps);
    Steps(*module, kHalf, kSteps, end);
    Gather(*module, end);
    // The overland flow of the last sub-step closes its balance.
    double residual = module->LastBalance().Residual();
    MPI_Allreduce(MPI_IN_PLACE, &residual, 1, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
    EXPECT_NEAR(residual, 0.0, 1e-9);
    module->FinishRun(false);
    return end;
  }

  // Rank 0: the number of values of valid cells that differ.
  long Differences(const RunEnd &a, const RunEnd &b) const {
    long differ = 0;
    for (long r = 1; r <= plane_.rows; ++r)
      for (long c = 1; c <= plane_.columns; ++c) {
        if (plane_.zoneOf(r, c) == kSrNoData)
          continue;
        for (int k = 0; k < kLevels; ++k)
          for (const auto &[x, y] :
               {std::pair{&a.velocity, &b.velocity}, std::pair{&a.weights, &b.weights},
                std::pair{&a.fluxes, &b.fluxes}})
            differ += (*x)[r][c][k] != (*y)[r][c][k] ? 1 : 0;
        differ += a.storage[r][c] != b.storage[r][c] ? 1 : 0;
        differ += a.direct[r][c] != b.direct[r][c] ? 1 : 0;
      }
    return differ;
  }

  // Rank 0: every value of every valid cell and Qg equal bit for bit.
  void ExpectSame(const RunEnd &split, const RunEnd &whole) const {
    if (test::Rank() != 0)
      return;
    for (long r = 1; r <= plane_.rows; ++r)
      for (long c = 1; c <= plane_.columns; ++c) {
        if (plane_.zoneOf(r, c) == kSrNoData)
          continue;
        for (int k = 0; k < kLevels; ++k) {
          ASSERT_EQ(split.velocity[r][c][k], whole.velocity[r][c][k])
              << "velocity level " << k << " at " << r << "," << c;
          ASSERT_EQ(split.weights[r][c][k], whole.weights[r][c][k])
              << "weight level " << k << " at " << r << "," << c;
          ASSERT_EQ(split.fluxes[r][c][k], whole.fluxes[r][c][k])
              << "flux level " << k << " at " << r << "," << c;
        }
        ASSERT_EQ(split.storage[r][c], whole.storage[r][c]) << "S at " << r << "," << c;
        ASSERT_EQ(split.direct[r][c], whole.direct[r][c]) << "river water at " << r << "," << c;
      }
    EXPECT_EQ(split.qg, whole.qg);
  }

  static std::string FileName(std::size_t i) { return "restart.txt" + kFlowStateSuffixes[i]; }

  SurfaceSectionText text_;
};

// Bytes of a whole-raster binary double stack of levels 0..levels.
std::uintmax_t StackBytes(long rows, long columns, int levels) {
  return static_cast<std::uintmax_t>(StackElementIndex(static_cast<int>(rows) + 1, 1, 0,
                                                       static_cast<int>(columns), levels)) *
         sizeof(double);
}

TEST_F(SurfaceRoutingRestart, SplitRunEqualsLongRunBitForBit) {
  const RunEnd whole = LongRun();
  FirstHalf();
  if (test::Rank() == 0) {
    // One file per stack for the whole raster, whatever the process count.
    for (std::size_t i = 0; i < kFlowStateSuffixes.size(); ++i) {
      EXPECT_EQ(std::filesystem::file_size(FileName(i)),
                StackBytes(plane_.rows, plane_.columns, kFileLevels[i]))
          << FileName(i);
      EXPECT_FALSE(std::filesystem::exists(FileName(i) + "_0"));
    }
    // Under CTest the files go to a folder where the runs under one and
    // three processes are compared, and the other process count reads them.
    if (const char *folder = std::getenv("TAVRO_OVERLAND_STATE_EXPORT")) {
      std::filesystem::create_directories(folder);
      for (std::size_t i = 0; i < kFlowStateSuffixes.size(); ++i)
        std::filesystem::copy_file(FileName(i), std::filesystem::path(folder) / FileName(i),
                                   std::filesystem::copy_options::overwrite_existing);
    }
  }
  const RunEnd split = SecondHalf();
  ExpectSame(split, whole);
  if (test::Rank() == 0) {
    EXPECT_GT(whole.qg.front(), 0.25) << "water reached the rivers";
    EXPECT_FALSE(test::Logged("WARNING: error opening storage content file restart.txt_Surface"));
  }
}

// Run as its own CTest entry under one process, after the suite under three
// processes exported its per-cell files (TAVRO_OVERLAND_STATE_IMPORT).
TEST_F(SurfaceRoutingRestart, PerCellStateOfAnotherProcessCountContinuesTheLongRun) {
  const char *folder = std::getenv("TAVRO_OVERLAND_STATE_IMPORT");
  if (folder == nullptr)
    GTEST_SKIP() << "runs as its own CTest entry with TAVRO_OVERLAND_STATE_IMPORT";
  const RunEnd whole = LongRun();
  FirstHalf();
  if (test::Rank() == 0)
    for (std::size_t i = 0; i < kFlowStateSuffixes.size(); ++i) {
      const std::filesystem::path imported = std::filesystem::path(folder) / FileName(i);
      ASSERT_TRUE(std::filesystem::exists(imported)) << imported;
      std::filesystem::copy_file(imported, FileName(i),
                                 std::filesystem::copy_options::overwrite_existing);
    }
  MPI_Barrier(MPI_COMM_WORLD);
  ExpectSame(SecondHalf(), whole);
}

struct MissingCase {
  const char *name;
  std::vector<std::size_t> removed; // indexes into kFlowStateSuffixes
};

class SurfaceRoutingMissingState : public SurfaceRoutingRestart,
                                   public testing::WithParamInterface<MissingCase> {};

TEST_P(SurfaceRoutingMissingState, WarnsNamingTheFileAndStartsThatPartAtRest) {
  const MissingCase &k = GetParam();
  const RunEnd whole = LongRun();
  FirstHalf();
  if (test::Rank() == 0)
    for (const std::size_t i : k.removed)
      std::filesystem::remove(FileName(i));
  MPI_Barrier(MPI_COMM_WORLD);
  const RunEnd split = SecondHalf();
  if (test::Rank() == 0) {
    for (std::size_t i = 0; i < kFlowStateSuffixes.size(); ++i) {
      const bool removed = std::find(k.removed.begin(), k.removed.end(), i) != k.removed.end();
      EXPECT_EQ(test::Logged("WARNING: error opening storage content file " + FileName(i) +
                             ". This means that the actual model run starts the overland flow"),
                removed)
          << FileName(i);
    }
    // The flow of the second half started from other velocities: the state
    // the files carry is needed for the long run's results.
    EXPECT_GT(Differences(split, whole), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, SurfaceRoutingMissingState,
                         testing::Values(MissingCase{"Velocities", {0}},
                                         MissingCase{"All", {0, 1, 2}}),
                         [](const testing::TestParamInfo<MissingCase> &info) {
                           return std::string(info.param.name);
                         });

// Rank 0: overwrites the double at element index of a file.
void OverwriteValue(const std::string &file, std::int64_t element, double value) {
  std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
  stream.seekp(element * static_cast<std::int64_t>(sizeof(double)));
  stream.write(reinterpret_cast<const char *>(&value), sizeof value);
}

// Rank 0: a velocity file of a raster one column wider.
void WriteWiderRaster(const std::string &file, const SurfacePlane &plane) {
  RasterGeometry geometry{static_cast<int>(plane.columns) + 1,
                          static_cast<int>(plane.rows),
                          0.0,
                          0.0,
                          plane.cellSize,
                          kSrNoData};
  GridFileHeader header = GridFileHeader::FromGeometry(geometry);
  header.deviation = 9;
  const auto bytes = EncodeDoubleHeader(header);
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream.write(reinterpret_cast<const char *>(bytes.data()), static_cast<long>(bytes.size()));
  const std::vector<double> cells(static_cast<std::size_t>((plane.columns + 1) * plane.rows * 10),
                                  0.0);
  stream.write(reinterpret_cast<const char *>(cells.data()),
               static_cast<long>(cells.size() * sizeof(double)));
}

TEST_F(SurfaceRoutingRestart, FilesThatDoNotFitStopTheRunNamingThem) {
  FirstHalf();
  const std::string velocity = FileName(0), weights = FileName(1);
  if (test::Rank() == 0) {
    for (const std::string &file : {velocity, weights})
      std::filesystem::copy_file(file, file + ".kept");
  }
  // A valid cell of the plane.
  const long row = 2, column = 3;
  struct BrokenCase {
    const char *name;
    std::string file;
    std::function<void()> spoil;
    int code;
    std::string entry;
  };
  const std::vector<BrokenCase> cases = {
      {"cut short", velocity,
       [&] { std::filesystem::resize_file(velocity, std::filesystem::file_size(velocity) / 2); },
       22, "error reading " + velocity + ": the header announces 9 rows and 7 columns"},
      {"the weights in place of the velocities", velocity,
       [&] {
         std::filesystem::copy_file(weights, velocity,
                                    std::filesystem::copy_options::overwrite_existing);
       },
       22, "error reading " + velocity + ": 9 levels, SurfaceRoutingModel carries 10"},
      {"another raster", velocity, [&] { WriteWiderRaster(velocity, plane_); }, 24,
       velocity + " has not the specified grid measures"},
      {"a main direction outside 0..8", velocity,
       [&] { OverwriteValue(velocity, StackElementIndex(row, column, 0, 7, 9), 12.0); }, 22,
       "error reading " + velocity + ": the cell at row 2, column 3 holds no overland flow"},
      {"a count of unchanged directions that is no whole number", weights,
       [&] { OverwriteValue(weights, StackElementIndex(row, column, 0, 7, 8), 2.5); }, 22,
       "error reading " + weights + ": the cell at row 2, column 3 holds no overland flow"},
      {"a velocity of no-data", velocity,
       [&] { OverwriteValue(velocity, StackElementIndex(row, column, 4, 7, 9), kSrNoData); }, 22,
       "error reading " + velocity + ": the cell at row 2, column 3 holds no overland flow"},
  };
  SurfaceSectionText text = text_;
  text.readGrids = 1;
  for (const BrokenCase &k : cases) {
    SCOPED_TRACE(k.name);
    if (test::Rank() == 0) {
      for (const std::string &file : {velocity, weights})
        std::filesystem::copy_file(file + ".kept", file,
                                   std::filesystem::copy_options::overwrite_existing);
      k.spoil();
    }
    MPI_Barrier(MPI_COMM_WORLD);
    EXPECT_EQ(test::ExitCodeOf([&] { Ready(text.Text(), kSubsteps, false); }), k.code);
    if (test::Rank() == 0) {
      EXPECT_TRUE(test::Logged(k.entry)) << k.entry;
    }
  }
}

} // namespace
} // namespace tavro
