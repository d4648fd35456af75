// Zonal statistics tables on small rasters whose cells are spread over the
// processes. Every expected file is written out here by hand (or from a
// direct weighted mean over the whole raster), so a run under -n 3 produces
// files byte-identical to -n 1. Most values are dyadic, so sums are exact in
// any order; the tests of exact sums use values whose double sums depend on
// the order of addition, and their reference is the true sum rounded once.
#include "raster/output/zonal_statistic.h"

#include "kernel/diagnostics_log.h"
#include "kernel/grid.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace tavro {
namespace {

using test::ProcessCount;
using test::Rank;
using test::ReadWholeFile;

constexpr double kNoData = -9999.0;

// A raster of zone codes; cell (r, c) belongs to the process (r * ncols + c) % P.
struct Raster {
  long nrows = 0;
  long ncols = 0;
  std::vector<double> codes; // row-major, kNoData for cells outside the zones
  std::vector<ZoneRecord> zones;

  double Code(long r, long c) const {
    return codes[static_cast<std::size_t>((r - 1) * ncols + c - 1)];
  }
  int ZoneOf(long r, long c) const {
    for (std::size_t k = 1; k < zones.size(); ++k)
      if (zones[k].zonenwert == Code(r, c))
        return static_cast<int>(k);
    return 0;
  }
  bool Owned(long r, long c) const { return (r * ncols + c) % ProcessCount() == Rank(); }
};

ZoneRecord Zone(double code, double rel) {
  ZoneRecord z;
  z.zonenwert = code;
  z.rel = rel;
  return z;
}

// Two cells, zone 101 (rel 0.25) and zone 102 (rel 0.75).
Raster TwoZones() {
  Raster r;
  r.nrows = 1;
  r.ncols = 2;
  r.codes = {101, 102};
  r.zones = {ZoneRecord{}, Zone(101, 0.25), Zone(102, 0.75)};
  return r;
}

using CellValue = std::function<double(long row, long column, int step)>;

// One model step as every owner does it: reset, add the own cells, end.
void Step(zonalstatistic &table, const Raster &raster, int step, const CellValue &value,
          std::int64_t day = 1) {
  table.ResetStep();
  for (long r = 1; r <= raster.nrows; ++r)
    for (long c = 1; c <= raster.ncols; ++c)
      if (raster.Code(r, c) != kNoData && raster.Owned(r, c))
        table.AddValue(r, c, raster.ZoneOf(r, c), value(r, c, step), 1.0);
  table.EndOfStep(2021, 3, day, step, 1);
}

std::string Header(const std::string &codes, const std::string &rels) {
  return "YY\tMM\tDD\tHH" + codes + "\ttot_average\nrunoff_submodel:snow_model\n--\t--\t--\t--" +
         rels + "\t1.0000\n";
}

// File contents are compared on rank 0, the only writer.
void ExpectFile(const std::string &name, const std::string &expected) {
  MPI_Barrier(MPI_COMM_WORLD);
  if (Rank() == 0) {
    EXPECT_EQ(ReadWholeFile(name), expected) << name;
  }
}

class ZonalStatisticTest : public testing::Test {
protected:
  DiagnosticsLog log{"Tavro_Diag.xml", 4};

