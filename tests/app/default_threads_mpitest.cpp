// Threads by default: without OMP_NUM_THREADS every process of a node takes its
// share of the node's cores; with it the setting stays as the user gave it.
#include <gtest/gtest.h>
#include <mpi.h>
#include <omp.h>

#include <algorithm>

#include "default_threads.h"

namespace tavro {
namespace {

TEST(DefaultThreadsMpi, WithoutTheVariableTheNodesCoresAreShared) {
  const int before = omp_get_max_threads();
  int processes = 0;
  MPI_Comm_size(MPI_COMM_WORLD, &processes); // the tests run on one node
  const NodeThreads node = ApplyDefaultThreads(nullptr);
  const int expected = std::max(1, omp_get_num_procs() / processes);
  EXPECT_EQ(node.processes, processes);
  EXPECT_FALSE(node.fromEnvironment);
  EXPECT_EQ(node.threads, expected);
  int threadsInRegion = 0;
#pragma omp parallel
  {
#pragma omp single
    threadsInRegion = omp_get_num_threads();
  }
  EXPECT_EQ(threadsInRegion, expected);
  omp_set_num_threads(before);
}

TEST(DefaultThreadsMpi, TheVariableKeepsItsSetting) {
  omp_set_num_threads(3);
  for (const char *given : {"3", "1"}) {
    const NodeThreads node = ApplyDefaultThreads(given);
    EXPECT_TRUE(node.fromEnvironment) << given;
    EXPECT_EQ(node.threads, 3) << given;
  }
  const NodeThreads empty = ApplyDefaultThreads("");
  EXPECT_FALSE(empty.fromEnvironment);
}

} // namespace
} // namespace tavro
