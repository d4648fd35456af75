// The glacier part of the snow step: the glacier branch of the cell loop,
// the glacier mass balance, the glacier statistics, the reservoirs on rank 0
// that give the glacier runoff of every subbasin, the yearly update of the
// dynamic glaciers and the glacier outputs; and the permafrost thaw.
#include "landsurface/snow_model.h"

#include "kernel/diagnostics_log.h"
#include "raster/output/zonal_statistic.h"
#include "raster/parallel/cell_iteration.h"
#include "raster/parallel/collective_failure.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace tavro {
namespace {

void Store(const glacier::Pack &pack, double &solid, double &liquid) {
  solid = pack.Solid;
  liquid = pack.Liquid;
}

} // namespace

glacier::MeltForcing schneemodellklasse::GlacierMeltForcing(long row, long column) const {
  glacier::MeltForcing f;
  f.Temperature = (*temperature_)[row][column];
  f.T0 = section_.Pack.T0;
  f.StepsPerDay = StepsPerDay;
  if (glacierRadiation_ != nullptr)
    f.Radiation = (*glacierRadiation_)[row][column];
  f.SnowRadiationFactor = snowRadiationFactor_;
  f.IceRadiationFactor = iceRadiationFactor_;
  return f;
}

void schneemodellklasse::ComputeGlacierCell(long row, long column, std::span<snow::StepPart> parts,
                                            double &water, double &input) {
  const SnowSection &s = section_;
  const int method = glacier_.Melt.Method;
  glacier::Pack own{solid_.grid[row][column], liquid_.grid[row][column], total_.grid[row][column]};
  glacier::Pack onGlacier{solidOnGlacier_.grid[row][column], liquidOnGlacier_.grid[row][column],
                          totalOnGlacier_.grid[row][column]};
  snow::CellForcing forcing = ForcingAt(row, column);
  const glacier::MeltForcing meltForcing = GlacierMeltForcing(row, column);
  double glacierSnowMelt = 0.0; // F, the melt the glacier pack moved
  if (method == 13) {
    glacierSnowMelt = GlacierPacksBySnowModel(row, column, parts, forcing, own, onGlacier);
  } else {
    // The whole step at once, with the day temperature.
    const double share = snow::SnowShare(s.Pack, meltForcing.Temperature, false);
    const double p = forcing.Precipitation;
    snowFraction_.grid[row][column] = share * p;
    rainFraction_.grid[row][column] = (1.0 - share) * p;
    const glacier::GlacierCellSnow r =
        glacier::GlacierSnowStep(glacier_.Melt, meltForcing, share, p, s.Pack.CWH, own, &onGlacier);
    outflow_.grid[row][column] = r.Own.Outflow;
    meltOutflow_.grid[row][column] = r.Own.Moved > 0.0 ? r.Own.Outflow : 0.0;
    meltOnGlacier_.grid[row][column] = r.Glacier.Outflow;
    glacierSnowMelt = r.Glacier.Moved;
  }
  // Ice and firn melt once the glacier's snow is gone.
  if (meltForcing.Temperature > meltForcing.T0 && onGlacier.Solid <= 0.0) {
    double debris = 1.0;
    if (debris_ != nullptr && (*debris_)[row][column] > NoData + 1.0)
      debris = (*debris_)[row][column];
    glacier::IceFirnMelt melt;
    if (glacier::IsDynamic(method)) {
      std::span<double> levels(firnStack_[row][column],
                               static_cast<std::size_t>(glacier_.FirnLevels) + 1);
      melt = glacier::DynamicIceFirnMelt(glacier_.Melt, meltForcing, debris, glacierSnowMelt,
                                         firnTotal_.grid[row][column], levels, NoData);
      if (firnTotal_.grid[row][column] > 0.0)
        firnTotal_.grid[row][column] = levels[0];
    } else {
      melt = glacier::StaticIceFirnMelt(glacier_.Melt, meltForcing, (*glacierGrid_)[row][column],
                                        debris, glacierSnowMelt);
    }
    iceMelt_.grid[row][column] = melt.Ice;
    firnMelt_.grid[row][column] += melt.Firn;
  }
  Store(own, solid_.grid[row][column], liquid_.grid[row][column]);
  Store(onGlacier, solidOnGlacier_.grid[row][column], liquidOnGlacier_.grid[row][column]);
  water = own.Solid + own.Liquid;
  input = forcing.Precipitation;
}

