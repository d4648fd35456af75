// Soil-water module: the soil heat model's per-cell inputs, its constants
// and cached conductivities, and the start profile of the temperatures.
#include "soil/unsatzon_model.h"

#include "soil/column/soil_heat.h"
#include "tables/landuse_class.h"
#include "tables/soil_class.h"

#include <algorithm>
#include <cmath>

namespace tavro {

void unsatzonmodellklasse::CompleteSoilHeatProperties() {
  if (Config.Heat.HeatTransferActive <= 0 || SoilTable == nullptr)
    return;
  const HeatTransferConfiguration &h = Config.Heat;
  heatSoilTable_ = std::make_unique<OneBasedArray<soil_class>>(*SoilTable);
  auto replaceNegative = [](double &value, double by) {
    if (value < 0.0)
      value = by;
  };
  for (std::size_t i = 1; i <= heatSoilTable_->Count(); ++i) {
    soil_class &soil = (*heatSoilTable_)[i];
    const auto layers = std::min(
        {soil.DryHeatCapacity.size(), soil.DryDensity.size(), soil.DryThermalConduct.size()});
    for (std::size_t j = 0; j < layers; ++j) {
      replaceNegative(soil.DryHeatCapacity[j], h.dTModCDrySoil);
      replaceNegative(soil.DryDensity[j], h.dTModRhoDrySoil);
      replaceNegative(soil.DryThermalConduct[j], h.dTModLamDrySoil);
    }
    replaceNegative(soil.KMinFrozenSoil, h.dTModKmin);
    if (soil.LayerCount >= 1)
      for (int j = 0; j <= soil.LayerCount; ++j)
        soil.MakeFreezingCurve(j, h.dTModFactor);
  }
  SoilTable = heatSoilTable_.get();
}

bool unsatzonmodellklasse::HeatRuns() const {
  return HeatTransferModel > 0 && Links.Temperature != nullptr &&
         Links.LowerBoundaryTemperature != nullptr && Grids.SoilTemperature.Levels.HasRow(FirstRow);
}

bool unsatzonmodellklasse::HeatOutputsRun() const {
  return HeatRuns() && Config.Heat.HeatTransferMethod > 0;
}

void unsatzonmodellklasse::PrepareHeat() {
  if (!heatConductivity_.empty() || SoilTable == nullptr || !HeatRuns())
    return;
  const HeatTransferConfiguration &h = Config.Heat;
  heatSettings_.method = h.HeatTransferMethod;
  heatSettings_.lamWater = h.dTModLamWat;
  heatSettings_.lamIce = h.dTModLamIce;
  heatSettings_.latentHeat = h.dTModLatHeat;
  heatSettings_.rhoWater = h.dTModRhoWater;
  heatSettings_.cWater = h.dTModCWater;
  heatSettings_.cIce0 = h.dTModCIce0;
  heatSettings_.cIce20 = h.dTModCIce20;
  heatSettings_.shortestStep = h.dTModShortestStep;
  heatSettings_.longestStep = h.dTModLongestStep;
  heatSettings_.seForStat = h.dTModSEForStat;
  heatSettings_.fluxLowerBoundary = Links.HasLowerBoundaryHeatFlux;
  heatConductivity_.resize(SoilTable->Count() + 1);
  for (std::size_t i = 1; i <= SoilTable->Count(); ++i) {
    const soil_class &soil = (*SoilTable)[i];
    if (soil.LayerCount >= 1)
      heatConductivity_[i] = MakeSaturatedHeatConductivity(soil.theta_sat, soil.DryThermalConduct,
                                                           soil.LayerCount, h.dTModLamWat);
  }
}

ColumnHeatCell unsatzonmodellklasse::HeatCellOf(long r, long c, std::size_t soilIndex,
                                                const soil_class &soil) const {
  ColumnHeatCell cell;
  cell.soil = &soil;
  cell.saturated = &heatConductivity_[soilIndex];
  cell.T = {Grids.SoilTemperature.Levels[r][c], static_cast<std::size_t>(MaxSoilLayers) + 1};
  cell.airT = (*Links.Temperature)[r][c];
  cell.lowerT = (*Links.LowerBoundaryTemperature)[r][c];
  if (Links.LowerBoundaryHeatFlux != nullptr)
    cell.lowerFlux = (*Links.LowerBoundaryHeatFlux)[r][c];
  const bool snow = Links.SnowStorageSolid != nullptr && (*Links.SnowStorageSolid)[r][c] > 0.0;
  cell.macroporeT = snow ? 0.0 : cell.airT;
  double seasonal = -1.0, freezing = -1.0, thawing = -1.0;
  if (Links.Layers.Count() >= 1 && LanduseTable != nullptr) {
    const double code = (*Links.Layers[1].Landuse)[r][c];
    if (code != NoData && code >= 1.0 && code <= static_cast<double>(LanduseTable->Count())) {
      const landuse_class &use = (*LanduseTable)[static_cast<std::size_t>(std::lround(code))];
      const ModelDate date = ActualDate();
      seasonal = use.GetNFactor(*Log, static_cast<int>(date.Day), static_cast<int>(date.Month),
                                static_cast<int>(date.Year));
      freezing = use.GetNFactorFreezing();
      thawing = use.GetNFactorThawing();
    }
  }
  cell.nFactor = SurfaceNFactor(seasonal, cell.airT, freezing, thawing,
                                Config.Heat.dTModNFactorFreezing, Config.Heat.dTModNFactorThawing);
  return cell;
}

void unsatzonmodellklasse::InitialiseSoilTemperatures() {
  if (soilTemperaturesSet_ || !HeatRuns())
    return;
  soilTemperaturesSet_ = true;
  if (Grids.SoilTemperatureRead)
    return;
  const int n = MaxSoilLayers;
  const auto width = static_cast<std::size_t>(n) + 1;
  Stack &T = Grids.SoilTemperature.Levels;
  for (long r = FirstRow; r <= LastRow; ++r)
    for (long c = 1; c <= NCols; ++c)
      for (int j = 1; j <= n; ++j)
        T[r][c][j] = NoData;
  ForOwnCells([&](long r, long c) {
    InitialTemperatureProfile({T[r][c], width}, {Grids.GeodeticHeads.Levels[r][c], width}, n,
                              (*Links.LowerBoundaryTemperature)[r][c], (*Links.Temperature)[r][c]);
  });
}

} // namespace tavro