  std::string LogText() {
    log.FlushConsole();
    return ReadWholeFile("Tavro_Diag_0.xml");
  }
};

TEST_F(ZonalStatisticTest, DocumentedModeTwoTable) {
  Raster raster = TwoZones();
  int error = -1;
  zonalstatistic table(error, log, nullptr, 0, nullptr, 1, 2, raster.zones, 2001, 3, "two.sta", "",
                       {});
  ASSERT_EQ(error, 0);
  table.WriteHeader("runoff", "snow_model", nullptr, 0);
  table.ResetStep();
  if (raster.Owned(1, 1))
    table.AddValue(1, 1, 1, 1.5, 1.0);
  if (raster.Owned(1, 2))
    table.AddValue(1, 2, 2, 2.25, 1.0);
  table.EndOfStep(2005, 5, 3, 7, 1);
  table.ReleaseMemory();
  ExpectFile("two.sta", Header("\t\"101\"\t\"102\"", "\t0.2500000\t0.7500000") +
                            "2005\t 5\t 3\t 7\t1.500\t2.250\t1.875\n");
}

TEST_F(ZonalStatisticTest, ModesAndIntervals) {
  // Zone 101 takes the value s in step s, zone 102 the value 0.5 s + 1.
  const CellValue value = [](long, long c, int s) { return c == 1 ? s : 0.5 * s + 1.0; };
  struct Case {
    int code;
    std::vector<int> list;
    int precision;
    std::string expected;
  };
  const std::string both = "\t\"101\"\t\"102\"";
  const std::string bothRel = "\t0.2500000\t0.7500000";
  const Case cases[] = {
      // Areal mean every step.
      {1001,
       {},
       2,
       Header("", "") + "2021\t 3\t 1\t 1\t1.25\n2021\t 3\t 1\t 2\t2.00\n"
                        "2021\t 3\t 1\t 3\t2.75\n2021\t 3\t 1\t 4\t3.50\n"},
      // Every zone averaged over two steps.
      {2002,
       {},
       3,
       Header(both, bothRel) +
           "2021\t 3\t 1\t 2\t1.500\t1.750\t1.625\n2021\t 3\t 1\t 4\t3.500\t2.750\t3.125\n"},
      // Areal mean of the values summed over two steps.
      {3002, {}, 2, Header("", "") + "2021\t 3\t 1\t 2\t3.25\n2021\t 3\t 1\t 4\t6.25\n"},
      // Sums and averages over three steps: 1 + 2 + 3 = 6, mean 2.
      {4003, {}, 1, Header(both, bothRel) + "2021\t 3\t 1\t 3\t6.0\t6.0\t6.0\n"},
      {2003, {}, 1, Header(both, bothRel) + "2021\t 3\t 1\t 3\t2.0\t2.0\t2.0\n"},
      // Output-list zones, then the areal mean of all zones.
      {5001,
       {102},
       2,
       Header("\t\"102\"", "\t0.7500000") + "2021\t 3\t 1\t 1\t1.50\t1.25\n2021\t 3\t 1\t "
                                            "2\t2.00\t2.00\n2021\t 3\t 1\t 3\t2.50\t2.75\n"
                                            "2021\t 3\t 1\t 4\t3.00\t3.50\n"},
      {6002,
       {102},
       2,
       Header("\t\"102\"", "\t0.7500000") +
           "2021\t 3\t 1\t 2\t3.50\t3.25\n2021\t 3\t 1\t 4\t5.50\t6.25\n"},
      // A list in descending order keeps its order in header and rows.
      {5002,
       {102, 101},
       2,
       Header("\t\"102\"\t\"101\"", "\t0.7500000\t0.2500000") +
           "2021\t 3\t 1\t 2\t1.75\t1.50\t1.62\n2021\t 3\t 1\t 4\t2.75\t3.50\t3.12\n"},
      // Interval 0: a header and no rows.
      {2000, {}, 2, Header(both, bothRel)},
      // Modes above 6: the areal mean, summed.
      {7001,
       {},
       99,
       Header("", "") + "2021\t 3\t 1\t 1\t1.25\n2021\t 3\t 1\t 2\t2\n"
                        "2021\t 3\t 1\t 3\t2.75\n2021\t 3\t 1\t 4\t3.5\n"},
  };
  for (const Case &c : cases) {
    Raster raster = TwoZones();
    const std::string name = "mode_" + std::to_string(c.code) + "_" + std::to_string(c.list.size());
    int error = -1;
    zonalstatistic table(error, log, nullptr, 0, nullptr, 1, 2, raster.zones, c.code, c.precision,
                         name, "", c.list);
    ASSERT_EQ(error, 0) << c.code;
    EXPECT_EQ(table.Mode(), c.code / 1000);
    EXPECT_EQ(table.Interval(), c.code % 1000);
    table.WriteHeader("runoff", "snow_model", nullptr, 0);
    for (int s = 1; s <= 4; ++s)
      Step(table, raster, s, value);
    table.ReleaseMemory();
    ExpectFile(name, c.expected);
  }
}

TEST_F(ZonalStatisticTest, CodeUpToThousandIsOff) {
  Raster raster = TwoZones();
  for (int code : {1000, 0, -5}) {
    int error = -1;
    zonalstatistic table(error, log, nullptr, 0, nullptr, 1, 2, raster.zones, code, 2, "off.sta",
                         "", {});
    EXPECT_EQ(error, 0);
    EXPECT_FALSE(table.Active());
    EXPECT_EQ(table.WriteHeader("runoff", "snow_model", nullptr, 0), -1);
    Step(table, raster, 1, [](long, long, int) { return 1.0; });
    table.FlushBuffer();
    table.ReleaseMemory();
  }
  MPI_Barrier(MPI_COMM_WORLD);
  EXPECT_FALSE(test::FileExists("off.sta"));
}

// A raster with a weight grid: one cell without weight (-9999), one hole in
// the values, a zone whose only cell has weight 0.
struct WeightedRaster {
  Raster raster;
  Grid weights;
};

WeightedRaster MakeWeighted(DiagnosticsLog &log) {
  WeightedRaster w;
  Raster &r = w.raster;
  r.nrows = 4;
  r.ncols = 3;
  r.codes = {101, 101, 102, 101, 102, 102, 103, kNoData, 102, 103, 103, 104};
  r.zones = {ZoneRecord{}, Zone(101, 0.25), Zone(102, 0.5), Zone(103, 0.125), Zone(104, 0.125)};
  w.weights = Grid(1, r.nrows, r.ncols, r.nrows, log);
  for (long row = 1; row <= r.nrows; ++row)
    for (long col = 1; col <= r.ncols; ++col)
      w.weights[row][col] = 0.5 + 0.25 * static_cast<double>((row + col) % 3);
  w.weights[1][2] = kNoData; // counts with the passed weight 1
  w.weights[4][3] = 0.0;     // zone 104 has no weight at all
  return w;
}

double WeightedValue(long r, long c, int s) {
  if (r == 2 && c == 1 && s == 2)
    return kNoData; // a hole in this step's grid
  return static_cast<double>(r) + 0.5 * static_cast<double>(c) + s;
}

// Direct reference: the weighted mean of each zone over the cells and steps
// of an interval, and of all zones; a hole counts nowhere; no weight, no mean.
std::vector<double> ReferenceAverages(const WeightedRaster &w, int firstStep, int lastStep) {
  const Raster &r = w.raster;
  const std::size_t zones = r.zones.size();
  std::vector<double> sum(zones, 0.0), weight(zones, 0.0);
  for (int s = firstStep; s <= lastStep; ++s)
    for (long row = 1; row <= r.nrows; ++row)
      for (long col = 1; col <= r.ncols; ++col) {
        const int k = r.ZoneOf(row, col);
        const double v = WeightedValue(row, col, s);
        if (k == 0 || v == kNoData)
          continue;
        const double g = w.weights[row][col] == kNoData ? 1.0 : w.weights[row][col];
        sum[static_cast<std::size_t>(k)] += v * g;
        weight[static_cast<std::size_t>(k)] += g;
      }
  std::vector<double> result;
  double total = 0.0, totalWeight = 0.0;
  for (std::size_t k = 1; k < zones; ++k) {
    result.push_back(weight[k] > 0.0 ? sum[k] / weight[k] : 0.0);
    total += sum[k];
    totalWeight += weight[k];
  }
  result.push_back(total / totalWeight);
  return result;
}

std::string Row(int step, const std::vector<double> &values) {
  char text[64];
  std::snprintf(text, sizeof text, "2021\t 3\t 1\t%2d", step);
  std::string row = text;
  for (double v : values) {
    std::snprintf(text, sizeof text, "\t%.4f", v);
    row += text;
  }
  return row + "\n";
}

TEST_F(ZonalStatisticTest, WeightsHolesAndEmptyZonesOverTime) {
  WeightedRaster w = MakeWeighted(log);
  int error = -1;
  zonalstatistic table(error, log, nullptr, 0, &w.weights, w.raster.nrows, w.raster.ncols,
                       w.raster.zones, 2002, 4, "weighted.sta", "", {});
  ASSERT_EQ(error, 0);
  table.WriteHeader("runoff", "snow_model", nullptr, 0);
  for (int s = 1; s <= 4; ++s)
    Step(table, w.raster, s, WeightedValue);
  table.ReleaseMemory();

  const auto first = ReferenceAverages(w, 1, 2);
  const auto second = ReferenceAverages(w, 3, 4);
  EXPECT_EQ(first[3], 0.0); // zone 104: weight 0, shown as 0
  ExpectFile("weighted.sta", Header("\t\"101\"\t\"102\"\t\"103\"\t\"104\"",
                                    "\t0.2500000\t0.5000000\t0.1250000\t0.1250000") +
                                 Row(2, first) + Row(4, second));
  if (Rank() == 0) {
    const std::string text = ReadWholeFile("weighted.sta");
    EXPECT_EQ(text.find("nan"), std::string::npos);
    EXPECT_EQ(text.find("inf"), std::string::npos);
  }
}

TEST_F(ZonalStatisticTest, CellOutsideWeightGridCountsWithPassedWeight) {
  WeightedRaster w = MakeWeighted(log);
  int error = -1;
  zonalstatistic table(error, log, nullptr, 0, &w.weights, w.raster.nrows, w.raster.ncols,
                       w.raster.zones, 1001, 3, "outside.sta", "", {});
  ASSERT_EQ(error, 0);
  table.ResetStep();
  if (Rank() == 0) {
    table.AddValue(9, 1, 1, 4.0, 2.0);     // row outside the weight grid
    table.AddValue(2, 2, 1, 1.0, 1.0);     // weight 0.5 + 0.25 * 1 = 0.75
    table.AddValue(1, 1, 2, -9998.5, 1.0); // a hole (at or below nodata + 1): not added
  }
  table.EndOfStep(2021, 3, 1, 1, 1);
  if (Rank() == 0) {
    const ZoneRecord &z = table.Zones()[1];
    EXPECT_EQ(z.n, 3.0);
    EXPECT_EQ(z.RelCellSum, 2.75);
    EXPECT_EQ(z.sx, 8.75);
    EXPECT_EQ(table.Zones()[2].n, 0.0);
    EXPECT_EQ(table.LastArealMean(), 8.75 / 2.75);
  }
}

TEST_F(ZonalStatisticTest, RankZeroHoldsGlobalZoneSumsAfterEndOfStep) {
  Raster raster = TwoZones();
  raster.nrows = 3; // three rows of two cells: every process owns cells under -n 3
  raster.codes = {101, 102, 101, 102, 101, 102};
  int error = -1;
  zonalstatistic table(error, log, nullptr, 0, nullptr, 3, 2, raster.zones, 2001, 2, "sums.sta", "",
                       {});
  ASSERT_EQ(error, 0);
  Step(table, raster, 1, [](long r, long c, int) { return static_cast<double>(r * 10 + c); });
  const auto zones = table.Zones();
  if (Rank() == 0) {
    EXPECT_EQ(zones[1].n, 3.0);
    EXPECT_EQ(zones[1].sx, 11.0 + 21.0 + 31.0);
    EXPECT_EQ(zones[2].RelCellSum, 3.0);
    EXPECT_EQ(zones[2].sx, 12.0 + 22.0 + 32.0);
  } else {
    EXPECT_EQ(zones[1].n, 0.0);
    EXPECT_EQ(zones[1].sx, 0.0);
  }
  // Code and area are never touched by the sums.
  EXPECT_EQ(zones[2].zonenwert, 102.0);
  EXPECT_EQ(zones[2].rel, 0.75);
  table.ReleaseMemory();
}

TEST_F(ZonalStatisticTest, RegistryEntryShowsColumnsAndLatestRow) {
  Raster raster = TwoZones();
  StatisticsRegistry registry;
  int error = -1;
  zonalstatistic first(error, log, &registry, 200, nullptr, 1, 2, raster.zones, 2001, 2, "a.sta",
                       "", {});
  ASSERT_EQ(error, 0);
  std::vector<ZoneRecord> otherZones = raster.zones;
  zonalstatistic second(error, log, &registry, 200, nullptr, 1, 2, otherZones, 5001, 2, "b.sta", "",
                        std::vector<int>{102});
  ASSERT_EQ(error, 0);
  const int a = first.WriteHeader("runoff", "snow_model", &registry, 200);
  const int b = second.WriteHeader("melt", "snow_model", &registry, 200);
  if (Rank() != 0) {
    EXPECT_EQ(a, -1);
    EXPECT_EQ(registry.Used(), 0); // entries live on rank 0 only
  } else {
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 1);
    const StatisticsRegistryEntry &entry = registry[a];
    EXPECT_EQ(entry.title, "runoff_submodel:snow_model");
    EXPECT_EQ(entry.valueCount, 3);
    EXPECT_EQ(entry.columns->codes[1], 101u);
    EXPECT_EQ(entry.columns->codes[2], 102u);
    EXPECT_EQ(entry.columns->codes[3], 0u);
    EXPECT_EQ(entry.columns->areas[2], 0.75);
    EXPECT_EQ(entry.columns->areas[3], 1.0);
    EXPECT_EQ(registry[b].valueCount, 2);
    EXPECT_EQ(registry[b].columns->codes[1], 102u);
    EXPECT_EQ(registry.Find("melt_submodel:snow_model"), 1);
  }
  Step(first, raster, 1, [](long, long c, int) { return c == 1 ? 2.0 : 4.0; });
  if (Rank() == 0) {
    const StatisticsRegistryEntry &entry = registry[a];
    EXPECT_EQ(entry.columns->values[1], 2.0);
    EXPECT_EQ(entry.columns->values[2], 4.0);
    EXPECT_EQ(entry.columns->values[3], 3.0);
    EXPECT_EQ(entry.year, 0); // the date of the registration stays
  }
  // The entry keeps its columns after the table is released.
  first.ReleaseMemory();
  second.ReleaseMemory();
  if (Rank() == 0) {
    EXPECT_EQ(registry[a].columns->values[3], 3.0);
  }
}