double schneemodellklasse::GlacierPacksBySnowModel(long row, long column,
                                                   std::span<snow::StepPart> parts,
                                                   snow::CellForcing &forcing, glacier::Pack &own,
                                                   glacier::Pack &onGlacier) {
  const snow::SnowParameters &p = section_.Pack;
  const bool energyBalance = snow::IsEnergyBalance(p.Method);
  snow::PackState cell{own.Solid, own.Liquid, own.Total, 0.0, 0.0, 0.0};
  snow::PackState glacierPack{onGlacier.Solid, onGlacier.Liquid, onGlacier.Total, 0.0, 0.0, 0.0};
  if (energyBalance) {
    cell.SnowTemperature = snowTemp_.grid[row][column];
    cell.SurfaceTemperature = surfTemp_.grid[row][column];
    glacierPack.SnowTemperature = snowTempOnGlacier_.grid[row][column];
    glacierPack.SurfaceTemperature = surfTempOnGlacier_.grid[row][column];
  }
  snow::PrecipitationSplit split;
  double cellMelt = 0.0;
  double glacierMelt = 0.0;
  double snowfall = 0.0;
  double share = 0.0;
  // Each part: the cell's pack, then the glacier pack on the same split.
  for (const snow::StepPart &part : parts) {
    const snow::PartResult r = snow::AdvancePackPart(p, step_, forcing, part.Temperature,
                                                     part.Fraction, false, split, cell);
    cellMelt += r.Melt;
    snowfall += r.Snowfall;
    share = r.SnowShare;
    glacierMelt += snow::AdvancePackPart(p, step_, forcing, part.Temperature, part.Fraction, true,
                                         split, glacierPack)
                       .Melt;
  }
  if (snow::UsesDepositionIndex(p.Method)) {
    forcing.Precipitation += snow::EffectiveDepositionIndex(forcing) * snowfall;
    (*waterInput_)[row][column] = forcing.Precipitation;
  }
  snowFraction_.grid[row][column] = forcing.Precipitation * share;
  rainFraction_.grid[row][column] = (1.0 - share) * forcing.Precipitation;
  own = {cell.Solid, cell.Liquid, cell.Total};
  onGlacier = {glacierPack.Solid, glacierPack.Liquid, glacierPack.Total};
  const glacier::MeltTransfer ownMoved = glacier::MoveMelt(own, cellMelt, p.CWH);
  const glacier::MeltTransfer glacierMoved = glacier::MoveMelt(onGlacier, glacierMelt, p.CWH);
  outflow_.grid[row][column] = ownMoved.Outflow;
  meltOutflow_.grid[row][column] = ownMoved.Moved > 0.0 ? ownMoved.Outflow : 0.0;
  meltOnGlacier_.grid[row][column] = glacierMoved.Outflow;
  if (energyBalance) {
    snowTemp_.grid[row][column] = cell.SnowTemperature;
    surfTemp_.grid[row][column] = cell.SurfaceTemperature;
    snowTempOnGlacier_.grid[row][column] = glacierPack.SnowTemperature;
    surfTempOnGlacier_.grid[row][column] = glacierPack.SurfaceTemperature;
    if (snowEvaporation_ != nullptr)
      (*snowEvaporation_)[row][column] = cell.Evaporation;
    evaporationOnGlacier_.grid[row][column] = glacierPack.Evaporation;
  }
  return glacierMoved.Moved;
}

void schneemodellklasse::PermafrostTail(long row, long column, double water) {
  double &cover = (*snowCoverDays_)[row][column];
  double &free = (*snowFreeDays_)[row][column];
  double &depth = (*thawDepth_)[row][column];
  if (water > permafrost_.MaxSWESnowFree) {
    cover += 1.0 / StepsPerDay;
    if (cover >= permafrost_.MinSnowAgeRefreeze) {
      free = 0.0;
      depth = 0.0;
    }
  } else {
    cover = 0.0;
    free += 1.0 / StepsPerDay;
    if (free > 0.0)
      depth = (*thawCoefficient_)[row][column] * std::sqrt(free);
  }
  double &root = (*rootDepth1_)[row][column];
  root = std::min(root, depth);
}

