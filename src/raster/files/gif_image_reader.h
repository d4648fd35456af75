// Decoder of GIF images (GIF87a and GIF89a) into a matrix of palette indices,
// without any image library: the grid reader hands it a file recognised by
// "GIF8" and resamples the indices onto the model raster afterwards. Only the
// indices matter, never the colours; index 255 stands for nodata (-9999).
//
// The decoder trusts nothing in the file: every read is bounds-checked, a
// code is refused unless it is in the table or the next free entry, and every
// defect ends the decoding with a GifFormatError naming it; it never reads or
// writes out of bounds and never loops.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavro {

class Grid;

// A defect of a GIF file; what() is the reason the grid reader reports in
// "error reading GIF <path> (<reason>)".
class GifFormatError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class GifImageReader {
public:
  // Largest screen width and height accepted (pixels).
  static constexpr int kMaxScreenSide = 16384;
  // The LZW table never holds more entries (12-bit codes).
  static constexpr int kMaxCodes = 4096;

  explicit GifImageReader(std::string path);

  // Reads the header and the screen descriptor; the file is closed again.
  // Throws GifFormatError for a file that cannot be opened, a short header
  // or a screen of width or height 0 or above kMaxScreenSide.
  void GetScreenSize(int &width, int &height);

  // Decodes the whole file into matrix rows 1..height, columns 1..width of
  // the screen (allocated by the caller); pixels beyond the screen are
  // dropped. Throws GifFormatError on every defect.
  void Decode(Grid &matrix);

  // The same from bytes already in memory (the file's whole content).
  static void DecodeBytes(const std::vector<std::uint8_t> &bytes, Grid &matrix);
  static void ScreenSizeOfBytes(const std::vector<std::uint8_t> &bytes, int &width, int &height);

private:
  std::vector<std::uint8_t> ReadFile(bool headerOnly) const;

  std::string path_;
};

} // namespace tavro
