// GoogleTest entry for every suite: starts MPI, gives each test its own
// temporary working directory (shared by all ranks of the job), and combines
// the results of all ranks.
#include <gtest/gtest.h>
#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// Creates a fresh directory on rank 0 for each test and moves every rank into it.
class WorkDirectoryPerTest : public testing::EmptyTestEventListener {
public:
  void OnTestStart(const testing::TestInfo &) override {
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    home_ = std::filesystem::current_path();
    std::vector<char> name(4096, '\0');
    if (rank == 0) {
      std::string pattern = (std::filesystem::temp_directory_path() / "tavro_test_XXXXXX").string();
      pattern.copy(name.data(), name.size() - 1);
      if (mkdtemp(name.data()) == nullptr)
        std::abort();
    }
    MPI_Bcast(name.data(), static_cast<int>(name.size()), MPI_CHAR, 0, MPI_COMM_WORLD);
    directory_ = name.data();
    std::filesystem::current_path(directory_);
  }

  void OnTestEnd(const testing::TestInfo &info) override {
    std::filesystem::current_path(home_);
    MPI_Barrier(MPI_COMM_WORLD);
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    const bool keep = std::getenv("TAVRO_KEEP_TEST_DIRS") != nullptr || info.result()->Failed();
    if (rank == 0 && !keep) {
      std::error_code ignored;
      std::filesystem::remove_all(directory_, ignored);
    }
  }

private:
  std::filesystem::path home_;
  std::filesystem::path directory_;
};

// On ranks other than 0 only failed assertions are printed, with the rank.
// The test's name is kept from its start: asking gtest for the current test
// while it reports a result would take a lock it already holds.
class FailurePrinter : public testing::EmptyTestEventListener {
public:
  void OnTestStart(const testing::TestInfo &info) override {
    name_ = std::string(info.test_suite_name()) + "." + info.name();
  }
  void OnTestPartResult(const testing::TestPartResult &result) override {
    if (!result.failed())
      return;
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    std::fprintf(stderr, "[rank %d] %s failed at %s:%d\n%s\n", rank, name_.c_str(),
                 result.file_name() ? result.file_name() : "?", result.line_number(),
                 result.summary());
  }

private:
  std::string name_;
};

} // namespace

int main(int argc, char **argv) {
  MPI_Init(&argc, &argv);
  testing::InitGoogleTest(&argc, argv);
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  auto &listeners = testing::UnitTest::GetInstance()->listeners();
  if (rank != 0) {
    // Failures on other ranks still count: they are combined below and
    // reported through the exit status, and printed by gtest's failure lines.
    delete listeners.Release(listeners.default_result_printer());
    listeners.Append(new FailurePrinter);
  }
  listeners.Append(new WorkDirectoryPerTest);
  const int local = RUN_ALL_TESTS();
  int combined = 0;
  MPI_Allreduce(&local, &combined, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  if (rank != 0 && local != 0)
    std::fprintf(stderr, "rank %d: tests failed\n", rank);
  MPI_Finalize();
  return combined;
}
