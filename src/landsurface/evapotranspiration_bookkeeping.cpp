// The evaporation of snow at the potential rates before snow melt, the start
// of the real-evapotranspiration statistics before the soil-water sub-steps,
// and the sum of the real evapotranspiration after them.
#include "landsurface/evapotranspiration_model.h"

#include <omp.h>

#include <algorithm>

namespace tavro {

void verdunstungsmodellklasse::FindGlacierGrids() {
  if (FindGrid("SnowEvaporation_onGlacier", false) > 0 &&
      FindGrid("TotalSnowStorage_onGlacier", false) > 0) {
    glacierSnowEvaporation_ = LookupMutable("SnowEvaporation_onGlacier");
    glacierSnowStorage_ = LookupMutable("SolidSnowStorage_onGlacier");
  }
  glacierGridsPending_ = false;
}

void verdunstungsmodellklasse::SnowEvaporationOnGlacier(long hour, long day, long month,
                                                        long year) {
  if (FlowControl == 0 || snowStorage_ == nullptr)
    return;
  ActualHour = hour;
  ActualDay = day;
  ActualMonth = month;
  ActualYear = year;
  LogStepLine("snow_evaporation", hour, day, month, year);
  if (glacierGridsPending_)
    FindGlacierGrids();
  (*snowEvaporationStatistics_)->ResetStep();
  snowBalance_ = {};
  glacierSnowBalance_ = {};

  // Few operations per cell: one pass on the main thread.
  const CellIteration cells(Cells(true));
  const CellIteration own(Cells(false));
  own.ForEachOwnCell([&](long row, long column) {
    if (cells.IsComputed(row, column))
      EvaporateSnowOfCell(row, column);
  });

  std::vector<Grid *> copied;
  for (int k = 0; k <= layerCount_; ++k) {
    copied.push_back(potentialTranspiration_[static_cast<std::size_t>(k)]);
    copied.push_back(potentialInterception_[static_cast<std::size_t>(k)]);
  }
  copied.insert(copied.end(), {potentialEvaporation_, snowEvaporation_, snowStorage_});
  if (glacierSnowEvaporation_ != nullptr)
    copied.insert(copied.end(), {glacierSnowEvaporation_, glacierSnowStorage_});
  cells.CopyMasterResults(copied);

  for (const StatisticsCell &cell : statisticsCells_)
    (*snowEvaporationStatistics_)
        ->AddValue(cell.row, cell.column, cell.zone, (*snowEvaporation_)[cell.row][cell.column],
                   1.0);
  (*snowEvaporationStatistics_)->EndOfStep(year, month, day, hour, 1);
  WriteGridOutput(indexes_.snowEvaporation);
}

void verdunstungsmodellklasse::EvaporateSnowOfCell(long row, long column) {
  const auto valid = [&](int k) {
    return (*landuse_[static_cast<std::size_t>(k)])[row][column] > NoData;
  };
  double &snow = (*snowStorage_)[row][column];
  double &soil = (*potentialEvaporation_)[row][column];
  if (snow_evaporation::MethodEvaporatesItself(snowMethod_)) {
    // The snow module's energy balance gives the evaporation from snow;
    // under snow nothing else evaporates.
    if (snow > 0.0) {
      for (int k = 1; k <= layerCount_; ++k)
        if (valid(k))
          (*potentialTranspiration_[static_cast<std::size_t>(k)])[row][column] = 0.0;
      soil = 0.0;
    }
    return;
  }
  const double glacier = GlacierFraction(row, column);
  (*snowEvaporation_)[row][column] = 0.0;
  if (glacierSnowEvaporation_ != nullptr)
    (*glacierSnowEvaporation_)[row][column] = 0.0;

  // Each part evaporates at the full potential rates from its own store. The
  // glacier part works on copies of the rates as they stand at the start.
  if (glacier > 0.0 && glacierSnowEvaporation_ != nullptr) {
    double &store = (*glacierSnowStorage_)[row][column];
    if (store > 0.0) {
      snow_evaporation::SnowStore onGlacier(store);
      for (int k = 1; k <= layerCount_; ++k)
        if (valid(k))
          onGlacier.Take((*potentialTranspiration_[static_cast<std::size_t>(k)])[row][column]);
      onGlacier.Take(soil);
      store = onGlacier.Storage();
      (*glacierSnowEvaporation_)[row][column] = onGlacier.Evaporated();
      const snow_evaporation::SnowEvaporationBalance &b = onGlacier.Balance();
      glacierSnowBalance_.before += b.before;
      glacierSnowBalance_.after += b.after;
      glacierSnowBalance_.evaporated += b.evaporated;
    }
  }
  if (glacier < 1.0 && snow > 0.0) {
    snow_evaporation::SnowStore store(snow);
    for (int k = 1; k <= layerCount_; ++k)
      if (valid(k)) {
        double &rate = (*potentialTranspiration_[static_cast<std::size_t>(k)])[row][column];
        rate = store.Take(rate);
      }
    soil = store.Take(soil);
    snow = store.Storage();
    (*snowEvaporation_)[row][column] = store.Evaporated();
    const snow_evaporation::SnowEvaporationBalance &b = store.Balance();
    snowBalance_.before += b.before;
    snowBalance_.after += b.after;
    snowBalance_.evaporated += b.evaporated;
  }
}

void verdunstungsmodellklasse::RealEvapotranspiration(long hour, long day, long month, long year) {
  if (FlowControl == 0)
    return;
  ActualHour = hour;
  ActualDay = day;
  ActualMonth = month;
  ActualYear = year;
  if (!omp_in_parallel())
    LogStepLine("real evapotranspir.", hour, day, month, year);
  // The interception module registers its grid after this module was built.
  if (!interceptionFound_) {
    interceptionEvaporation_ = Optional("interception_evaporation0");
    interceptionFound_ = interceptionEvaporation_ != nullptr;
  }
  for (auto &table : realTranspirationStatistics_)
    (*table)->ResetStep();
  (*realEvaporationStatistics_)->ResetStep();
}

void verdunstungsmodellklasse::ComputeSubstep(long, long, long, long) {}

double verdunstungsmodellklasse::GlacierFraction(long row, long column) const {
  return glacierFraction_ != nullptr ? std::clamp((*glacierFraction_)[row][column], 0.0, 1.0) : 0.0;
}

void verdunstungsmodellklasse::FinishTimeStep(long hour, long day, long month, long year) {
  if (FlowControl == 0)
    return;
  ActualHour = hour;
  ActualDay = day;
  ActualMonth = month;
  ActualYear = year;
  const CellIteration own(Cells(false));
  // The total of every cell of the process first.
  own.ForEachCell([&](long row, long column) {
    double layers = 0.0;
    for (int k = 1; k <= layerCount_; ++k)
      layers += (*realTranspiration_[static_cast<std::size_t>(k)])[row][column];
    const double intercepted =
        interceptionEvaporation_ != nullptr ? (*interceptionEvaporation_)[row][column] : 0.0;
    (*realTranspiration_[0])[row][column] =
        intercepted + (*snowEvaporation_)[row][column] + (*realEvaporation_)[row][column] + layers;
  });
  // The glacierised part a of a cell only evaporates snow: the layers and
  // the soil count 0 there, the total the snow on the glacier. Jobs 0..n
  // the layers' tables, job n + 1 that of the soil.
  ForEachTableJob(static_cast<std::size_t>(layerCount_) + 2, [&](std::size_t job) {
    const bool soil = job == static_cast<std::size_t>(layerCount_) + 1;
    zonalstatistic &table =
        soil ? **realEvaporationStatistics_ : **realTranspirationStatistics_[job];
    if (!table.Active())
      return;
    for (const StatisticsCell &cell : statisticsCells_) {
      const long row = cell.row, column = cell.column;
      const double a = GlacierFraction(row, column);
      const double b = 1.0 - a;
      if (job == 0) {
        const double onGlacier = glacierSnowEvaporation_ != nullptr
                                     ? (*glacierSnowEvaporation_)[row][column]
                                     : (*snowEvaporation_)[row][column];
        table.AddValue(row, column, cell.zone,
                       b * (*realTranspiration_[0])[row][column] + a * onGlacier, 1.0);
        continue;
      }
      double value = 0.0;
      if (soil)
        value = (*realEvaporation_)[row][column];
      else if ((*landuse_[job])[row][column] > NoData)
        value = (*realTranspiration_[job])[row][column];
      table.AddValue(row, column, cell.zone, value, b);
      table.AddValue(row, column, cell.zone, 0.0, a);
    }
  });
  for (int k = 0; k <= layerCount_; ++k) {
    const auto i = static_cast<std::size_t>(k);
    (*realTranspirationStatistics_[i])->EndOfStep(year, month, day, hour, 1);
    WriteGridOutput(indexes_.realTranspiration[i]);
  }
  (*realEvaporationStatistics_)->EndOfStep(year, month, day, hour, 1);
  WriteGridOutput(indexes_.realEvaporation);
}

} // namespace tavro
