// Block reading with read-ahead and the threaded parse of ASCII grid cells.
#include "raster/files/ascii_grid_cells.h"

#include "raster/files/grid_format.h"

#include <omp.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <vector>

namespace tavro {

namespace {

// One buffer of the file: its leading bytes carried over from the block
// before (the start of a token cut by that block's end), then what was read.
struct Block {
  std::vector<char> bytes;
  std::size_t size = 0;
  bool last = false; // the file ended (or failed) within this block

  // Reads up to count bytes after the first carried ones.
  void Fill(std::FILE *file, std::size_t carried, std::size_t count) {
    const std::size_t got = std::fread(bytes.data() + carried, 1, count, file);
    size = carried + got;
    last = got < count;
  }
};

// Where the whole tokens of a block end: after its last space (the whole
// block when the file ends in it). nullopt: the block ends in a token longer
// than any number, which no later block can mend.
std::optional<std::size_t> WholeTokensEnd(const Block &block) {
  if (block.last)
    return block.size;
  std::size_t end = block.size;
  while (end > 0 && !IsGridSpace(block.bytes[end - 1])) {
    --end;
    if (block.size - end > MaxNumberTokenLength)
      return std::nullopt;
  }
  return end;
}

// The end of the last space of a block (0 when it has none).
std::size_t LastSpaceEnd(const Block &block) {
  std::size_t end = block.size;
  while (end > 0 && !IsGridSpace(block.bytes[end - 1]))
    --end;
  return end;
}

// Parses text, whose tokens are cells firstCell onwards, with one piece per
// thread: each thread counts the tokens of its piece (the last piece needs no
// count), the pieces' first cells follow from the counts, and each thread
// reads its piece into its cells.
class BlockParser {
public:
  BlockParser(int threads, std::size_t parallelMinBytes)
      : parallelMinBytes_(parallelMinBytes), pieceStarts_(static_cast<std::size_t>(threads) + 1),
        pieceCells_(static_cast<std::size_t>(threads)), parsed_(static_cast<std::size_t>(threads)) {
  }

  // The cell after the block's last token (when it stops early: at the
  // failed cell, or at cellCount).
  CellParse Parse(std::string_view text, std::int64_t firstCell, const CellTarget &target) {
    const int pieces = static_cast<int>(parsed_.size());
    if (pieces == 1 || text.size() < parallelMinBytes_)
      return ParseCellTokens(text, firstCell, target);
    const std::size_t nominal = text.size() / static_cast<std::size_t>(pieces) + 1;
    pieceStarts_[0] = 0;
    for (std::size_t i = 1; i < pieceStarts_.size(); ++i)
      pieceStarts_[i] = std::max(pieceStarts_[i - 1], CellTokenSplit(text, i * nominal, nominal));
    pieceStarts_.back() = text.size();

#pragma omp parallel for schedule(static)
    for (int i = 0; i < pieces - 1; ++i)
      pieceCells_[static_cast<std::size_t>(i) + 1] = CountCellTokens(Piece(text, i));
    pieceCells_[0] = firstCell;
    for (std::size_t i = 1; i < pieceCells_.size(); ++i)
      pieceCells_[i] += pieceCells_[i - 1];

#pragma omp parallel for schedule(static)
    for (int i = 0; i < pieces; ++i) {
      const auto k = static_cast<std::size_t>(i);
      parsed_[k] = ParseCellTokens(Piece(text, i), pieceCells_[k], target);
    }

    for (const CellParse &piece : parsed_)
      if (piece.failed)
        return piece;
    return parsed_.back();
  }

private:
  std::string_view Piece(std::string_view text, int i) const {
    const auto k = static_cast<std::size_t>(i);
    return text.substr(pieceStarts_[k], pieceStarts_[k + 1] - pieceStarts_[k]);
  }

  std::size_t parallelMinBytes_;
  std::vector<std::size_t> pieceStarts_;
  std::vector<std::int64_t> pieceCells_; // first cell of each piece
  std::vector<CellParse> parsed_;
};

} // namespace

std::optional<std::int64_t> ReadAsciiGridCells(std::FILE *file, std::string_view pending,
                                               const CellTarget &target,
                                               const AsciiBlockSizes &sizes) {
  const int threads = std::max(1, omp_get_max_threads());
  const std::size_t blockBytes =
      static_cast<std::size_t>(threads) * std::max<std::size_t>(1, sizes.chunkBytesPerThread);
  const std::size_t carryRoom = std::max(pending.size(), MaxNumberTokenLength);
  Block blocks[2];
  for (Block &block : blocks)
    block.bytes.resize(carryRoom + blockBytes);
  BlockParser parser(threads, sizes.parallelMinBytes);

  std::copy(pending.begin(), pending.end(), blocks[0].bytes.begin());
  blocks[0].Fill(file, pending.size(), blockBytes);
  std::int64_t firstCell = 0;
  for (int current = 0;; current = 1 - current) {
    Block &block = blocks[current];
    const auto tokensEnd = WholeTokensEnd(block);
    const std::size_t parsedEnd = tokensEnd ? *tokensEnd : LastSpaceEnd(block);

    // Read the next block while this one is parsed; the future waits for the
    // read when it goes out of scope.
    std::future<void> reading;
    if (tokensEnd && !block.last) {
      Block &next = blocks[1 - current];
      const std::size_t carried = block.size - parsedEnd;
      std::memcpy(next.bytes.data(), block.bytes.data() + parsedEnd, carried);
      reading = std::async(std::launch::async, [&next, file, carried, blockBytes] {
        next.Fill(file, carried, blockBytes);
      });
    }

    const CellParse parsed =
        parser.Parse(std::string_view(block.bytes.data(), parsedEnd), firstCell, target);
    if (parsed.failed)
      return parsed.next;
    firstCell = parsed.next;
    if (firstCell >= target.cellCount)
      return std::nullopt;
    if (!tokensEnd || block.last)
      return firstCell; // an overlong token, or the end of the file, at this cell
    if (reading.valid())
      reading.get();
  }
}

} // namespace tavro
