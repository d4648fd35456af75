// Every process builds its own substituted copy of the same control file,
// named with its rank.
#include "setup/control_file_preprocessor.h"

#include "kernel/diagnostics_log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <string>

namespace tavro {
namespace {

TEST(PreprocessorMpiTest, EachRankWritesItsOwnCopy) {
  DiagnosticsLog log("Tavro_Diag.xml", 4);
  test::WriteFixture("ctl.txt", "$set $dir = out/\n[a]\n$dir//file.txt\n");
  const std::string copy = CompileSymbols(log, "ctl.txt", test::Rank());
  EXPECT_EQ(copy, "ctl.txt_" + std::to_string(test::Rank()) + ".$$$");
  MPI_Barrier(MPI_COMM_WORLD);
  for (int rank = 0; rank < test::ProcessCount(); ++rank)
    EXPECT_EQ(test::ReadWholeFile("ctl.txt_" + std::to_string(rank) + ".$$$"),
              "[a]\nout/file.txt\n")
        << "copy of rank " << rank;
}

} // namespace
} // namespace tavro
