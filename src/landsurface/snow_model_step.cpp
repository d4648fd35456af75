// The snow step: the parallel loop over the process's cells that adapts the
// cell's grids to the pack kernel, the copies of spin-up units, the slides,
// the statistics and the output.
#include "landsurface/snow_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/tracer_info.h"
#include "landsurface/snow/snow_cover.h"
#include "landsurface/snow/snow_tracers.h"
#include "raster/output/zonal_statistic.h"
#include "raster/parallel/cell_iteration.h"
#include "raster/parallel/non_finite_water.h"
#include "tables/landuse_class.h"

#include <mpi.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace tavro {
namespace {

constexpr double kLongStep = 720.0; // minutes: longer steps have a night and a day part

snow::TracerKind KindOf(const TracerInfo &info, const TracerRecord &record) {
  return {info.radioactive == 1, info.evaporating == 1, record.DecayFactor, info.max_conc};
}

} // namespace

CellIteration schneemodellklasse::Cells() const { return CellIteration(CellLoopSetup()); }

void schneemodellklasse::ComputeTimeStep(long hour, long day, long month, long year) {
  teilmodellklasse::ComputeTimeStep(hour, day, month, year);
  if (!configured_)
    return;
  if (waterInput_ == nullptr)
    SelectWaterInput(waterFromInterception_);
  step_.TimeStep = TimeStep;
  step_.StepsPerDay = StepsPerDay;
  step_.MeltFactor = SeasonalMeltFactor(day, month);
  snowRadiationFactor_ = SeasonalSnowRadiationFactor(day, month);
  iceRadiationFactor_ = SeasonalIceRadiationFactor(day, month);
  DaylightFraction();
  ResetStatistics();
  MPI_Barrier(MPI_COMM_WORLD);
  ComputeCells();
  CopyUnitMembers();
  if (SpinUpSwitch == 0 && snow::HasSlides(section_.Pack.Method))
    Slides();
  const bool dynamic = glacierGrid_ != nullptr && glacier::IsDynamic(glacier_.Melt.Method);
  if (dynamic)
    AddGlacierMassBalance();
  AddStatistics();
  StopIfNotFinite();
  if (glacierGrid_ != nullptr)
    AddGlacierStatistics();
  if (thawDepthTable_ && (*thawDepthTable_)->Active()) {
    if (statisticsCells_.empty() && BaseZoneGrid != nullptr)
      statisticsCells_ = StatisticsCellsOf(*this, Cells(), *BaseZoneGrid);
    for (const StatisticsCell &cell : statisticsCells_)
      (*thawDepthTable_)
          ->AddValue(cell.row, cell.column, cell.zone, (*thawDepth_)[cell.row][cell.column], 1.0);
  }
  EndStatistics();
  if (glacierGrid_ != nullptr)
    GlacierReservoirs();
  // The evaluation day belongs to the closing year: its balance is added first.
  if (dynamic && glacier::YearlyUpdateDue(day, month, hour, TimeStep, GetHoursToIntervalEnd(),
                                          glacier_.GMBEvalDay, glacier_.GMBEvalMonth))
    YearlyGlacierUpdate();
  WriteOutput();
  if (glacierGrid_ != nullptr)
    WriteGlacierOutput();
}

std::vector<ModuleStatistic *> schneemodellklasse::GlacierTables() {
  std::vector<ModuleStatistic *> tables;
  for (auto *table : {&firnMeltTable_, &iceMeltTable_, &snowMeltTable_, &totalMeltTable_,
                      &snowWithoutGlaciersTable_, &firnTable_, &massBalanceTable_,
                      &massBalanceGlacierTable_, &thawDepthTable_})
    if (*table)
      tables.push_back(table->get());
  return tables;
}

void schneemodellklasse::ResetStatistics() {
  for (StatisticFeed &feed : statistics_)
    feed.Table().ResetStep();
  for (ModuleStatistic *table : GlacierTables())
    (**table).ResetStep();
  for (TracerRecord &record : TracerRecords)
    if (record.Statistics)
      record.Statistics->ResetStep();
}

void schneemodellklasse::ComputeCells() {
  const CellIteration cells = Cells();
  cells.ForEachCell([&](long row, long column) {
    std::array<snow::StepPart, 2> parts{};
    const double temperature = (*temperature_)[row][column];
    std::span<snow::StepPart> used(parts.data(), 1);
    if (TimeStep > kLongStep) {
      parts[0] = {(*temperatureNight_)[row][column], NightFraction};
      parts[1] = {temperature, DayFraction};
      used = std::span<snow::StepPart>(parts.data(), 2);
    } else {
      parts[0] = {temperature, 1.0};
    }
    ComputeCell(row, column, used);
  });
}

