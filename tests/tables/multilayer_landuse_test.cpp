// Multilayer land-use table: the missing section, one-line and multi-line
// types, defaults, the layer-count check and every failure with its entry and
// exit code (110, 111, 112).
#include "tables/multilayer_landuse.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

using test::CallOutcome;
using test::RunCapturingConsole;

bool Has(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

std::vector<int> Codes(const OneBasedArray<int> &codes) {
  std::vector<int> list;
  for (std::size_t k = 0; k <= codes.Count(); ++k)
    list.push_back(codes[k]);
  return list;
}

class MultilayerLanduseTest : public testing::Test {
protected:
  std::optional<MultilayerLanduseTable> ReadFile(const std::string &content) {
    test::WriteFixture("control.txt", content);
    EXPECT_TRUE(reader_.Open("control.txt"));
    return ReadMultilayerLanduseTable(reader_, log_, 2);
  }

  CallOutcome ReadTypes(const std::string &types) {
    return RunCapturingConsole(
        [&] { ReadFile("[landuse_table]\n1\n[multilayer_landuse]\n" + types); });
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  ControlFileReader reader_{log_, "multilayer_landuse"};
};

TEST_F(MultilayerLanduseTest, MissingSectionGivesNoTable) {
  const auto table = ReadFile("[landuse_table]\n0\n[soil_table]\n0\n");
  EXPECT_FALSE(table.has_value());
}

TEST_F(MultilayerLanduseTest, OneLineTypesWithBlankLineBetween) {
  const auto table =
      ReadFile("[multilayer_landuse]\n"
               "2 # types\n"
               "21 forest_grass {Landuse_Layers = 3, 5, 7; k_extinct = 0.5; LAI_scale = 8;}\n"
               "   \n"
               "22 mixed Landuse_Layers=9,8,7;}\n"
               "[landuse_table]\n");
  ASSERT_TRUE(table.has_value());
  ASSERT_EQ(table->Count(), 2u);
  EXPECT_EQ((*table)[0].Code, 2);

  const multilayer_landuse_class &forest = (*table)[1];
  EXPECT_EQ(forest.Code, 21);
  EXPECT_EQ(forest.CodeAsRead, 21);
  EXPECT_EQ(forest.Name, "forest_grass");
  EXPECT_EQ(forest.LayerCount, 3);
  EXPECT_EQ(Codes(forest.LayerCodes), (std::vector<int>{3, 3, 5, 7}));
  EXPECT_EQ(Codes(forest.LayerCodesAsRead), (std::vector<int>{3, 3, 5, 7}));
  EXPECT_EQ(forest.k_extinct, 0.5);
  EXPECT_EQ(forest.LAI_scale, 8.0);
  EXPECT_EQ(Codes((*table)[2].LayerCodes), (std::vector<int>{3, 9, 8, 7}));
}

TEST_F(MultilayerLanduseTest, MultiLineTypeWithDefaults) {
  const auto table = ReadFile("[multilayer_landuse]\n"
                              "2\n"
                              "1 a Landuse_Layers = 1, 2; }\n"
                              "7 orchard { Landuse_Layers = 4,6,;\n"
                              "  k_extinct = 0.45 ;\n"
                              "}\n");
  ASSERT_TRUE(table.has_value());
  ASSERT_EQ(table->Count(), 2u);
  const multilayer_landuse_class &first = (*table)[1];
  EXPECT_EQ(first.k_extinct, 0.3);
  EXPECT_EQ(first.LAI_scale, 10.0);
  const multilayer_landuse_class &orchard = (*table)[2];
  EXPECT_EQ(orchard.Code, 7);
  EXPECT_EQ(orchard.Name, "orchard");
  EXPECT_EQ(Codes(orchard.LayerCodes), (std::vector<int>{2, 4, 6}));
  EXPECT_EQ(orchard.k_extinct, 0.45);
  EXPECT_EQ(orchard.LAI_scale, 10.0);
}

TEST_F(MultilayerLanduseTest, CountBelowOneGivesAnEmptyTable) {
  const auto table = ReadFile("[multilayer_landuse]\n0\n");
  ASSERT_TRUE(table.has_value());
  EXPECT_EQ(table->Count(), 0u);
  EXPECT_EQ((*table)[0].Code, 0);
}

TEST_F(MultilayerLanduseTest, DifferingLayerCountsStop) {
  const CallOutcome outcome = ReadTypes("2\n"
                                        "31 three Landuse_Layers = 3, 5, 7; }\n"
                                        "32 two Landuse_Layers = 3, 5; }\n");
  EXPECT_EQ(outcome.code, 111);
  EXPECT_TRUE(Has(outcome.console,
                  "\nThe numbers of landuse layers has to be equal for all multilayer-landuse "
                  "types\n(here: multilayer-landuse type 32: 2 layers, but multilayer-landuse "
                  "type 31: 3 layers)\n\n"))
      << outcome.console;
}

TEST_F(MultilayerLanduseTest, FirstLineWithoutLayersKeyStops) {
  const CallOutcome outcome = ReadTypes("1\n5 meadow {\n Landuse_Layers = 3; }\n");
  EXPECT_EQ(outcome.code, 112);
  EXPECT_TRUE(
      Has(outcome.console, "multiple landuse table: parameter Landuse_Layers not found 5 meadow {"))
      << outcome.console;
}

TEST_F(MultilayerLanduseTest, UnreadableTypesStopWith110) {
  struct Case {
    const char *Name;
    std::string Types;
    std::string Message;
  };
  const std::vector<Case> cases = {
      {"end of file before the second type", "2\n4 a Landuse_Layers = 1; }\n",
       "multilayer_landuse_table code 2: some parameters could not be read\n\nthe control file "
       "ends before multilayer type 2 of 2"},
      {"end of file before the closing brace", "1\n4 a { Landuse_Layers = 1;\n k_extinct = 1;\n",
       "multilayer_landuse_table code 1: some parameters could not be read\n\nthe control file "
       "ends before the \"}\" that closes multilayer type 1"},
      {"next type before the closing brace",
       "2\n4 a Landuse_Layers = 1;\n5 b Landuse_Layers = 2; }\n",
       "the next type begins before the \"}\" that closes multilayer type 1"},
      {"code not a number", "1\nx a Landuse_Layers = 1; }\n",
       "multilayer_landuse_table code 1: some parameters could not be read\n"},
      {"layer list without semicolon", "1\n4 a Landuse_Layers = 1, 2 }\n",
       "multilayer_landuse_table code 4: some parameters could not be read\na\nLanduse_Layers "
       "needs a value"},
      {"layer code not an integer", "1\n4 a Landuse_Layers = 1, x2; }\n",
       "layer code \"x2\" is not an integer"},
      {"no layer codes", "1\n4 a Landuse_Layers = ; }\n", "Landuse_Layers names no land-use code"},
      {"extinction not a number", "1\n4 a Landuse_Layers = 1; k_extinct = high; }\n",
       "multilayer_landuse_table code 4: some parameters could not be read\na\nk_extinct \"high\" "
       "is not a number"},
      {"LAI scale without semicolon", "1\n4 a Landuse_Layers = 1; LAI_scale = 3 }\n",
       "LAI_scale needs a value"},
      {"name too long", "1\n4 " + std::string(200, 'n') + " Landuse_Layers = 1; }\n",
       "the name is longer than 199 characters"},
  };
  for (const Case &c : cases) {
    const CallOutcome outcome = ReadTypes(c.Types);
    EXPECT_EQ(outcome.code, 110) << c.Name;
    EXPECT_TRUE(Has(outcome.console, c.Message)) << c.Name << ":\n" << outcome.console;
  }
}

TEST_F(MultilayerLanduseTest, ParseTypeDirectly) {
  multilayer_landuse_class record(3);
  ParseMultilayerType(log_, "9 x Landuse_Layers = 2;\n", record);
  EXPECT_EQ(record.Code, 9);
  EXPECT_EQ(record.CodeAsRead, 9);
  EXPECT_EQ(Codes(record.LayerCodes), (std::vector<int>{1, 2}));

  multilayer_landuse_class missing(3);
  const CallOutcome outcome =
      RunCapturingConsole([&] { ParseMultilayerType(log_, "9 x k_extinct = 1;\n", missing); });
  EXPECT_EQ(outcome.code, 112);
}

} // namespace
} // namespace tavro
