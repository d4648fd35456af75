// GIF block structure and LZW decoding straight into the index matrix.
#include "raster/files/gif_image_reader.h"

#include "kernel/grid.h"

#include <array>
#include <cstdio>
#include <memory>
#include <sstream>

namespace tavro {
namespace {

constexpr std::uint8_t kExtensionIntroducer = 0x21; // '!'
constexpr std::uint8_t kImageSeparator = 0x2C;      // ','
constexpr std::uint8_t kTrailer = 0x3B;             // ';'
constexpr std::uint8_t kPlainTextLabel = 0x01;
constexpr std::uint8_t kGraphicControlLabel = 0xF9;
constexpr std::uint8_t kCommentLabel = 0xFE;
constexpr std::uint8_t kApplicationLabel = 0xFF;
constexpr std::size_t kHeaderBytes = 6;
constexpr std::size_t kScreenDescriptorBytes = 7;
constexpr std::size_t kImageDescriptorBytes = 9;
constexpr std::uint8_t kNodataIndex = 255;
constexpr double kNodata = -9999.0;
constexpr int kMaxCodeBits = 12;

std::string InvalidBlockMessage(std::uint8_t value) {
  std::ostringstream text;
  text << "invalid extension type ID \"0x" << std::uppercase << std::hex
       << static_cast<unsigned>(value) << "\" found";
  return text.str();
}

// Bounds-checked reading of the file's bytes.
class ByteCursor {
public:
  explicit ByteCursor(const std::vector<std::uint8_t> &bytes) : bytes_(bytes) {}

  std::uint8_t Byte() {
    if (at_ >= bytes_.size())
      throw GifFormatError("the file ends early");
    return bytes_[at_++];
  }
  // The next count bytes; the cursor moves past them.
  const std::uint8_t *Take(std::size_t count) {
    if (count > bytes_.size() - at_)
      throw GifFormatError("the file ends early");
    const std::uint8_t *start = bytes_.data() + at_;
    at_ += count;
    return start;
  }
  int Word() { // 16-bit little-endian
    const std::uint8_t *b = Take(2);
    return b[0] | (b[1] << 8);
  }
  // Skips data sub-blocks up to and including the one of size 0.
  void SkipSubBlocks() {
    for (std::uint8_t size = Byte(); size != 0; size = Byte())
      Take(size);
  }

private:
  const std::vector<std::uint8_t> &bytes_;
  std::size_t at_ = 0;
};

struct Screen {
  int width = 0;
  int height = 0;
};

// The colour table that follows a descriptor whose packed byte has bit 7
// set: 2^(n + 1) entries of three bytes. Its colours are never used.
void SkipColourTable(ByteCursor &cursor, std::uint8_t packed) {
  if ((packed & 0x80) != 0)
    cursor.Take(3u * (2u << (packed & 0x07)));
}

// The header and the screen's width and height, checked.
Screen ReadScreenSize(ByteCursor &cursor) {
  cursor.Take(kHeaderBytes);
  Screen screen;
  screen.width = cursor.Word();
  screen.height = cursor.Word();
  if (screen.width < 1 || screen.height < 1 || screen.width > GifImageReader::kMaxScreenSide ||
      screen.height > GifImageReader::kMaxScreenSide)
    throw GifFormatError("a screen of " + std::to_string(screen.width) + " x " +
                         std::to_string(screen.height) + " pixels (0 or above " +
                         std::to_string(GifImageReader::kMaxScreenSide) + " is refused)");
  return screen;
}

Screen ReadScreen(ByteCursor &cursor) {
  const Screen screen = ReadScreenSize(cursor);
  const std::uint8_t packed = cursor.Byte();
  cursor.Take(kScreenDescriptorBytes - 5); // background colour and aspect ratio
  SkipColourTable(cursor, packed);
  return screen;
}

// The LZW dictionary and the output position of one image. Strings are
// written straight into the matrix by walking their prefix chains.
class LzwDecoder {
public:
  LzwDecoder(Grid &matrix, Screen screen, int minimumCodeSize)
      : matrix_(matrix), screen_(screen), clear_(1 << minimumCodeSize), end_(clear_ + 1),
        initialBits_(minimumCodeSize + 1) {
    for (int i = 0; i < clear_; ++i) {
      const auto byte = static_cast<std::uint8_t>(i);
      table_[static_cast<std::size_t>(i)] = {-1, 1, byte, byte};
    }
    for (int i = 0; i < 256; ++i)
      values_[static_cast<std::size_t>(i)] = i == kNodataIndex ? kNodata : static_cast<double>(i);
    Reset();
    row_ = 1;
    column_ = 1;
    rowData_ = matrix_[1];
  }