void schneemodellklasse::ComputeCell(long row, long column, std::span<snow::StepPart> parts) {
  const SnowSection &s = section_;
  const double temperature = (*temperature_)[row][column];
  double &albedo = (*albedo_)[row][column];
  double &snowAge = snowAge_.grid[row][column];
  // The land-use albedo of the date, evaluated once and only when needed;
  // without a land use the cell keeps the albedo it has.
  double landuseAlbedo = std::nan("");
  const double albedoBefore = albedo;
  const auto landuse = [&] {
    if (std::isnan(landuseAlbedo))
      landuseAlbedo = LanduseAlbedo(row, column, albedoBefore);
    return landuseAlbedo;
  };
  outflow_.grid[row][column] = 0.0;
  meltOutflow_.grid[row][column] = 0.0;
  double fraction = 0.0; // V, the glacierized share
  if (glacierGrid_ != nullptr) {
    fraction = std::clamp((*glacierGrid_)[row][column], 0.0, 1.0);
    meltOnGlacier_.grid[row][column] = 0.0;
    firnMelt_.grid[row][column] = 0.0;
    iceMelt_.grid[row][column] = 0.0;
    if (fractionOld_.grid.Allocated())
      fractionOld_.grid[row][column] = (*glacierGrid_)[row][column];
  }
  const double stored = solid_.grid[row][column] + liquid_.grid[row][column];
  albedo = stored > snow::kAlbedoDepthBeforeMelt
               ? snow::SnowAlbedo(s.ALBsnow_min, s.ALBsnow_max, snowAge, temperature)
               : landuse();
  double water = 0.0; // solid + liquid of the cell's pack after the step
  double input = 0.0; // the water input, raised by the deposition index
  if (fraction > 0.0)
    ComputeGlacierCell(row, column, parts, water, input);
  else
    ComputeOwnPack(row, column, parts, water, input);

  daysSnow_.grid[row][column] = snow::SnowDayShare(water, StepsPerDay);
  snowAge = snow::NextSnowAge(snowAge, temperature, input, water, s.Pack.T0R + s.Pack.TransZone,
                              StepsPerDay);
  albedo = water > snow::kCoverDepth
               ? snow::SnowAlbedo(s.ALBsnow_min, s.ALBsnow_max, snowAge, temperature)
               : landuse();
  total_.grid[row][column] = water;
  if (totalOnGlacier_.grid.Allocated())
    totalOnGlacier_.grid[row][column] =
        solidOnGlacier_.grid[row][column] + liquidOnGlacier_.grid[row][column];
  if (snowFreeDays_ != nullptr)
    PermafrostTail(row, column, water);
}

void schneemodellklasse::ComputeOwnPack(long row, long column, std::span<snow::StepPart> parts,
                                        double &water, double &input) {
  const SnowSection &s = section_;
  snow::PackState pack;
  pack.Solid = solid_.grid[row][column];
  pack.Liquid = liquid_.grid[row][column];
  pack.Total = total_.grid[row][column];
  if (TracerCount > 0)
    TracersBeforePack(row, column, pack.Solid + pack.Liquid, (*waterInput_)[row][column]);

  const bool energyBalance = snow::IsEnergyBalance(s.Pack.Method);
  if (energyBalance) {
    pack.SnowTemperature = snowTemp_.grid[row][column];
    pack.SurfaceTemperature = surfTemp_.grid[row][column];
  }
  snow::CellForcing forcing = ForcingAt(row, column);
  snow::PrecipitationSplit split;
  const snow::CellWaterResult result =
      snow::AdvanceCellWater(s.Pack, step_, forcing, parts, split, pack);

  solid_.grid[row][column] = pack.Solid;
  liquid_.grid[row][column] = pack.Liquid;
  if (energyBalance) {
    snowTemp_.grid[row][column] = pack.SnowTemperature;
    surfTemp_.grid[row][column] = pack.SurfaceTemperature;
    // Reported only where evapotranspiration keeps the grid.
    if (snowEvaporation_ != nullptr)
      (*snowEvaporation_)[row][column] = pack.Evaporation;
  }
  if (snow::UsesDepositionIndex(s.Pack.Method))
    (*waterInput_)[row][column] = forcing.Precipitation;
  // A cell without glacier has no snow on a glacier.
  if (glacierGrid_ != nullptr)
    for (OwnedGrid *owned : {&solidOnGlacier_, &liquidOnGlacier_, &totalOnGlacier_})
      owned->grid[row][column] = 0.0;
  snowFraction_.grid[row][column] = split.Snow;
  rainFraction_.grid[row][column] = split.Rain;
  outflow_.grid[row][column] = result.Outflow;
  meltOutflow_.grid[row][column] = result.MeltOutflow;
  if (TracerCount > 0)
    TracersAfterPack(row, column, result.Outflow, pack.Liquid, pack.Solid);
  water = pack.Solid + pack.Liquid;
  input = forcing.Precipitation;
}

