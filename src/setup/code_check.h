// Checks of the land-use, soil and irrigation code grids against the codes of
// their parameter tables, and their renumbering to the tables' record numbers
// 1..n, so that every module indexes a table directly by a grid value. Also
// the check and renumbering of the layer codes of a multilayer land-use table
// against the land-use table. Pure work over the rows a grid holds: no MPI,
// no log; the set-up object logs the lines and distributes the results.
//
// The code of a grid value is the value rounded to the nearest whole number,
// once: the check and the renumbering use that same code, so no cell passes
// the check and keeps a value that is not a record number.
#pragma once

#include "kernel/grid.h"
#include "raster/parallel/mpi_regions.h"
#include "setup/zone_ranking.h"
#include "tables/multilayer_landuse.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavro {

inline constexpr int kMissingLanduseCodeExitCode = 31; // land use and irrigation
inline constexpr int kMissingSoilCodeExitCode = 32;
inline constexpr int kMissingMultilayerCodeExitCode = 311;
inline constexpr int kInvalidLayerCodeExitCode = 312;

// Which table a code grid refers to; decides the labels, the message and the
// exit code of a missing code, and which cells are checked.
enum class CodeGridKind {
  Soil,              // "soil_types" against the soil table
  Irrigation,        // "irrigation_codes" against the irrigation table
  Landuse,           // "landuse" against the land-use table
  MultilayerLanduse, // "landuse" against the multilayer land-use table
};

// The code of a grid value: the nearest whole number; none for a value that
// is not finite or lies outside the 32-bit integer range.
std::optional<long long> CodeOf(double value);

// From the codes of a table's records 1..n to record numbers.
class CodeRenumbering {
public:
  // tableCodes[k - 1] is the code of record k.
  explicit CodeRenumbering(std::span<const int> tableCodes);

  // The record number that cells of this code take; none when no record has it.
  std::optional<int> RecordOf(long long code) const;
  // "<code> replaced by <k> ..." for every record whose code differs from its
  // number, in record order.
  std::vector<std::string> ReplacementLines() const;
  // Every held cell (valid or not) whose code is a table code takes its
  // record number; other cells keep their values.
  void Apply(Grid &grid, long ncols) const;

private:
  std::vector<std::pair<long long, int>> recordOfCode_; // ascending by code
  std::vector<std::pair<int, int>> replaced_;           // (code, record) in record order
};

// Names of the checked grid in the messages.
struct CodeGridSubject {
  CodeGridKind kind = CodeGridKind::Soil;
  std::string_view fileName;
  std::string_view identifier;
};

struct CodeCheckResult {
  Grid Renumbered;                   // the grid handed in, renumbered when the check passed
  std::vector<std::string> LogLines; // entries without "[end-entry]", in order
  RankingFailure Failure;            // message without "FATAL: "; code 0 when passed
};

// Checks every valid cell (zone value above the shape's nodata; for
// irrigation also a code above 0) held by both grids: its code must be the
// code of a record. Then renumbers every held cell of codes. On a failure the
// grid comes back unchanged.
CodeCheckResult CheckAndRenumberCodes(Grid codes, const Grid &zone, const RasterShape &shape,
                                      std::span<const int> tableCodes,
                                      const CodeGridSubject &subject);

struct LayerCodeResult {
  std::vector<std::string> LogLines; // the replacements, without "[end-entry]"
  RankingFailure Failure;
};

// The layer codes of every multilayer type must be land-use codes; a layer
// code not above noData is a missing layer, refused as the first layer. Then
// every layer whose code as read is a land-use code takes that record's
// number. The table is changed only when the check passed.
LayerCodeResult CheckAndRenumberLayerCodes(MultilayerLanduseTable &table,
                                           std::span<const int> landuseCodes, double noData);

} // namespace tavro