TEST_F(ZonalStatisticTest, FullRegistryLeavesTableUnregistered) {
  Raster raster = TwoZones();
  StatisticsRegistry registry(1);
  int error = -1;
  zonalstatistic first(error, log, &registry, 1, nullptr, 1, 2, raster.zones, 1001, 2, "a.sta", "",
                       {});
  zonalstatistic second(error, log, &registry, 1, nullptr, 1, 2, raster.zones, 1001, 2, "b.sta", "",
                        {});
  EXPECT_EQ(first.WriteHeader("x", "m", &registry, 1), Rank() == 0 ? 0 : -1);
  EXPECT_EQ(second.WriteHeader("y", "m", &registry, 1), -1);
  MPI_Barrier(MPI_COMM_WORLD);
  if (Rank() == 0) {
    EXPECT_TRUE(test::FileExists("b.sta")); // the header is written all the same
  }
}

TEST_F(ZonalStatisticTest, OutputDirectoryAndOwnFileName) {
  Raster raster = TwoZones();
  if (Rank() == 0)
    std::filesystem::create_directory("out");
  MPI_Barrier(MPI_COMM_WORLD);
  std::string callersName = "runoff.sta";
  int error = -1;
  zonalstatistic inDirectory(error, log, nullptr, 0, nullptr, 1, 2, raster.zones, 1001, 2,
                             callersName, "out/", {});
  EXPECT_EQ(inDirectory.FileName(), "out/runoff.sta");
  EXPECT_EQ(callersName, "runoff.sta");
  const std::string absolute = test::WorkDirectory() + "/abs.sta";
  zonalstatistic rooted(error, log, nullptr, 0, nullptr, 1, 2, raster.zones, 1001, 2, absolute,
                        "out/", {});
  EXPECT_EQ(rooted.FileName(), absolute);
  zonalstatistic home(error, log, nullptr, 0, nullptr, 1, 2, raster.zones, 1001, 2, "~x.sta",
                      "out/", {});
  EXPECT_EQ(home.FileName(), "~x.sta");
  inDirectory.WriteHeader("runoff", "snow_model", nullptr, 0);
  MPI_Barrier(MPI_COMM_WORLD);
  if (Rank() == 0) {
    EXPECT_TRUE(test::FileExists("out/runoff.sta"));
  }
}

