// Buffered token reading for grid and stack text files.
#include "raster/files/ascii_token_reader.h"

#include "raster/files/ascii_cell_parse.h"

#include <algorithm>
#include <cstring>

namespace tavro {

AsciiTokenReader::AsciiTokenReader(std::FILE *file, std::size_t bufferBytes)
    : file_(file), buffer_(std::max(bufferBytes, 2 * MaxTokenLength)) {}

bool AsciiTokenReader::Refill() {
  if (eof_ || failed_)
    return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  const std::size_t room = buffer_.size() - end_;
  if (room == 0)
    return false;
  const std::size_t got = std::fread(buffer_.data() + end_, 1, room, file_);
  end_ += got;
  if (got < room) {
    if (std::ferror(file_))
      failed_ = true;
    else
      eof_ = true;
  }
  return got > 0;
}

std::optional<std::string_view> AsciiTokenReader::Next() {
  // Skip white space, refilling as needed.
  for (;;) {
    while (begin_ < end_ && IsGridSpace(buffer_[begin_]))
      ++begin_;
    if (begin_ < end_)
      break;
    if (!Refill())
      return std::nullopt;
  }
  std::size_t stop = begin_;
  for (;;) {
    while (stop < end_ && !IsGridSpace(buffer_[stop]) && stop - begin_ < MaxTokenLength)
      ++stop;
    if (stop < end_ || stop - begin_ >= MaxTokenLength)
      break;
    // The token runs to the end of the buffered bytes: read on.
    const std::size_t offset = stop - begin_;
    if (!Refill())
      break;
    stop = begin_ + offset;
  }
  std::string_view token(buffer_.data() + begin_, stop - begin_);
  begin_ = stop;
  return token;
}

std::optional<double> AsciiTokenReader::NextNumber() {
  const auto token = Next();
  if (!token)
    return std::nullopt;
  return ParseGridNumber(*token);
}

} // namespace tavro
