// Fast reading of whitespace-separated tokens from a text file through one
// large buffer, for grid and stack files of many millions of numbers where
// stream extraction per value would dominate the start-up time.
#pragma once

#include "raster/files/grid_format.h"

#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

namespace tavro {

class AsciiTokenReader {
public:
  // Reads from file's current position; the file stays owned by the caller.
  explicit AsciiTokenReader(std::FILE *file, std::size_t bufferBytes = 1 << 20);

  // The next token, valid until the next call; nullopt at the end of the file
  // or on a read error (see Failed). A token longer than MaxTokenLength is
  // returned cut to that length; being longer than any number, it fails as one.
  std::optional<std::string_view> Next();
  // The next token read as a number (ParseGridNumber); nullopt when there is
  // none or it is not a number.
  std::optional<double> NextNumber();

  bool Failed() const { return failed_; }

  // The bytes read from the file and not yet returned as tokens: where a
  // reader of the rest of the file takes over (this one is not used after).
  std::string_view Pending() const {
    return std::string_view(buffer_.data() + begin_, end_ - begin_);
  }

  static constexpr std::size_t MaxTokenLength = MaxNumberTokenLength + 1;

private:
  bool Refill(); // keeps bytes from begin_ on; false when nothing was added

  std::FILE *file_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  bool failed_ = false;
};

} // namespace tavro