TEST_F(ZonalStatisticTest, OutputListCodeWithoutZoneFailsConstruction) {
  Raster raster = TwoZones();
  int error = -1;
  zonalstatistic table(error, log, nullptr, 0, nullptr, 1, 2, raster.zones, 5001, 2, "list.sta", "",
                       std::vector<int>{101, 999});
  EXPECT_EQ(error, 1);
  EXPECT_FALSE(table.Constructed());
  if (Rank() == 0) {
    EXPECT_NE(LogText().find("there is a code in the output list which no zone exists for (999)"),
              std::string::npos);
  }
}

TEST_F(ZonalStatisticTest, UnwritableFileEndsWithFifteen) {
  Raster raster = TwoZones();
  int error = -1;
  zonalstatistic table(error, log, nullptr, 0, nullptr, 1, 2, raster.zones, 1001, 2, "x.sta",
                       "no_such_directory/", {});
  ASSERT_EQ(error, 0);
  if (Rank() == 0) {
    try {
      table.WriteHeader("runoff", "snow_model", nullptr, 0);
      ADD_FAILURE() << "no exit code thrown";
    } catch (int code) {
      EXPECT_EQ(code, 15);
    }
    EXPECT_NE(LogText().find("error opening ;no_such_directory/x.sta"), std::string::npos);
  } else {
    EXPECT_EQ(table.WriteHeader("runoff", "snow_model", nullptr, 0), -1);
  }
}