// Between yearly updates every glacier cell adds the step's balance of its
// glacier pack, firn and ice.
void schneemodellklasse::AddGlacierMassBalance() {
  const bool slides = inputMass_.grid.Allocated();
  Cells().ForEachCell([&](long row, long column) {
    if (!((*glacierGrid_)[row][column] > 0.0))
      return;
    double balance = snowFraction_.grid[row][column] + rainFraction_.grid[row][column] -
                     meltOnGlacier_.grid[row][column] - firnMelt_.grid[row][column] -
                     iceMelt_.grid[row][column] - evaporationOnGlacier_.grid[row][column];
    if (slides)
      balance += deposition_.grid[row][column] + mobileMass_.grid[row][column] -
                 inputMass_.grid[row][column];
    massBalance_.grid[row][column] += balance;
  });
}

void schneemodellklasse::AddGlacierStatistics() {
  const bool dynamic = glacier::IsDynamic(glacier_.Melt.Method);
  if (glacierCells_.empty())
    Cells().ForEachOwnCell([&](long row, long column) {
      glacierCells_.push_back({static_cast<std::int32_t>(row), static_cast<std::int32_t>(column),
                               SubbasinOf((*subbasinGrid_)[row][column])});
    });
  if (statisticsCells_.empty() && BaseZoneGrid != nullptr)
    statisticsCells_ = StatisticsCellsOf(*this, Cells(), *BaseZoneGrid);
  // A value on the glacierized share v and nothing (0) on the rest.
  const auto add = [](std::unique_ptr<ModuleStatistic> &table, const StatisticsCell &cell,
                      double value, double v) {
    if (!table || !(*table)->Active())
      return;
    (*table)->AddValue(cell.row, cell.column, cell.zone, value, v);
    (*table)->AddValue(cell.row, cell.column, cell.zone, 0.0, 1.0 - v);
  };
  for (std::vector<ExactZoneSums> &sums : glacierMelt_)
    sums.assign(static_cast<std::size_t>(subbasinCount_) + 1, ExactZoneSums{});
  // The reservoirs' inflow: a value on the share v, 0 on the rest.
  const auto inflow = [this](std::vector<ExactZoneSums> &sums, const StatisticsCell &cell,
                             double value, double v) {
    if (cell.zone < 0 || static_cast<std::size_t>(cell.zone) >= sums.size())
      return;
    ExactZoneSums &zone = sums[static_cast<std::size_t>(cell.zone)];
    double weight = 1.0;
    if (CellWeights != nullptr && CellWeights->HasRow(cell.row) &&
        (*CellWeights)[cell.row][cell.column] > zonalstatistic::WeightNoData)
      weight = (*CellWeights)[cell.row][cell.column];
    zone.n.Add(1.0);
    zone.RelCellSum.Add(weight);
    zone.sx.Add(value * weight * v);
  };
  for (const StatisticsCell &cell : glacierCells_) {
    const long r = cell.row;
    const long c = cell.column;
    const double v = std::clamp((*glacierGrid_)[r][c], 0.0, 1.0);
    const double firn = firnTotal_.grid[r][c] > 0.0 ? 1.0 : 0.0;
    const double snowMelt = meltOnGlacier_.grid[r][c];
    const std::array<double, 3> melt{iceMelt_.grid[r][c], firnMelt_.grid[r][c] + firn * snowMelt,
                                     (1.0 - firn) * snowMelt};
    for (std::size_t k = 0; k < melt.size(); ++k)
      inflow(glacierMelt_[k], cell, melt[k], v);
    add(firnMeltTable_, cell, melt[1], v);
    add(iceMeltTable_, cell, melt[0], v);
    add(snowMeltTable_, cell, melt[2], v);
    if (!dynamic)
      continue;
    add(firnTable_, cell, firnTotal_.grid[r][c], v);
    add(massBalanceTable_, cell, massBalance_.grid[r][c], v);
    if (v > 0.0 && (*massBalanceGlacierTable_)->Active())
      (*massBalanceGlacierTable_)->AddValue(r, c, cell.zone, massBalance_.grid[r][c], v);
  }
  for (const StatisticsCell &cell : statisticsCells_) {
    const long r = cell.row;
    const long c = cell.column;
    const double v = std::clamp((*glacierGrid_)[r][c], 0.0, 1.0);
    if ((*snowWithoutGlaciersTable_)->Active()) {
      (*snowWithoutGlaciersTable_)
          ->AddValue(r, c, cell.zone, solid_.grid[r][c] + liquid_.grid[r][c], 1.0 - v);
      (*snowWithoutGlaciersTable_)->AddValue(r, c, cell.zone, 0.0, v);
    }
  }
}

