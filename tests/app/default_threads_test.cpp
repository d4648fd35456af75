// The default thread count of a process and its line in the log.
#include <gtest/gtest.h>

#include "default_threads.h"

namespace tavro {
namespace {

TEST(DefaultThreads, EachProcessTakesItsShareOfTheNodesCores) {
  struct Case {
    int cores, processes, threads;
  };
  const Case cases[] = {{8, 1, 8}, {8, 4, 2},  {8, 3, 2}, {8, 8, 1},
                        {2, 3, 1}, {8, 16, 1}, {0, 2, 1}, {8, 0, 1}};
  for (const Case &c : cases)
    EXPECT_EQ(DefaultThreadCount(c.cores, c.processes), c.threads)
        << c.cores << " cores, " << c.processes << " processes";
}

TEST(DefaultThreads, TheLogLineNamesProcessesThreadsAndTheirOrigin) {
  EXPECT_EQ(DescribeNodeThreads({4, 2, false}),
            "4 processes x 2 threads per node (threads: the node's cores shared among its "
            "processes)");
  EXPECT_EQ(DescribeNodeThreads({1, 1, true}),
            "1 process x 1 thread per node (threads from OMP_NUM_THREADS)");
}

} // namespace
} // namespace tavro