TEST_F(ZonalStatisticTest, FullBufferIsWrittenDuringEndOfStep) {
  // 20000 zones: rows of 20001 values, 2097152 / (20001 * 8 + 32) = 13 rows.
  std::vector<ZoneRecord> zones(20001);
  for (std::size_t k = 1; k < zones.size(); ++k)
    zones[k] = Zone(static_cast<double>(k), 1.0 / 20000.0);
  int error = -1;
  zonalstatistic table(error, log, nullptr, 0, nullptr, 1, 1, zones, 2001, 1, "big.sta", "", {});
  ASSERT_EQ(error, 0);
  EXPECT_EQ(table.RowCapacity(), 13u);
  table.WriteHeader("runoff", "snow_model", nullptr, 0);
  const auto lines = [] {
    const std::string text = ReadWholeFile("big.sta");
    return std::count(text.begin(), text.end(), '\n');
  };
  for (int s = 1; s <= 12; ++s) {
    table.ResetStep();
    table.EndOfStep(2021, 1, 1, s, 1);
  }
  MPI_Barrier(MPI_COMM_WORLD);
  if (Rank() == 0) {
    EXPECT_EQ(lines(), 3);
  }
  table.ResetStep();
  table.EndOfStep(2021, 1, 1, 13, 1);
  MPI_Barrier(MPI_COMM_WORLD);
  if (Rank() == 0) {
    EXPECT_EQ(lines(), 16);
    EXPECT_EQ(table.BufferedRows(), 0u);
    EXPECT_NE(LogText().find("write big.sta(2080520 of 2097152 buffer-bytes)"), std::string::npos);
  }
  table.ReleaseMemory();
}

