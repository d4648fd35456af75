// Reading of the section "[soil_table]" into the soil table: one record per
// soil type, given either as a block with the method "MultipleHorizons" (per
// horizon parameter lists copied to the layers of each horizon) or as one
// line of the old format (one parameter set for equal layers below two thin
// top layers). Builds the retention tables, reduces the saturated
// conductivity with depth and checks the input; failures end the run with
// exit code 29 (blocks and soil parameters), 30 (old format, layer counts)
// or 17 (control file).
#pragma once

#include "kernel/one_based_array.h"
#include "tables/soil_class.h"

#include <string_view>

namespace tavro {

class ControlFileReader;
class DiagnosticsLog;

// Record 0 holds the number of soil types in its Code; records 1..count are
// the soil types in the order of the section.
using SoilTable = OneBasedArray<soil_class>;

// Most layers a soil type may have (more is refused as a reading error).
inline constexpr int MaxSoilLayers = 1000;

// Reads the whole section from the open control-file copy. A count below 1
// gives the empty table (record 0 only, Code = the count). Every soil-model
// variant reads the same format; the variant is taken so that the set-up
// calls every table reader alike.
SoilTable ReadSoilTable(ControlFileReader &reader, DiagnosticsLog &log, int soilModelVariant);

// True when a line starts a block entry rather than an old-format line.
bool IsSoilBlockStart(std::string_view line);

// Parses one block entry (its lines joined with their line ends) into soil,
// whose Code is the record index until the block's own code is read.
void ReadSoilBlock(DiagnosticsLog &log, std::string_view text, soil_class &soil);

// Parses one old-format line into soil.
void ReadSoilOldFormat(DiagnosticsLog &log, std::string_view line, soil_class &soil);

} // namespace tavro
