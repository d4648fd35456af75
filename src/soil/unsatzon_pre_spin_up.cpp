// Soil-water module: the temperature pre-spin-up. One pass over the period
// sums the daily means into freezing and thawing degree days and the annual
// mean; at its end every column gets a start profile from the temperature at
// the top of permafrost (TTOP) or from the annual mean.
#include "soil/unsatzon_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "raster/output/grid_output.h"
#include "raster/parallel/collective_failure.h"
#include "soil/column/permafrost_profile.h"
#include "tables/landuse_class.h"
#include "tables/soil_class.h"

#include <algorithm>
#include <cmath>

namespace tavro {

namespace {
constexpr double kMinutesPerYear = 525600.0;
} // namespace

void unsatzonmodellklasse::StartPreSpinUp() {
  preSpinUp_ = std::make_unique<PreSpinUpGrids>();
  PreSpinUpGrids &p = *preSpinUp_;
  const int existing = FindGrid("FreezingDegreeDays", false);
  int next = 1;
  auto add = [&](const char *identifier, Grid &grid, int &index) {
    grid = NewGrid(FirstRow, LastRow);
    Register(next, identifier, &grid, nullptr, FileAndCode{identifier, 0}, FirstRow, LastRow,
             index);
  };
  if (existing > 0) {
    p.freezing = (*Registry)[existing].Data;
  } else {
    add("FreezingDegreeDays", p.ownFreezing, p.freezingIndex);
    p.freezing = &p.ownFreezing;
    p.ownsFreezing = true;
  }
  add("thawingDegreeDays", p.thawing, p.thawingIndex);
  add("DailyTemperature", p.daily, p.dailyIndex);
  add("AnnualTemperature", p.annual, p.annualIndex);
  ForOwnCells([&](long r, long c) {
    for (Grid *g : {p.freezing, &p.thawing, &p.daily, &p.annual})
      (*g)[r][c] = 0.0;
  });
}

void unsatzonmodellklasse::PreSpinUpAccumulate(long hour, long, long, long) {
  if (HeatTransferModel <= 0 || Links.Temperature == nullptr)
    ThrowFatal(*Log, PreSpinUpExitCode,
               "heat transfer model not active in unsatzon_model. This is required for "
               "pre-SpinUp!");
  if (!preSpinUp_)
    StartPreSpinUp();
  PreSpinUpGrids &p = *preSpinUp_;
  ++p.daySteps;
  ++p.steps;
  const bool dayEnds = static_cast<double>(hour) + HoursToIntervalEnd == 24.0;
  const int daySteps = static_cast<int>(p.daySteps);
  ForOwnCells([&](long r, long c) {
    const double t = (*Links.Temperature)[r][c];
    DegreeDays days{(*p.freezing)[r][c], p.thawing[r][c], p.daily[r][c] + t};
    p.annual[r][c] += t;
    if (dayEnds)
      CloseDay(days, daySteps);
    (*p.freezing)[r][c] = days.freezing;
    p.thawing[r][c] = days.thawing;
    p.daily[r][c] = days.daySum;
  });
  if (dayEnds)
    p.daySteps = 0;
}

void unsatzonmodellklasse::PreSpinUpFinish() {
  if (!preSpinUp_ || !Grids.SoilTemperature.Levels.Allocated())
    return;
  PreSpinUpGrids &p = *preSpinUp_;
  const HeatTransferConfiguration &h = Config.Heat;
  const int n = MaxSoilLayers;
  const auto width = static_cast<std::size_t>(n) + 1;
  const double years = static_cast<double>(p.steps) * TimeStep / kMinutesPerYear;
  const double steps = static_cast<double>(std::max(1L, p.steps));
  ForOwnCells([&](long r, long c) {
    p.annual[r][c] /= steps;
    const soil_class *soil = SoilOf(r, c);
    if (soil == nullptr || soil->LayerCount < 1)
      return;
    const TtopLayers at = FindTtopLayers(soil->thickness, n);
    double freezingN = -1.0, thawingN = -1.0;
    if (Links.Layers.Count() >= 1 && LanduseTable != nullptr) {
      const double code = (*Links.Layers[1].Landuse)[r][c];
      if (code != NoData && code >= 1.0 && code <= static_cast<double>(LanduseTable->Count())) {
        const landuse_class &use = (*LanduseTable)[static_cast<std::size_t>(std::lround(code))];
        freezingN = use.GetNFactorFreezing();
        thawingN = use.GetNFactorThawing();
      }
    }
    if (freezingN < 0.0)
      freezingN = h.dTModNFactorFreezing;
    if (thawingN < 0.0)
      thawingN = h.dTModNFactorThawing;
    const std::span<const double> theta{Grids.Theta.Levels[r][c], width};
    const auto w = static_cast<std::size_t>(at.conductivity);
    const ThawedFrozenConductivity lambda = PermafrostConductivity(
        soil->theta_sat[w], theta[w], soil->DryThermalConduct[w], h.dTModLamWat, h.dTModLamIce);
    const double ttop = TemperatureTopOfPermafrost(lambda, thawingN, freezingN, p.thawing[r][c],
                                                   (*p.freezing)[r][c], years);
    PermafrostColumn column{soil->thickness,         {Grids.GeodeticHeads.Levels[r][c], width},
                            soil->theta_sat,         theta,
                            soil->DryThermalConduct, n,
                            h.dTModLamWat,           h.dTModLamIce};
    if (Links.HasLowerBoundaryHeatFlux)
      column.geothermalFlux = (*Links.LowerBoundaryHeatFlux)[r][c];
    PermafrostProfile({Grids.SoilTemperature.Levels[r][c], width}, column, at, ttop,
                      p.annual[r][c]);
  });
  auto write = [&](const char *name, int index, Grid *grid) {
    const Grid whole = MPIGatherGridForOutput(index, grid);
    if (MPIRank == 0)
      WriteGrid(name, whole, WriteAsciiGrids, WriteDoubleGrids);
  };
  const int freezingIndex =
      p.ownsFreezing ? p.freezingIndex : FindGrid("FreezingDegreeDays", false);
  ThrowIfAnyFailed(*Log, CaptureExitCode([&] {
    write("FreezingDegreeDays", freezingIndex, p.freezing);
    write("thawingDegreeDays", p.thawingIndex, &p.thawing);
    write("AnnualTemperature", p.annualIndex, &p.annual);
    WriteOutputStack(*this, GatherOf(*this), "Soil_Temperature_Stack", Grids.SoilTemperature.Levels,
                     n);
  }));
  // Only the grids created here are freed.
  for (const int index :
       {p.ownsFreezing ? p.freezingIndex : 0, p.thawingIndex, p.dailyIndex, p.annualIndex}) {
    if (index <= 0)
      continue;
    ReleaseGrid(index);
    std::erase(ownEntries_, index);
  }
  preSpinUp_.reset();
  soilTemperaturesSet_ = true;
}

} // namespace tavro
