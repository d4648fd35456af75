// Soil-water module: the cells of a call added to the statistics tables,
// each cell weighted by its unglacierized share, its glacierized share
// adding 0.
#include "soil/unsatzon_model.h"

#include "raster/output/module_statistic.h"

#include <algorithm>
#include <functional>

namespace tavro {
namespace {

// A table and the value a cell adds to it.
struct StatisticsFeed {
  zonalstatistic *table = nullptr;
  std::function<double(long, long)> value;
  bool resize = false; // the glacier-resize table: the glacierized share adds its value too
  bool whole = false;  // the thaw-depth table: every cell counts with weight 1
};

} // namespace

void unsatzonmodellklasse::AddStepStatistics() {
  SoilWaterGrids &g = Grids;
  const double D = std::max(1, SubstepCount);
  std::vector<StatisticsFeed> feeds;
  auto table = [&](SoilStatistic which) -> zonalstatistic * {
    const auto &t = StatisticsTables[static_cast<std::size_t>(which)];
    return t && (*t)->Active() ? &**t : nullptr;
  };
  auto add = [&](zonalstatistic *t, std::function<double(long, long)> value, bool resize = false) {
    if (t != nullptr)
      feeds.push_back({t, std::move(value), resize});
  };
  auto grid = [](const Grid &values, double factor) {
    return [&values, factor](long r, long c) { return factor * values[r][c]; };
  };
  add(table(SoilStatistic::SB_1), grid(g.SB1.Values, 1.0));
  add(table(SoilStatistic::SB_2), grid(g.SB2.Values, 1.0));
  if (GlacierResizeTable && (*GlacierResizeTable)->Active() && Links.GlacierOld != nullptr &&
      Links.Glacier != nullptr)
    add(
        &**GlacierResizeTable,
        [&](long r, long c) {
          const double before = (*Links.GlacierOld)[r][c];
          const double now = (*Links.Glacier)[r][c];
          return before != now && before >= 0.0 && now >= 0.0 ? (before - now) * g.SB2.Values[r][c]
                                                              : 0.0;
        },
        true);
  add(table(SoilStatistic::ROOT), grid(g.Root.Values, 1.0));
  add(table(SoilStatistic::INFEX), grid(g.InfiltrationExcess.Values, D));
  add(table(SoilStatistic::GWN), grid(g.GroundwaterRecharge.Values, D));
  add(table(SoilStatistic::MACRO), grid(g.MacroporeInfiltration.Values, D));
  if (Config.methode == 3 && SubstepsTable && (*SubstepsTable)->Active())
    add(&**SubstepsTable, grid(g.NumberOfSubsteps.Values, 1.0));
  add(table(SoilStatistic::INFILT), grid(g.TotalInfiltration.Values, D));
  add(table(SoilStatistic::GWSTAND), grid(g.GroundwaterDistance.Values, 1.0));
  // The baseflow goes to the subbasin means of the runoff concentration,
  // which gives the QB table its values.
  if (Links.MaxPonding != nullptr)
    add(table(SoilStatistic::POND), grid(g.Ponding.Values, 1.0));
  if (Links.DrainageDepth != nullptr)
    add(table(SoilStatistic::QDRAIN), grid(g.DrainageFlow.Values, D));
  if (HeatOutputsRun() && ThawDepthTable && (*ThawDepthTable)->Active())
    feeds.push_back({&**ThawDepthTable, grid(g.ThawDepth.Values, 1.0), false, true});
  if (feeds.empty())
    return;

  if (statisticsCells_.empty())
    statisticsCells_ = StatisticsCellsOf(*this, SolverCells(), *Links.Subbasins);
  ForEachTableJob(feeds.size(), [&](std::size_t job) {
    const StatisticsFeed &feed = feeds[job];
    for (const StatisticsCell &cell : statisticsCells_) {
      const long r = cell.row;
      const long c = cell.column;
      const double glacier =
          Links.Glacier != nullptr ? std::clamp((*Links.Glacier)[r][c], 0.0, 1.0) : 0.0;
      if (feed.whole) {
        feed.table->AddValue(r, c, cell.zone, feed.value(r, c), 1.0);
        continue;
      }
      if (glacier < 1.0)
        feed.table->AddValue(r, c, cell.zone, feed.value(r, c), 1.0 - glacier);
      if (glacier > 0.0)
        feed.table->AddValue(r, c, cell.zone, feed.resize ? feed.value(r, c) : 0.0, glacier);
    }
  });
}

void unsatzonmodellklasse::WriteStepOutputs() {
  if (FlowControl == 0)
    return;
  const SoilWaterGrids &g = Grids;
  for (const SoilGrid *grid : {&g.SB1, &g.SB2, &g.Root})
    WriteGridOutput(grid->Index);
  for (const SoilStack *stack : {&g.Theta, &g.HydraulicHeads, &g.GeodeticHeads, &g.QDown})
    WriteStackOutput(stack->Index);
  for (const SoilGrid *grid : {&g.GroundwaterDistance, &g.ThetaInGwLevel, &g.GroundwaterRecharge,
                               &g.MacroporeInfiltration})
    WriteGridOutput(grid->Index);
  if (Config.methode == 3)
    WriteGridOutput(g.NumberOfSubsteps.Index);
  for (const SoilGrid *grid :
       {&g.CapillarUprise, &g.Percolation, &g.GroundwaterLevel, &g.InfiltrationExcess,
        &g.InfiltrationSaturation, &g.DirectFlow, &g.Interflow, &g.Baseflow})
    WriteGridOutput(grid->Index);
  if (GroundwaterCoupling != 0)
    for (const SoilGrid *grid : {&g.RiverInfiltration, &g.RiverExfiltration})
      WriteGridOutput(grid->Index);
  if (Links.MaxPonding != nullptr)
    WriteGridOutput(g.Ponding.Index);
  if (Links.DrainageDepth != nullptr)
    WriteGridOutput(g.DrainageFlow.Index);
  if (HeatOutputsRun()) {
    WriteStackOutput(g.SoilTemperature.Index);
    WriteGridOutput(g.ThawDepth.Index);
  }
}

} // namespace tavro