TEST_F(ZonalStatisticTest, SixSignificantDigitsAndFixedDecimals) {
  Raster raster = TwoZones();
  const CellValue value = [](long, long c, int) { return c == 1 ? 1234.56789 : 0.000123456; };
  for (int precision : {99, 5}) {
    const std::string name = std::string("p").append(std::to_string(precision)).append(".sta");
    int error = -1;
    zonalstatistic table(error, log, nullptr, 0, nullptr, 1, 2, raster.zones, 2001, precision, name,
                         "", {});
    Step(table, raster, 1, value);
    table.ReleaseMemory();
    MPI_Barrier(MPI_COMM_WORLD);
    if (Rank() == 0) {
      char expected[128];
      if (precision == 99)
        std::snprintf(expected, sizeof expected, "2021\t 3\t 1\t 1\t%.6g\t%.6g\t%.6g\n", 1234.56789,
                      0.000123456, (1234.56789 + 0.000123456) / 2.0);
      else
        std::snprintf(expected, sizeof expected, "2021\t 3\t 1\t 1\t%.5f\t%.5f\t%.5f\n", 1234.56789,
                      0.000123456, (1234.56789 + 0.000123456) / 2.0);
      EXPECT_EQ(ReadWholeFile(name), expected);
    }
  }
}

// Cell values and weights that are not dyadic: the double sums of a zone
// depend on the order in which cells are added and on how the cells are
// grouped over processes.
double AwkwardValue(long r, long c, int s) {
  return 0.1 * static_cast<double>(r * 7 + c * 13 + s) + 1e-7 * static_cast<double>(r);
}
double AwkwardWeight(long r, long c) { return 0.3 + 0.01 * static_cast<double>(r + 2 * c); }

struct AwkwardRaster {
  Raster raster;
  Grid weights;
};

AwkwardRaster MakeAwkward(DiagnosticsLog &log) {
  AwkwardRaster a;
  Raster &r = a.raster;
  r.nrows = 6;
  r.ncols = 5;
  for (long row = 1; row <= r.nrows; ++row)
    for (long col = 1; col <= r.ncols; ++col)
      r.codes.push_back(row + col == 7 ? kNoData : 201.0 + static_cast<double>((row * col) % 3));
  r.zones = {ZoneRecord{}, Zone(201, 0.25), Zone(202, 0.5), Zone(203, 0.25)};
  a.weights = Grid(1, r.nrows, r.ncols, r.nrows, log);
  for (long row = 1; row <= r.nrows; ++row)
    for (long col = 1; col <= r.ncols; ++col)
      a.weights[row][col] = AwkwardWeight(row, col);
  return a;
}

