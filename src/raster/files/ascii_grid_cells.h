// Reading the cell values of an ASCII grid at the speed of the disk: the file
// is read in large blocks, the next block while the current one is parsed,
// and each block is parsed by the OpenMP threads in pieces cut at line ends.
// Memory stays at two blocks (the one parsed and the one read) of one chunk per
// thread, 16 MB with 8 threads, whatever the file size.
#pragma once

#include "raster/files/ascii_cell_parse.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

namespace tavro {

struct AsciiBlockSizes {
  std::size_t chunkBytesPerThread = std::size_t{1} << 20; // a block is one chunk per thread
  std::size_t parallelMinBytes = std::size_t{256} << 10;  // smaller blocks: one thread
};

// Reads the cells of target from pending (bytes already read from the file)
// and then from file's current position, as many as target.cellCount; what
// follows them is not read. Returns the index of the first cell that could not
// be read (its token is not a number, or the file ended or failed before it),
// nullopt when every cell was read.
std::optional<std::int64_t> ReadAsciiGridCells(std::FILE *file, std::string_view pending,
                                               const CellTarget &target,
                                               const AsciiBlockSizes &sizes = {});

} // namespace tavro
