// The discharge table of the routing module against golden files written out
// here by hand: header with codes and areas, rows of the routing steps in the
// column modes, the four goodness-of-fit blocks with their separators, lag-0
// labels and -9999 where a measure is undefined, and the registry entries of
// the table and of the observed runoff.
#include "raster/output/route_statistic.h"

#include "kernel/diagnostics_log.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::ReadWholeFile;

constexpr const char *kDescription = "routed discharge (m3/s)";
constexpr const char *kModule = "routing_model";

ZoneRecord Zone(double code) {
  ZoneRecord z;
  z.zonenwert = code;
  z.rel = 0.5; // the zone table's share; the header shows the areas instead
  return z;
}

// Three subbasins 11, 12, 13 of 12.5, 30.25 and 7.125 km2.
struct Subbasins {
  std::vector<ZoneRecord> zones{ZoneRecord{}, Zone(11), Zone(12), Zone(13)};
  std::vector<double> areas{0.0, 12.5, 30.25, 7.125};
};

struct Date {
  std::int64_t year, month, day, hour;
};

// One routing step as the routing module makes it.
void RoutingStep(routstatistic &table, const std::vector<double> &discharges, Date d) {
  table.ResetStep();
  std::span<ZoneRecord> zones = table.Zones();
  for (std::size_t k = 1; k <= discharges.size(); ++k) {
    zones[k].n += 1.0;
    zones[k].RelCellSum += 1.0;
    zones[k].sx += discharges[k - 1];
  }
  table.EndOfRoutingStep(d.year, d.month, d.day, d.hour);
}

FitSums SumsOf(const std::vector<double> &s, const std::vector<double> &o) {
  FitSums sums;
  for (std::size_t t = 0; t < o.size(); ++t)
    sums.AddPair(s[t], o[t]);
  return sums;
}

// Linear: subbasin 1 at lag 0 with R 0.8 and C 0.85 (o 1..4, s 1, 2, 3, 5:
// V = 5/3, sum e^2 = 1, W = 0.25). Logarithmic: subbasin 2 at lag -10 fits
// perfectly. Everything else holds no pairs.
struct FitTables {
  FitSumTable linear{3};
  FitSumTable logarithmic{3};
  FitTables() {
    linear.At(kFitZeroLagIndex, 1) = SumsOf({1, 2, 3, 5}, {1, 2, 3, 4});
    logarithmic.At(0, 2) = SumsOf({0.5, 1.0, 2.0}, {0.5, 1.0, 2.0});
  }
};

// The goodness-of-fit part of the file: separator, then four blocks of 21
// lines, each followed by the separator. value(block, lag index, zone) gives
// the text of a column.
std::string FitBlocks(const std::vector<int> &columns,
                      const std::function<std::string(int, int, int)> &value) {
  const std::string separator = "----------------------\n";
  const std::array<std::array<const char *, 2>, 4> labels{{{"lin. R-square", "LIN. R-SQUARE"},
                                                           {"log. R-square", "LOG. R-SQUARE"},
                                                           {"coeff.var.lin", "COEFF.VAR.LIN"},
                                                           {"coeff.var.log", "COEFF.VAR.LOG"}}};
  std::string text = separator;
  for (int block = 0; block < 4; ++block) {
    for (int i = 0; i <= 20; ++i) {
      text += std::string(labels[block][i == 10 ? 1 : 0]) + "\t" + std::to_string(i - 10);
      for (const int k : columns) {
        text += '\t';
        text += value(block, i, k);
      }
      text += "\n";
    }
    text += separator;
  }
  return text;
}

// The measures of FitTables as written with four decimals.
std::string GoldenValue(int block, int i, int k) {
  if (k == 1 && i == 10 && block == 0)
    return "0.8000";
  if (k == 1 && i == 10 && block == 2)
    return "0.8500";
  if (k == 2 && i == 0 && (block == 1 || block == 3))
    return "1.0000";
  return "-9999.0000";
}

class RouteStatisticTest : public testing::Test {
protected:
  DiagnosticsLog log{"Tavro_Diag.xml", 4};
  StatisticsRegistry registry;
  Subbasins subbasins;

  std::unique_ptr<routstatistic> Make(int code, const std::string &name,
                                      std::vector<int> list = {}) {
    int error = -1;
    auto table =
        std::make_unique<routstatistic>(error, log, &registry, 200, nullptr, 1, 1, subbasins.zones,
                                        subbasins.areas, code, 5, name, "", list);
    EXPECT_EQ(error, 0);
    return table;
  }
};

const std::string kTitle = std::string(kDescription) + "_submodel:" + kModule + "\n";

TEST_F(RouteStatisticTest, GoldenTableWithEveryColumnAndTheGoodnessOfFit) {
  auto table = Make(2001, "Q.sta");
  EXPECT_EQ(table->WriteHeader(kDescription, kModule, &registry, 200), 0);
  RoutingStep(*table, {1.5, 2.25, 0.125}, {2005, 5, 3, 7});
  RoutingStep(*table, {10.0, 0.0, 4.5}, {2005, 5, 3, 8});
  const FitTables fit;
  table->WriteGoodnessOfFit(fit.linear, fit.logarithmic);

  // The zone records keep the linear coefficient at lag 0.
  const std::span<const ZoneRecord> zones = table->Zones();
  EXPECT_EQ(zones[1].n, 1.0);
  EXPECT_DOUBLE_EQ(zones[1].sx, 0.85);
  EXPECT_EQ(zones[2].sx, -9999.0);
  EXPECT_EQ(zones[3].sx, -9999.0);
  table->ReleaseMemory();

  EXPECT_EQ(ReadWholeFile("Q.sta"), "YY\tMM\tDD\tHH\t\"11\"\t\"12\"\t\"13\"\n" + kTitle +
                                        "--\t--\t--\t--\t12.5000000\t30.2500000\t7.1250000\n"
                                        "2005\t 5\t 3\t 7\t1.50000\t2.25000\t0.12500\n"
                                        "2005\t 5\t 3\t 8\t10.00000\t0.00000\t4.50000\n" +
                                        FitBlocks({1, 2, 3}, GoldenValue));
}

