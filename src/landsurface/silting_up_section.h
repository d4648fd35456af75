// The values of the "[SiltingUpModel]" section after its flow control
// parameter and time interval: the optional method line, the two statistics
// and the five output grids, the minimum rain pause of every zone, the read
// switch of the state grids, and then either the parameters A to H (method 2)
// or the block of formulas "SiltingUpExpressions { ...; ...; }" (method 3).
//
// Failures are fatal: a value that cannot be read 17, the zone codes and
// minimum rain pauses 10, the formula block 400 (no "{"), 401 (no "}") and
// 402 (no block with a formula).
#pragma once

#include "landsurface/silting_up/silting_up_kernels.h"

#include <array>
#include <string>
#include <vector>

namespace tavro {

class modelobject;

// The output grids in the order of the section (and of their registration).
enum SiltingUpGrid : int {
  DispositionGrid = 0, // "SiltingUpDisposition"
  RainPauseGrid,       // "RainPause"
  EnergyGrid,          // "KineticEnergy"
  TillageGrid,         // "TimeSinceLastSoilTillage"
  RunoffGrid,          // "DirectRunoffSiltingUp"
  SiltingUpGridCount
};

struct SiltingUpSection {
  static constexpr int ZoneCodeExitCode = 10;
  static constexpr int OpeningBracketExitCode = 400;
  static constexpr int ClosingBracketExitCode = 401;
  static constexpr int NoExpressionsExitCode = 402;

  struct FileAndCode {
    std::string name;
    int code = 0;
  };

  int method = 1; // 2 and 3 as read; every other number acts as 1
  FileAndCode dispositionStatistics;
  FileAndCode runoffStatistics;
  std::array<FileAndCode, SiltingUpGridCount> grids; // file name and writecode
  // Per zone 1..n (element 0 unused): the code the section names for it, -1
  // where it takes the value of the zone before; the minimum rain pause (days).
  std::vector<int> givenCode;
  std::vector<double> minimumPause;
  int readStorage = 0; // 1: the four state grids are read from their files
  siltingup::MethodParameters parameters;
  std::vector<std::string> expressions; // method 3, stored without white space

  bool UsesExpressions() const { return method == 3; }
};

// Reads the section from the current position of the module's control-file
// copy (after its time interval), with the module's zone table.
SiltingUpSection ReadSiltingUpSection(modelobject &module);

// The formulas of a block text: the text between its first "{" and the first
// "}" after it, split at every ";", each piece without white space; the text
// after the last ";" is dropped. Exposed for the tests.
std::vector<std::string> SplitExpressionBlock(const std::string &block);

} // namespace tavro
