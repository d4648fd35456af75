// Small helpers shared by the test suites: fixture files written once per job,
// file contents, the MPI rank of the test process, and calls that may stop
// with a thrown exit code.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tavro::test {

int Rank();
int ProcessCount();

// Waits for every rank, writes a fixture file on rank 0, then waits again
// (collective): no rank reads it while it is rewritten.
void WriteFixture(const std::string &name, const std::string &content);

// Whole contents of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::string &name);

// The values of an ASCII grid file (after its six header lines), row by row.
std::vector<double> ReadAsciiGridValues(const std::string &name);

bool FileExists(const std::string &name);

// The working directory of the running test (each test has its own).
std::string WorkDirectory();

// What a call that may fail did: the exit code it threw and the console text
// it wrote on this process.
struct CallOutcome {
  int code = -1; // the int thrown, -1 when the call returned
  std::string console;
};

// Runs call while capturing standard output; a thrown int is caught.
CallOutcome RunCapturingConsole(const std::function<void()> &call);

// Exit code thrown by call, or -1 when it returned; the console is not captured.
int ExitCodeOf(const std::function<void()> &call);

} // namespace tavro::test
