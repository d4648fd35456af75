// The check of code grids against their tables and their renumbering to
// record numbers, and the check and renumbering of multilayer layer codes:
// labels, replacement lines, the refusals with their exact messages, and
// the code of a value as its nearest whole number.
#include "setup/code_check.h"

#include "kernel/diagnostics_log.h"
#include "support/grid_rows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr double N = -9999.0;
const std::string D(71, '-');

struct CheckCase {
  const char *name;
  CodeGridKind kind;
  test::RasterRows zone;
  test::RasterRows codes;
  std::vector<int> table;
  test::RasterRows expected;      // the grid afterwards (unchanged on a failure)
  std::vector<std::string> lines; // the log lines
  int exitCode;                   // 0: passes
  std::string message;            // of a failure
};

const char *IdentifierOf(CodeGridKind kind) {
  switch (kind) {
  case CodeGridKind::Soil:
    return "soil_types";
  case CodeGridKind::Irrigation:
    return "irrigation_codes";
  default:
    return "landuse";
  }
}

std::string Missing(const std::string &what, const std::string &where) {
  return "\n" + D + "\n" + what + " in grid codes.asc (" + where + ")\n";
}

TEST(CodeCheck, ChecksAndRenumbersCodeGrids) {
  const std::vector<std::string> soilLabels = {"1.: checking soil type codes",
                                               "2.:replacing soil type codes codes.asc"};
  const CheckCase cases[] = {
      {"soil codes 5 and 9 become records 1 and 2",
       CodeGridKind::Soil,
       {{1, 1, 1}},
       {{5, 9, 5}},
       {5, 9},
       {{1, 2, 1}},
       {soilLabels[0], soilLabels[1], "5 replaced by 1 ...", "9 replaced by 2 ..."},
       0,
       ""},
      {"a soil code missing from the table",
       CodeGridKind::Soil,
       {{1, 1, 1}},
       {{5, 7, 5}},
       {5, 9},
       {{5, 7, 5}},
       {soilLabels[0]},
       32,
       Missing("soil type 7", "soil_types") + "is not present in the control file \n" + D + "\n\n"},
      {"an empty table fails on the first valid cell",
       CodeGridKind::Soil,
       {{N, 1}},
       {{3, 4}},
       {},
       {{3, 4}},
       {soilLabels[0]},
       32,
       Missing("soil type 4", "soil_types") + "is not present in the control file \n" + D + "\n\n"},
      {"a code only in nodata cells of the zone grid is not checked but replaced",
       CodeGridKind::Soil,
       {{1, N, N}},
       {{5, 9, 7}},
       {5, 9},
       {{1, 2, 7}},
       {soilLabels[0], soilLabels[1], "5 replaced by 1 ...", "9 replaced by 2 ..."},
       0,
       ""},
      {"a value's code is its nearest whole number",
       CodeGridKind::Soil,
       {{1, 1, 1}},
       {{4.9999999, 5.3, 9.4}},
       {5, 9},
       {{1, 1, 2}},
       {soilLabels[0], soilLabels[1], "5 replaced by 1 ...", "9 replaced by 2 ..."},
       0,
       ""},
      {"a rounded code missing from the table names the value",
       CodeGridKind::Soil,
       {{1}},
       {{5.6}},
       {5},
       {{5.6}},
       {soilLabels[0]},
       32,
       Missing("soil type 5.6", "soil_types") + "is not present in the control file \n" + D +
           "\n\n"},
      {"a record numbered like its code logs nothing but its cells take the number",
       CodeGridKind::Soil,
       {{1, 1}},
       {{2.2, 7}},
       {7, 2},
       {{2, 1}},
       {soilLabels[0], soilLabels[1], "7 replaced by 1 ..."},
       0,
       ""},
      {"irrigation values of 0 or below pass and stay",
       CodeGridKind::Irrigation,
       {{1, 1, 1}},
       {{0, -3, 4}},
       {4},
       {{0, -3, 1}},
       {"1.: checking codes in irrigation grid", "2.:replacing codes in irrigation grid codes.asc",
        "4 replaced by 1 ..."},
       0,
       ""},
      {"an irrigation value of 0 is replaced when the table has the code",
       CodeGridKind::Irrigation,
       {{1, 1, 1}},
       {{0, -3, 4}},
       {4, 0},
       {{2, -3, 1}},
       {"1.: checking codes in irrigation grid", "2.:replacing codes in irrigation grid codes.asc",
        "4 replaced by 1 ...", "0 replaced by 2 ..."},
       0,
       ""},
      {"an irrigation code missing from the table",
       CodeGridKind::Irrigation,
       {{1, 1}},
       {{4, 3}},
       {4},
       {{4, 3}},
       {"1.: checking codes in irrigation grid"},
       31,
       Missing("irrigation type 3", "irrigation_codes") +
           "is not present in the irrigation table in the control file \n" + D + "\n\n"},
      {"a land-use code missing from the land-use table",
       CodeGridKind::Landuse,
       {{1, 1}},
       {{10, 8}},
       {10},
       {{10, 8}},
       {"1.: checking codes in land use grid"},
       31,
       Missing("land use 8", "landuse") +
           "is not present in the land use table in the control file \n" + D + "\n\n"},
      {"a land-use code missing from the multilayer table",
       CodeGridKind::MultilayerLanduse,
       {{1, 1}},
       {{100, 300}},
       {100, 200},
       {{100, 300}},
       {"1.: checking codes in land use grid"},
       311,
       Missing("land use 300", "landuse") +
           "is not present in the multilayer-landuse-table in the control file \n" + D + "\n\n"},
      {"multilayer codes become multilayer record numbers",
       CodeGridKind::MultilayerLanduse,
       {{1, 1, N}},
       {{200, 100, N}},
       {100, 200},
       {{2, 1, N}},
       {"1.: checking codes in land use grid", "2.:replacing codes in land use grid codes.asc",
        "100 replaced by 1 ...", "200 replaced by 2 ..."},
       0,
       ""},
  };
  DiagnosticsLog log("", 4);
  for (const CheckCase &c : cases) {
    SCOPED_TRACE(c.name);
    const RasterShape shape = test::ShapeOf(c.zone);
    const Grid zone = test::GridFromRows(c.zone, log);
    const CodeCheckResult result =
        CheckAndRenumberCodes(test::GridFromRows(c.codes, log), zone, shape, c.table,
                              {c.kind, "codes.asc", IdentifierOf(c.kind)});
    EXPECT_EQ(result.Failure.ExitCode, c.exitCode);
    EXPECT_EQ(result.Failure.Message, c.message);
    EXPECT_EQ(result.LogLines, c.lines);
    EXPECT_EQ(test::RowsOf(result.Renumbered, shape), c.expected);
  }
}

