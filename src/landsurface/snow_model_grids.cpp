// Snow module set-up: the input grids it looks up by identifier and the grids
// it registers, each in the first free registry entry, in the documented order.
#include "landsurface/snow_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "landsurface/snow/snow_formulas.h"
#include "landsurface/snow/snow_slides.h"

#include <tuple>

namespace tavro {
namespace {

constexpr double kLongStep = 720.0; // minutes: longer steps have a night and a day part

} // namespace

Grid *schneemodellklasse::Required(std::string_view identifier) const {
  const int index = GetGridIndex(identifier);
  Grid *grid = (*Registry)[index].Data;
  if (grid == nullptr)
    ThrowFatal(
        *Log, GridRegistry::NotFoundExitCode,
        Concat(identifier, " is registered without a grid, but it is needed within ", ModuleName));
  return grid;
}

Grid *schneemodellklasse::Optional(std::string_view identifier) const {
  const int index = FindGrid(identifier, false);
  return index > 0 ? (*Registry)[index].Data : nullptr;
}

void schneemodellklasse::FindInputs() {
  // The snow module writes the shared albedo and the sublimation of its pack.
  albedo_ = Required("albedo");
  snowEvaporation_ = Optional("snow_evaporation");
  statistics_[kAlbedoFeed].values = albedo_;
  for (std::size_t k = 1; k < landuseLayers_.size(); ++k)
    landuseLayers_[k] = Required(Concat("landuse", k));
  SetUpGlaciers();
  FindMeteorologicalInputs();
  if (Registry->FirstFreeIndex() == 0)
    ThrowFatal(*Log, GridRegistry::RegistryExitCode,
               Concat("no free grid left. Please contact the author to set the number of "
                      "available grids to a larger number ",
                      GridRegistry::LastIndex + 1));
  FindMethodInputs();
}

void schneemodellklasse::FindMeteorologicalInputs() {
  const int method = section_.Pack.Method;
  if (snow::UsesVapourPressure(method))
    vapourPressure_ = Required("vapor_pressure");
  if (snow::UsesWind(method))
    wind_ = Required("wind_speed");
  const int air = GetGridIndexOf3("corr_temperature", "temperature", "temperature_14");
  temperature_ = Required((*Registry)[air].Identifier);
  temperatureNight_ = TimeStep > kLongStep ? Required("temperature_night") : temperature_;
}

void schneemodellklasse::FindMethodInputs() {
  const int method = section_.Pack.Method;
  if (snow::HasSlides(method)) {
    for (std::size_t k = 0; k < slideShares_.size(); ++k)
      slideShares_[k] = Required(Concat("slidefraction", k + 1));
    slope_ = Required("slope_angle");
  }
  if (snow::UsesDepositionIndex(method))
    depositionIndex_ = Required("deposition_index");
  if (snow::IsEnergyBalance(method)) {
    cloudiness_ = Required("cloudiness");
    humidity_ = Required("air_humidity");
    globalRadiation_ = Required("AspectCorrectedGlobalRadiation");
    surfaceTemperature_ = Optional("surfacetemperature");
  }
}

Grid schneemodellklasse::ZoneFilledGrid(long first, long last, double inside) const {
  Grid grid(first, last, NCols, NRows, *Log);
  const Grid *zone = BaseZoneGrid;
  for (long r = first; r <= last; ++r) {
    const bool known = zone != nullptr && zone->HasRow(r);
    for (long c = 1; c <= NCols; ++c)
      grid[r][c] = known && (*zone)[r][c] != NoData ? inside : NoData;
  }
  return grid;
}

void schneemodellklasse::Register(OwnedGrid &owned, const std::string &fileName,
                                  const char *identifier, int writecode) {
  const int index = Registry->FirstFreeIndex();
  if (index == 0)
    ThrowFatal(*Log, GridRegistry::RegistryExitCode,
               Concat("no free grid left. Please contact the author to set the number of "
                      "available grids to a larger number ",
                      GridRegistry::LastIndex + 1));
  AddGrid(index, fileName, &owned.grid, nullptr, 1, identifier, writecode, owned.grid.FirstRow(),
          owned.grid.LastRow());
  entries_.Add(index);
  owned.index = index;
}

void schneemodellklasse::RegisterGrids() {
  RegisterStateGrids();
  if (snow::HasSlides(section_.Pack.Method))
    RegisterSlideGrids();
  RegisterStripGrids();
}

void schneemodellklasse::RegisterStateGrids() {
  const SnowSection &s = section_;
  const bool read = s.ReadGrid == 1;
  // The stores on the module's rows, the cover on the strip when read; read
  // with their holes filled by 0.
  const auto state = [&](OwnedGrid &owned, const SnowGridFile &file, const char *identifier,
                         bool keepWhole) {
    if (read)
      ReadGrid(file.FileName, owned.grid, 1, true, true, 0.0, true, keepWhole, false, false);
    else
      owned.grid = ZoneFilledGrid(moduleFirstRow_, moduleLastRow_, 0.0);
    Register(owned, file.FileName, identifier, file.Writecode);
  };
  state(solid_, s.Solid, "snowstorage_solid", wholeRaster_);
  state(liquid_, s.Liquid, "snowstorage_liquid", wholeRaster_);
  state(total_, s.Total, "snow_storage_total", wholeRaster_);
  state(daysSnow_, s.SnowDays, "days_snow", false);
  state(snowAge_, s.SnowAge, "snow_age", false);
  if (!snow::IsEnergyBalance(s.Pack.Method))
    return;
  // Nodata means "not set yet": read as they are, never filled, so that a
  // continued run starts from exactly the temperatures the last one ended with.
  const auto temperature = [&](OwnedGrid &owned, const SnowGridFile &file, const char *identifier) {
    if (read) {
      ReadGrid(file.FileName, owned.grid, 0, true, true, 0.0, false, false, false, false);
    } else {
      owned.grid = Grid(moduleFirstRow_, moduleLastRow_, NCols, NRows, *Log);
      owned.grid.Fill(NoData);
    }
    Register(owned, file.FileName, identifier, file.Writecode);
  };
  temperature(snowTemp_, s.SnowTemperature, "snowtemp");
  temperature(surfTemp_, s.SurfaceTemperature, "surftemp");
}

void schneemodellklasse::RegisterSlideGrids() {
  const SnowSection &s = section_;
  if (MPIRank == 0) {
    if (BaseZoneGrid == nullptr || elevation_ == nullptr)
      ThrowFatal(*Log, GridRegistry::NotFoundExitCode,
                 Concat("the snow slides of ", ModuleName,
                        " need the zone grid and the elevation model (registry entries 1 and 2)"));
    const snow::RasterExtent extent{NRows, NCols, NoData};
    const int registered = FindGrid("max_deposition", false);
    if (registered > 0 && (*Registry)[registered].Data != nullptr) {
      maxDeposition_ = (*Registry)[registered].Data;
    } else {
      capacity_.grid = Grid(1, NRows, NCols, NRows, *Log);
      snow::BuildDepositionCapacity(extent, *BaseZoneGrid, *slope_, s.MaxDepositionSlope,
                                    s.MaxDepositionFactor, capacity_.grid);
      Register(capacity_, "", "max_deposition", 0);
      maxDeposition_ = &capacity_.grid;
    }
    orderRow_.grid = Grid(1, NRows, NCols, NRows, *Log);
    orderCol_.grid = Grid(1, NRows, NCols, NRows, *Log);
    snow::BuildElevationOrder(extent, *BaseZoneGrid, *elevation_, orderRow_.grid, orderCol_.grid);
    Register(orderRow_, "", "elev_order_row", 0);
    Register(orderCol_, "", "elev_order_col", 0);
  }
  for (auto [owned, file, identifier] : {std::tuple{&inputMass_, &s.InputMass, "input_mass"},
                                         std::tuple{&mobileMass_, &s.MobileMass, "mobile_mass"},
                                         std::tuple{&deposition_, &s.Deposition, "deposition"}}) {
    owned->grid = ZoneFilledGrid(moduleFirstRow_, moduleLastRow_, 0.0);
    Register(*owned, file->FileName, identifier, file->Writecode);
  }
}

void schneemodellklasse::RegisterStripGrids() {
  const SnowSection &s = section_;
  for (auto [owned, file, identifier] :
       {std::tuple{&snowFraction_, &s.Snow, "snow_fraction"},
        std::tuple{&rainFraction_, &s.Rain, "rain_fraction"},
        std::tuple{&outflow_, &s.Outflow, "snowcover_outflow"},
        std::tuple{&meltOutflow_, &s.MeltOutflow, "melt_from_snowcover"}}) {
    owned->grid = ZoneFilledGrid(FirstRow, LastRow, 0.0);
    Register(*owned, file->FileName, identifier, file->Writecode);
  }
}

} // namespace tavro
