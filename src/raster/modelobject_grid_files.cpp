// The grid and stack writing members of modelobject: each fills a
// GridFileContext from the object's fields and calls the free function.
#include "kernel/diagnostics_log.h"
#include "kernel/modelobject.h"
#include "raster/files/grid_writer.h"
#include "raster/files/stack_files.h"
#include "raster/modelobject_file_context.h"
#include "raster/parallel/mpi_regions.h"

namespace tavro {

GridFileContext FileContextOf(modelobject &object) {
  GridFileContext context(*object.Log);
  context.geometry = {object.NCols,     object.NRows,    object.XllCorner,
                      object.YllCorner, object.CellSize, object.NoData};
  // Before the decomposition a process's strip is the whole raster.
  const bool stripKnown = object.FirstRow >= 1 && object.LastRow >= object.FirstRow;
  context.firstRow = stripKnown ? object.FirstRow : 1;
  context.lastRow = stripKnown ? object.LastRow : object.NRows;
  context.rank = object.MPIRank;
  context.processCount = object.MPIProcessCount;
  context.moduleName = object.ModuleName;
  context.inputDirectory = object.InitialStateDirectory;
  context.outputDirectory = object.DefaultOutputDirectory;
  if (object.Registry != nullptr) {
    const GridEntry &zone = (*object.Registry)[1];
    context.zoneGridName = zone.FileName;
    context.zoneGrid = zone.Data;
  }
  context.mpiRegions = object.MPIRegions;
  context.cellWeights = object.CellWeights;
  context.statistics = &object.Statistics;
  if (const auto *ranges = object.RowRanges) {
    context.rowRange = [ranges](int row) -> std::pair<int, int> {
      if (row < 0 || static_cast<std::size_t>(row) > ranges->Count())
        return {0, -1};
      const RowColumnRange &range = (*ranges)[static_cast<std::size_t>(row)];
      return {range.first, range.last};
    };
  }
  return context;
}

void modelobject::WriteGrid(const std::string &fileName, const Grid &grid, bool writeAscii,
                            bool writeDouble) {
  tavro::WriteGrid(FileContextOf(*this), fileName, grid, writeAscii, writeDouble);
}

void modelobject::WriteStripGrid(const std::string &fileName, Grid &grid, bool writeAscii,
                                 bool writeDouble) {
  tavro::WriteStripGrid(FileContextOf(*this), fileName, grid, writeAscii, writeDouble);
}

void modelobject::WriteStack(const std::string &fileName, const Stack &stack, int levels,
                             bool writeAscii, bool writeDouble) {
  tavro::WriteStack(FileContextOf(*this), fileName, stack, levels, writeAscii, writeDouble);
}

void modelobject::WriteGatheredStack(int index, const std::string &fileName, int levels) {
  const Stack whole = MPIGatherStackForOutput(index, nullptr);
  GridFileContext context = FileContextOf(*this);
  // Without owners rank 0, which holds every cell, writes them all; the
  // other processes only take part in the collective file operations.
  context.mpiRegions = nullptr;
  tavro::WriteStack(context, fileName, whole, levels, false, true);
}

} // namespace tavro
