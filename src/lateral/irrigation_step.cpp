// Irrigation step: the owners compute their cells' demand, the subbasins'
// surface-water demands meet exactly on the routing process, which decides
// the supply; every process then applies the supplied fraction to its cells.
#include "lateral/irrigation_model.h"

#include "lateral/irrigation/irrigation_demand.h"
#include "lateral/irrigation/irrigation_supply.h"
#include "raster/handover/river_exchange.h"
#include "raster/output/module_statistic.h"
#include "raster/parallel/cell_iteration.h"
#include "raster/parallel/non_finite_water.h"
#include "raster/parallel/zone_reduction.h"
#include "tables/irrigation_table.h"

#include <mpi.h>

#include <array>

namespace tavro {

const IrrigationTableEntry *irrigationclass::EntryOf(long row, long column) const {
  if (IrrigationTable == nullptr)
    return nullptr;
  const double value = (*codes_)[row][column];
  const long code = static_cast<long>(value);
  if (!(value >= 1.0) || code < 1 || static_cast<std::size_t>(code) > IrrigationTable->Count())
    return nullptr;
  const IrrigationTableEntry &entry = (*IrrigationTable)[static_cast<std::size_t>(code)];
  return entry.Method < 1 ? nullptr : &entry;
}

double irrigationclass::CellArea(long row, long column) const {
  const double weight = CellWeights != nullptr ? (*CellWeights)[row][column] : 1.0;
  return CellSize * CellSize * weight;
}

void irrigationclass::ComputeTimeStep(long hour, long day, long month, long year) {
  if (!WorksThisRun())
    return;
  teilmodellklasse::ComputeTimeStep(hour, day, month, year);
  (*groundwaterTable_)->ResetStep();
  (*surfaceTable_)->ResetStep();
  for (TracerRecord &record : TracerRecords)
    if (record.Statistics)
      record.Statistics->ResetStep();
  ComputeDemand(month, day);
  DecideSupply();
  ApplySupply();
  // The amounts applied in this step, which this module owns from now on.
  if (amountsIndex_ > 0)
    WriteGridOutput(amountsIndex_);
  EndStatistics(hour, day, month, year);
}

void irrigationclass::ComputeDemand(long month, long day) {
  Cells().ForEachCell([&](long r, long c) {
    const IrrigationTableEntry *entry = EntryOf(r, c);
    double amount = 0.0;
    if (entry != nullptr) {
      IrrigationCellState cell;
      cell.previous = previous_[r][c];
      cell.sb1 = (*sb1_)[r][c];
      cell.sbLow = (*sbLow_)[r][c];
      cell.sbHigh = (*sbHigh_)[r][c];
      cell.rootDepth = (*rootDepth_)[r][c];
      cell.etr2etp = (*etr2etp_)[r][c];
      cell.maxPumping = (*maxPumping_)[r][c];
      cell.external = amountsGrid_ != nullptr ? (*amountsGrid_)[r][c] : 0.0;
      amount = LimitByOrigin(
          entry->Origin,
          IrrigationDemand(*entry, cell, TimeStep, static_cast<int>(month), static_cast<int>(day)),
          cell.maxPumping);
    }
    demand_[r][c] = amount;
  });
}

void irrigationclass::DecideSupply() {
  const auto count = static_cast<std::size_t>(ZoneCount > 0 ? ZoneCount : 0);
  std::vector<ExactZoneSums> sums(count + 1);
  Cells().ForEachOwnCell([&](long r, long c) {
    const IrrigationTableEntry *entry = EntryOf(r, c);
    if (entry == nullptr || entry->Origin != irrigation::SurfaceWater)
      return;
    const int zone = ZoneIndexOf(*this, (*BaseZoneGrid)[r][c]);
    sums[static_cast<std::size_t>(zone)].sx.Add(demand_[r][c] * CellArea(r, c) / 1000.0);
  });
  MPIReduceExactZones(sums);

  const int tracers = TracerCount;
  riverConc_.assign((static_cast<std::size_t>(tracers) + 1) * (count + 1), 0.0);
  if (MPIRank == 0) {
    std::vector<SubbasinSupply> supply(count + 1);
    const double total = ZoneTable != nullptr ? (*ZoneTable)[0].rel : 0.0;
    for (std::size_t i = 1; i <= count; ++i) {
      SubbasinSupply &s = supply[i];
      s.demandVolume = sums[i].sx.ToDouble();
      s.area = ZoneTable != nullptr ? (*ZoneTable)[i].rel * total : 0.0;
      s.reservoir = (*maxIrrigFromReservoirs_)[0][i];
      s.river = (*maxIrrig_)[0][i];
      s.target = routingTarget_ != nullptr && i <= routingTarget_->Target.Count()
                     ? routingTarget_->Target[i]
                     : 0;
    }
    SupplySubbasins(supply, riverflow_, TimeStep);
    for (std::size_t i = 1; i <= count; ++i) {
      fraction_[i] = supply[i].fraction;
      demandVolume_[i] = supply[i].demandVolume;
      (*maxIrrig_)[0][i] = supply[i].supplyRatio;
      (*maxIrrigFromReservoirs_)[0][i] = supply[i].fromReservoir;
      for (int k = 1; k <= tracers && k <= maxIrrig_->TracerCount(); ++k)
        riverConc_[static_cast<std::size_t>(k) * (count + 1) + i] = (*maxIrrig_)[k][i];
    }
  }
  MPI_Bcast(fraction_.data(), static_cast<int>(fraction_.size()), MPI_DOUBLE, 0, MPI_COMM_WORLD);
  MPI_Bcast(riverConc_.data(), static_cast<int>(riverConc_.size()), MPI_DOUBLE, 0, MPI_COMM_WORLD);
  if (riverflow_ != nullptr)
    BroadcastRiverFlows(*riverflow_, false);
}

void irrigationclass::ApplySupply() {
  const auto count = static_cast<std::size_t>(ZoneCount > 0 ? ZoneCount : 0);
  const int tracers = TracerCount;
  Cells().ForEachCell([&](long r, long c) {
    const IrrigationTableEntry *entry = EntryOf(r, c);
    double amount = demand_[r][c];
    const int zone = ZoneIndexOf(*this, (*BaseZoneGrid)[r][c]);
    if (entry != nullptr && entry->Origin == irrigation::SurfaceWater)
      amount *= fraction_[static_cast<std::size_t>(zone)];
    const double p = (*precipitation_)[r][c];
    for (int k = 1; k <= tracers; ++k) {
      TracerRecord &record = TracerRecords[static_cast<std::size_t>(k)];
      if (!record.FluxGrid.Allocated())
        continue;
      const Grid *input = tracerInput_.size() > static_cast<std::size_t>(k)
                              ? tracerInput_[static_cast<std::size_t>(k)]
                              : nullptr;
      const double cIn = input != nullptr ? (*input)[r][c] : 0.0;
      double source = 0.0;
      bool known = false;
      if (entry != nullptr && entry->Origin == irrigation::Groundwater) {
        const Grid *soil = tracerSoil_.size() > static_cast<std::size_t>(k)
                               ? tracerSoil_[static_cast<std::size_t>(k)]
                               : nullptr;
        source = soil != nullptr ? (*soil)[r][c] : 0.0;
        known = true;
      } else if (entry != nullptr && entry->Origin == irrigation::SurfaceWater) {
        source =
            riverConc_[static_cast<std::size_t>(k) * (count + 1) + static_cast<std::size_t>(zone)];
        known = true;
      }
      if (known || amount <= 0.0)
        record.FluxGrid[r][c] = IrrigatedConcentration(p, cIn, amount, source);
    }
    demand_[r][c] = amount;
    previous_[r][c] = amount;
    if (amountsGrid_ != nullptr)
      (*amountsGrid_)[r][c] = amount;
    (*precipitation_)[r][c] = p + amount;
  });
}

void irrigationclass::EndStatistics(long hour, long day, long month, long year) {
  const auto count = static_cast<std::size_t>(ZoneCount > 0 ? ZoneCount : 0);
  std::vector<ExactZoneSums> applied(count + 1);
  double water = 0.0;
  Cells().ForEachOwnCell([&](long r, long c) {
    const IrrigationTableEntry *entry = EntryOf(r, c);
    const int origin = entry != nullptr ? entry->Origin : 0;
    const double amount = demand_[r][c];
    water += amount + (*precipitation_)[r][c];
    const int zone = ZoneIndexOf(*this, (*BaseZoneGrid)[r][c]);
    if (entry == nullptr || origin == irrigation::Groundwater ||
        origin == irrigation::SurfaceWater) {
      (*groundwaterTable_)
          ->AddValue(r, c, zone, origin == irrigation::Groundwater ? amount : 0.0, 1.0);
      (*surfaceTable_)
          ->AddValue(r, c, zone, origin == irrigation::SurfaceWater ? amount : 0.0, 1.0);
      ExactZoneSums &sum = applied[static_cast<std::size_t>(zone)];
      const double weight = CellWeights != nullptr ? (*CellWeights)[r][c] : 1.0;
      sum.n.Add(1.0);
      sum.RelCellSum.Add(weight);
      if (origin == irrigation::SurfaceWater)
        sum.sx.Add(amount * weight);
    }
    for (int k = 1; k <= TracerCount; ++k) {
      TracerRecord &record = TracerRecords[static_cast<std::size_t>(k)];
      if (record.Statistics && record.FluxGrid.Allocated())
        record.Statistics->AddValue(r, c, zone, record.FluxGrid[r][c], (*precipitation_)[r][c]);
    }
  });
  StopIfNotFinite(water);
  MPIReduceExactZones(applied);
  if (MPIRank == 0)
    for (std::size_t i = 0; i <= count; ++i) {
      ZoneRecord &record = amounts_.Records[i];
      record.n = applied[i].n.ToDouble();
      record.sx = applied[i].sx.ToDouble();
      record.RelCellSum = applied[i].RelCellSum.ToDouble();
      appliedVolume_[i] = record.sx * CellSize * CellSize / 1000.0;
    }
  (*groundwaterTable_)->EndOfStep(year, month, day, hour, 1);
  (*surfaceTable_)->EndOfStep(year, month, day, hour, 1);
  for (TracerRecord &record : TracerRecords)
    if (record.Statistics)
      record.Statistics->EndOfStep(year, month, day, hour, 1);
}

// The applied amounts and the precipitation they were added to, summed over
// the own cells with the statistics.
void irrigationclass::StopIfNotFinite(double water) const {
  const std::array<WaterGrid, 2> grids{
      {{"irrigation_amounts", &demand_}, {"precipitation", precipitation_}}};
  StopIfWaterNotFinite(*this, Cells(), water, grids);
}

} // namespace tavro
