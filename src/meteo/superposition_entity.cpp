// One regional superposition entity: set-up with its checks, the step, the
// output and the release.
#include "meteo/superposition_entity.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/module_construction.h"
#include "meteo/regional_superposition.h"
#include "meteo/statistics_zones.h"
#include "meteo/superposition/region_blend.h"
#include "raster/parallel/cell_iteration.h"

#include <cmath>
#include <span>

namespace tavro {
namespace {

constexpr std::array<const char *, 3> kRegionGrids{"regression_regions", "regression_regions2",
                                                   "regression_regions3"};
constexpr std::array<const char *, 3> kWeightGrids{"regression_weights1", "regression_weights2",
                                                   "regression_weights3"};

} // namespace

cSuperposition::cSuperposition(RegionalSuperposition &owner, const std::string &blockText)
    : owner_(owner), name_(superposition::EntityName(blockText)) {
  superposition::EntityBlock block;
  try {
    block = superposition::ParseEntityBlock(blockText);
  } catch (const superposition::BlockSyntaxError &failure) {
    ThrowFatal(*owner_.Log, teilmodellklasse::ControlFileExitCode,
               Concat("error in control file, section [", owner_.ModuleName, "], entity ",
                      name_.empty() ? std::string("(no name)") : name_, ": ", failure.what()));
  }
  const RegionTableRef &regions = owner_.Regions;
  regionCount_ = regions.CodeToRegion != nullptr ? regions.Count : 0;
  const int zoneIndex = 1;
  zone_ = (*owner_.Registry)[zoneIndex].Data;
  TakeInputs(block);
  CheckWeightSums();
  CreateOutputGrid(block);
  try {
    CreateStatistics(block);
    LinkRegionSets();
  } catch (...) {
    ReleaseMemory();
    throw;
  }
}

cSuperposition::~cSuperposition() = default;

int cSuperposition::RankOf(long code) const {
  const RegionTableRef &regions = owner_.Regions;
  if (regions.CodeToRegion == nullptr || code < 1 || code > regions.MaxCode)
    return 0;
  return (*regions.CodeToRegion)[static_cast<std::size_t>(code)];
}

std::string cSuperposition::RegionMessageStart(const std::string &grid) const {
  return Concat("\nerror reading regions in ", owner_.ModuleName, " entity: ", name_,
                ", inputgrid ", grid);
}

void cSuperposition::TakeInputs(const superposition::EntityBlock &block) {
  for (const superposition::InputGroup &group : block.Inputs) {
    Input input;
    input.Identifier = group.Grid;
    input.Index = owner_.GetGridIndex(group.Grid);
    input.Data = (*owner_.Registry)[input.Index].Data;
    CheckRegions(group);
    if (static_cast<int>(group.Weights.size()) != regionCount_)
      ThrowFatal(*owner_.Log, WeightListExitCode,
                 Concat("\nerror reading weights for regions in ", owner_.ModuleName,
                        " entity: ", name_, ", inputgrid ", group.Grid, "\nThe number of regions (",
                        regionCount_, ") does not equal the number of weights (",
                        group.Weights.size(), ")\n"));
    input.Weights = group.Weights;
    inputs_.push_back(std::move(input));
  }
}

void cSuperposition::CheckRegions(const superposition::InputGroup &group) const {
  if (static_cast<int>(group.Regions.size()) != regionCount_)
    ThrowFatal(*owner_.Log, RegionListExitCode,
               Concat(RegionMessageStart(group.Grid), "\nThe number of regions here (",
                      group.Regions.size(), ") does not equal the number of",
                      "\nregions in the regiongrid (", regionCount_, ")\n"));
  const RegionTableRef &regions = owner_.Regions;
  for (int p = 1; p <= regionCount_; ++p) {
    const long code = group.Regions[static_cast<std::size_t>(p - 1)];
    if (RankOf(code) == p)
      continue;
    std::string text = Concat(RegionMessageStart(group.Grid), "\nregion on position ", p);
    if (RankOf(code) > 0) {
      long expected = 0;
      for (long c = 1; c <= regions.MaxCode && expected == 0; ++c)
        if (RankOf(c) == p)
          expected = c;
      text += Concat(" in the region list should have value ", expected, "\nbut was read as ", code,
                     "\nAll regions must be listet in ascending order here\n");
    } else {
      text +=
          Concat(" was read as ", code, "\nThere is now region with this code in the region grid\n",
                 "\nOnly the region codes from the region grid must be listet in ascending "
                 "order here\n");
    }
    ThrowFatal(*owner_.Log, RegionListExitCode,
               text + "regardless of their actual weight for this superposition instance\n");
  }
}

void cSuperposition::CheckWeightSums() const {
  for (int r = 1; r <= regionCount_; ++r) {
    double sum = 0.0;
    for (const Input &input : inputs_)
      sum += input.Weights[static_cast<std::size_t>(r - 1)];
    if (!(std::fabs(sum - 1.0) <= WeightTolerance))
      ThrowFatal(*owner_.Log, WeightListExitCode,
                 Concat("\nerror reading weights for regions in ", owner_.ModuleName,
                        "\nentity: ", name_, "\nregion ", r,
                        ": The sum of all weights is not 1.0 but ", sum, " \n"));
  }
}

void cSuperposition::CreateOutputGrid(const superposition::EntityBlock &block) {
  GridRegistry &registry = *owner_.Registry;
  const int index = registry.FirstFreeIndex();
  if (index == 0)
    ThrowFatal(*owner_.Log, GridRegistry::RegistryExitCode,
               Concat("no free grid anymore, allowed number of grids is ", 1000, "!"));
  const int namesake = owner_.FindGrid(name_, true);
  if (namesake > 0)
    owner_.Log->Entry(
        Concat("WARNING: the superposition entity ", name_, " (registry entry ", index,
               ") is named like the grid ", name_, " at registry entry ", namesake, " (file ",
               registry[namesake].FileName, "): modules find the grid of the lower entry, ",
               namesake < index ? "not the entity" : "the entity", DiagnosticsLog::EndToken));
  output_ = MakeStripGrid(owner_);
  for (long row = owner_.FirstRow; output_.Allocated() && row <= owner_.LastRow; ++row)
    for (long column = 1; column <= owner_.NCols; ++column)
      output_[row][column] = zone_ != nullptr && IsValidCell((*zone_)[row][column], owner_.NoData)
                                 ? 0.0
                                 : owner_.NoData;
  owner_.AddGrid(index, block.OutputGrid, &output_, nullptr, 1, name_, block.Writecode,
                 owner_.FirstRow, owner_.LastRow);
  outputIndex_ = index;
}

void cSuperposition::CreateStatistics(const superposition::EntityBlock &block) {
  zones_ = StatisticsZoneCopy(owner_.ZoneTable, owner_.ZoneCount);
  std::span<const int> outputList;
  if (owner_.OutputList != nullptr && owner_.OutputListCount > 0)
    outputList = std::span<const int>(owner_.OutputList->Data() + 1,
                                      static_cast<std::size_t>(owner_.OutputListCount));
  int error = 0;
  statistics_ = std::make_unique<zonalstatistic>(
      error, *owner_.Log, owner_.Statistics, owner_.StatisticsCapacity, owner_.CellWeights,
      owner_.NRows, owner_.NCols, std::span<ZoneRecord>(zones_), block.Statcode, StatisticsDecimals,
      block.OutputTable, owner_.DefaultOutputDirectory, outputList);
  if (error != 0)
    throw error;
  statistics_->WriteHeader(name_, owner_.ModuleName, owner_.Statistics, owner_.StatisticsCapacity);
}

void cSuperposition::LinkRegionSets() {
  if (regionCount_ == 0)
    return;
  for (int set = 0; set < 3 && set < regionCount_; ++set) {
    const int regionIndex = owner_.FindGrid(kRegionGrids[static_cast<std::size_t>(set)], false);
    const int weightIndex = owner_.FindGrid(kWeightGrids[static_cast<std::size_t>(set)], false);
    if (regionIndex > 0 && weightIndex > 0) {
      regionGrids_[static_cast<std::size_t>(set)] = (*owner_.Registry)[regionIndex].Data;
      weightGrids_[static_cast<std::size_t>(set)] = (*owner_.Registry)[weightIndex].Data;
    }
  }
}

void cSuperposition::ComputeTimeStep(long hour, long day, long month, long year) {
  hour_ = hour;
  day_ = day;
  month_ = month;
  year_ = year;
  if (statistics_)
    statistics_->ResetStep();
  if (!output_.Allocated())
    return;
  if (owner_.MPIRegions == nullptr) {
    const int owners = owner_.FindGrid("MPIRegions", false);
    if (owners > 0)
      owner_.MPIRegions = (*owner_.Registry)[owners].Data;
  }
  const CellIteration cells(StripCellsOf(owner_, zone_));
  cells.ForEachCell([&](long row, long column) {
    std::array<superposition::RegionSet, 3> sets{};
    std::size_t used = 0;
    for (std::size_t set = 0; set < sets.size(); ++set) {
      if (regionGrids_[set] == nullptr)
        break;
      const long code = static_cast<long>(std::trunc((*regionGrids_[set])[row][column]));
      // The own region always counts; a neighbouring one only where it exists.
      if (set > 0 && code <= 0)
        continue;
      sets[used++] = {RankOf(code), (*weightGrids_[set])[row][column]};
    }
    output_[row][column] = superposition::BlendCell(
        std::span<const superposition::RegionSet>(sets.data(), used), inputs_.size(),
        [&](std::size_t k) { return (*inputs_[k].Data)[row][column]; },
        [&](std::size_t k, int rank) {
          return inputs_[k].Weights[static_cast<std::size_t>(rank - 1)];
        });
  });
}

void cSuperposition::WriteStepOutput() {
  if (outputIndex_ == 0)
    return;
  owner_.WriteGridOutput(outputIndex_);
  if (!statistics_)
    return;
  if (statistics_->Active() && owner_.ZoneIndex != nullptr && output_.Allocated()) {
    const CellIteration cells(StripCellsOf(owner_, zone_));
    for (long row = owner_.FirstRow; row <= owner_.LastRow; ++row) {
      const RowColumnRange range = cells.Columns(row);
      for (long column = range.first; column <= range.last; ++column) {
        if (!cells.IsValid(row, column) || !cells.IsOwned(row, column))
          continue;
        const long code = std::lround((*zone_)[row][column]);
        if (code < 0 || code > owner_.MaxZoneCode)
          continue;
        statistics_->AddValue(row, column, (*owner_.ZoneIndex)[static_cast<std::size_t>(code)],
                              output_[row][column], 1.0);
      }
    }
  }
  // Collective: every process ends the step of the table.
  statistics_->EndOfStep(year_, month_, day_, hour_, 1);
}

void cSuperposition::FlushStatistics() {
  if (statistics_)
    statistics_->FlushBuffer();
}

void cSuperposition::ReleaseMemory() {
  if (outputIndex_ > 0)
    owner_.ReleaseGrid(outputIndex_);
  outputIndex_ = 0;
  output_ = Grid();
  if (statistics_)
    statistics_->ReleaseMemory();
  statistics_.reset();
  zones_.clear();
  inputs_.clear();
}

} // namespace tavro
