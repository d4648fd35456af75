// The check of a grid or stack file's size against its header, made before
// anything is allocated from the header: a header that announces more cells
// than the file holds would otherwise have the whole raster allocated (and
// zero-filled) before the first cell is read.
#pragma once

#include "raster/files/grid_format.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace tavro {

class DiagnosticsLog;

// Bytes a file of the format needs at least for `values` cell values, at most
// UINT64_MAX: a binary file its header and every value (96 + 8 values for
// double, 48 + 4 values for float); an ASCII file one byte and a separator
// per value (its header lines make up for a last value without separator).
// GIF files have no header of their own: 0.
std::uint64_t MinimumFileBytes(GridFileFormat format, std::uint64_t values);

// Size in bytes of an open regular file; nothing for other files (pipes,
// devices), whose size cannot be known before reading.
std::optional<std::uint64_t> OpenFileBytes(std::FILE *file);

// The cells (times levels + 1 values for stacks, levels 0 for grids) that the
// header announces. Rows and columns below 1 announce none.
std::uint64_t HeaderValueCount(double ncols, double nrows, int levels);

// Logs "FATAL: error reading <path>: the header announces <nrows> rows and
// <ncols> columns[ of <n + 1> values per cell (levels 0 to <n>)], which need
// at least <need> bytes, but
// the file holds <size> bytes" and throws 22 when the file cannot fill its
// header. A file of unknown size passes.
void CheckHeaderFitsFile(DiagnosticsLog &log, const std::string &path, GridFileFormat format,
                         const GridFileHeader &header, int levels,
                         std::optional<std::uint64_t> fileBytes);

} // namespace tavro
