// The MPI layer of the raster decomposition: measures the speed of every
// process, divides the valid cells of the zone grid among the processes and
// owns the result (the grids "MPIRegions", "MPIHelper" and "MPIHalo", the
// cell counts, the strip rows, the run tables and the halo lists) that every
// strip exchange (strip_exchange.h) works from.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "kernel/grid.h"
#include "raster/parallel/mpi_regions.h"

namespace tavro {

class DiagnosticsLog;
class modelobject;

inline constexpr const char *kSpeedFactorFileName = "MpiSpeedFactor.dat";
inline constexpr const char *kRegionsGridName = "MPIRegions";
inline constexpr const char *kHelperGridName = "MPIHelper";
inline constexpr const char *kHaloGridName = "MPIHalo";

// The division of the raster as one process sees it. Rank 0 holds the three
// grids over rows 1..nrows, every other process over its halo strip only.
struct MpiDecomposition {
  RasterShape shape;
  int rank = 0;
  int processCount = 1;
  StripRows strip;     // rows of the own cells
  StripRows haloStrip; // the strip and one row on each side inside the raster
  MpiCellCounts cellCounts;
  HaloList haloSend;    // own cells held as copies by others; peer = holder
  HaloList haloReceive; // foreign cells held here as copies; peer = owner
  // Columns of the valid cells per row 0..nrows: every row on rank 0, the
  // strip rows elsewhere ([0, -1] for the other rows).
  OneBasedArray<RowColumnRange> rowRanges;
  // Rank 0: all runs of every row; other processes: their own runs.
  RunTable runs;
  Grid regions; // "MPIRegions": owner rank of every valid cell, kNoOwner elsewhere
  Grid helper;  // "MPIHelper": the run tables in their fixed grid layout
  Grid halo;    // "MPIHalo": owner of every foreign cell touching an own cell, else kNoOwner

  // Rows of the grids that this process holds for the raster.
  StripRows HeldRows() const { return rank == 0 ? StripRows{1, shape.nrows} : haloStrip; }
};

// Largest message tag of the MPI library (MPI_TAG_UB of the world communicator).
long MessageTagUpperBound();

// The time in "MpiSpeedFactor.dat" of the working directory, read as one
// number; nothing when the file is missing or holds no number.
std::optional<double> ReadSpeedFactor(const std::string &fileName = kSpeedFactorFileName);

// One repetition of the speed benchmark over rows and columns 1..1000 of the
// three matrices (OpenMP over the rows, runtime schedule).
void MpiSpeedBenchmarkLoop(Grid &cosines, Grid &sines, Grid &arcTangents);

// Wall-clock seconds of 30 benchmark repetitions; logs "MPI wtime: ".
double RunSpeedBenchmark(DiagnosticsLog &log);

// The process's time: from "MpiSpeedFactor.dat" when it holds a number, else
// from the benchmark.
double MeasureProcessTime(DiagnosticsLog &log);

// Collective: rank 0 gets the times of ranks 0..P-1 (tag = sending rank) and
// logs them; the other processes get an empty list.
std::vector<double> CollectProcessTimes(double ownTime, DiagnosticsLog &log);

// Collective over all processes, once per run after rank 0 has read the zone
// grid (zoneGrid: rows 1..nrows on rank 0, ignored elsewhere) and every
// process knows the geometry. A raster that cannot be divided stops every
// process with exit code kDecompositionExitCode.
MpiDecomposition DistributeMpiRegions(const Grid *zoneGrid, const RasterShape &shape,
                                      DiagnosticsLog &log);

// File name of the "MPIRegions" grid written after the decomposition: "MPIRegions_0".
std::string RegionsOutputFileName();

// Hook for the grid writer: on rank 0 hands the "MPIRegions" grid (the cells
// of no owner as the raster's nodata value) and its output file name to the
// writer; does nothing on the other processes.
using GridFileWriter = std::function<void(const Grid &grid, const std::string &fileName)>;
void WriteRegionsGrid(const MpiDecomposition &decomposition, const GridFileWriter &writer,
                      DiagnosticsLog &log);

// Gives a model object that has none yet its "MPIRegions" and "MPIHelper"
// grids: from its grid registry, else from its decomposition.
void LinkDecompositionGrids(modelobject &object);

} // namespace tavro
