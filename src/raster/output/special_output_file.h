// One output file of the special output: its entities (the points of one
// grid or stack each), a row buffer of about 2 MiB and the collective flush.
//
// Every process samples the points it owns and marks every other point as
// not sampled; a flush reduces the whole buffer (rows x values) in one MPI
// reduction to rank 0, where each value is the owner's and a point no
// process owns shows -9999. Only rank 0 opens and writes the file.
#pragma once

#include "raster/output/special_output_parsing.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tavro {

class DiagnosticsLog;
class Grid;
class GridRegistry;

// What a process knows to sample its points.
struct SamplingContext {
  const GridRegistry *registry = nullptr;
  const Grid *owners = nullptr; // "MPIRegions": owner rank of every cell held
  int rank = 0;
  long firstRow = 1; // strip of this process
  long lastRow = 0;
  long ncols = 0;
};

class SpecialOutputEntity {
public:
  static constexpr double NoData = -9999.0;

  // registryIndex: the grid registry entry of the ID, 0 when there is none.
  SpecialOutputEntity(EntityDefinition definition, std::vector<PointCell> cells, int registryIndex,
                      bool flux);

  std::size_t PointCount() const { return cells_.size(); }
  bool IsFlux() const { return flux_; }
  bool HasLevels() const { return !definition_.Level.empty(); }
  int RegistryIndex() const { return registryIndex_; }
  const EntityDefinition &Definition() const { return definition_; }
  const PointCell &Cell(std::size_t i) const { return cells_[i]; }

  // Whether this process owns point i: the ID names a registry entry and the
  // process's rank is the owner of the point's cell.
  bool Owns(std::size_t i, const SamplingContext &context) const;
  // The value at an owned point i: the stack level when the entry has a stack
  // and the entity levels, else the grid's value; -9999 outside the strip or
  // the columns, for a level below 0 or above the stack's level count, and
  // when the entry holds no grid (or stack) to sample.
  double Value(std::size_t i, const SamplingContext &context) const;

private:
  EntityDefinition definition_;
  std::vector<PointCell> cells_;
  int registryIndex_ = 0;
  bool flux_ = false;
};

class SpecialOutputFile {
public:
  static constexpr std::size_t BufferBytes = 2097152;
  // Rows of a file without entities.
  static constexpr std::size_t EmptyFileRows = 52428;
  static constexpr int CreateErrorExitCode = 1007;
  static constexpr int AppendErrorExitCode = 65;

  SpecialOutputFile(DiagnosticsLog &log, std::string header, std::string fileName,
                    std::vector<SpecialOutputEntity> entities);
  SpecialOutputFile(SpecialOutputFile &&) noexcept = default;
  SpecialOutputFile(const SpecialOutputFile &) = delete;
  SpecialOutputFile &operator=(const SpecialOutputFile &) = delete;

  // Rank 0: creates the file with its three header lines; a file that cannot
  // be created is fatal (1007).
  void WriteHeader() const;

  // One sampling call of a step (see SpecialOutputClass::SampleStep). The
  // end-of-step call (substepCall false) flushes a full buffer (collective).
  void Sample(const SamplingContext &context, std::int64_t year, std::int64_t month,
              std::int64_t day, std::int64_t hour, bool substepCall, int substepIndex);

  // Collective: reduces the buffered rows to rank 0, which appends them to
  // the file (fatal 65 when it cannot be opened); the buffer is empty after.
  void Flush();

  const std::string &FileName() const { return fileName_; }
  const std::string &Header() const { return header_; }
  std::size_t ValueCount() const { return valueCount_; }
  std::size_t RowCapacity() const { return rowCapacity_; }
  std::size_t BufferedRows() const { return rowCount_; }
  const std::vector<SpecialOutputEntity> &Entities() const { return entities_; }

private:
  double *Row(std::size_t r) { return &values_[r * (valueCount_ + 1)]; }
  void WriteRows(std::FILE *file) const;

  DiagnosticsLog *log_;
  std::string header_;
  std::string fileName_;
  std::vector<SpecialOutputEntity> entities_;
  std::size_t valueCount_ = 0; // V: the points of all entities
  std::size_t rowCapacity_ = 1;
  std::size_t rowCount_ = 0;
  std::vector<std::int64_t> dates_; // year, month, day, hour per row
  std::vector<double> values_;      // V + 1 per row, slots 1..V used
  bool newRow_ = true;
};

} // namespace tavro
