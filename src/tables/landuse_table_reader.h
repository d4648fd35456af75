// Reading of the control-file section "[landuse_table]" into the land-use
// table: the entry count, then one entry per record, either a block of
// "key = value;" pairs in braces that names its method, or a line of the old
// one-line format. Record 0 of the result is the header: its code holds the
// number of entries and its balance days those of the whole table.
#pragma once

#include <cstddef>
#include <string_view>

#include "kernel/one_based_array.h"
#include "tables/landuse_class.h"

namespace tavro {

class ControlFileReader;
class DiagnosticsLog;

namespace landuse {

// Exit code of every failure of the table's entries.
inline constexpr int TableExitCode = 29;
// Longest entry text (a block with all its lines) the reader accepts.
inline constexpr std::size_t MaxEntryLength = 1 << 20;

} // namespace landuse

// Reads the section from the reader's file (exit code 17 when it is missing,
// 29 when an entry cannot be read). soilModelVariant 2 reads RootDist and
// HReduDry from old one-line entries.
OneBasedArray<landuse_class> ReadLanduseTable(ControlFileReader &reader, DiagnosticsLog &log,
                                              int soilModelVariant);

// The method named on an entry's first line when the line also holds the
// word "method" and "{" (the entry is then a block), else an empty view.
std::string_view LanduseBlockMethod(std::string_view firstLine);

// One block, from its code and name to its "}"; index is the entry's place in
// the table, named in messages when the code itself cannot be read.
landuse_class ParseLanduseBlock(DiagnosticsLog &log, std::string_view text, int index,
                                std::string_view methodName);

// One old one-line entry.
landuse_class ParseLanduseOldFormat(DiagnosticsLog &log, std::string_view line, int index,
                                    int soilModelVariant);

} // namespace tavro
