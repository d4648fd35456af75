// Resident memory from /proc/self/statm (the second number: resident pages).
#include "resident_memory.h"

#include <unistd.h>

#include <cstdio>

namespace tavro {

long ResidentKiB() {
  std::FILE *file = std::fopen("/proc/self/statm", "r");
  if (file == nullptr)
    return 0;
  long size = 0;
  long resident = 0;
  const int read = std::fscanf(file, "%ld %ld", &size, &resident);
  std::fclose(file);
  const long page = sysconf(_SC_PAGESIZE);
  return read == 2 && page > 0 ? resident * (page / 1024) : 0;
}

void ResidentMemoryMeter::Mark(const std::string &part) {
  const long now = ResidentKiB();
  shares_.push_back({part, now - last_});
  last_ = now;
}

void ResidentMemoryMeter::Print(int rank) const {
  long total = 0;
  for (const ResidentShare &share : shares_) {
    std::printf("resident memory of %s on process %d: %ld KiB\n", share.Part.c_str(), rank,
                share.KiB);
    total += share.KiB;
  }
  std::printf("resident memory of the set-up on process %d: %ld KiB\n", rank, total);
  std::fflush(stdout);
}

} // namespace tavro
