// The OpenMP threads of a process when the user sets none: each process takes
// its share of its node's cores, so that processes on one node do not each
// start a thread per core and crowd each other out.
#pragma once

#include <string>

namespace tavro {

// The threads a process takes when OMP_NUM_THREADS is unset: the node's cores
// divided by the processes on that node, at least 1.
int DefaultThreadCount(int nodeCores, int processesOnNode);

// What the processes of one node run with, for the log.
struct NodeThreads {
  int processes = 1; // processes on the node of the calling process
  int threads = 1;   // OpenMP threads of each of them
  bool fromEnvironment = false;
};

// Collective over MPI_COMM_WORLD. When OMP_NUM_THREADS (given as the text of
// the variable, or nullptr when unset) says nothing, sets the process's thread
// count to its share of the node's cores; otherwise leaves the setting alone.
NodeThreads ApplyDefaultThreads(const char *ompNumThreads);

// "3 processes x 2 threads per node" and the origin of the thread count.
std::string DescribeNodeThreads(const NodeThreads &node);

} // namespace tavro
