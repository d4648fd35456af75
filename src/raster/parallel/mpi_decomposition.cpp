// MPI side of the decomposition: speed measurement, collection of the times,
// distribution of the owners and the halo handshake. See mpi_decomposition.h.
#include "raster/parallel/mpi_decomposition.h"

#include <mpi.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/modelobject.h"

namespace tavro {
namespace {

constexpr long kBenchmarkSize = 1000;
constexpr int kBenchmarkRepetitions = 30;

int WorldRank() {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  return rank;
}

int WorldSize() {
  int size = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  return size;
}

// Rank 0 tells every process whether its part of the set-up failed, so that
// all processes stop together with the same code and text instead of the
// others waiting for messages that never come.
void ShareOutcome(int exitCode, const std::string &message, DiagnosticsLog &log) {
  MPI_Bcast(&exitCode, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if (exitCode == 0)
    return;
  int length = static_cast<int>(message.size());
  MPI_Bcast(&length, 1, MPI_INT, 0, MPI_COMM_WORLD);
  std::string text = message;
  text.resize(static_cast<std::size_t>(length));
  MPI_Bcast(text.data(), length, MPI_CHAR, 0, MPI_COMM_WORLD);
  ThrowFatal(log, exitCode, text);
}

struct Division {
  int exitCode = 0;
  std::string error;
  std::vector<StripRows> strips;
};

// Rank 0: weights, cell targets and owners of every valid cell.
Division DivideCells(const Grid *zoneGrid, const RasterShape &shape,
                     const std::vector<double> &times, Grid &regions, DiagnosticsLog &log) {
  Division division;
  if (zoneGrid == nullptr || zoneGrid->FirstRow() > 1 || zoneGrid->LastRow() < shape.nrows ||
      zoneGrid->LastColumn() < shape.ncols) {
    division.exitCode = kDecompositionExitCode;
    division.error = Concat("MPI-Regions: the zone grid does not hold rows 1 to ", shape.nrows,
                            " and columns 1 to ", shape.ncols, " on rank 0");
    return division;
  }
  const std::vector<double> weights = SpeedWeights(times);
  for (std::size_t k = 0; k < weights.size(); ++k)
    log << "MPI performance weight: " << weights[k] << " for instance: " << k << "[end-entry]";
  const std::int64_t validCells = CountValidCells(*zoneGrid, shape);
  log << "MPI regular cells: " << validCells << "\nMPI river cells: " << 0 << "[end-entry]";
  const CellCountTargets targets = TargetCellCounts(validCells, weights);
  if (!targets.error.empty()) {
    division.exitCode = kDecompositionExitCode;
    division.error = targets.error;
    return division;
  }
  for (const int k : targets.raised) {
    log << "WARNING: MPI-Regions: the share of instance " << k
        << " rounds to no cell; it is given one cell"
        << "[end-entry]";
  }
  for (std::size_t k = 0; k < targets.counts.size(); ++k)
    log << "MPI num cells: " << targets.counts[k] << " for instance: " << k << "[end-entry]";
  division.strips = AssignOwners(*zoneGrid, regions, shape, targets.counts);
  return division;
}

// Rank 0 sends every other process the "MPIRegions" rows of its halo strip,
// one message per row (tag = row), in rank order.
void DistributeRegionRows(MpiDecomposition &d, const std::vector<StripRows> &strips) {
  const int ncols = static_cast<int>(d.shape.ncols);
  if (d.rank == 0) {
    for (int p = 1; p < d.processCount; ++p) {
      const StripRows rows = HaloStrip(strips[static_cast<std::size_t>(p)], d.shape.nrows);
      for (long r = rows.first; r <= rows.last; ++r)
        MPI_Send(&d.regions[r][1], ncols, MPI_DOUBLE, p, static_cast<int>(r), MPI_COMM_WORLD);
    }
    return;
  }
  for (long r = d.haloStrip.first; r <= d.haloStrip.last; ++r) {
    MPI_Recv(&d.regions[r][1], ncols, MPI_DOUBLE, 0, static_cast<int>(r), MPI_COMM_WORLD,
             MPI_STATUS_IGNORE);
  }
}

// Peers tell each other how many halo records they send, then send them; the
// records received become the send list (adjacency is symmetric, so a process
// hears from exactly the peers it writes to).
HaloList ExchangeHaloRecords(const HaloList &receive, int rank) {
  const std::vector<PeerCount> peers = PeersOf(receive);
  std::vector<std::array<std::int32_t, 2>> announced(peers.size());
  std::vector<std::array<std::int32_t, 2>> heard(peers.size());
  std::vector<MPI_Request> requests;
  requests.reserve(2 * peers.size());
  for (std::size_t i = 0; i < peers.size(); ++i) {
    announced[i] = {peers[i].peer, peers[i].records};
    requests.emplace_back();
    MPI_Isend(announced[i].data(), 2, MPI_INT32_T, peers[i].peer, 0, MPI_COMM_WORLD,
              &requests.back());
    requests.emplace_back();
    MPI_Irecv(heard[i].data(), 2, MPI_INT32_T, peers[i].peer, 0, MPI_COMM_WORLD, &requests.back());
  }
  MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);

  requests.clear();
  std::vector<HaloRecord> outgoing(receive.begin(), receive.end());
  for (HaloRecord &record : outgoing) {
    const int peer = record.peer;
    record.peer = rank;
    requests.emplace_back();
    MPI_Isend(&record, 4, MPI_INT32_T, peer, 0, MPI_COMM_WORLD, &requests.back());
  }
  std::size_t incoming = 0;
  for (const auto &pair : heard)
    incoming += static_cast<std::size_t>(std::max(pair[1], 0));
  HaloList send(incoming);
  std::size_t next = 0;
  for (std::size_t i = 0; i < peers.size(); ++i) {
    for (std::int32_t k = 0; k < heard[i][1]; ++k, ++next) {
      requests.emplace_back();
      MPI_Irecv(&send[next], 4, MPI_INT32_T, peers[i].peer, 0, MPI_COMM_WORLD, &requests.back());
    }
  }
  MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);
  return send;
}

} // namespace

