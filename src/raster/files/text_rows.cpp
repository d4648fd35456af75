// Batches of rows formatted in parallel, written in order.
#include "raster/files/text_rows.h"

#include <omp.h>

#include <algorithm>
#include <vector>

namespace tavro {
namespace {

// Rows per thread in a batch: enough that the threads rarely wait for the
// slowest row, few enough that a batch of texts stays small beside the grid.
constexpr long kRowsPerThread = 8;

} // namespace

bool WriteTextRows(std::FILE *file, long first, long last, const RowFormatter &format) {
  if (last < first)
    return true;
  const long batch = kRowsPerThread * std::max(1, omp_get_max_threads());
  // One text per row of a batch; each keeps its capacity for the next batch.
  std::vector<std::string> texts(static_cast<std::size_t>(std::min(batch, last - first + 1)));
  for (long begin = first; begin <= last; begin += batch) {
    const long count = std::min(batch, last - begin + 1);
#pragma omp parallel for schedule(dynamic, 1) if (count > 1)
    for (long i = 0; i < count; ++i) {
      std::string &text = texts[static_cast<std::size_t>(i)];
      text.clear();
      format(begin + i, text);
    }
    for (long i = 0; i < count; ++i) {
      const std::string &text = texts[static_cast<std::size_t>(i)];
      if (std::fwrite(text.data(), 1, text.size(), file) != text.size())
        return false;
    }
  }
  return true;
}

} // namespace tavro
