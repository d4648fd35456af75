// The staged set-up on the small fixture catchment (tests/data/setup), run
// under one and under three processes: every step in order, the hand-over,
// the grids on every process's cells, the periodic re-reading and the
// standard-grid statistics table against a hand computation.
#include "setup/defaultini.h"

#include "raster/output/zonal_statistic.h"
#include "setup/setup_catchment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

using test::SetupRun;
using test::ZoneAt;

void CopyCatchment() { test::WriteCatchment(); }

TEST(DefaultiniSetup, RunsEveryStepOnceAndSetsDoneOnTheLastCall) {
  CopyCatchment();
  SetupRun run;
  run.Run();
  EXPECT_EQ(run.calls, 24);
  EXPECT_EQ(run.setup->StepCounter(), 24);
  bool done = false;
  run.setup->InitStep(done); // after the set-up: nothing more happens
  EXPECT_TRUE(done);
  EXPECT_EQ(run.setup->StepCounter(), 24);
  EXPECT_EQ(run.setup->GetHourDivisor(), 1);

  if (test::Rank() == 0) {
    const std::string xml = test::ReadWholeFile("Tavro_Diag_0.xml");
    // Progress of the steps, in the order of the steps; the later steps end
    // each with "...ok".
    const std::vector<std::string> order = {"ranking zones from zone.asc for defaults",
                                            "before reading variable grids 0",
                                            "Checking cell sizes for variable Cells...",
                                            "check_SOIL_Codes...",
                                            "...ok",
                                            "make_Slope_and_Aspect...",
                                            "calculating the lokal topography",
                                            "...ok",
                                            "check_ice_firn_grid...",
                                            "ice-grid not found in memory (at position 19)",
                                            "...ok",
                                            "MakeRegionWeightGrids...",
                                            "ranking regions from zone.$r1 for defaults",
                                            "generating region weight grids",
                                            "...ok",
                                            "GetCouplingParameters...",
                                            "...ok"};
    std::size_t at = 0;
    for (const std::string &text : order) {
      const std::size_t found = xml.find(text, at);
      ASSERT_NE(found, std::string::npos) << text << " missing or out of order";
      at = found;
    }
    // No land-use grid and no irrigation switch: those steps stay silent.
    EXPECT_EQ(xml.find("generateMultiLayerParameterGrids"), std::string::npos);
    EXPECT_EQ(xml.find("check_irrig_Codes"), std::string::npos);
    EXPECT_TRUE(test::FileExists("MPIRegions_0"));
  }
}

