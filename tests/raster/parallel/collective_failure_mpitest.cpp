// The agreement on a failure that some processes meet alone: every process
// throws the largest code, and rank 0's diagnostics file holds the FATAL
// entries of the lowest failing rank, which only rank 0 could otherwise write.
#include "raster/parallel/collective_failure.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "support/diagnostics_entries.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::Logged;
using test::ProcessCount;
using test::Rank;

std::string ReasonOf(int rank) {
  return "error opening storage content file state.txt_" + std::to_string(rank);
}
std::string DetailOf(int rank) {
  return "the process " + std::to_string(rank) + " \"found\" <no> file\n-> check the name";
}
int CodeOf(int rank) { return 60 + rank; }

struct FailureCase {
  const char *name;
  // Which ranks of the job fail (given its size).
  bool (*fails)(int rank, int size);
};

const FailureCase kCases[] = {
    {"none", [](int, int) { return false; }},
    {"last rank alone", [](int rank, int size) { return rank == size - 1; }},
    {"every rank but 0", [](int rank, int) { return rank != 0; }},
    {"every rank", [](int, int) { return true; }},
    {"rank 0 and the last", [](int rank, int size) { return rank == 0 || rank == size - 1; }},
};

// Runs the agreement with the failing ranks logging two FATAL entries each,
// closes the log, and returns the code thrown here (-1 when none).
int AgreeOnFailure(const FailureCase &c) {
  auto log = std::make_unique<DiagnosticsLog>("Tavro_Diag.xml", 4);
  const bool failing = c.fails(Rank(), ProcessCount());
  const int code = test::ExitCodeOf([&] {
    ThrowIfAnyFailed(*log, CaptureExitCode([&] {
      if (!failing)
        return;
      log->Entry("FATAL: " + DetailOf(Rank()) + "[end-entry]");
      ThrowFatal(*log, CodeOf(Rank()), ReasonOf(Rank()));
    }));
  });
  log.reset();
  MPI_Barrier(MPI_COMM_WORLD);
  return code;
}

void ExpectReasonOfLowestFailingRank(const FailureCase &c) {
  const int size = ProcessCount();
  std::vector<int> failing;
  for (int rank = 0; rank < size; ++rank)
    if (c.fails(rank, size))
      failing.push_back(rank);
  const int code = AgreeOnFailure(c);
  if (failing.empty()) {
    EXPECT_EQ(code, -1);
    EXPECT_EQ(test::ReadWholeFile("Tavro_Diag_0.xml").find("level=\"0\""), std::string::npos);
    return;
  }
  EXPECT_EQ(code, CodeOf(*std::max_element(failing.begin(), failing.end())));
  const int first = failing.front();
  for (int rank = 0; rank < size; ++rank) {
    const bool shown = rank == first;
    EXPECT_EQ(Logged("FATAL: " + ReasonOf(rank)), shown) << "rank " << rank;
    EXPECT_EQ(Logged("FATAL: " + DetailOf(rank)), shown) << "rank " << rank;
  }
  // Each entry once, the detail before the reason, as the failing rank wrote them.
  const std::string xml = test::ReadWholeFile("Tavro_Diag_0.xml");
  const std::string detail = DiagnosticsLog::EscapeForXml(DetailOf(first));
  const std::string reason = DiagnosticsLog::EscapeForXml(ReasonOf(first));
  EXPECT_LT(xml.find(detail), xml.find(reason));
  EXPECT_EQ(xml.find(reason), xml.rfind(reason));
  EXPECT_NE(xml.find("</Diag>"), std::string::npos);
}

TEST(CollectiveFailureTest, RankZeroLogsTheReasonOfTheLowestFailingRank) {
  for (const FailureCase &c : kCases) {
    SCOPED_TRACE(c.name);
    ExpectReasonOfLowestFailingRank(c);
    // No rank reads the file while the next case's log rewrites it.
    MPI_Barrier(MPI_COMM_WORLD);
  }
}

// A FATAL entry that a process logged before an agreement in which nobody
// failed is not handed on with the reason of a later failure.
TEST(CollectiveFailureTest, AnEarlierEntryIsNotHandedWithALaterFailure) {
  const int last = ProcessCount() - 1;
  auto log = std::make_unique<DiagnosticsLog>("Tavro_Diag.xml", 4);
  if (Rank() == last && last != 0)
    log->Entry("FATAL: an entry of an earlier step[end-entry]");
  ThrowIfAnyFailed(*log, 0);
  const int code = test::ExitCodeOf([&] {
    ThrowIfAnyFailed(*log, CaptureExitCode([&] {
      if (Rank() == last)
        ThrowFatal(*log, CodeOf(last), ReasonOf(last));
    }));
  });
  log.reset();
  MPI_Barrier(MPI_COMM_WORLD);
  EXPECT_EQ(code, CodeOf(last));
  EXPECT_TRUE(Logged("FATAL: " + ReasonOf(last)));
  EXPECT_FALSE(Logged("an entry of an earlier step"));
}

} // namespace
} // namespace tavro