  // Feeds the bytes of one data sub-block; false once the end code was read
  // (the rest of the sub-block is then ignored).
  bool Feed(const std::uint8_t *data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      bits_ |= static_cast<std::uint64_t>(data[i]) << bitCount_;
      bitCount_ += 8;
      while (bitCount_ >= codeBits_) {
        const int code = static_cast<int>(bits_ & ((1u << codeBits_) - 1u));
        bits_ >>= codeBits_;
        bitCount_ -= codeBits_;
        if (!Process(code))
          return false;
      }
    }
    return true;
  }

private:
  void Reset() {
    size_ = end_ + 1;
    codeBits_ = initialBits_;
    limit_ = (1 << codeBits_) - 1;
    firstCode_ = true;
  }

  bool Process(int code) {
    if (code == clear_) {
      Reset();
      return true;
    }
    if (code == end_)
      return false;
    if (firstCode_) {
      if (code > end_)
        throw GifFormatError("the first code " + std::to_string(code) +
                             " after a clear code is not a root");
      Output(code);
      previous_ = code;
      firstCode_ = false;
      return true;
    }
    if (code < size_) {
      Output(code);
      if (size_ < GifImageReader::kMaxCodes)
        Add(previous_, Entry(code).first);
    } else if (code == size_ && size_ < GifImageReader::kMaxCodes) {
      Add(previous_, Entry(previous_).first);
      Output(code);
    } else {
      throw GifFormatError("the code " + std::to_string(code) +
                           " lies beyond the next free table entry " + std::to_string(size_));
    }
    previous_ = code;
    return true;
  }

  // One table entry: the string of its prefix code followed by its suffix.
  struct TableEntry {
    std::int16_t prefix = -1; // -1 for a root
    std::uint16_t length = 0; // of the whole string
    std::uint8_t suffix = 0;
    std::uint8_t first = 0; // first byte of the string
  };

  const TableEntry &Entry(int code) const { return table_[static_cast<std::size_t>(code)]; }

  void Add(int prefix, std::uint8_t suffix) {
    const TableEntry &from = Entry(prefix);
    table_[static_cast<std::size_t>(size_)] = {static_cast<std::int16_t>(prefix),
                                               static_cast<std::uint16_t>(from.length + 1), suffix,
                                               from.first};
    ++size_;
    // A full table keeps its 12-bit codes until the next clear code.
    if (size_ == limit_ + 1 && codeBits_ < kMaxCodeBits) {
      ++codeBits_;
      limit_ = 2 * limit_ + 1;
    }
  }

  void NextRow() {
    column_ = 1;
    ++row_;
    rowData_ = row_ <= screen_.height ? matrix_[row_] : nullptr;
  }

  void Output(int code) {
    if (rowData_ == nullptr)
      return; // every pixel beyond the screen is dropped
    const int length = Entry(code).length;
    if (column_ + length - 1 <= screen_.width) {
      // The whole string fits in the row: write it backwards from its end.
      double *at = rowData_ + column_ + length - 1;
      for (int x = code; x >= 0;) {
        const TableEntry &entry = Entry(x);
        *at-- = values_[entry.suffix];
        x = entry.prefix;
      }
      column_ += length;
      if (column_ > screen_.width)
        NextRow();
      return;
    }
    std::uint8_t *end = scratch_.data() + length;
    for (int x = code; x >= 0; x = Entry(x).prefix)
      *--end = Entry(x).suffix;
    for (int i = 0; i < length && rowData_ != nullptr; ++i) {
      rowData_[column_] = values_[scratch_[static_cast<std::size_t>(i)]];
      if (++column_ > screen_.width)
        NextRow();
    }
  }