TEST_F(RouteStatisticTest, OutputListColumnsInModeFive) {
  auto table = Make(5001, "Q5.sta", {11, 13});
  table->WriteHeader(kDescription, kModule, &registry, 200);
  RoutingStep(*table, {1.5, 2.25, 0.125}, {2005, 5, 3, 7});
  const FitTables fit;
  table->WriteGoodnessOfFit(fit.linear, fit.logarithmic);
  table->ReleaseMemory();
  EXPECT_EQ(ReadWholeFile("Q5.sta"), "YY\tMM\tDD\tHH\t\"11\"\t\"13\"\n" + kTitle +
                                         "--\t--\t--\t--\t12.5000000\t7.1250000\n"
                                         "2005\t 5\t 3\t 7\t1.50000\t0.12500\n" +
                                         FitBlocks({1, 3}, GoldenValue));
}

TEST_F(RouteStatisticTest, AreaMeanModesGiveDatesAndLabelsOnly) {
  for (const int code : {1001, 3001}) {
    SCOPED_TRACE(code);
    const std::string name = "Q" + std::to_string(code) + ".sta";
    auto table = Make(code, name);
    table->WriteHeader(kDescription, kModule, &registry, 200);
    RoutingStep(*table, {1.5, 2.25, 0.125}, {2005, 5, 3, 7});
    const FitTables fit;
    table->WriteGoodnessOfFit(fit.linear, fit.logarithmic);
    table->ReleaseMemory();
    EXPECT_EQ(ReadWholeFile(name), "YY\tMM\tDD\tHH\n" + kTitle +
                                       "--\t--\t--\t--\n"
                                       "2005\t 5\t 3\t 7\n" +
                                       FitBlocks({}, GoldenValue));
  }
}

TEST_F(RouteStatisticTest, IntervalOf24StepsAveragesOrSums) {
  subbasins.zones = {ZoneRecord{}, Zone(7)};
  subbasins.areas = {0.0, 100.0};
  struct Case {
    int code;
    std::string value;
  };
  for (const Case &c : {Case{2024, "12.50000"}, Case{4024, "300.00000"}}) {
    SCOPED_TRACE(c.code);
    const std::string name = "Q" + std::to_string(c.code) + ".sta";
    auto table = Make(c.code, name);
    table->WriteHeader(kDescription, kModule, &registry, 200);
    for (int step = 1; step <= 24; ++step)
      RoutingStep(*table, {static_cast<double>(step)}, {2010, 1, 1, step - 1});
    table->ReleaseMemory();
    EXPECT_EQ(ReadWholeFile(name), "YY\tMM\tDD\tHH\t\"7\"\n" + kTitle +
                                       "--\t--\t--\t--\t100.0000000\n"
                                       "2010\t 1\t 1\t23\t" +
                                       c.value + "\n");
  }
}

TEST_F(RouteStatisticTest, TableAndObservedRunoffEnterTheRegistryWithoutArealMean) {
  auto table = Make(2001, "Q.sta");
  ASSERT_EQ(table->WriteHeader(kDescription, kModule, &registry, 200), 0);
  RoutingStep(*table, {1.5, 2.25, 0.125}, {2005, 5, 3, 7});

  const StatisticsRegistryEntry &own = registry[0];
  const StatisticsRegistryEntry &observed = registry[1];
  EXPECT_EQ(own.title, std::string(kDescription) + "_submodel:" + kModule);
  EXPECT_EQ(observed.title, "observed Runoff");
  for (const StatisticsRegistryEntry *entry : {&own, &observed}) {
    EXPECT_EQ(entry->valueCount, 3);
    EXPECT_FALSE(entry->hasArealMean);
    EXPECT_EQ(entry->columns->codes, (std::vector<std::uint64_t>{0, 11, 12, 13, 0}));
    EXPECT_EQ(entry->columns->areas, (std::vector<double>{0, 12.5, 30.25, 7.125, 0}));
  }
  EXPECT_EQ(own.columns->values, (std::vector<double>{0, 1.5, 2.25, 0.125, 0}));
  EXPECT_EQ(observed.columns->values, (std::vector<double>{0, 0, 0, 0, 0}));
  // The routing module reaches both value arrays.
  EXPECT_EQ(table->Columns(), own.columns);
  EXPECT_EQ(table->ObservedColumns(), observed.columns);
  EXPECT_EQ(registry.Used(), 2);
}

TEST_F(RouteStatisticTest, ObservedRunoffNeedsTheNextEntryFree) {
  registry[1].columns = std::make_shared<StatisticsColumns>(2);
  registry[1].title = "taken";
  auto table = Make(2001, "Q.sta");
  EXPECT_EQ(table->WriteHeader(kDescription, kModule, &registry, 200), 0);
  EXPECT_EQ(registry[1].title, "taken");
  EXPECT_TRUE(registry[2].Free());
}

TEST_F(RouteStatisticTest, TooFewAreasFailTheConstruction) {
  subbasins.areas = {0.0, 12.5};
  int error = -1;
  routstatistic table(error, log, &registry, 200, nullptr, 1, 1, subbasins.zones, subbasins.areas,
                      2001, 5, "Q.sta", "", {});
  EXPECT_EQ(error, 1);
  EXPECT_EQ(table.WriteHeader(kDescription, kModule, &registry, 200), -1);
}

} // namespace
} // namespace tavro