long MessageTagUpperBound() {
  void *value = nullptr;
  int found = 0;
  MPI_Comm_get_attr(MPI_COMM_WORLD, MPI_TAG_UB, &value, &found);
  return found != 0 && value != nullptr ? *static_cast<int *>(value) : 32767;
}

std::optional<double> ReadSpeedFactor(const std::string &fileName) {
  std::ifstream file(fileName);
  if (!file)
    return std::nullopt;
  double time = 0.0;
  if (!(file >> time))
    return std::nullopt;
  return time;
}

void MpiSpeedBenchmarkLoop(Grid &cosines, Grid &sines, Grid &arcTangents) {
#pragma omp parallel for schedule(runtime)
  for (long r = 1; r <= kBenchmarkSize; ++r) {
    double *cosRow = cosines[r];
    double *sinRow = sines[r];
    double *atanRow = arcTangents[r];
    for (long c = 1; c <= kBenchmarkSize; ++c) {
      const auto a = static_cast<double>(r + c);
      cosRow[c] = std::cos(a);
      sinRow[c] = std::sin(a);
      atanRow[c] = std::atan(sinRow[c] * cosRow[c]);
    }
  }
}

double RunSpeedBenchmark(DiagnosticsLog &log) {
  double total = 0.0;
  {
    Grid cosines(1, kBenchmarkSize, kBenchmarkSize, kBenchmarkSize, log);
    Grid sines(1, kBenchmarkSize, kBenchmarkSize, kBenchmarkSize, log);
    Grid arcTangents(1, kBenchmarkSize, kBenchmarkSize, kBenchmarkSize, log);
    for (int k = 0; k < kBenchmarkRepetitions; ++k) {
      const double start = MPI_Wtime();
      MpiSpeedBenchmarkLoop(cosines, sines, arcTangents);
      total += MPI_Wtime() - start;
    }
  }
  log << "MPI wtime: " << total << "for instance: " << WorldRank() << "[end-entry]";
  return total;
}

double MeasureProcessTime(DiagnosticsLog &log) {
  if (const auto time = ReadSpeedFactor())
    return *time;
  return RunSpeedBenchmark(log);
}

std::vector<double> CollectProcessTimes(double ownTime, DiagnosticsLog &log) {
  const int rank = WorldRank();
  const int size = WorldSize();
  if (rank != 0) {
    MPI_Send(&ownTime, 1, MPI_DOUBLE, 0, rank, MPI_COMM_WORLD);
    return {};
  }
  std::vector<double> times(static_cast<std::size_t>(size), 0.0);
  times[0] = ownTime;
  for (int r = 1; r < size; ++r) {
    MPI_Recv(&times[static_cast<std::size_t>(r)], 1, MPI_DOUBLE, r, r, MPI_COMM_WORLD,
             MPI_STATUS_IGNORE);
  }
  for (int k = 0; k < size; ++k) {
    log << "received MPI wtime: " << times[static_cast<std::size_t>(k)] << " for instance: " << k
        << "[end-entry]";
  }
  return times;
}

