// The grid output engine: accumulation on own cells, due moments, names,
// gathering on rank 0 and writing.
#include "raster/output/grid_output.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/modelobject.h"
#include "raster/output/grid_output_names.h"
#include "raster/output/period_aggregates.h"
#include "raster/parallel/mpi_decomposition.h"

#include <string>

namespace tavro {
namespace {

bool IsOutputIndex(int index) { return index >= 1 && index < GridRegistry::EntryCount; }

OwnCells OwnCellsOf(const modelobject &object, const GridEntry &entry) {
  OwnCells cells;
  cells.FirstRow = entry.FirstRow;
  cells.LastRow = entry.LastRow;
  cells.NCols = object.NCols;
  cells.NoData = object.NoData;
  cells.RowRanges = object.RowRanges;
  cells.Zone = (*object.Registry)[1].Data;
  cells.Regions = object.MPIRegions;
  cells.Rank = object.MPIRank;
  return cells;
}

// Once the raster is divided every file is written from the gathered copy,
// also with one process, so that no file depends on the process count (the
// copy holds nodata wherever no process owns a cell). Before the division a
// single process writes its grid as it is.
bool WritesGatheredCopy(const modelobject &object) {
  return object.MPIProcessCount > 1 || object.Halo.Decomposition != nullptr;
}

enum class GridWriter { Whole, Strip };

void WriteOutputGrid(modelobject &object, const OutputGather &gather, const std::string &name,
                     Grid &grid, GridWriter writer) {
  const auto write = [&](Grid &target) {
    if (writer == GridWriter::Strip)
      object.WriteStripGrid(name, target, object.WriteAsciiGrids, object.WriteDoubleGrids);
    else
      object.WriteGrid(name, target, object.WriteAsciiGrids, object.WriteDoubleGrids);
  };
  if (!WritesGatheredCopy(object)) {
    write(grid);
    return;
  }
  Grid copy = gather.GatherGrid(grid);
  if (object.MPIRank == 0)
    write(copy);
}

OutputMoments MomentsOf(const modelobject &object) {
  return MomentsOf(object.ActualDate(), object.HoursToIntervalEnd, object.DaysPerMonth,
                   object.EndDateCode);
}

// A phenology grid of the vegetation period; fatal (33) when it is not
// registered or holds no data.
Grid *PhenologyGrid(modelobject &object, const std::string &identifier) {
  const int index = object.GetGridIndex(identifier);
  Grid *grid = (*object.Registry)[index].Data;
  if (grid == nullptr)
    ThrowFatal(*object.Log, GridRegistry::NotFoundExitCode,
               Concat("grid ", identifier, " is registered without data, but ", object.ModuleName,
                      " needs it for a vegetation-period output"));
  return grid;
}

void VegetationPeriodOutput(modelobject &object, const OutputGather &gather, GridEntry &entry,
                            const OwnCells &cells, bool accumulateOnly) {
  if (entry.VegetationStartGrid == nullptr || entry.VegetationStopGrid == nullptr ||
      entry.VegetationDurationGrid == nullptr) {
    const std::string layer = VegetationLayerSuffix(entry.outname);
    entry.VegetationStartGrid = PhenologyGrid(object, "VegetationStart" + layer);
    entry.VegetationStopGrid = PhenologyGrid(object, "VegetationStop" + layer);
    entry.VegetationDurationGrid = PhenologyGrid(object, "VegetationDuration" + layer);
  }
  Grid &sum = *entry.VegetationPeriodGrid;
  AddToVegetationPeriod(cells, *entry.Data, *entry.VegetationStartGrid, *entry.VegetationStopGrid,
                        sum);
  if (accumulateOnly)
    return;
  if (entry.VegetationPeriodEnded == 1) {
    entry.VegetationPeriodEnded = 0;
    const bool mean = entry.VegetationPeriod == 2;
    if (mean)
      DivideByDuration(cells, sum, *entry.VegetationDurationGrid);
    WriteOutputGrid(object, gather,
                    VegetationPeriodName(entry.VegetationPeriodFileName, object.ActualYear, mean),
                    sum, GridWriter::Strip);
  }
  if (entry.VegetationPeriodBegins == 1) {
    ResetOwnCells(cells, sum, 0.0, true);
    entry.VegetationPeriodBegins = 0;
  }
}

void OwnGridOutput(modelobject &object, const OutputGather &gather, GridEntry &entry,
                   const OutputMoments &moments, bool accumulateOnly) {
  const int kind = entry.OutputKind;
  if (GridOutputDue(kind, moments)) {
    DateStampState stamp{entry.StampDate, entry.StampCount};
    const std::string name = GridOutputName(kind, entry.outname, object.ActualDate(), stamp);
    entry.StampDate = stamp.Date;
    entry.StampCount = stamp.Count;
    WriteOutputGrid(object, gather, name, *entry.Data, GridWriter::Whole);
  }
  // The last state also under the plain name, for kinds whose names change
  // (by the step's last call).
  if (moments.EndOfRun && !accumulateOnly && (IsDateStampedKind(kind) || kind == 8))
    WriteOutputGrid(object, gather, entry.outname, *entry.Data, GridWriter::Whole);
}

void MinMaxOutput(modelobject &object, const OutputGather &gather, GridEntry &entry) {
  if (entry.WriteMinimum != 0 && entry.Minimum != nullptr)
    WriteOutputGrid(object, gather, MinimumName(entry.MinimumFileName), *entry.Minimum,
                    GridWriter::Strip);
  if (entry.WriteMaximum != 0 && entry.Maximum != nullptr)
    WriteOutputGrid(object, gather, MaximumName(entry.MaximumFileName), *entry.Maximum,
                    GridWriter::Strip);
}

void PeriodAggregateOutput(modelobject &object, const OutputGather &gather, GridEntry &entry,
                           const OwnCells &cells) {
  Grid &aggregate = *entry.Aggregate;
  if (IsMeanAggregate(entry.PeriodAggregate))
    DivideOwnCells(cells, aggregate, entry.AggregateCount);
  WriteOutputGrid(
      object, gather,
      PeriodAggregateName(entry.AggregateFileName, entry.PeriodAggregate, object.ActualDate()),
      aggregate, GridWriter::Strip);
  entry.AggregateCount = 0.0;
  ResetOwnCells(cells, aggregate, 0.0, false);
}

} // namespace

void WriteOutputStack(modelobject &object, const OutputGather &gather, const std::string &name,
                      Stack &stack, int levels) {
  if (!object.WriteAsciiGrids) {
    // Binary stacks are written by every process for its own cells (MPI-IO).
    object.WriteStack(name, stack, levels, false, object.WriteDoubleGrids);
    return;
  }
  if (!WritesGatheredCopy(object)) {
    object.WriteStack(name, stack, levels, true, object.WriteDoubleGrids);
    return;
  }
  Stack copy = gather.GatherStack(stack);
  if (object.MPIRank == 0)
    object.WriteStack(name, copy, levels, true, object.WriteDoubleGrids);
}

void WriteGridOutput(modelobject &object, int index, const OutputGather &gather,
                     bool accumulateOnly) {
  if (!IsOutputIndex(index) || object.Registry == nullptr)
    return;
  GridEntry &entry = (*object.Registry)[index];
  const bool minMax = entry.WriteMinimum != 0 || entry.WriteMaximum != 0;
  const bool anything =
      entry.OutputKind != 0 || entry.PeriodAggregate != 0 || minMax || entry.VegetationPeriod != 0;
  if (!anything || entry.Data == nullptr)
    return;

  LinkDecompositionGrids(object);
  entry.AggregateCount += 1.0;
  const OwnCells cells = OwnCellsOf(object, entry);
  const OutputMoments moments = MomentsOf(object);

  // A stack's period aggregates, minimum and maximum follow its level 1.
  if (entry.StackData != nullptr && (entry.PeriodAggregate != 0 || minMax))
    CopyStackLevel(cells, *entry.StackData, 1, *entry.Data);
  if (entry.PeriodAggregate != 0 && entry.Aggregate != nullptr)
    AddToAggregate(cells, *entry.Data, *entry.Aggregate);
  if (minMax) {
    UpdateMinMax(cells, *entry.Data, entry.Minimum.get(), entry.Maximum.get(),
                 entry.MinMaxStarted != 0);
    entry.MinMaxStarted = 1;
  }
  if (entry.VegetationPeriod != 0 && entry.VegetationPeriodGrid != nullptr)
    VegetationPeriodOutput(object, gather, entry, cells, accumulateOnly);

  // The output kind of a stack entry is the stack's (WriteStackOutput): its
  // level grid under the stack's name would clash with the stack files.
  if (entry.StackData == nullptr)
    OwnGridOutput(object, gather, entry, moments, accumulateOnly);
  if (accumulateOnly)
    return;
  if (minMax && moments.EndOfRun)
    MinMaxOutput(object, gather, entry);
  if (entry.PeriodAggregate != 0 && entry.Aggregate != nullptr &&
      PeriodComplete(entry.PeriodAggregate, moments))
    PeriodAggregateOutput(object, gather, entry, cells);
}

void WriteStackOutput(modelobject &object, int index, int ownWriteCode,
                      const OutputGather &gather) {
  if (!IsOutputIndex(index) || object.Registry == nullptr)
    return;
  GridEntry &entry = (*object.Registry)[index];
  if ((entry.OutputKind == 0 && entry.PeriodAggregate == 0) || entry.StackData == nullptr)
    return;

  LinkDecompositionGrids(object);
  const OutputMoments moments = MomentsOf(object);
  bool plainNameWritten = false;
  if (StackOutputDue(entry.OutputKind, moments)) {
    DateStampState stamp{entry.StampDate, entry.StampCount};
    const std::string name =
        StackOutputName(entry.OutputKind, entry.FileName, object.ActualDate(), stamp);
    entry.StampDate = stamp.Date;
    entry.StampCount = stamp.Count;
    WriteOutputStack(object, gather, name, *entry.StackData, entry.Levels);
    plainNameWritten = name == entry.FileName;
  }
  // The last state under the plain name, unless this step has just written it.
  const bool ownCodeWritesPlain = ownWriteCode == 1 || ownWriteCode == 3 || ownWriteCode == 4;
  if (moments.EndOfRun && !ownCodeWritesPlain && !plainNameWritten)
    WriteOutputStack(object, gather, entry.FileName, *entry.StackData, entry.Levels);
}

void WriteImmediateOutput(modelobject &object, int index, const OutputGather &gather) {
  if (!IsOutputIndex(index) || object.Registry == nullptr)
    return;
  GridEntry &entry = (*object.Registry)[index];
  if (entry.OutputKind != 8 || entry.Data == nullptr)
    return;
  LinkDecompositionGrids(object);
  WriteOutputGrid(object, gather, entry.outname + ".filled", *entry.Data, GridWriter::Whole);
}

} // namespace tavro
