// Rows formatted on several threads a batch at a time: the file holds the
// rows' texts in row order, byte for byte as one loop over the rows writes
// them, for ranges shorter than a batch, of several batches and of rows of
// very different lengths; a failed write is reported.
#include "raster/files/text_rows.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

namespace tavro {
namespace {

// Row r holds r % 7 * 50 copies of its number, so that rows differ in length
// and in the time they take.
void FormatRow(long row, std::string &text) {
  for (long i = 0; i < row % 7 * 50; ++i)
    text += std::to_string(row) + ' ';
  text += '\n';
}

std::string ReadFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class TextRowsTest : public ::testing::TestWithParam<int> {
protected:
  void SetUp() override {
    threads_ = omp_get_max_threads();
    omp_set_num_threads(GetParam());
    path_ = std::filesystem::temp_directory_path() /
            ("tavro_text_rows_" + std::to_string(::getpid()) + ".txt");
  }
  void TearDown() override {
    omp_set_num_threads(threads_);
    std::filesystem::remove(path_);
  }

  // The file that WriteTextRows writes for rows first..last.
  std::string Written(long first, long last) {
    std::FILE *file = std::fopen(path_.c_str(), "w");
    EXPECT_NE(file, nullptr);
    EXPECT_TRUE(WriteTextRows(file, first, last, FormatRow));
    EXPECT_EQ(std::fclose(file), 0);
    return ReadFile(path_);
  }

  int threads_ = 1;
  std::filesystem::path path_;
};

TEST_P(TextRowsTest, FileHoldsTheRowsInOrderAsOneLoopWritesThem) {
  struct Case {
    long first;
    long last;
  };
  // Empty, one row, fewer rows than a batch, many batches and a ragged end.
  for (const Case c : {Case{1, 0}, Case{5, 5}, Case{1, 3}, Case{1, 1000}, Case{17, 1017}}) {
    std::string expected;
    for (long row = c.first; row <= c.last; ++row)
      FormatRow(row, expected);
    EXPECT_EQ(Written(c.first, c.last), expected) << "rows " << c.first << ".." << c.last;
  }
}

TEST_P(TextRowsTest, FailedWriteIsReported) {
  { std::ofstream(path_) << "x"; }
  std::FILE *file = std::fopen(path_.c_str(), "r"); // no writes on a file opened for reading
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(WriteTextRows(file, 1, 20, FormatRow));
  std::fclose(file);
  EXPECT_EQ(ReadFile(path_), "x");
}

INSTANTIATE_TEST_SUITE_P(Threads, TextRowsTest, ::testing::Values(1, 2, 3));

} // namespace
} // namespace tavro
