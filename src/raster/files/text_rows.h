// Writes text files whose formatting costs more than the writing (ASCII grids
// and stacks of a whole raster on rank 0): the rows are formatted on the
// OpenMP threads a batch at a time and written in row order, so the file's
// bytes are those of a loop over the rows on one thread.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace tavro {

// Appends the text of one row to an empty string. Called on worker threads:
// it must only read shared data and must not throw.
using RowFormatter = std::function<void(long row, std::string &text)>;

// Formats rows first..last and writes their texts in that order to file;
// false when a write failed (the rows after it are not written).
bool WriteTextRows(std::FILE *file, long first, long last, const RowFormatter &format);

} // namespace tavro
