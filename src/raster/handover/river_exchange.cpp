// Exact reduction of the booked river exchange and broadcast of the routed
// river flows.
#include "raster/handover/river_exchange.h"

#include "kernel/exact_sum.h"

#include <mpi.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace tavro {
namespace {

constexpr int kWordsPerSum = 3;

// Rank and size of the world communicator.
std::pair<int, int> World() {
  std::pair<int, int> world{0, 1};
  MPI_Comm_rank(MPI_COMM_WORLD, &world.first);
  MPI_Comm_size(MPI_COMM_WORLD, &world.second);
  return world;
}

} // namespace

void ReduceRiverExchange(riverflow_table &table) {
  const auto [rank, size] = World();
  if (size < 2)
    return;
  const std::size_t records = table.Records.Count() + 1;
  std::vector<ExactSum> own(records);
  for (std::size_t i = 0; i < records; ++i)
    own[i] = ExactSum(table.Records[i].exchange);
  std::vector<ExactSum> all(rank == 0 ? records * static_cast<std::size_t>(size) : 0);
  const int words = static_cast<int>(records) * kWordsPerSum;
  MPI_Gather(own.data(), words, MPI_UINT64_T, all.data(), words, MPI_UINT64_T, 0, MPI_COMM_WORLD);
  for (std::size_t i = 0; i < records; ++i) {
    if (rank != 0) {
      table.Records[i].exchange = 0.0;
      continue;
    }
    ExactSum total;
    for (int p = 0; p < size; ++p)
      total += all[static_cast<std::size_t>(p) * records + i];
    table.Records[i].exchange = total.ToDouble();
  }
}

void BroadcastRiverFlows(riverflow_table &table, bool setUp) {
  const auto [rank, size] = World();
  if (size < 2)
    return;
  const std::size_t records = table.Records.Count() + 1;
  constexpr std::size_t flowValues = 10 + 2;
  const std::size_t perRecord = flowValues + (setUp ? 3 : 0);
  std::vector<double> values(records * perRecord, 0.0);
  const bool root = rank == 0;
  if (root)
    for (std::size_t i = 0; i < records; ++i) {
      const RiverflowRecord &r = table.Records[i];
      double *v = values.data() + i * perRecord;
      for (std::size_t k = 0; k < r.flow_mm.size(); ++k)
        v[k] = r.flow_mm[k];
      v[10] = r.flowm3s;
      v[11] = r.speed;
      if (setUp) {
        v[12] = r.area;
        // Small whole numbers travel exactly as doubles.
        v[13] = r.routingNumber;
        v[14] = r.channelIndex;
      }
    }
  MPI_Bcast(values.data(), static_cast<int>(values.size()), MPI_DOUBLE, 0, MPI_COMM_WORLD);
  if (root)
    return;
  for (std::size_t i = 0; i < records; ++i) {
    RiverflowRecord &r = table.Records[i];
    const double *v = values.data() + i * perRecord;
    for (std::size_t k = 0; k < r.flow_mm.size(); ++k)
      r.flow_mm[k] = v[k];
    r.flowm3s = v[10];
    r.speed = v[11];
    if (setUp) {
      r.area = v[12];
      r.routingNumber = static_cast<int>(v[13]);
      r.channelIndex = static_cast<int>(v[14]);
    }
  }
}

} // namespace tavro