multilayer_landuse_class Type(int code, const std::vector<int> &layers) {
  multilayer_landuse_class type(code);
  type.LayerCount = static_cast<int>(layers.size());
  type.LayerCodes = OneBasedArray<int>(layers.size());
  type.LayerCodes[0] = type.LayerCount;
  for (std::size_t m = 1; m <= layers.size(); ++m)
    type.LayerCodes[m] = layers[m - 1];
  type.LayerCodesAsRead = type.LayerCodes;
  return type;
}

MultilayerLanduseTable TableOf(const std::vector<multilayer_landuse_class> &types) {
  MultilayerLanduseTable table(types.size());
  table[0].Code = static_cast<int>(types.size());
  for (std::size_t i = 1; i <= types.size(); ++i)
    table[i] = types[i - 1];
  return table;
}

std::vector<int> LayersOf(const multilayer_landuse_class &type) {
  return {type.LayerCodes.begin(), type.LayerCodes.end()};
}

TEST(LayerCodeCheck, RenumbersLayerCodesToLanduseRecords) {
  // Land use 10 is record 1 and 30 record 2; the second type lacks a layer.
  MultilayerLanduseTable table = TableOf({Type(100, {30, 10}), Type(200, {10, -9999})});
  const LayerCodeResult result = CheckAndRenumberLayerCodes(table, std::vector<int>{10, 30}, N);
  EXPECT_EQ(result.Failure.ExitCode, 0) << result.Failure.Message;
  EXPECT_EQ(LayersOf(table[1]), (std::vector<int>{2, 1}));
  EXPECT_EQ(LayersOf(table[2]), (std::vector<int>{1, -9999}));
  EXPECT_EQ(result.LogLines,
            (std::vector<std::string>{
                "Code replacement in MultiLayer-Landuse 1: changed Layer-Code #2 from 10 to 1",
                "Code replacement in MultiLayer-Landuse 2: changed Layer-Code #1 from 10 to 1",
                "Code replacement in MultiLayer-Landuse 1: changed Layer-Code #1 from 30 to 2"}));
  // A replaced code is never replaced again: record 1 of land use 2 keeps 2.
  MultilayerLanduseTable chained = TableOf({Type(1, {2, 1})});
  CheckAndRenumberLayerCodes(chained, std::vector<int>{2, 1}, N);
  EXPECT_EQ(LayersOf(chained[1]), (std::vector<int>{1, 2}));
}

TEST(LayerCodeCheck, RefusesInvalidFirstLayersAndMissingLayerCodes) {
  struct Case {
    const char *name;
    std::vector<multilayer_landuse_class> types;
    double noData;
    int exitCode;
    std::string message;
  };
  const Case cases[] = {
      {"a first layer of -9999",
       {Type(100, {30, 10}), Type(200, {-9999, 10})},
       N,
       312,
       "\n\n" + D +
           "\nError: the first Layer code of each MultiLayer-Landuse Entry \nmust be a valid "
           "entry (not 9999 or larger):\nHere, line 2 contains -9999 as first layer code.\n" +
           D + "\n\n"},
      {"a layer code missing from the land-use table",
       {Type(100, {30, 20})},
       N,
       312,
       "\n" + D +
           "\nError: not all layer codes from landuse 100 from MultiLayer_Landuse-Table\nare "
           "present in the landuse-table in the control file: Here, code 20 is missing.\n" +
           D + "\n\n"},
      {"a later missing layer under another nodata value", {Type(100, {30, -9999})}, -1.0, 0, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    MultilayerLanduseTable table = TableOf(c.types);
    const LayerCodeResult result =
        CheckAndRenumberLayerCodes(table, std::vector<int>{10, 30}, c.noData);
    EXPECT_EQ(result.Failure.ExitCode, c.exitCode);
    EXPECT_EQ(result.Failure.Message, c.message);
    if (c.exitCode != 0) { // refused: nothing renumbered
      EXPECT_EQ(LayersOf(table[1]), LayersOf(c.types[0]));
    }
  }
}

TEST(CodeCheck, CodeOfAValueIsItsNearestWholeNumber) {
  EXPECT_EQ(CodeOf(4.9999999), 5);
  EXPECT_EQ(CodeOf(5.3), 5);
  EXPECT_EQ(CodeOf(-0.4), 0);
  EXPECT_EQ(CodeOf(-9999.0), -9999);
  EXPECT_FALSE(CodeOf(std::nan("")));
  EXPECT_FALSE(CodeOf(1e12));
}

} // namespace
} // namespace tavro