snow::CellForcing schneemodellklasse::ForcingAt(long row, long column) const {
  snow::CellForcing f;
  f.Precipitation = (*waterInput_)[row][column];
  if (wind_ != nullptr)
    f.Wind = (*wind_)[row][column];
  if (vapourPressure_ != nullptr)
    f.VapourPressure = (*vapourPressure_)[row][column];
  if (radiationCorrection_ != nullptr) {
    f.HasRadiationCorrection = true;
    f.RadiationCorrection = (*radiationCorrection_)[row][column];
  }
  if (depositionIndex_ != nullptr)
    f.DepositionIndex = (*depositionIndex_)[row][column];
  if (snow::IsEnergyBalance(section_.Pack.Method)) {
    f.Humidity = (*humidity_)[row][column];
    f.Cloudiness = (*cloudiness_)[row][column];
    f.Radiation = (*globalRadiation_)[row][column];
    f.Albedo = (*albedo_)[row][column];
    f.Elevation = (*elevation_)[row][column];
    if (surfaceTemperature_ != nullptr) {
      f.HasMeasuredSurfaceTemperature = true;
      f.MeasuredSurfaceTemperature = (*surfaceTemperature_)[row][column];
    }
  }
  f.OpenWater =
      lakeFlag_ != 0 && (*lakeCodes_)[row][column] > 0.0 && (*ponding_)[row][column] > 0.0;
  return f;
}

double schneemodellklasse::LanduseAlbedo(long row, long column, double otherwise) const {
  const double code = (*landuseLayers_[1])[row][column];
  if (LanduseTable == nullptr || !(code >= 1.0))
    return otherwise;
  const auto record = static_cast<std::size_t>(std::lround(code));
  if (record > LanduseTable->Count())
    return otherwise;
  return (*LanduseTable)[record].GetAlbedo(*Log, static_cast<int>(ActualDay),
                                           static_cast<int>(ActualMonth),
                                           static_cast<int>(ActualYear), 1, static_cast<int>(row),
                                           static_cast<int>(column), (*elevation_)[row][column]);
}

void schneemodellklasse::TracersBeforePack(long row, long column, double water, double input) {
  for (int t = 1; t <= TracerCount; ++t) {
    TracerRecord &record = TracerRecords[static_cast<std::size_t>(t)];
    const snow::TracerKind kind = KindOf((*TracerInfoTable)[static_cast<std::size_t>(t)], record);
    double &stored = record.StorageGrid[row][column];
    stored = snow::TracerBeforePack(
        kind, stored, (*tracerInputs_[static_cast<std::size_t>(t)])[row][column], water, input);
  }
}

void schneemodellklasse::TracersAfterPack(long row, long column, double outflow, double liquid,
                                          double solid) {
  for (int t = 1; t <= TracerCount; ++t) {
    TracerRecord &record = TracerRecords[static_cast<std::size_t>(t)];
    const snow::TracerKind kind = KindOf((*TracerInfoTable)[static_cast<std::size_t>(t)], record);
    const snow::TracerAfterPack after =
        snow::TracerLeavingPack(kind, record.StorageGrid[row][column], outflow, liquid, solid);
    record.StorageGrid[row][column] = after.Stored;
    record.FluxGrid[row][column] = after.Outflow;
  }
}

double schneemodellklasse::SnowPack(int row, int col, double &snowShare, double *solid,
                                    double *liquid, double temperature, double fraction,
                                    double *total, double *snowTemperature,
                                    double *surfaceTemperature, double *evaporation,
                                    bool reuseSplit) {
  const snow::CellForcing forcing = ForcingAt(row, col);
  snow::PackState pack{*solid,      *liquid, *total, *snowTemperature, *surfaceTemperature,
                       *evaporation};
  snow::PrecipitationSplit split{snowFraction_.grid[row][col], rainFraction_.grid[row][col]};
  const snow::PartResult result = snow::AdvancePackPart(section_.Pack, step_, forcing, temperature,
                                                        fraction, reuseSplit, split, pack);
  *solid = pack.Solid;
  *liquid = pack.Liquid;
  *total = pack.Total;
  *snowTemperature = pack.SnowTemperature;
  *surfaceTemperature = pack.SurfaceTemperature;
  *evaporation = pack.Evaporation;
  snowFraction_.grid[row][col] = split.Snow;
  rainFraction_.grid[row][col] = split.Rain;
  snowShare = result.SnowShare;
  return result.Melt;
}