// Rank 0 routes the glacier melt of every glacier subbasin through the three
// reservoirs; their outflow, in mm over the subbasin, replaces the
// subbasin's runoff before the soil-water module adds its own.
void schneemodellklasse::GlacierReservoirs() {
  for (std::vector<ExactZoneSums> &sums : glacierMelt_)
    MPIReduceExactZones(sums);
  if (MPIRank == 0) {
    const auto &[ice, firn, snowOnIce] = glacierMelt_;
    const auto mean = [](const std::vector<ExactZoneSums> &sums, std::size_t j) {
      const double weight = sums[j].RelCellSum.ToDouble();
      return weight != 0.0 ? sums[j].sx.ToDouble() / weight : 0.0;
    };
    for (int j = 1; j <= subbasinCount_; ++j) {
      const auto k = static_cast<std::size_t>(j);
      const double weight = ice[k].RelCellSum.ToDouble();
      const double count = ice[k].n.ToDouble();
      if (!glacierSubbasins_[k].HasGlacier) {
        (*totalMeltTable_)->AddValue(0, 0, j, 0.0, weight);
        continue;
      }
      const double z = glacier::GlacierizedShare(glacierSubbasins_[k]);
      double &qIce = reservoirs_.Ice[k];
      double &qFirn = reservoirs_.Firn[k];
      double &qSnow = reservoirs_.Snow[k];
      qIce = glacier::GlacierReservoir(qIce, mean(ice, k), z, glacier_.kice_els);
      qFirn = glacier::GlacierReservoir(qFirn, mean(firn, k), z, glacier_.kfirn_els);
      qSnow = glacier::GlacierReservoir(qSnow, mean(snowOnIce, k), z, glacier_.ksnow_els);
      // In mm over the whole subbasin.
      const double runoff = weight > 0.0 ? (qIce + qFirn + qSnow) * z * count / weight : 0.0;
      (*totalMeltTable_)->AddValue(0, 0, j, runoff, weight);
      if (qg_ != nullptr && j <= qg_->SubbasinCount())
        qg_->Components[0][k] = runoff;
    }
  }
  (*totalMeltTable_)->EndOfStep(ActualYear, ActualMonth, ActualDay, ActualHour, 0);
}

