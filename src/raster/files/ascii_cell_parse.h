// Parsing of the cell values of an ASCII grid from a piece of text that holds
// whole tokens only: counting its tokens, and reading them into the cells of
// the grid they belong to. The values equal strtod's; no files, no threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tavro {

// The white space that separates values, as fscanf sees it: ' ' and '\t' to
// '\r', tested without a branch so that loops over many bytes vectorise.
inline bool IsGridSpace(char c) {
  return static_cast<bool>(
      static_cast<unsigned>(c == ' ') |
      static_cast<unsigned>(static_cast<unsigned char>(c - '\t') <= '\r' - '\t'));
}

// Where cell k (0-based, row after row) of a grid goes: rows[k / ncols + 1]
// [k % ncols + 1]; rows holds cellCount / ncols + 1 entries (entry 0 unused).
struct CellTarget {
  double *const *rows = nullptr;
  std::int64_t ncols = 0;
  std::int64_t cellCount = 0;
};

// Number of tokens (runs of non-space characters) in text.
std::int64_t CountCellTokens(std::string_view text);

struct CellParse {
  std::int64_t next = 0; // the cell after the last one read, or the failed cell
  bool failed = false;   // the token of cell next is not a number
};

// Reads the tokens of text into the cells firstCell, firstCell + 1, ... and
// stops at the end of text, at target.cellCount or at the first token that
// is not a number (ParseGridNumber).
CellParse ParseCellTokens(std::string_view text, std::int64_t firstCell, const CellTarget &target);

// Where text can be cut near offset so that no token is split: after the first
// line end at or after offset within reach bytes, else after the first space
// at or after offset; text.size() when there is none.
std::size_t CellTokenSplit(std::string_view text, std::size_t offset, std::size_t reach);

} // namespace tavro
