// The water-level/volume table of a lake: from the elevations of its cells
// and the highest level the water can stand (elevation plus the cells'
// largest ponding), a descending table of levels and the volume below each,
// and the two look-ups between level and volume. Plain values in and out.
#pragma once

#include <string>
#include <vector>

namespace tavro {

inline constexpr int kLakeLevelExitCode = 213;
inline constexpr int kLakeSubbasinExitCode = 224;
inline constexpr int kLakeTableFileExitCode = 225;
inline constexpr int kLakeWithoutCellsExitCode = 103;

// Depth range below which a lake has no table (a flat pond of one level).
inline constexpr double kLakeMinimumDepth = 0.01;

struct LakeCell {
  int row = 0;
  int column = 0;
  double elevation = 0.0;  // m
  double maxPonding = 0.0; // mm
  int flowIndex = 0;       // of the cell's subbasin
};

struct LakeTable {
  std::vector<double> levels;  // descending, m
  std::vector<double> volumes; // descending to 0, m3
  int Entries() const { return static_cast<int>(levels.size()); }
};

struct LakeTableResult {
  LakeTable table;
  int exitCode = 0;
  std::string fault; // the FATAL text without "FATAL: " and "[end-entry]"
};

// Checks the cells of lake `number` (one level, one subbasin, at least one
// cell) and builds its table for cells of size cellsize x cellsize m.
LakeTableResult BuildLakeTable(int number, int subbasinFlowIndex, int subbasinCode,
                               const std::vector<LakeCell> &cells, double cellsize);

// Writes "W_V_Table_%02d.dat"; false when the file cannot be written.
bool WriteLakeTable(const LakeTable &table, int number, const std::string &fileName);
std::string LakeTableFileName(int number);

// Linear look-ups in the descending table, extrapolating at both ends.
double LevelFromVolume(const LakeTable &table, double volume);
double VolumeFromLevel(const LakeTable &table, double level);

} // namespace tavro