void schneemodellklasse::CopyUnitMembers() {
  if (SpinUpSwitch == 0)
    return;
  std::vector<Grid *> grids{
      &total_.grid,        &solid_.grid,        &liquid_.grid, &daysSnow_.grid, &snowAge_.grid,
      &snowFraction_.grid, &rainFraction_.grid, albedo_,       &outflow_.grid,  &meltOutflow_.grid};
  if (snow::IsEnergyBalance(section_.Pack.Method)) {
    grids.push_back(&snowTemp_.grid);
    grids.push_back(&surfTemp_.grid);
  }
  if (snow::HasSlides(section_.Pack.Method))
    for (OwnedGrid *owned : {&inputMass_, &mobileMass_, &deposition_})
      grids.push_back(&owned->grid);
  if (glacierGrid_ != nullptr)
    for (OwnedGrid *owned :
         {&firnMelt_, &iceMelt_, &solidOnGlacier_, &liquidOnGlacier_, &totalOnGlacier_,
          &meltOnGlacier_, &firnTotal_, &fractionOld_, &massBalance_, &evaporationOnGlacier_})
      if (owned->grid.Allocated())
        grids.push_back(&owned->grid);
  Cells().CopyMasterResults(grids);
}

void schneemodellklasse::AddStatistics() {
  bool anyTable = TracerCount > 0;
  for (StatisticFeed &feed : statistics_)
    anyTable = anyTable || feed.Table().Active();
  if (!anyTable || BaseZoneGrid == nullptr)
    return;
  if (statisticsCells_.empty())
    statisticsCells_ = StatisticsCellsOf(*this, Cells(), *BaseZoneGrid);
  // One table per job: the module's tables first, then the tracers'.
  const std::size_t tables = statistics_.size();
  ForEachTableJob(tables + static_cast<std::size_t>(TracerCount), [&](std::size_t job) {
    if (job < tables) {
      StatisticFeed &feed = statistics_[job];
      zonalstatistic &table = feed.Table();
      if (!table.Active())
        return;
      for (const StatisticsCell &cell : statisticsCells_)
        table.AddValue(cell.row, cell.column, cell.zone, (*feed.values)[cell.row][cell.column],
                       1.0);
      return;
    }
    const std::size_t t = job - tables + 1;
    TracerRecord &record = TracerRecords[t];
    if (!record.Statistics)
      return;
    // Evaporating tracers are weighted by the pack's water.
    const bool evaporating = (*TracerInfoTable)[t].evaporating == 1;
    for (const StatisticsCell &cell : statisticsCells_)
      record.Statistics->AddValue(cell.row, cell.column, cell.zone,
                                  record.StorageGrid[cell.row][cell.column],
                                  evaporating ? total_.grid[cell.row][cell.column] : 1.0);
  });
}

// The pack's water and what leaves it, summed over the own cells once per
// step (the statistics tables take them only when they are written).
void schneemodellklasse::StopIfNotFinite() const {
  const std::array<const OwnedGrid *, 4> owned{&solid_, &liquid_, &total_, &outflow_};
  double water = 0.0;
  Cells().ForEachOwnCell([&](long r, long c) {
    for (const OwnedGrid *grid : owned)
      water += grid->grid[r][c];
  });
  std::array<WaterGrid, 4> grids;
  for (std::size_t i = 0; i < owned.size(); ++i)
    grids[i] = {(*Registry)[owned[i]->index].Identifier, &owned[i]->grid};
  StopIfWaterNotFinite(*this, Cells(), water, grids);
}

void schneemodellklasse::EndStatistics() {
  for (StatisticFeed &feed : statistics_)
    feed.Table().EndOfStep(ActualYear, ActualMonth, ActualDay, ActualHour, 1);
  // The total glacier melt is set by the reservoirs afterwards.
  for (ModuleStatistic *table : GlacierTables())
    if (table != totalMeltTable_.get())
      (**table).EndOfStep(ActualYear, ActualMonth, ActualDay, ActualHour, 1);
}

void schneemodellklasse::WriteOutput() {
  for (const OwnedGrid *owned : {&total_, &solid_, &liquid_, &daysSnow_, &snowAge_, &snowFraction_,
                                 &rainFraction_, &outflow_, &meltOutflow_})
    WriteGridOutput(owned->index);
  if (snow::HasSlides(section_.Pack.Method))
    for (const OwnedGrid *owned : {&inputMass_, &mobileMass_, &deposition_})
      WriteGridOutput(owned->index);
  if (snow::IsEnergyBalance(section_.Pack.Method))
    for (const OwnedGrid *owned : {&snowTemp_, &surfTemp_})
      WriteGridOutput(owned->index);
  for (TracerRecord &record : TracerRecords) {
    if (record.Statistics)
      record.Statistics->EndOfStep(ActualYear, ActualMonth, ActualDay, ActualHour, 1);
    WriteGridOutput(record.StorageGridIndex);
  }
}

} // namespace tavro
