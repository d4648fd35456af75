// GIF files made by the tests: a plain LZW encoder (with or without a clear
// code when the table is full), a writer of hand-picked codes for defective
// streams, and the wrapping of image data into a whole file. The encoder
// follows the GIF89a rules, independently of the decoder under test.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tavro::test {

using Bytes = std::vector<std::uint8_t>;

// Codes packed least significant bit first into data sub-blocks of at most
// 255 bytes, ended by a sub-block of size 0.
class CodeWriter {
public:
  void Put(int code, int bits) {
    buffer_ |= static_cast<std::uint64_t>(code) << count_;
    count_ += bits;
    while (count_ >= 8) {
      bytes_.push_back(static_cast<std::uint8_t>(buffer_ & 0xFF));
      buffer_ >>= 8;
      count_ -= 8;
    }
  }
  Bytes SubBlocks() const {
    Bytes data = bytes_;
    if (count_ > 0)
      data.push_back(static_cast<std::uint8_t>(buffer_ & 0xFF));
    Bytes out;
    for (std::size_t at = 0; at < data.size(); at += 255) {
      const std::size_t n = std::min<std::size_t>(255, data.size() - at);
      out.push_back(static_cast<std::uint8_t>(n));
      out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                 data.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    out.push_back(0);
    return out;
  }

private:
  Bytes bytes_;
  std::uint64_t buffer_ = 0;
  int count_ = 0;
};

// The LZW image data of the pixels (minimum code size byte and sub-blocks).
// clearWhenFull false keeps the full table (a deferred clear) to the end.
inline Bytes EncodeLzw(const Bytes &pixels, int minimumCodeSize, bool clearWhenFull) {
  const int clear = 1 << minimumCodeSize;
  const int end = clear + 1;
  int next = end + 1;
  int bits = minimumCodeSize + 1;
  std::map<std::pair<int, int>, int> table;
  CodeWriter writer;
  auto emit = [&](int code) {
    writer.Put(code, bits);
    if (next >= (1 << bits) && bits < 12)
      ++bits;
  };
  emit(clear);
  int prefix = pixels.at(0);
  for (std::size_t i = 1; i < pixels.size(); ++i) {
    const int pixel = pixels[i];
    const auto found = table.find({prefix, pixel});
    if (found != table.end()) {
      prefix = found->second;
      continue;
    }
    emit(prefix);
    if (next < 4096) {
      table[{prefix, pixel}] = next++;
    } else if (clearWhenFull) {
      emit(clear);
      table.clear();
      next = end + 1;
      bits = minimumCodeSize + 1;
    }
    prefix = pixel;
  }
  emit(prefix);
  emit(end);
  Bytes data{static_cast<std::uint8_t>(minimumCodeSize)};
  const Bytes blocks = writer.SubBlocks();
  data.insert(data.end(), blocks.begin(), blocks.end());
  return data;
}

// A whole file: header, screen of width x height with a global table of
// 2^minimumCodeSize grey entries, the given blocks before the image, one
// image with the given data, the trailer.
inline Bytes GifFile(int width, int height, int minimumCodeSize, const Bytes &imageData,
                     const Bytes &before = {}) {
  Bytes file{'G', 'I', 'F', '8', '9', 'a'};
  auto word = [&](int value) {
    file.push_back(static_cast<std::uint8_t>(value & 0xFF));
    file.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
  };
  word(width);
  word(height);
  const int tableBits = std::clamp(minimumCodeSize, 1, 8); // a table has at most 256 entries
  file.push_back(static_cast<std::uint8_t>(0x80 | (tableBits - 1)));
  file.push_back(0);
  file.push_back(0);
  for (int i = 0; i < (1 << tableBits); ++i)
    for (int k = 0; k < 3; ++k)
      file.push_back(static_cast<std::uint8_t>(i));
  file.insert(file.end(), before.begin(), before.end());
  file.push_back(0x2C);
  word(0);
  word(0);
  word(width);
  word(height);
  file.push_back(0);
  file.insert(file.end(), imageData.begin(), imageData.end());
  file.push_back(0x3B);
  return file;
}

} // namespace tavro::test
