// Names of the groundwater module's files and grids: the start-of-step heads
// file derived from the heads file, the identifiers of a layer's grids, and
// the control-point file's header and record layout.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tavro {

// "<stem><suffix><extension>": the extension is the part of the file name
// (after the last '/') from its last '.' on, so "run.1/heads" gives
// "run.1/heads_old" and "heads.asc" gives "heads_old.asc".
std::string DerivedHeadsFileName(std::string_view heads, std::string_view suffix);

// "<prefix><layer>" ("gw_head_3", "gw_balance1").
std::string LayerIdentifier(std::string_view prefix, int layer);

// Bytes of one control-point record for the log: 48 per layer + 40.
inline std::size_t ControlRecordBytes(int layers) {
  return 48 * static_cast<std::size_t>(layers) + 40;
}
// Records the 2 MiB buffer holds, at least 1.
std::size_t ControlRecordCapacity(int layers);
// The header line, line feed included.
std::string ControlPointHeader(int row, int column, int layers);

} // namespace tavro