MpiDecomposition DistributeMpiRegions(const Grid *zoneGrid, const RasterShape &shape,
                                      DiagnosticsLog &log) {
  MpiDecomposition d;
  d.shape = shape;
  d.rank = WorldRank();
  d.processCount = WorldSize();
  d.strip = {1, shape.nrows};
  d.haloStrip = d.strip;
  CheckMessageTagBound(shape, d.processCount, MessageTagUpperBound(), log);

  // Rank 0's grids exist before the measurement, the others' once their strip is known.
  auto makeGrids = [&](StripRows rows) {
    d.regions = Grid(rows.first, rows.last, shape.ncols, shape.nrows, log);
    d.helper = Grid(rows.first, rows.last, shape.ncols, shape.nrows, log);
    d.halo = Grid(rows.first, rows.last, shape.ncols, shape.nrows, log);
    d.regions.Fill(kNoOwner);
    d.halo.Fill(kNoOwner);
  };
  if (d.rank == 0)
    makeGrids({1, shape.nrows});

  const std::vector<double> times = CollectProcessTimes(MeasureProcessTime(log), log);
  Division division;
  if (d.rank == 0)
    division = DivideCells(zoneGrid, shape, times, d.regions, log);
  ShareOutcome(division.exitCode, division.error, log);

  std::vector<std::int32_t> first(static_cast<std::size_t>(d.processCount));
  std::vector<std::int32_t> last(first.size());
  if (d.rank == 0) {
    for (std::size_t k = 0; k < first.size(); ++k) {
      first[k] = static_cast<std::int32_t>(division.strips[k].first);
      last[k] = static_cast<std::int32_t>(division.strips[k].last);
    }
  }
  MPI_Bcast(first.data(), d.processCount, MPI_INT32_T, 0, MPI_COMM_WORLD);
  MPI_Bcast(last.data(), d.processCount, MPI_INT32_T, 0, MPI_COMM_WORLD);
  const auto own = static_cast<std::size_t>(d.rank);
  d.strip = {first[own], last[own]};
  d.haloStrip = HaloStrip(d.strip, shape.nrows);
  if (d.rank != 0)
    makeGrids(d.haloStrip);
  DistributeRegionRows(d, division.strips);

  const StripRows ownRows = d.rank == 0 ? StripRows{1, shape.nrows} : d.strip;
  d.runs =
      d.rank == 0 ? WholeRasterRuns(d.regions, shape) : OwnRuns(d.regions, shape, d.strip, d.rank);
  WriteHelperRows(d.runs, d.regions, d.helper, shape, ownRows, d.rank == 0);
  d.rowRanges = ComputeRowColumnRanges(d.regions, {shape.ncols, shape.nrows, kNoOwner}, ownRows);
  MarkHaloCells(d.regions, d.halo, shape, ownRows, d.rank);

  d.cellCounts.assign(static_cast<std::size_t>(d.processCount), 0);
  if (d.rank == 0)
    d.cellCounts = CountOwnedCells(d.regions, shape, d.processCount);
  MPI_Bcast(d.cellCounts.data(), d.processCount, MPI_INT64_T, 0, MPI_COMM_WORLD);

  d.haloReceive = BuildHaloReceiveList(d.regions, d.halo, shape, d.haloStrip);
  d.haloSend = ExchangeHaloRecords(d.haloReceive, d.rank);
  return d;
}

std::string RegionsOutputFileName() {
  std::array<char, 32> name{};
  std::snprintf(name.data(), name.size(), "MPIRegions_%d", 0);
  return name.data();
}

void WriteRegionsGrid(const MpiDecomposition &decomposition, const GridFileWriter &writer,
                      DiagnosticsLog &log) {
  if (decomposition.rank != 0 || !writer)
    return;
  // The file marks the cells of no owner with the raster's nodata value, as
  // every grid file does.
  const RasterShape &shape = decomposition.shape;
  Grid file(1, shape.nrows, shape.ncols, shape.nrows, log);
  for (long r = 1; r <= shape.nrows; ++r) {
    const double *owners = decomposition.regions[r];
    double *row = file[r];
    for (long c = 1; c <= shape.ncols; ++c)
      row[c] = OwnerOf(owners[c]) >= 0 ? owners[c] : shape.nodata;
  }
  writer(file, RegionsOutputFileName());
}

void LinkDecompositionGrids(modelobject &object) {
  if (object.Registry != nullptr) {
    if (object.MPIRegions == nullptr)
      if (const int index = object.FindGrid(kRegionsGridName, false); index > 0)
        object.MPIRegions = (*object.Registry)[index].Data;
    if (object.MPIHelper == nullptr)
      if (const int index = object.FindGrid(kHelperGridName, false); index > 0)
        object.MPIHelper = (*object.Registry)[index].Data;
  }
  if (const MpiDecomposition *decomposition = object.Halo.Decomposition) {
    if (object.MPIRegions == nullptr)
      object.MPIRegions = &decomposition->regions;
    if (object.MPIHelper == nullptr)
      object.MPIHelper = &decomposition->helper;
  }
}

} // namespace tavro
