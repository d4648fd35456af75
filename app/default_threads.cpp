// The OpenMP threads of a process when the user sets none.
#include "default_threads.h"

#include <mpi.h>
#include <omp.h>

#include <algorithm>

namespace tavro {

int DefaultThreadCount(int nodeCores, int processesOnNode) {
  if (nodeCores < 1 || processesOnNode < 1)
    return 1;
  return std::max(1, nodeCores / processesOnNode);
}

NodeThreads ApplyDefaultThreads(const char *ompNumThreads) {
  MPI_Comm node = MPI_COMM_NULL;
  MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, 0, MPI_INFO_NULL, &node);
  NodeThreads result;
  MPI_Comm_size(node, &result.processes);
  MPI_Comm_free(&node);
  result.fromEnvironment = ompNumThreads != nullptr && *ompNumThreads != '\0';
  if (!result.fromEnvironment)
    omp_set_num_threads(DefaultThreadCount(omp_get_num_procs(), result.processes));
  result.threads = omp_get_max_threads();
  return result;
}

std::string DescribeNodeThreads(const NodeThreads &node) {
  return std::to_string(node.processes) + (node.processes == 1 ? " process x " : " processes x ") +
         std::to_string(node.threads) + (node.threads == 1 ? " thread" : " threads") +
         " per node (" +
         (node.fromEnvironment ? "threads from OMP_NUM_THREADS"
                               : "threads: the node's cores shared among its processes") +
         ")";
}

} // namespace tavro