// The zone sums of one step as the table must produce them: each product
// value * weight is a double, and the sum over the zone's cells is the true
// sum rounded once. The addends are doubles of magnitude 0.6 to 20 and the
// sums stay below 2^10, so a long double (64-bit mantissa) holds every
// partial sum exactly and the final conversion is the only rounding.
struct StepSums {
  std::vector<double> sx, weight;
};

StepSums ReferenceStepSums(const AwkwardRaster &a, int s) {
  const Raster &r = a.raster;
  static_assert(std::numeric_limits<long double>::digits >= 64, "exact reference");
  std::vector<long double> sx(r.zones.size(), 0.0L), weight(r.zones.size(), 0.0L);
  for (long row = 1; row <= r.nrows; ++row)
    for (long col = 1; col <= r.ncols; ++col) {
      const int k = r.ZoneOf(row, col);
      if (k == 0)
        continue;
      const double g = a.weights[row][col];
      sx[static_cast<std::size_t>(k)] += AwkwardValue(row, col, s) * g;
      weight[static_cast<std::size_t>(k)] += g;
    }
  StepSums sums;
  for (std::size_t k = 0; k < sx.size(); ++k) {
    sums.sx.push_back(static_cast<double>(sx[k]));
    sums.weight.push_back(static_cast<double>(weight[k]));
  }
  return sums;
}

// The row of an averaged interval of two steps: step sums added in time
// order, zone means, and the areal mean over the zones in zone order.
std::string ReferenceIntervalRow(const AwkwardRaster &a, int lastStep) {
  const StepSums first = ReferenceStepSums(a, lastStep - 1);
  const StepSums second = ReferenceStepSums(a, lastStep);
  char text[64];
  std::snprintf(text, sizeof text, "2021\t 3\t 1\t%2d", lastStep);
  std::string row = text;
  double total = 0.0, totalWeight = 0.0;
  for (std::size_t k = 1; k < first.sx.size(); ++k) {
    const double sx = second.sx[k] + first.sx[k];
    const double weight = second.weight[k] + first.weight[k];
    std::snprintf(text, sizeof text, "\t%.15f", sx / weight);
    row += text;
    total += sx;
    totalWeight += weight;
  }
  std::snprintf(text, sizeof text, "\t%.15f\n", total / totalWeight);
  return row + text;
}

TEST_F(ZonalStatisticTest, SumsThatAreNotExactInDoublesGiveTheSameFileForAnyProcessCount) {
  AwkwardRaster a = MakeAwkward(log);
  const Raster &raster = a.raster;

  // The values are awkward indeed: adding a zone's products in row order, as
  // a single process would with plain doubles, misses the true sum.
  bool plainDiffers = false;
  const StepSums reference = ReferenceStepSums(a, 1);
  for (std::size_t k = 1; k < raster.zones.size(); ++k) {
    double plain = 0.0;
    for (long r = 1; r <= raster.nrows; ++r)
      for (long c = 1; c <= raster.ncols; ++c)
        if (raster.ZoneOf(r, c) == static_cast<int>(k))
          plain += AwkwardValue(r, c, 1) * a.weights[r][c];
    plainDiffers = plainDiffers || plain != reference.sx[k];
  }
  ASSERT_TRUE(plainDiffers);

  int error = -1;
  zonalstatistic table(error, log, nullptr, 0, &a.weights, raster.nrows, raster.ncols,
                       a.raster.zones, 2002, 15, "awkward.sta", "", {});
  ASSERT_EQ(error, 0);
  table.WriteHeader("runoff", "snow_model", nullptr, 0);
  for (int s = 1; s <= 4; ++s)
    Step(table, raster, s, AwkwardValue);
  table.ReleaseMemory();
  ExpectFile("awkward.sta",
             Header("\t\"201\"\t\"202\"\t\"203\"", "\t0.2500000\t0.5000000\t0.2500000") +
                 ReferenceIntervalRow(a, 2) + ReferenceIntervalRow(a, 4));
}

