// Token counting and cell parsing of ASCII grid text.
#include "raster/files/ascii_cell_parse.h"

#include "raster/files/grid_format.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace tavro {

namespace {

// A token that from_chars read as a NaN ("nan", "-nan(...)"). Told from the
// text, not the value, so that the loop never waits for the number.
inline bool SpellsNan(const char *start, const char *stop) {
  if (stop - start < 3)
    return false;
  const char lead = *start == '-' ? start[1] : start[0];
  return (lead | 0x20) == 'n';
}

} // namespace

std::int64_t CountCellTokens(std::string_view text) {
  if (text.empty())
    return 0;
  // A token starts where a space is followed by a non-space. Counted without
  // branches, in byte-wide sums of at most 255 steps, so that the compiler
  // counts many bytes at once.
  std::int64_t count = IsGridSpace(text[0]) ? 0 : 1;
  std::size_t i = 1;
  while (i < text.size()) {
    const std::size_t stop = std::min(text.size(), i + 255);
    unsigned char part = 0;
    for (; i < stop; ++i)
      part += static_cast<unsigned char>(static_cast<unsigned>(IsGridSpace(text[i - 1])) &
                                         static_cast<unsigned>(!IsGridSpace(text[i])));
    count += part;
  }
  return count;
}

CellParse ParseCellTokens(std::string_view text, std::int64_t firstCell, const CellTarget &target) {
  if (firstCell >= target.cellCount || target.ncols <= 0)
    return {firstCell, false};
  const char *p = text.data();
  const char *const end = p + text.size();
  std::int64_t cell = firstCell;
  std::int64_t row = firstCell / target.ncols + 1;
  std::int64_t column = firstCell % target.ncols + 1;
  double *cells = target.rows[row];
  while (cell < target.cellCount) {
    while (p != end && IsGridSpace(*p))
      ++p;
    if (p == end)
      break;
    const char *const start = p;
    double value = 0.0;
    const auto [stop, error] = std::from_chars(start, end, value);
    if (error == std::errc() && (stop == end || IsGridSpace(*stop)) &&
        static_cast<std::size_t>(stop - start) <= MaxNumberTokenLength && !SpellsNan(start, stop)) {
      p = stop;
    } else {
      // What from_chars refuses, reads only in part or reads as a NaN (whose
      // payload it drops) goes, whole, to the reference parser.
      while (p != end && !IsGridSpace(*p))
        ++p;
      const auto parsed =
          ParseGridNumber(std::string_view(start, static_cast<std::size_t>(p - start)));
      if (!parsed)
        return {cell, true};
      value = *parsed;
    }
    cells[column] = value;
    ++cell;
    if (++column > target.ncols && cell < target.cellCount) {
      column = 1;
      cells = target.rows[++row];
    }
  }
  return {cell, false};
}

std::size_t CellTokenSplit(std::string_view text, std::size_t offset, std::size_t reach) {
  if (offset >= text.size())
    return text.size();
  const std::size_t span = std::min(reach, text.size() - offset);
  if (const void *lineEnd = std::memchr(text.data() + offset, '\n', span))
    return static_cast<std::size_t>(static_cast<const char *>(lineEnd) - text.data()) + 1;
  for (std::size_t i = offset; i < text.size(); ++i)
    if (IsGridSpace(text[i]))
      return i + 1;
  return text.size();
}

} // namespace tavro
