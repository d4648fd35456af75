// Reading the special-output section: file blocks by brace balance, entity
// groups, keys as whole words, lists with commas and blanks, optional levels,
// the map cell of a point at the raster's edges and the documented errors of
// unequal counts and points outside the raster.
#include "raster/output/special_output_parsing.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <variant>
#include <vector>

namespace tavro {
namespace {

// Feeds text line by line to collectors: the texts of the complete blocks,
// and what was left over (an unclosed block).
std::vector<std::string> CollectBlocks(const std::string &text, std::string *unclosed = nullptr) {
  std::vector<std::string> blocks;
  std::istringstream lines(text);
  std::string line;
  FileBlockCollector collector;
  while (std::getline(lines, line)) {
    if (collector.Add(line + "\n")) {
      blocks.push_back(collector.Text());
      collector = FileBlockCollector();
    }
  }
  if (unclosed != nullptr)
    *unclosed = collector.Started() ? collector.Text() : "";
  return blocks;
}

const std::string kTwoBlocks =
    "\n"
    "  \n"
    "{\n"
    "  header = soil moisture at the gauges;\n"
    "  filename = points.txt;\n"
    "  entity = { ID = terrain_height; Symbol = H;\n"
    "             Xcoords = 1500, 2500 ,3500; Ycoords=4500 5500\t6500; };\n"
    "  entity = {\n"
    "    ID = soil_layers; Symbol = Theta;\n"
    "    Xcoords = 1500; Ycoords = 4500; Level = 2;\n"
    "  };\n"
    "}\n"
    "\n"
    "{ header=second;\n"
    "  filename=/abs/second.txt;\n"
    "  entity = {ID=groundwater_recharge; Symbol=GWR; Xcoords=2500; "
    "Ycoords=4500;};\n"
    "}\n";

EntityDefinition Entity(std::string_view group) {
  auto parsed = ParseEntity(group);
  EXPECT_TRUE(std::holds_alternative<EntityDefinition>(parsed)) << group;
  if (const auto *entity = std::get_if<EntityDefinition>(&parsed))
    return *entity;
  return {};
}

TEST(SpecialOutputParsingTest, BlocksEntitiesAndKeys) {
  const std::vector<std::string> blocks = CollectBlocks(kTwoBlocks);
  ASSERT_EQ(blocks.size(), 2u);
  // Blank lines before a block are not part of it.
  EXPECT_EQ(blocks[0].substr(0, 2), "{\n");

  // A header with blanks keeps its first word.
  EXPECT_EQ(WordValue(blocks[0], "header"), "soil");
  EXPECT_EQ(WordValue(blocks[0], "filename"), "points.txt");
  EXPECT_EQ(WordValue(blocks[1], "header"), "second");
  EXPECT_EQ(WordValue(blocks[1], "filename"), "/abs/second.txt");

  const std::vector<std::string_view> groups = EntityGroups(blocks[0]);
  ASSERT_EQ(groups.size(), 2u);
  const EntityDefinition first = Entity(groups[0]);
  EXPECT_EQ(first.ID, "terrain_height");
  EXPECT_EQ(first.Symbol, "H");
  EXPECT_EQ(first.Xcoords, (std::vector<double>{1500, 2500, 3500}));
  EXPECT_EQ(first.Ycoords, (std::vector<double>{4500, 5500, 6500}));
  EXPECT_TRUE(first.Level.empty());
  const EntityDefinition second = Entity(groups[1]);
  EXPECT_EQ(second.ID, "soil_layers");
  EXPECT_EQ(second.Symbol, "Theta");
  EXPECT_EQ(second.Level, (std::vector<int>{2}));

  const std::vector<std::string_view> others = EntityGroups(blocks[1]);
  ASSERT_EQ(others.size(), 1u);
  EXPECT_EQ(Entity(others[0]).ID, "groundwater_recharge");
}

TEST(SpecialOutputParsingTest, AnUnclosedBlockStaysIncomplete) {
  std::string unclosed;
  const std::vector<std::string> blocks =
      CollectBlocks("{\n header = h; filename = f;\n entity = {\n ID = a;\n}\n", &unclosed);
  EXPECT_TRUE(blocks.empty());
  EXPECT_FALSE(unclosed.empty());
}

TEST(SpecialOutputParsingTest, KeysAreWholeWordsFollowedByEquals) {
  // "ID" inside "GW_ID" and "Level" inside "Levels" are no keys.
  const EntityDefinition entity =
      Entity("{ Symbol=GW_ID; ID = gw_head; Xcoords = 1; Ycoords = 2; Symbols=Levels; }");
  EXPECT_EQ(entity.ID, "gw_head");
  EXPECT_EQ(entity.Symbol, "GW_ID");
  EXPECT_TRUE(entity.Level.empty());

  auto missing = ParseEntity("{ Symbol=GW_ID; Xcoords = 1; Ycoords = 2; }");
  ASSERT_TRUE(std::holds_alternative<KeyProblem>(missing));
  EXPECT_EQ(std::get<KeyProblem>(missing).key, "ID");
  EXPECT_EQ(std::get<KeyProblem>(missing).token, "");

  // A list takes the last occurrence of its key, a single value the first.
  const EntityDefinition repeated =
      Entity("{ ID = a; ID = b; Symbol = s; Xcoords = 1; Xcoords = 7, 8; Ycoords = 1 2; }");
  EXPECT_EQ(repeated.ID, "a");
  EXPECT_EQ(repeated.Xcoords, (std::vector<double>{7, 8}));
}

TEST(SpecialOutputParsingTest, ListTokensMustBeNumbers) {
  struct Case {
    const char *group;
    const char *key;
    const char *token;
  };
  const Case cases[] = {
      {"{ ID = a; Symbol = s; Xcoords = 1, 2x; Ycoords = 1 2; }", "Xcoords", "2x"},
      {"{ ID = a; Symbol = s; Xcoords = 1; Ycoords = north; }", "Ycoords", "north"},
      {"{ ID = a; Symbol = s; Xcoords = 1; Ycoords = 1; Level = 1.5; }", "Level", "1.5"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.group);
    auto parsed = ParseEntity(c.group);
    ASSERT_TRUE(std::holds_alternative<KeyProblem>(parsed));
    EXPECT_EQ(std::get<KeyProblem>(parsed).key, c.key);
    EXPECT_EQ(std::get<KeyProblem>(parsed).token, c.token);
  }
}

TEST(SpecialOutputParsingTest, PointCellsAndTheirErrors) {
  // 4 columns and 3 rows of 1000 m from (1000, 4000).
  const PointRaster raster{1000.0, 4000.0, 1000.0, 4, 3};
  const std::string prefix = "Error in section [special_output]: ";
  struct Case {
    std::string name;
    EntityDefinition entity;
    int exitCode; // 0: cells expected
    std::string message;
    std::vector<long> columns;
    std::vector<long> rows;
  };
  const std::vector<Case> cases = {
      {"inside, eastern and southern edges",
       {"g", "s", {1500, 5000, 2000.5}, {6999, 4000, 5500}, {}},
       0,
       "",
       {1, 4, 2},
       {1, 3, 2}},
      {"unequal counts",
       {"g", "s", {1500, 2500}, {4500}, {}},
       1006,
       prefix + "count of X coordinates dos not match the number of Y coordinates for entity g",
       {},
       {}},
      {"level count",
       {"g", "s", {1500, 2500}, {4500, 4500}, {1}},
       1007,
       prefix + "number of levels dos not match the number of X and Y coordinates for entity g. "
                "EIther each point has a level or none has.",
       {},
       {}},
      {"western edge",
       {"g", "s", {1500, 1000}, {4500, 4500}, {}},
       1008,
       prefix + "x-coordinate 1000, defined as point 1 for entity g, is located outside the "
                "actual grid.",
       {},
       {}},
      {"northern edge",
       {"g", "s", {1500, 2500}, {4500, 7000}, {}},
       1008,
       prefix + "y-coordinate 7000, defined as point 1 for entity g, is located outside the "
                "actual grid.",
       {},
       {}},
      // Every x is tested before any y.
      {"x before y",
       {"g", "s", {1500, 9000.5}, {9999, 4500}, {}},
       1008,
       prefix + "x-coordinate 9000.5, defined as point 1 for entity g, is located outside the "
                "actual grid.",
       {},
       {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    auto cells = PointCells(c.entity, raster);
    if (c.exitCode == 0) {
      ASSERT_TRUE(std::holds_alternative<std::vector<PointCell>>(cells));
      const auto &list = std::get<std::vector<PointCell>>(cells);
      ASSERT_EQ(list.size(), c.columns.size());
      for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].column, c.columns[i]);
        EXPECT_EQ(list[i].row, c.rows[i]);
      }
    } else {
      ASSERT_TRUE(std::holds_alternative<PointProblem>(cells));
      EXPECT_EQ(std::get<PointProblem>(cells).exitCode, c.exitCode);
      EXPECT_EQ(std::get<PointProblem>(cells).message, c.message);
    }
  }
}

TEST(SpecialOutputParsingTest, CoordinatesInLabelsReadBackAsTheSameNumber) {
  const std::pair<double, const char *> cases[] = {
      {1250.0, "1250"},
      {5205500.0, "5205500"},
      {5205520.0, "5205520"},
      {0.1, "0.1"},
      {-3.5e-7, "-3.5e-07"},
      {1234567.125, "1234567.125"},
      {2.0 / 3.0, "0.6666666666666666"},
  };
  for (const auto &[value, text] : cases)
    EXPECT_EQ(FormatCoordinate(value), text);
}

TEST(SpecialOutputParsingTest, FluxIdentifiers) {
  for (const char *flux : {"groundwater_recharge", "gw_flow_x_2", "SurfaceRoutingQOut", "q_down"})
    EXPECT_TRUE(IsFluxIdentifier(flux)) << flux;
  for (const char *other : {"terrain_height", "precipitation", "Baseflow"})
    EXPECT_FALSE(IsFluxIdentifier(other)) << other;
}

} // namespace
} // namespace tavro
