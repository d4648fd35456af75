// How much an abstraction takes in one routing step, by its mode: a share of
// the flow above a threshold with a maximum (modes 3, 4), a value of a time
// series (5) or of an operation rule (6, 7); mode 8 takes its water inside
// the reservoir's rule. Amounts are mm per step; no amount is negative and
// none exceeds what the earlier abstractions of the step left.
#pragma once

#include <string>

namespace tavro {

inline constexpr int kAbstractionModeExitCode = 44;

enum AbstractionMode : int {
  kAbstractionIntern = 3,
  kAbstractionExtern = 4,
  kAbstractionFromFile = 5,
  kAbstractionInternWithRule = 6,
  kAbstractionExternWithRule = 7,
  kAbstractionFromReservoir = 8,
};

// The mode of a mode word (cut at its first ")"); 0 for an unknown word.
int AbstractionModeOf(const std::string &word);
// True for the words that make threshold and maximum m3/s.
bool IsCubicMetresPerSecondUnit(const std::string &unit);
// Whether a mode writes a table file, and whether its water stays in the network.
bool AbstractionWritesTable(int mode);
bool AbstractionIsInternal(int mode);

struct ShareParameters {
  double threshold = 0.0; // mm per step that must remain
  double fraction = 0.0;  // share of the flow above the threshold
  double maximum = 0.0;   // mm per step
};

// Modes 3 and 4: the share of the available flow A above the threshold,
// where S was already taken by earlier abstractions of the step.
double ShareAmount(const ShareParameters &p, double available, double taken);

// Modes 5 to 7: the value v (mm per step), within 0 .. A - S; a missing
// value (the series' -9999 marker, given as missing) takes nothing.
double BoundedAmount(double value, bool missing, double available, double taken);

} // namespace tavro