  Grid &matrix_;
  Screen screen_;
  const int clear_;
  const int end_;
  const int initialBits_;
  int size_ = 0;
  int codeBits_ = 0;
  int limit_ = 0;
  bool firstCode_ = true;
  int previous_ = 0;
  std::uint64_t bits_ = 0;
  int bitCount_ = 0;
  int row_ = 1;
  int column_ = 1;
  double *rowData_ = nullptr;
  std::array<TableEntry, GifImageReader::kMaxCodes> table_{};
  std::array<double, 256> values_{}; // matrix value of each palette index
  std::array<std::uint8_t, GifImageReader::kMaxCodes> scratch_{};
};

void DecodeImage(ByteCursor &cursor, Grid &matrix, Screen screen) {
  cursor.Take(kImageDescriptorBytes - 1);
  SkipColourTable(cursor, cursor.Byte());
  const int minimumCodeSize = cursor.Byte();
  // Two-colour images, too, use at least 2 (GIF89a): with 1 the initial
  // table would already fill the first code size.
  if (minimumCodeSize < 2 || minimumCodeSize > kMaxCodeBits - 1)
    throw GifFormatError("a minimum code size of " + std::to_string(minimumCodeSize) +
                         " (2 to 11 are possible)");
  LzwDecoder decoder(matrix, screen, minimumCodeSize);
  for (std::uint8_t size = cursor.Byte(); size != 0; size = cursor.Byte()) {
    if (!decoder.Feed(cursor.Take(size), size)) {
      cursor.SkipSubBlocks();
      return;
    }
  }
}

void SkipExtension(ByteCursor &cursor) {
  const std::uint8_t label = cursor.Byte();
  switch (label) {
  case kPlainTextLabel:
    cursor.Take(cursor.Byte());
    cursor.SkipSubBlocks();
    return;
  case kGraphicControlLabel: {
    const std::uint8_t size = cursor.Byte();
    cursor.Take(size);
    if (cursor.Byte() != 0)
      throw GifFormatError("Graphics COntrol extension found, but block end not found as 0x00 "
                           "after " +
                           std::to_string(size) + " bytes\n");
    return;
  }
  case kCommentLabel:
  case kApplicationLabel:
    cursor.SkipSubBlocks();
    return;
  default:
    throw GifFormatError(InvalidBlockMessage(label));
  }
}

void CheckMatrix(const Grid &matrix, Screen screen) {
  for (int r = 1; r <= screen.height; ++r)
    if (!matrix.HasRow(r) || matrix.LastColumn() < screen.width)
      throw GifFormatError("the image matrix does not hold the screen of " +
                           std::to_string(screen.width) + " x " + std::to_string(screen.height) +
                           " pixels");
}

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};

} // namespace

GifImageReader::GifImageReader(std::string path) : path_(std::move(path)) {}

std::vector<std::uint8_t> GifImageReader::ReadFile(bool headerOnly) const {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path_.c_str(), "rb"));
  if (!file)
    throw GifFormatError("the file cannot be opened");
  // The whole file in one read where its size is known; a shorter read only
  // makes the decoder find its end early.
  long size = static_cast<long>(kHeaderBytes + kScreenDescriptorBytes);
  if (!headerOnly) {
    if (std::fseek(file.get(), 0, SEEK_END) != 0 || (size = std::ftell(file.get())) < 0 ||
        std::fseek(file.get(), 0, SEEK_SET) != 0)
      throw GifFormatError("the file cannot be read");
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file.get()));
  if (std::ferror(file.get()))
    throw GifFormatError("the file cannot be read");
  return bytes;
}

void GifImageReader::ScreenSizeOfBytes(const std::vector<std::uint8_t> &bytes, int &width,
                                       int &height) {
  ByteCursor cursor(bytes);
  const Screen screen = ReadScreenSize(cursor);
  width = screen.width;
  height = screen.height;
}

void GifImageReader::GetScreenSize(int &width, int &height) {
  ScreenSizeOfBytes(ReadFile(true), width, height);
}

void GifImageReader::DecodeBytes(const std::vector<std::uint8_t> &bytes, Grid &matrix) {
  ByteCursor cursor(bytes);
  const Screen screen = ReadScreen(cursor);
  CheckMatrix(matrix, screen);
  for (;;) {
    const std::uint8_t block = cursor.Byte();
    if (block == kTrailer)
      return;
    if (block == kExtensionIntroducer)
      SkipExtension(cursor);
    else if (block == kImageSeparator)
      DecodeImage(cursor, matrix, screen);
    else
      throw GifFormatError(InvalidBlockMessage(block));
  }
}

void GifImageReader::Decode(Grid &matrix) { DecodeBytes(ReadFile(false), matrix); }

} // namespace tavro
