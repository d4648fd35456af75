// What the grid and stack file operations need of the calling model object:
// the raster geometry, the process's strip and decomposition, the directories,
// the names used in messages, and the strip exchanges they call after reading.
// A model object fills one of these and forwards its ReadGrid, WriteGrid,
// WriteStripGrid, ReadStack and WriteStack to the free functions.
#pragma once

#include "raster/files/grid_format.h"

#include <csignal>
#include <functional>
#include <string>
#include <utility>

namespace tavro {

class DiagnosticsLog;
class Grid;
class GridStatistics;
class Stack;

struct GridFileContext {
  explicit GridFileContext(DiagnosticsLog &diagnostics) : log(diagnostics) {}

  DiagnosticsLog &log;
  RasterGeometry geometry;
  int firstRow = 1; // strip rows of this process (1..nrows before the decomposition)
  int lastRow = 0;
  int rank = 0;
  int processCount = 1;
  std::string moduleName;
  std::string inputDirectory;  // put before read names not starting with '/' or '~'
  std::string outputDirectory; // put before written names
  std::string zoneGridName;    // file name of the zone grid, named in geometry errors
  // The zone grid, held whole on rank 0: the mask of hole filling.
  const Grid *zoneGrid = nullptr;
  // Owner rank of every valid cell ("MPIRegions"): rows 1..nrows on rank 0,
  // the halo strip elsewhere. Null before the decomposition.
  const Grid *mpiRegions = nullptr;
  // Weight of each cell in the binary-header statistics ("RelCellArea"), or null.
  const Grid *cellWeights = nullptr;
  // Accumulator of the binary-header statistics, keeping those of the last
  // binary write (the model object's); null: a private one.
  GridStatistics *statistics = nullptr;
  // First and last column of the zone grid's data in a row; last < 1 when the
  // row has none. Unset: no row has a range.
  std::function<std::pair<int, int>(int row)> rowRange;
  // Strip exchanges (collective); unset means nothing to exchange.
  std::function<void(Grid &)> scatterGrid;
  std::function<void(Grid &)> exchangeHalo;
  std::function<void(Stack &, int levels)> scatterStack;
  // Decodes a GIF image onto the whole grid (rank 0); returns the decoder's
  // message on failure, empty on success. Unset: GIF files cannot be read.
  std::function<std::string(const std::string &path, Grid &grid)> decodeGif;
  // The program's Ctrl-C handler, installed again after every write; null
  // keeps whatever handler was there before the write.
  void (*interruptHandler)(int) = nullptr;

  // Strip rows widened by one halo row on each side where the raster has one.
  int HaloFirstRow() const { return firstRow > 1 ? firstRow - 1 : firstRow; }
  int HaloLastRow() const { return lastRow < geometry.nrows ? lastRow + 1 : lastRow; }
};

// Name with the directory in front unless it starts with '/' or '~'.
std::string PrefixedPath(const std::string &directory, const std::string &name);

// Ignores SIGINT while a file is read or written; on leaving, the readers
// restore the system's default action and the writers the program's handler.
class InterruptPause {
public:
  enum class After { DefaultAction, ProgramHandler };
  InterruptPause(After after, void (*handler)(int));
  ~InterruptPause();
  InterruptPause(const InterruptPause &) = delete;
  InterruptPause &operator=(const InterruptPause &) = delete;

private:
  void (*restore_)(int);
};

} // namespace tavro
