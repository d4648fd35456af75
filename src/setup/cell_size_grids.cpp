// Cell sizes and relative cell area: the rule of one cell, and the set-up
// step that reads or creates the three grids.
#include "setup/cell_size_grids.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "raster/parallel/collective_failure.h"
#include "setup/defaultini.h"
#include "setup/derived_file_names.h"

#include <cmath>

namespace tavro {

CellSizeProblem DeriveCellSizes(CellSizes &cell, const CellSizeSources &sources, double cs) {
  const double square = cs * cs;
  if (sources.SizeXRead && cell.X == 0.0)
    return CellSizeProblem::ZeroX;
  if (sources.SizeYRead && cell.Y == 0.0)
    return CellSizeProblem::ZeroY;
  if (!sources.SizeXRead && !sources.SizeYRead) {
    cell.X = std::sqrt(square * cell.A);
    cell.Y = cell.X;
  } else if (!sources.SizeXRead) {
    cell.X = cell.A * square / cell.Y;
  } else if (!sources.SizeYRead) {
    cell.Y = cell.A * square / cell.X;
  } else if (!sources.AreaRead) {
    cell.A = cell.X * cell.Y / square;
  } else if (std::fabs(cell.A - cell.X * cell.Y / square) > kRelativeAreaTolerance) {
    return CellSizeProblem::AreaMismatch;
  }
  return CellSizeProblem::None;
}

void defaultini::MakeCellSizeGrids() {
  constexpr const char *kNoFreeGrid = "no free grid found in memory";
  if (Registry->FirstFreeIndex() == 0)
    FailNoFreeGrid(kNoFreeGrid, ")");
  const std::string zoneFile = (*Registry)[1].FileName;
  CellSizeSources sources;
  // A grid the control file declares is used as read; the others are created.
  const auto readOrCreate = [&](const char *identifier, const char *suffix, bool &read) {
    const int found = FindGrid(identifier, false);
    read = found > 0;
    return read
               ? found
               : CreateDerivedGrid(identifier, DerivedFileName(zoneFile, suffix), kNoFreeGrid, ")");
  };
  const int xIndex = readOrCreate("CellSizeX", "$csx", sources.SizeXRead);
  const int yIndex = readOrCreate("CellSizeY", "$csy", sources.SizeYRead);
  const int areaIndex = readOrCreate("RelCellArea", "$rca", sources.AreaRead);
  Grid &sizeX = *(*Registry)[xIndex].Data;
  Grid &sizeY = *(*Registry)[yIndex].Data;
  Grid &area = *(*Registry)[areaIndex].Data;
  if (!sources.AreaRead) {
    CreateGrid(area, 1.0, false);
    CellWeights = &area;
  }
  Log->Entry(Concat("Checking cell sizes for variable Cells...", DiagnosticsLog::EndToken));

  for (Grid *grid : {&sizeX, &sizeY, &area})
    SetInvalidCellsToNoData(*grid);
  int failure = 0;
  if (MPIRank == 0) {
    failure = CaptureExitCode([&] {
      const Grid &zone = *(*Registry)[1].Data;
      for (long r = 1; r <= NRows; ++r)
        for (long c = 1; c <= NCols; ++c) {
          if (zone[r][c] == NoData)
            continue;
          CellSizes cell{sizeX[r][c], sizeY[r][c], area[r][c]};
          const CellSizeProblem problem = DeriveCellSizes(cell, sources, CellSize);
          if (problem != CellSizeProblem::None)
            FailCellSizes(problem, r, c, cell, xIndex, yIndex, areaIndex);
          sizeX[r][c] = cell.X;
          sizeY[r][c] = cell.Y;
          area[r][c] = cell.A;
        }
    });
  }
  ThrowIfAnyFailed(*Log, failure);

  const std::pair<int, bool> written[] = {
      {areaIndex, sources.AreaRead}, {xIndex, sources.SizeXRead}, {yIndex, sources.SizeYRead}};
  for (const auto &[index, read] : written)
    if (!read)
      DistributeFromRoot(index);
  for (const auto &[index, read] : written)
    if (!read)
      WriteOnce(index);
}

void defaultini::FailCellSizes(CellSizeProblem problem, long row, long column,
                               const CellSizes &cell, int xIndex, int yIndex, int areaIndex) {
  const std::string &fileX = (*Registry)[xIndex].FileName;
  const std::string &fileY = (*Registry)[yIndex].FileName;
  if (problem == CellSizeProblem::ZeroX)
    ThrowFatal(*Log, kCellSizeExitCode,
               Concat("cell size in x direction is zero at row ", row, ", column ", column,
                      ",\nread from file ", fileX, "\n"));
  if (problem == CellSizeProblem::ZeroY)
    ThrowFatal(*Log, kCellSizeExitCode,
               Concat("cell size in y direction is zero at row ", row, ", column ", column,
                      ",\nread from file ", fileY));
  ThrowFatal(*Log, kCellSizeExitCode,
             Concat("Cell size Y (", cell.Y, ", from ", fileY, ") times\ncell size X (", cell.X,
                    ", from ", fileX, ") \ndivided by the mean cell area is ",
                    cell.X * cell.Y / (CellSize * CellSize), " and differs from \nthe relative ",
                    "grid cell size ", cell.A, " (from ", (*Registry)[areaIndex].FileName,
                    ") by more than 0.001%%\n"));
}

} // namespace tavro
