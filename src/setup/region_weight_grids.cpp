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
  regionGrids_ = {};
  int regions = FindGrid("regression_regions", false);
  if (regions == 0) {
    // No region grid: one region everywhere.
    regions = CreateDerivedGrid(
        "regression_regions", DerivedFileName((*Registry)[1].FileName, "$r1"), kNoFreeGrid, ")\n");
    CreateGrid(*(*Registry)[regions].Data, 1.0, false);
  }
  regionGrids_[0] = regions;
  transitionDistance_ = ReadTransitionDistance();
  RankRegions(regions);

  // The weights of level 1, then region and weights of the further levels.
  const std::string source = (*Registry)[regions].FileName;
  const char *const names[][2] = {{"regression_weights1", "$w1"},
                                  {"regression_regions2", "$r2"},
                                  {"regression_weights2", "$w2"},
                                  {"regression_regions3", "$r3"},
                                  {"regression_weights3", "$w3"}};
  const int levels = std::min(regions_.Count, kMaxRegionWeightLevels);
  for (int g = 1; g < 2 * levels; ++g) {
    const auto &[identifier, suffix] = names[g - 1];
    // A region grid without an extension gives its own name to the first weights.
    regionGrids_[static_cast<std::size_t>(g)] = CreateDerivedGrid(
        identifier, DerivedFileName(source, suffix, g == 1 ? "$rw1" : ""), kNoFreeGrid, ")");
  }

  GenerateRegionWeightGrids();

  // Each pair is scattered before both are written, the regions first.
  DistributeFromRoot(regionGrids_[1]);
  WriteOnce(regionGrids_[1]);
  for (std::size_t g = 2; g + 1 < regionGrids_.size(); g += 2) {
    if (regionGrids_[g] == 0)
      continue;
    DistributeFromRoot(regionGrids_[g]);
    DistributeFromRoot(regionGrids_[g + 1]);
    WriteOnce(regionGrids_[g]);
    WriteOnce(regionGrids_[g + 1]);
  }
}

void defaultini::GenerateRegionWeightGrids() {
  if (MPIRank != 0)
    return;
  Log->Entry(Concat("generating region weight grids", DiagnosticsLog::EndToken));
  std::array<Grid *, 6> data{};
  for (std::size_t g = 0; g < data.size(); ++g)
    data[g] = regionGrids_[g] > 0 ? (*Registry)[regionGrids_[g]].Data : nullptr;
  RegionWeightGrids grids{data[0], data[1], data[2], data[3], data[4], data[5]};
  GenerateRegionWeights(*(*Registry)[1].Data, {NCols, NRows, NoData}, rowRanges_,
                        TransitionCells(transitionDistance_, CellSize), grids);
  // One dot per row, as the scan reports its progress.
  Log->Entry(Concat(std::string(static_cast<std::size_t>(NRows), '.'), DiagnosticsLog::EndToken));
}

} // namespace tavro
