// One entity of the regional superposition: an output grid, registered
// under the entity's name, computed every step as the region-weighted sum of
// its input grids (superposition/region_blend.h), written by its writecode
// and summed per zone into its statistics table (4 decimals).
#pragma once

#include "kernel/grid.h"
#include "kernel/zone_record.h"
#include "meteo/superposition/superposition_block.h"
#include "raster/output/zonal_statistic.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace tavro {

class RegionalSuperposition;

class cSuperposition {
public:
  static constexpr int RegionListExitCode = 134;
  static constexpr int WeightListExitCode = 135;
  static constexpr int StatisticsDecimals = 4;
  static constexpr double WeightTolerance = 0.0001;

  // Parses the block, checks its grids, regions and weights, registers the
  // output grid at the first free registry entry and sets up its table.
  // Failures log a FATAL entry and throw the exit code.
  cSuperposition(RegionalSuperposition &owner, const std::string &blockText);
  virtual ~cSuperposition();
  cSuperposition(const cSuperposition &) = delete;
  cSuperposition &operator=(const cSuperposition &) = delete;

  virtual void WriteStepOutput();
  virtual void FlushStatistics();
  virtual void ComputeTimeStep(long hour, long day, long month, long year);
  virtual void ReleaseMemory();

  const std::string &Name() const { return name_; }
  const Grid &Output() const { return output_; }
  int OutputGridIndex() const { return outputIndex_; }
  const zonalstatistic *Statistics() const { return statistics_.get(); }

private:
  struct Input {
    std::string Identifier;
    std::vector<double> Weights; // by region rank - 1
    const Grid *Data = nullptr;
    int Index = 0;
  };

  void TakeInputs(const superposition::EntityBlock &block);
  void CheckRegions(const superposition::InputGroup &group) const;
  void CheckWeightSums() const;
  void CreateOutputGrid(const superposition::EntityBlock &block);
  void CreateStatistics(const superposition::EntityBlock &block);
  void LinkRegionSets();
  // The rank of a region code (0: no such region).
  int RankOf(long code) const;
  std::string RegionMessageStart(const std::string &grid) const;

  RegionalSuperposition &owner_;
  std::string name_;
  std::vector<Input> inputs_;
  int regionCount_ = 0;
  std::array<const Grid *, 3> regionGrids_{};
  std::array<const Grid *, 3> weightGrids_{};
  const Grid *zone_ = nullptr;
  Grid output_;
  int outputIndex_ = 0;
  std::vector<ZoneRecord> zones_;
  std::unique_ptr<zonalstatistic> statistics_;
  long year_ = 0, month_ = 0, day_ = 0, hour_ = 0;
};

} // namespace tavro