TEST(DefaultiniSetup, HandsOverTheControlFileSettings) {
  CopyCatchment();
  SetupRun run;
  run.Run();
  const SetupHandOver out = run.setup->GetSettings();
  EXPECT_EQ(out.ControlFileName, "catchment.ctl_" + std::to_string(test::Rank()) + ".$$$");
  EXPECT_EQ(out.HourDivisor, 1);
  EXPECT_EQ(out.InterpolationWarnings, 1);
  EXPECT_EQ(out.FurtherSwitch, 0);
  EXPECT_DOUBLE_EQ(out.MinToIntEnd, 30.0);
  EXPECT_DOUBLE_EQ(out.Latitude, 47.5);
  EXPECT_DOUBLE_EQ(out.Longitude, 8.25);
  EXPECT_DOUBLE_EQ(out.ReferenceMeridian, 15.0);
  EXPECT_DOUBLE_EQ(out.TimeShift, 1.0);
  ASSERT_EQ(out.MeteoVariableCount, 2);
  EXPECT_EQ((*out.MeteoNames)[1], "temperature_interpolation");
  EXPECT_EQ((*out.MeteoNames)[2], "precipitation_interpolation");
  ASSERT_EQ(out.OutputListCount, 2);
  EXPECT_EQ((*out.OutputList)[1], 3);
  EXPECT_EQ((*out.OutputList)[2], 10);
  EXPECT_EQ(out.Start, (ModelDate{0, 1, 1, 2001}));
  EXPECT_EQ(out.End, (ModelDate{23, 31, 12, 2001}));
  EXPECT_EQ(out.NCols, 6);
  EXPECT_EQ(out.NRows, 5);
  EXPECT_DOUBLE_EQ(out.XllCorner, 3400000.0);
  EXPECT_DOUBLE_EQ(out.YllCorner, 5200000.0);
  EXPECT_DOUBLE_EQ(out.CellSize, 1000.0);
  EXPECT_DOUBLE_EQ(out.NoData, -9999.0);
  EXPECT_TRUE(out.WriteAsciiGrids);
  EXPECT_FALSE(out.WriteDoubleGrids);
  EXPECT_EQ(out.RadiationCorrection, 1);
  EXPECT_EQ(out.SubstepCount, 1);
  // Four standard and two variable grids after the elevation model, then the
  // nine derived ones: cell sizes, relative area, coordinates, slope, aspect,
  // the one region and its weights.
  EXPECT_EQ(out.SetupGridCount, 15);
  ASSERT_NE(out.SoilTable, nullptr);
  ASSERT_NE(out.LanduseTable, nullptr);
  EXPECT_EQ(out.Irrigation, nullptr); // switch 0: the table is not handed on
  EXPECT_EQ(out.MultilayerTable, nullptr);

  // Zones 3, 7, 10 with 6, 8 and 8 cells of 1 km2.
  ASSERT_EQ(out.ZoneCount, 3);
  EXPECT_EQ(out.MaxZoneCode, 10);
  ASSERT_EQ(out.ZoneIndex->Count(), 10u);
  for (int code = 0; code <= 10; ++code) {
    const int expected = code == 3 ? 1 : code == 7 ? 2 : code == 10 ? 3 : 0;
    EXPECT_EQ((*out.ZoneIndex)[static_cast<std::size_t>(code)], expected) << code;
  }
  const OneBasedArray<ZoneRecord> &zones = *out.ZoneTable;
  EXPECT_DOUBLE_EQ(zones[0].rel, 22.0);
  const double cells[] = {0, 6, 8, 8};
  const double codes[] = {0, 3, 7, 10};
  for (std::size_t k = 1; k <= 3; ++k) {
    EXPECT_DOUBLE_EQ(zones[k].zonenwert, codes[k]);
    EXPECT_DOUBLE_EQ(zones[k].sx, cells[k]);
    EXPECT_DOUBLE_EQ(zones[k].n, cells[k]);
    EXPECT_DOUBLE_EQ(zones[k].RelCellSum, cells[k]);
    EXPECT_DOUBLE_EQ(zones[k].rel, cells[k] / 22.0);
  }

  // Column ranges: every row on rank 0, the strip rows elsewhere.
  const RowColumnRange ranges[] = {{0, -1}, {2, 5}, {1, 6}, {2, 5}, {1, 6}, {3, 4}};
  const MpiDecomposition &d = *out.Decomposition;
  EXPECT_EQ(out.FirstRow, d.strip.first);
  EXPECT_EQ(out.LastRow, d.strip.last);
  for (long r = 1; r <= 5; ++r) {
    const bool kept = test::Rank() == 0 || (r >= d.strip.first && r <= d.strip.last);
    EXPECT_EQ((*out.RowRanges)[static_cast<std::size_t>(r)],
              kept ? ranges[r] : (RowColumnRange{0, -1}))
        << "row " << r;
  }
  std::int64_t total = 0;
  for (const std::int64_t count : *out.CellCounts)
    total += count;
  EXPECT_EQ(total, 22);
}