TEST_F(ZonalStatisticTest, OrderOfAddingCellsDoesNotChangeTheSums) {
  // As threads taking turns in a critical section would: the same cells of
  // this process in row order and in reverse order give the same bits, and
  // rank 0 holds the true sums rounded once.
  AwkwardRaster a = MakeAwkward(log);
  const Raster &raster = a.raster;
  std::vector<ZoneRecord> forwardZones = raster.zones, backwardZones = raster.zones;
  int error = -1;
  zonalstatistic forward(error, log, nullptr, 0, &a.weights, raster.nrows, raster.ncols,
                         forwardZones, 2001, 15, "forward.sta", "", {});
  ASSERT_EQ(error, 0);
  zonalstatistic backward(error, log, nullptr, 0, &a.weights, raster.nrows, raster.ncols,
                          backwardZones, 2001, 15, "backward.sta", "", {});
  ASSERT_EQ(error, 0);
  forward.ResetStep();
  backward.ResetStep();
  for (long i = 0; i < raster.nrows * raster.ncols; ++i) {
    const long j = raster.nrows * raster.ncols - 1 - i;
    const long r1 = i / raster.ncols + 1, c1 = i % raster.ncols + 1;
    const long r2 = j / raster.ncols + 1, c2 = j % raster.ncols + 1;
    if (raster.Code(r1, c1) != kNoData && raster.Owned(r1, c1))
      forward.AddValue(r1, c1, raster.ZoneOf(r1, c1), AwkwardValue(r1, c1, 1), 1.0);
    if (raster.Code(r2, c2) != kNoData && raster.Owned(r2, c2))
      backward.AddValue(r2, c2, raster.ZoneOf(r2, c2), AwkwardValue(r2, c2, 1), 1.0);
  }
  forward.EndOfStep(2021, 3, 1, 1, 1);
  backward.EndOfStep(2021, 3, 1, 1, 1);
  const StepSums reference = ReferenceStepSums(a, 1);
  for (std::size_t k = 1; k < raster.zones.size(); ++k) {
    EXPECT_EQ(std::memcmp(&forwardZones[k], &backwardZones[k], sizeof(ZoneRecord)), 0) << k;
    if (Rank() == 0) {
      EXPECT_EQ(forwardZones[k].sx, reference.sx[k]) << k;
      EXPECT_EQ(forwardZones[k].RelCellSum, reference.weight[k]) << k;
    }
  }
  forward.ReleaseMemory();
  backward.ReleaseMemory();
}

TEST_F(ZonalStatisticTest, NonFiniteOrHugeSumsShowAsNanWithOneWarning) {
  Raster raster = TwoZones();
  int error = -1;
  zonalstatistic table(error, log, nullptr, 0, nullptr, 1, 2, raster.zones, 2001, 2, "nan.sta", "",
                       {});
  ASSERT_EQ(error, 0);
  table.WriteHeader("runoff", "snow_model", nullptr, 0);
  // Zone 101 gets an infinite value in step 1 and two values that overflow
  // the exact range in step 2; zone 102 stays normal.
  const CellValue value = [](long, long c, int s) {
    if (c == 2)
      return 2.5;
    return s == 1 ? std::numeric_limits<double>::infinity() : 1.4e20;
  };
  for (int s = 1; s <= 2; ++s) {
    table.ResetStep();
    if (raster.Owned(1, 1)) {
      table.AddValue(1, 1, 1, value(1, 1, s), 1.0);
      if (s == 2)
        table.AddValue(1, 1, 1, value(1, 1, s), 1.0);
    }
    if (raster.Owned(1, 2))
      table.AddValue(1, 2, 2, value(1, 2, s), 1.0);
    table.EndOfStep(2021, 3, 1, s, 1);
  }
  table.ReleaseMemory();
  ExpectFile("nan.sta", Header("\t\"101\"\t\"102\"", "\t0.2500000\t0.7500000") +
                            "2021\t 3\t 1\t 1\tnan\t2.50\tnan\n"
                            "2021\t 3\t 1\t 2\tnan\t2.50\tnan\n");
  if (Rank() == 0) {
    const std::string text = LogText();
    // A warning (level 2), once per table.
    const std::string warning =
        "level=\"2\" description= \"zonal statistics nan.sta: the sums of 1 zones (the first "
        "with code 101) are not finite or beyond 1.47e20 in magnitude and show as nan\"";
    const auto first = text.find(warning);
    EXPECT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find(warning, first + 1), std::string::npos); // once per table
  }
}

} // namespace
} // namespace tavro
