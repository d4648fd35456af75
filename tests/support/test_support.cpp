// Helpers shared by the test suites.
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace tavro::test {

int Rank() {
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  return rank;
}

int ProcessCount() {
  int size = 1;
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  return size;
}

void WriteFixture(const std::string &name, const std::string &content) {
  // A test that rewrites a fixture in a loop must not truncate it under a rank
  // that is still reading the previous content.
  MPI_Barrier(MPI_COMM_WORLD);
  if (Rank() == 0) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << content;
  }
  MPI_Barrier(MPI_COMM_WORLD);
}

std::string ReadWholeFile(const std::string &name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool FileExists(const std::string &name) { return std::filesystem::exists(name); }

std::string WorkDirectory() { return std::filesystem::current_path().string(); }

CallOutcome RunCapturingConsole(const std::function<void()> &call) {
  CallOutcome outcome;
  testing::internal::CaptureStdout();
  outcome.code = ExitCodeOf(call);
  outcome.console = testing::internal::GetCapturedStdout();
  return outcome;
}

int ExitCodeOf(const std::function<void()> &call) {
  try {
    call();
  } catch (int code) {
    return code;
  }
  return -1;
}

std::vector<double> ReadAsciiGridValues(const std::string &name) {
  std::ifstream in(name);
  std::string word;
  for (int i = 0; i < 12 && in >> word;)
    ++i;
  std::vector<double> values;
  double value = 0.0;
  while (in >> value)
    values.push_back(value);
  return values;
}

} // namespace tavro::test