void schneemodellklasse::YearlyGlacierUpdate() {
  const glacier::YearlyParameters parameters{glacier_.MaxSnowPackToCreateGlacier,
                                             glacier_.Glaciers.RelSizeNewGlacier, NoData};
  const std::size_t levels = static_cast<std::size_t>(glacier_.FirnLevels) + 1;
  Cells().ForEachOwnCell([&](long r, long c) {
    glacier::YearlyCell cell;
    cell.Fraction = (*glacierGrid_)[r][c];
    cell.Code = (*glacierCodes_)[r][c];
    cell.CodeOld = codesOld_.grid[r][c];
    cell.Own = {solid_.grid[r][c], liquid_.grid[r][c], total_.grid[r][c]};
    cell.Glacier = {solidOnGlacier_.grid[r][c], liquidOnGlacier_.grid[r][c],
                    totalOnGlacier_.grid[r][c]};
    cell.MassBalance = massBalance_.grid[r][c];
    cell.OldMassBalance = oldMassBalance_.grid[r][c];
    cell.FirnTotal = firnTotal_.grid[r][c];
    cell.FirnLevels = std::span<double>(firnStack_[r][c], levels);
    glacier::YearlyFirnUpdate(parameters, cell);
    (*glacierGrid_)[r][c] = cell.Fraction;
    (*glacierCodes_)[r][c] = cell.Code;
    codesOld_.grid[r][c] = cell.CodeOld;
    solid_.grid[r][c] = cell.Own.Solid;
    liquid_.grid[r][c] = cell.Own.Liquid;
    total_.grid[r][c] = cell.Own.Total;
    solidOnGlacier_.grid[r][c] = cell.Glacier.Solid;
    liquidOnGlacier_.grid[r][c] = cell.Glacier.Liquid;
    totalOnGlacier_.grid[r][c] = cell.Glacier.Total;
    massBalance_.grid[r][c] = cell.MassBalance;
    oldMassBalance_.grid[r][c] = cell.OldMassBalance;
    firnTotal_.grid[r][c] = cell.FirnTotal;
  });

  // Rank 0 updates the glaciers over the whole raster: it reads these before
  // and hands back everything it changed.
  const bool exchange = MPIProcessCount > 1;
  const std::array<std::pair<int, Grid *>, 7> gathered{{
      {fractionOld_.index, &fractionOld_.grid},
      {codesOld_.index, &codesOld_.grid},
      {massBalance_.index, &massBalance_.grid},
      {oldMassBalance_.index, &oldMassBalance_.grid},
      {firnTotal_.index, &firnTotal_.grid},
      {glacierGridIndex_, glacierGrid_},
      {glacierCodesIndex_, glacierCodes_},
  }};
  const std::array<std::pair<int, Grid *>, 6> scattered{{
      {glacierGridIndex_, glacierGrid_},
      {glacierCodesIndex_, glacierCodes_},
      {massBalance_.index, &massBalance_.grid},
      {oldMassBalance_.index, &oldMassBalance_.grid},
      {firnTotal_.index, &firnTotal_.grid},
      {codesOld_.index, &codesOld_.grid},
  }};
  if (exchange) {
    for (const auto &[index, grid] : gathered)
      MPIGatherGrid(index, grid);
    MPIGatherStack(firnTotal_.index, &firnStack_);
  }
  if (MPIRank == 0) {
    Log->Entry(Concat("INFO: yearly update of the dynamic glaciers on ", ActualDay, ".",
                      ActualMonth, ".", ActualYear, " ", ActualHour, ":00",
                      DiagnosticsLog::EndToken));
    glaciers_->GlacierBalance();
    glaciers_->RedistributeGlacierMassBalance(-1);
  }
  if (exchange) {
    for (const auto &[index, grid] : scattered)
      MPIScatterGrid(index, grid);
    MPIScatterStack(firnTotal_.index, &firnStack_, glacier_.FirnLevels + 1);
  }
  Log->Entry(
      Concat("DEBUG: glaciers changed, updating glaicerlist now...", DiagnosticsLog::EndToken));
  ShareGlacierSubbasins();
  Cells().ForEachOwnCell([&](long r, long c) {
    if ((*subbasinGrid_)[r][c] != NoData && (*glacierGrid_)[r][c] > 0.0) {
      oldMassBalance_.grid[r][c] = massBalance_.grid[r][c];
    } else {
      oldMassBalance_.grid[r][c] = 0.0;
      massBalance_.grid[r][c] = 0.0;
    }
  });
}

void schneemodellklasse::WriteGlacierOutput() {
  WriteGridOutput(firnMelt_.index);
  WriteGridOutput(iceMelt_.index);
  if (!glacier::IsDynamic(glacier_.Melt.Method))
    return;
  WriteStackOutput(firnTotal_.index);
  for (const OwnedGrid *owned : {&massBalance_, &oldMassBalance_, &solidOnGlacier_,
                                 &liquidOnGlacier_, &totalOnGlacier_, &meltOnGlacier_})
    WriteGridOutput(owned->index);
  if (snow::IsEnergyBalance(section_.Pack.Method))
    for (const OwnedGrid *owned : {&surfTempOnGlacier_, &snowTempOnGlacier_})
      WriteGridOutput(owned->index);
  WriteGridOutput(evaporationOnGlacier_.index);
}

} // namespace tavro