TEST(DefaultiniSetup, RegistersAndFillsEveryGridOnEveryProcess) {
  CopyCatchment();
  SetupRun run;
  run.Run();
  const GridRegistry &registry = run.registry;
  EXPECT_EQ(registry[1].Identifier, "[zone_grid]");
  EXPECT_EQ(registry[2].Identifier, "[elevation_model]");
  EXPECT_EQ(registry[3].Identifier, "soil_depth");
  EXPECT_EQ(registry[4].Identifier, "created_five");
  EXPECT_EQ(registry[5].Identifier, "albedo");
  EXPECT_EQ(registry[6].Identifier, "river_links");
  EXPECT_EQ(registry[7].Identifier, "MPIRegions");
  EXPECT_EQ(registry[8].Identifier, "MPIHelper");
  EXPECT_EQ(registry[9].Identifier, "MPIHalo");
  // Variable grids take the entries after the decomposition's grids.
  EXPECT_EQ(registry[10].Identifier, "vg_read");
  EXPECT_EQ(registry[11].Identifier, "vg_made");
  EXPECT_EQ(run.setup->FirstVariableGridIndex(), 10);
  EXPECT_EQ(registry[4].outname, "five_out");
  EXPECT_EQ(registry[3].outname, "soil_depth.asc");
  EXPECT_EQ(registry[3].statfile, "soil_depth.stat");
  EXPECT_EQ(registry[3].statcode, 2001);
  EXPECT_EQ(registry[11].OutputKind, 1); // Writegrid 11
  EXPECT_EQ(registry[11].PeriodAggregate, 1);
  EXPECT_EQ(run.setup->SetupGrids(),
            (std::vector<int>{2, 3, 4, 5, 6, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));

  const Grid &elevation = *registry[2].Data;
  const Grid &soilDepth = run.GridOf("soil_depth");
  const Grid &created = run.GridOf("created_five");
  const Grid &river = run.GridOf("river_links");
  const Grid &vgRead = run.GridOf("vg_read");
  const Grid &vgMade = run.GridOf("vg_made");
  const Grid &zone = *registry[1].Data;
  int checked = 0;
  run.ForHeldValidCells([&](long r, long c) {
    EXPECT_EQ(zone[r][c], ZoneAt(r, c)) << r << "/" << c;
    EXPECT_EQ(soilDepth[r][c], 10.0 * r + c) << r << "/" << c;
    EXPECT_EQ(created[r][c], 5.0) << r << "/" << c;
    EXPECT_EQ(river[r][c], static_cast<double>(r * c)) << r << "/" << c;
    EXPECT_EQ(vgRead[r][c], 100.0 + r) << r << "/" << c;
    EXPECT_EQ(vgMade[r][c], 2.5) << r << "/" << c;
    EXPECT_GT(elevation[r][c], 500.0);
    ++checked;
  });
  EXPECT_GT(checked, 0);
  if (test::Rank() == 0) {
    EXPECT_EQ(checked, 22);
    EXPECT_EQ(created[1][1], -9999.0); // nodata outside the zones
    EXPECT_EQ(vgMade[5][6], -9999.0);
  }
  EXPECT_DOUBLE_EQ(run.setup->MaxElevation(), 1010.0);

  run.setup->ReleaseMemory();
  EXPECT_TRUE(registry[1].IsFree());
  EXPECT_TRUE(registry[3].IsFree());
  EXPECT_TRUE(registry[11].IsFree());
  EXPECT_TRUE(registry[20].IsFree()); // the last derived grid
  EXPECT_FALSE(registry[7].IsFree()); // the decomposition's grids are not the set-up's
}

TEST(DefaultiniSetup, PeriodicGridReadsTheDatedFilesAndRestoresItsValues) {
  CopyCatchment();
  const std::string header = "ncols 6\nnrows 5\nxllcorner 3400000\nyllcorner 5200000\n"
                             "cellsize 1000\nnodata_value -9999\n";
  auto uniform = [&](const char *value) {
    std::string text = header;
    for (int r = 0; r < 5; ++r) {
      for (int c = 0; c < 6; ++c)
        text += std::string(value) + " ";
      text += "\n";
    }
    return text;
  };
  // Only the files the schedule "1 D 1" with hourly steps asks for exist.
  test::WriteFixture("albedo.asc_2001010122", uniform("2"));
  test::WriteFixture("albedo.asc_2001010200", uniform("3"));
  SetupRun run;
  run.Run();
  const Grid &albedo = run.GridOf("albedo");
  struct Step {
    ModelDate date;
    double expected;
  };
  // Re-read at the first step and at the first step of the next day; the
  // initial values (persistent 0, count 2) return two steps after a re-read.
  const Step steps[] = {{{22, 1, 1, 2001}, 2.0}, {{23, 1, 1, 2001}, 2.0}, {{0, 2, 1, 2001}, 3.0},
                        {{1, 2, 1, 2001}, 3.0},  {{2, 2, 1, 2001}, 1.0},  {{3, 2, 1, 2001}, 1.0}};
  for (const Step &step : steps) {
    run.setup->ReadPeriodicGrids(step.date.Hour, step.date.Day, step.date.Month, step.date.Year);
    run.ForHeldValidCells([&](long r, long c) {
      EXPECT_EQ(albedo[r][c], step.expected)
          << "hour " << step.date.Hour << " cell " << r << "/" << c;
    });
  }
  if (test::Rank() == 0) {
    const std::string xml = test::ReadWholeFile("Tavro_Diag_0.xml");
    std::size_t reads = 0;
    for (std::size_t at = xml.find("reading albedo.asc_"); at != std::string::npos;
         at = xml.find("reading albedo.asc_", at + 1))
      ++reads;
    EXPECT_EQ(reads, 2u);
  }
}

TEST(DefaultiniSetup, StandardGridStatisticsMatchTheHandComputation) {
  CopyCatchment();
  SetupRun run;
  run.Run();
  run.setup->CreateStandardGridStatistics();
  ASSERT_NE(run.setup->StandardGridStatistic(3), nullptr); // soil_depth has a statfile
  EXPECT_EQ(run.setup->StandardGridStatistic(4), nullptr);
  for (long hour = 0; hour <= 1; ++hour) {
    run.setup->ResetStandardGridStatistics();
    run.setup->AddStandardGridStatistics();
    run.setup->EndStepStandardGridStatistics(hour, 1, 1, 2001);
  }
  run.setup->FlushStatistics();
  run.setup->ReleaseMemory();
  if (test::Rank() == 0) {
    // soil_depth = 10 * row + column. Zone 3: 12 13 21 22 23 32 (mean 20.5);
    // zone 7: 14 15 24 25 26 35 45 46 (28.75); zone 10: 33 34 41 42 43 44 53
    // 54 (43); all 22 cells: 697 / 22 = 31.681818...
    const std::string expected = "YY\tMM\tDD\tHH\t\"3\"\t\"7\"\t\"10\"\ttot_average\n"
                                 "soil_depth_submodel:(default)\n"
                                 "--\t--\t--\t--\t0.2727273\t0.3636364\t0.3636364\t1.0000\n"
                                 "2001\t 1\t 1\t 0\t20.50000\t28.75000\t43.00000\t31.68182\n"
                                 "2001\t 1\t 1\t 1\t20.50000\t28.75000\t43.00000\t31.68182\n";
    EXPECT_EQ(test::ReadWholeFile("soil_depth.stat"), expected);
  }
}

TEST(DefaultiniSetup, RanksTheRegionsOnEveryProcess) {
  CopyCatchment();
  // From the fixture itself: the working copy is rewritten by rank 0 below,
  // maybe before another rank has read it.
  std::string control = test::ReadWholeFile(test::SetupFixtureDirectory() + "catchment.ctl");
  const auto replace = [&control](const std::string &from, const std::string &to) {
    const std::size_t at = control.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    control.replace(at, from.size(), to);
  };
  replace("4 number of standard grids", "5 number of standard grids");
  replace("river_links  0\n", "river_links  0\nregions.asc regression_regions 0\n");
  test::WriteFixture("catchment.ctl", control);
  // Region 9 in rows 1 and 2, region 4 below.
  std::string regions = "ncols 6\nnrows 5\nxllcorner 3400000\nyllcorner 5200000\n"
                        "cellsize 1000\nnodata_value -9999\n";
  for (int r = 1; r <= 5; ++r)
    regions += r <= 2 ? "9 9 9 9 9 9\n" : "4 4 4 4 4 4\n";
  test::WriteFixture("regions.asc", regions);

  SetupRun run;
  run.Run();
  const int index = run.registry.FindGrid("regression_regions", false);
  ASSERT_EQ(index, 7);
  run.setup->RankRegions(index);
  const RegionRanking &t = run.setup->Regions();
  ASSERT_EQ(t.Count, 2);
  EXPECT_EQ(t.MaxCode, 9);
  EXPECT_EQ(t.CodeIndex[4], 1);
  EXPECT_EQ(t.CodeIndex[9], 2);
  EXPECT_EQ(t.CodeIndex[5], 0);
  // Region 4: 12 valid cells in rows 3 to 5; region 9: 10 cells in rows 1 and 2.
  EXPECT_DOUBLE_EQ(t.Records[1].CellCount, 12.0);
  EXPECT_DOUBLE_EQ(t.Records[1].MeanRowExact, 46.0 / 12.0);
  EXPECT_DOUBLE_EQ(t.Records[1].MeanColumnExact, 3.5);
  EXPECT_EQ(t.Records[1].MeanRow, 3);
  EXPECT_EQ(t.Records[1].MeanColumn, 3);
  EXPECT_DOUBLE_EQ(t.Records[2].CellCount, 10.0);
  EXPECT_DOUBLE_EQ(t.Records[2].MeanRowExact, 1.6);
  EXPECT_DOUBLE_EQ(t.Records[2].MeanColumnExact, 3.5);
}

} // namespace
} // namespace tavro
