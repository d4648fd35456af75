// The size of grid and stack files against their headers: the least bytes of
// each format, counts that do not fit 64 bits, and the refusal entry.
#include "raster/files/grid_file_size.h"

#include "kernel/diagnostics_log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace tavro {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

TEST(GridFileSize, LeastBytesOfEachFormat) {
  const struct {
    GridFileFormat format;
    std::uint64_t values;
    std::uint64_t bytes;
  } cases[] = {
      {GridFileFormat::BinaryDouble, 42, 96 + 42 * 8},
      {GridFileFormat::BinaryFloat, 42, 48 + 42 * 4},
      {GridFileFormat::Ascii, 42, 84}, // "1 " per value
      {GridFileFormat::Gif, 42, 0},    // no header of its own
      {GridFileFormat::BinaryDouble, 0, 96},
      {GridFileFormat::BinaryDouble, kMax / 8, kMax}, // saturates instead of wrapping
      {GridFileFormat::Ascii, kMax / 2 + 1, kMax},
  };
  for (const auto &c : cases)
    EXPECT_EQ(MinimumFileBytes(c.format, c.values), c.bytes)
        << static_cast<int>(c.format) << " " << c.values;
}

TEST(GridFileSize, ValuesTheHeaderAnnounces) {
  EXPECT_EQ(HeaderValueCount(7, 6, 0), 42u);
  EXPECT_EQ(HeaderValueCount(7.9, 6.5, 0), 42u); // rounded down, as the reader takes them
  EXPECT_EQ(HeaderValueCount(7, 6, 3), 168u);    // levels 0 to 3 of every cell
  EXPECT_EQ(HeaderValueCount(12, 1e9, 0), 12'000'000'000u);
  EXPECT_EQ(HeaderValueCount(0, 5, 0), 0u);
  EXPECT_EQ(HeaderValueCount(-3, 5, 0), 0u);
  EXPECT_EQ(HeaderValueCount(NAN, 5, 0), 0u);
  EXPECT_EQ(HeaderValueCount(1e300, 1e300, 0), kMax);
  EXPECT_EQ(HeaderValueCount(4e9, 4e9, 100000), kMax);
}

TEST(GridFileSize, AHeaderTheFileCannotFillIsRefusedWithBothSizes) {
  DiagnosticsLog log("Tavro_Diag.xml", 4);
  GridFileHeader header;
  header.ncols = 12;
  header.nrows = 1e9;
  testing::internal::CaptureStdout();
  const int code = test::ExitCodeOf(
      [&] { CheckHeaderFitsFile(log, "zone.asc", GridFileFormat::Ascii, header, 0, 351); });
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(code, 22);
  EXPECT_NE(console.find("error reading zone.asc: the header announces 1000000000 rows and 12 "
                         "columns, which need at least 24000000000 bytes, but the file holds "
                         "351 bytes"),
            std::string::npos)
      << console;

  // Exactly the bytes needed, more, or a file of unknown size pass.
  header.nrows = 10;
  EXPECT_EQ(
      test::ExitCodeOf([&] {
        CheckHeaderFitsFile(log, "g.dbl", GridFileFormat::BinaryDouble, header, 0, 96 + 120 * 8);
        CheckHeaderFitsFile(log, "g.dbl", GridFileFormat::BinaryDouble, header, 0, 5000);
        CheckHeaderFitsFile(log, "pipe", GridFileFormat::BinaryDouble, header, 0, std::nullopt);
      }),
      -1);
  EXPECT_EQ(test::ExitCodeOf([&] {
              CheckHeaderFitsFile(log, "g.dbl", GridFileFormat::BinaryDouble, header, 0,
                                  96 + 120 * 8 - 1);
            }),
            22);
}

} // namespace
} // namespace tavro
