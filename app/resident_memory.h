// The resident memory that each part of a run's set-up adds: the set-up
// object's grids and every module's construction (its grids, stacks and
// workspaces), printed by every process at the end of the set-up so that a
// benchmark can tell how much memory each module takes per cell.
#pragma once

#include <string>
#include <vector>

namespace tavro {

// Resident memory of this process in KiB (0 when the system does not tell).
long ResidentKiB();

// Resident memory added by one part of the set-up.
struct ResidentShare {
  std::string Part;
  long KiB = 0;
};

class ResidentMemoryMeter {
public:
  ResidentMemoryMeter() : last_(ResidentKiB()) {}
  // Books the memory added since the last mark (or the meter's start) to part.
  void Mark(const std::string &part);
  const std::vector<ResidentShare> &Shares() const { return shares_; }
  // One line per part on standard output, "resident memory of <part> on
  // process <rank>: <KiB> KiB", and the total; flushed at once.
  void Print(int rank) const;

private:
  long last_;
  std::vector<ResidentShare> shares_;
};

} // namespace tavro
