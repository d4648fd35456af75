// The sub-model base's ranking of "zonegrid_soilmodel": rank 0 ranks the
// whole raster, a failure there ends every process with its exit code, and
// the tables go out to the other processes in one broadcast each.
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/teilmodellklasse.h"
#include "raster/handover/module_zone_ranking.h"
#include "raster/parallel/collective_failure.h"

#include <mpi.h>

namespace tavro {
namespace {

void BroadcastModuleZoneRanking(ModuleZoneRanking &ranking, int rank) {
  int sizes[2] = {ranking.Count, ranking.MaxCode};
  MPI_Bcast(sizes, 2, MPI_INT, 0, MPI_COMM_WORLD);
  if (rank != 0) {
    ranking.Count = sizes[0];
    ranking.MaxCode = sizes[1];
    ranking.Index = OneBasedArray<int>(static_cast<std::size_t>(ranking.MaxCode), 0);
    ranking.Table = OneBasedArray<ZoneRecord>(static_cast<std::size_t>(ranking.Count));
  }
  MPI_Bcast(ranking.Index.Data(), ranking.MaxCode + 1, MPI_INT, 0, MPI_COMM_WORLD);
  MPI_Bcast(ranking.Table.Data(), (ranking.Count + 1) * 5, MPI_DOUBLE, 0, MPI_COMM_WORLD);
}

} // namespace

void teilmodellklasse::RankZones(const Grid *&zoneGrid, OneBasedArray<ZoneRecord> &zoneTable,
                                 OneBasedArray<int> &zoneIndex, int &zoneCount, int &maxZoneCode) {
  zoneGrid = nullptr;
  zoneTable = {};
  zoneIndex = {};
  zoneCount = 0;
  maxZoneCode = 0;
  const int gridIndex = GetGridIndex(kSoilModelZoneGridName);
  const GridEntry &entry = (*Registry)[gridIndex];
  zoneGrid = entry.Data;

  ModuleZoneRanking ranking;
  int failure = 0;
  if (MPIRank == 0) {
    Log->Entry(Concat("ranking zones from ", entry.FileName, " for ", ModuleName,
                      DiagnosticsLog::EndToken));
    const Grid none;
    ranking = RankModuleZoneGrid({entry.Data != nullptr ? *entry.Data : none, CellWeights,
                                  RowRanges, RasterShape{NCols, NRows, NoData}, CellSize,
                                  entry.FileName, ModuleName});
    if (ranking.FailureCode != 0)
      failure =
          CaptureExitCode([&] { ThrowFatal(*Log, ranking.FailureCode, ranking.FailureMessage); });
  }
  ThrowIfAnyFailed(*Log, failure);
  if (MPIProcessCount > 1)
    BroadcastModuleZoneRanking(ranking, MPIRank);
  zoneTable = std::move(ranking.Table);
  zoneIndex = std::move(ranking.Index);
  zoneCount = ranking.Count;
  maxZoneCode = ranking.MaxCode;
}

} // namespace tavro
