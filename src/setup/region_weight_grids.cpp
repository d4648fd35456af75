// The set-up step that ranks the regions of the region grid and builds the
// region weight grids on rank 0, then brings them to the strips.
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "setup/defaultini.h"
#include "setup/derived_file_names.h"
#include "setup/region_weights.h"

#include <algorithm>

namespace tavro {
namespace {

constexpr int kOpenErrorExitCode = 28;
constexpr const char *kNoFreeGrid = "no free grid found in memory";

} // namespace

double defaultini::ReadTransitionDistance() {
  if (!OpenControlFile())
    ThrowFatal(*Log, kOpenErrorExitCode, Concat("error opening ", ControlFileName));
  FindControlKey("[region_transition_distance]", true);
  double distance = 0.0;
  ReadControlValue(distance, "transition distance (if or if not using a region grid) ");
  CloseControlFileOrFail();
  return distance;
}

void defaultini::MakeRegionWeightGrids() {
  regions_ = RegionRanking{};
  regionGrids_ = RegionGridIndexes{};
  int regions = FindGrid("regression_regions", false);
  if (regions == 0) {
    // No region grid: one region everywhere.
    regions = CreateDerivedGrid(
        "regression_regions", DerivedFileName((*Registry)[1].FileName, "$r1"), kNoFreeGrid, ")\n");
    CreateGrid(*(*Registry)[regions].Data, 1.0, false);
  }
  regionGrids_.Regions1 = regions;
  transitionDistance_ = ReadTransitionDistance();
  RankRegions(regions);

  const std::string source = (*Registry)[regions].FileName;
  const auto create = [&](const char *identifier, const char *suffix) {
    return CreateDerivedGrid(identifier, DerivedFileName(source, suffix), kNoFreeGrid, ")");
  };
  const int levels = std::min(regions_.Count, kMaxRegionWeightLevels);
  regionGrids_.Weights1 = CreateDerivedGrid(
      "regression_weights1", DerivedFileName(source, "$w1", "$rw1"), kNoFreeGrid, ")");
  if (levels >= 2) {
    regionGrids_.Regions2 = create("regression_regions2", "$r2");
    regionGrids_.Weights2 = create("regression_weights2", "$w2");
  }
  if (levels >= 3) {
    regionGrids_.Regions3 = create("regression_regions3", "$r3");
    regionGrids_.Weights3 = create("regression_weights3", "$w3");
  }

  GenerateRegionWeightGrids();

  DistributeFromRoot(regionGrids_.Weights1);
  WriteOnce(regionGrids_.Weights1);
  const std::pair<int, int> pairs[] = {{regionGrids_.Regions2, regionGrids_.Weights2},
                                       {regionGrids_.Regions3, regionGrids_.Weights3}};
  for (const auto &[regionIndex, weightIndex] : pairs) {
    if (regionIndex == 0)
      continue;
    DistributeFromRoot(regionIndex);
    DistributeFromRoot(weightIndex);
    WriteOnce(regionIndex);
    WriteOnce(weightIndex);
  }
}

void defaultini::GenerateRegionWeightGrids() {
  if (MPIRank != 0)
    return;
  Log->Entry(Concat("generating region weight grids", DiagnosticsLog::EndToken));
  const auto grid = [this](int index) { return index > 0 ? (*Registry)[index].Data : nullptr; };
  RegionWeightGrids grids{grid(regionGrids_.Regions1), grid(regionGrids_.Weights1),
                          grid(regionGrids_.Regions2), grid(regionGrids_.Weights2),
                          grid(regionGrids_.Regions3), grid(regionGrids_.Weights3)};
  GenerateRegionWeights(*(*Registry)[1].Data, {NCols, NRows, NoData}, rowRanges_,
                        TransitionCells(transitionDistance_, CellSize), grids);
  // One dot per row, as the scan reports its progress.
  Log->Entry(Concat(std::string(static_cast<std::size_t>(NRows), '.'), DiagnosticsLog::EndToken));
}

} // namespace tavro
