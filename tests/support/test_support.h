// Small helpers shared by the test suites: fixture files written once per job,
// file contents, and the MPI rank of the test process.
#pragma once

#include <string>

namespace tavro::test {

int Rank();
int ProcessCount();

// Writes a fixture file on rank 0, then waits for every rank (collective).
void WriteFixture(const std::string &name, const std::string &content);

// Whole contents of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::string &name);

bool FileExists(const std::string &name);

// The working directory of the running test (each test has its own).
std::string WorkDirectory();

} // namespace tavro::test
