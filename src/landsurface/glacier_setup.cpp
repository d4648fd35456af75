// Snow module set-up of glaciers and permafrost: "[ice_firn]", the checks of
// the glacier grids on rank 0, the reservoirs, the glacier share of the
// subbasins broadcast from rank 0, the glacier statistics, the glacier,
// firn and permafrost grids in their registration order, the firn stack
// and, on rank 0, the glacier list with its initial volumes.
#include "landsurface/snow_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "landsurface/snow/snow_formulas.h"
#include "raster/parallel/collective_failure.h"

#include <mpi.h>

#include <cmath>
#include <iostream>

namespace tavro {
namespace {

constexpr int kGlacierValueExitCode = IceFirnSection::ValueExitCode;
constexpr int kGlacierSubbasinsExitCode = 84;

} // namespace

int schneemodellklasse::SubbasinOf(double value) const {
  const long code = std::lround(value);
  if (code < 0 || code > maxSubbasinCode_ ||
      static_cast<std::size_t>(code) >= subbasinIndex_.Count() + 1)
    return 0;
  return subbasinIndex_[static_cast<std::size_t>(code)];
}

// First stage: only with a glacier grid, after the snow section was read.
void schneemodellklasse::SetUpGlaciers() {
  if (FindGrid("ice_firn", false) == 0 && FindGrid("GlacierizedCells", false) == 0)
    return;
  ReadGlacierSection();
  debris_ = Optional("debris_on_glaciers");
  const int method = glacier_.Melt.Method;
  if (!glacier::IsDynamic(method)) {
    glacierGrid_ = Required("ice_firn");
    glacierGridIndex_ = GetGridIndex("ice_firn");
  } else {
    // Rank 0 keeps the glacier grids for the whole raster.
    wholeRaster_ = true;
    if (MPIRank == 0) {
      moduleFirstRow_ = 1;
      moduleLastRow_ = NRows;
    }
    glacierGrid_ = Required("GlacierizedCells");
    glacierGridIndex_ = GetGridIndex("GlacierizedCells");
    glacierCodes_ = Required("GlacierCodes");
    glacierCodesIndex_ = GetGridIndex("GlacierCodes");
    ThrowIfAnyFailed(*Log, CaptureExitCode([&] {
      if (MPIRank == 0)
        CheckGlacierGrids();
    }));
  }
  reservoirs_.Allocate(subbasinCount_);
  for (int i = 1; i <= subbasinCount_; ++i) {
    const auto k = static_cast<std::size_t>(i);
    reservoirs_.Ice[k] = glacier_.InitialQice;
    reservoirs_.Firn[k] = glacier_.InitialQfirn;
    reservoirs_.Snow[k] = glacier_.InitialQsnow;
  }
  asnowMin_ = glacier_.Asnow_min;
  asnowMax_ = glacier_.Asnow_max;
  aiceMin_ = glacier_.Aice_min;
  aiceMax_ = glacier_.Aice_max;
  if (glacier::UsesRadiation(method))
    glacierRadiation_ =
        Required((*Registry)[GetGridIndexOf3("global_radiation", "Ieff_max", "ungueltiger_Name")]
                     .Identifier);
  CreateGlacierStatistics();
  ShareGlacierSubbasins();
}

void schneemodellklasse::ReadGlacierSection() {
  if (!OpenControlFile())
    ThrowFatal(*Log, LakeFileExitCode, "error opening " + ControlFileName);
  FindControlKey("[ice_firn]", true);
  glacier_ = ReadIceFirnSection(*this, DaysPerMonth);
  if (!CloseControlFile())
    ThrowFatal(*Log, CloseErrorExitCode, "cannot close " + ControlFileName);
}

void schneemodellklasse::CheckGlacierGrids() const {
  const Grid &fraction = *glacierGrid_;
  const Grid &codes = *glacierCodes_;
  bool anyGlacier = false;
  bool anyCode = false;
  for (long r = 1; r <= NRows; ++r) {
    long first = 1;
    long last = NCols;
    if (RowRanges != nullptr && static_cast<std::size_t>(r) <= RowRanges->Count()) {
      first = (*RowRanges)[static_cast<std::size_t>(r)].first;
      last = (*RowRanges)[static_cast<std::size_t>(r)].last;
    }
    for (long c = first; c <= last; ++c) {
      if (fraction[r][c] > 0.0) {
        anyGlacier = true;
        if (codes[r][c] == NoData)
          ThrowFatal(*Log, kGlacierValueExitCode,
                     Concat("\n-----------Fatal Error:----------\nThere is a cell in the "
                            "GlacierizedCells-grid having no valid value in \n",
                            "GlacierCodes",
                            " (must be an integer ID for each separate glacier) at row ", r,
                            " and col ", c));
      }
      if ((*subbasinGrid_)[r][c] != NoData && codes[r][c] > 0.0)
        anyCode = true;
    }
  }
  if (!anyGlacier)
    ThrowFatal(*Log, kGlacierValueExitCode,
               "\n-----------Fatal Error:----------\nThere are no glacierized cells in "
               "GlacierizedCells-grid (all nodata or equal to 0)!");
  if (!anyCode)
    ThrowFatal(*Log, kGlacierValueExitCode,
               Concat("\n----------- Fatal Error: ----------\nThe ", "GlacierCodes", " grid (",
                      (*Registry)[glacierCodesIndex_].FileName, ")contains nodata values only. \n",
                      "Dynamic glacier modelling will not be possible without \n",
                      "distinct glacier codes for each glacier"));
}

// Rank 0 counts the whole raster; every process receives its table.
void schneemodellklasse::ShareGlacierSubbasins() {
  glacierSubbasins_.assign(static_cast<std::size_t>(subbasinCount_) + 1, {});
  if (MPIRank == 0)
    glacier::CountGlacierShare(
        *subbasinGrid_, *glacierGrid_, NRows, NCols, NoData,
        [this](double v) { return SubbasinOf(v); }, glacierSubbasins_);
  MPI_Barrier(MPI_COMM_WORLD);
  const int lengths[2] = {1, 2};
  const MPI_Aint displacements[2] = {0, 8};
  const MPI_Datatype types[2] = {MPI_CXX_BOOL, MPI_DOUBLE};
  MPI_Datatype record = MPI_DATATYPE_NULL;
  MPI_Datatype resized = MPI_DATATYPE_NULL;
  MPI_Type_create_struct(2, lengths, displacements, types, &record);
  MPI_Type_create_resized(record, 0, sizeof(glacier::GlacierSubbasinRecord), &resized);
  MPI_Type_commit(&resized);
  MPI_Bcast(glacierSubbasins_.data(), static_cast<int>(glacierSubbasins_.size()), resized, 0,
            MPI_COMM_WORLD);
  MPI_Type_free(&resized);
  MPI_Type_free(&record);
}

void schneemodellklasse::CreateGlacierStatistics() {
  const auto subbasinTable = [&](const StatisticsFile &file, int decimals, const char *title) {
    return std::make_unique<ModuleStatistic>(*this, Statistics, StatisticsCapacity, file, decimals,
                                             title, ModuleName, &subbasinTable_, subbasinCount_);
  };
  firnMeltTable_ = subbasinTable(glacier_.FirnMeltTable, 5, "glacier_melt_from_firn_areas__");
  iceMeltTable_ = subbasinTable(glacier_.IceMeltTable, 5, "glacier_melt_from_ice_areas__");
  snowMeltTable_ = subbasinTable(glacier_.SnowMeltTable, 5, "snow_melt_from_ice_areas__");
  totalMeltTable_ = subbasinTable(glacier_.TotalMeltTable, 5, "glacier_melt_total(firn+ice)__");
  // The static methods name no file for it: off.
  snowWithoutGlaciersTable_ = std::make_unique<ModuleStatistic>(
      *this, Statistics, StatisticsCapacity, glacier_.SnowWithoutGlaciersTable, 3,
      "snow_storage_in_mm_WITHOUT_GLACIERS_", ModuleName);
  if (!glacier::IsDynamic(glacier_.Melt.Method))
    return;
  firnTable_ = subbasinTable(glacier_.FirnTable, 4, "WE_in_firn_[mm_per_subbasin]");
  massBalanceTable_ =
      subbasinTable(glacier_.MassBalanceTable, 5, "glacier_mass_balance_[mm_per_subbasin]");
  massBalanceGlacierTable_ = subbasinTable(glacier_.MassBalanceGlacierTable, 5,
                                           "glacier_mass_balance_[mm_GlacierPartOfSubbasin]");
}

// --- Second stage ------------------------------------------------------------------

void schneemodellklasse::RegisterGlacierGrids() {
  if (glacierGrid_ != nullptr) {
    firnMelt_.grid = ZoneFilledGrid(FirstRow, LastRow, 0.0);
    Register(firnMelt_, glacier_.FirnMelt.FileName, "melt_from_firn", glacier_.FirnMelt.Writecode);
    iceMelt_.grid = ZoneFilledGrid(FirstRow, LastRow, 0.0);
    Register(iceMelt_, glacier_.IceMelt.FileName, "melt_from_ice", glacier_.IceMelt.Writecode);
    if (glacier::IsDynamic(glacier_.Melt.Method))
      RegisterDynamicGlacierGrids();
    else
      KeepStaticGlacierPack();
  }
  SetUpPermafrost();
}

// The static methods keep snow on their glacier cells too: a glacier pack of
// their own, not registered, and no firn.
void schneemodellklasse::KeepStaticGlacierPack() {
  for (OwnedGrid *owned :
       {&solidOnGlacier_, &liquidOnGlacier_, &totalOnGlacier_, &meltOnGlacier_, &firnTotal_})
    owned->grid = ZoneFilledGrid(FirstRow, LastRow, 0.0);
}

void schneemodellklasse::RegisterDynamicGlacierGrids() {
  const IceFirnSection &s = glacier_;
  const bool read = s.GlacierReadGrid == 1;
  if (read) {
    glacier_.FirnLevels = ReadStack(s.FirnStack.FileName, firnStack_, wholeRaster_);
    CheckFirnLevels(*this, glacier_.FirnLevels);
    firnTotal_.grid = Grid(moduleFirstRow_, moduleLastRow_, NCols, NRows, *Log);
    firnTotal_.grid.Fill(NoData);
    // All rows the stack holds: rank 0 builds its glacier list from them.
    for (long r = moduleFirstRow_; r <= moduleLastRow_; ++r)
      if (firnStack_.HasRow(r))
        for (long c = 1; c <= NCols; ++c)
          firnTotal_.grid[r][c] = firnStack_[r][c][0];
  } else {
    InitialFirn();
  }
  const int stackIndex = Registry->FirstFreeIndex();
  AddGrid(stackIndex, s.FirnStack.FileName, &firnTotal_.grid, &firnStack_, glacier_.FirnLevels,
          "firn_WE_stack", s.FirnStack.Writecode, firnTotal_.grid.FirstRow(),
          firnTotal_.grid.LastRow());
  entries_.Add(stackIndex);
  firnTotal_.index = stackIndex;

  const auto state = [&](OwnedGrid &owned, const SnowGridFile &file, const char *identifier) {
    if (read)
      ReadGrid(file.FileName, owned.grid, 1, true, true, 0.0, true, wholeRaster_, false, false);
    else
      owned.grid = ZoneFilledGrid(moduleFirstRow_, moduleLastRow_, 0.0);
    Register(owned, file.FileName, identifier, file.Writecode);
  };
  state(massBalance_, s.MassBalance, "GlacierMassBalance");
  state(oldMassBalance_, s.OldMassBalance, "OldGlacierMassBalance");
  if (read) // a cell known to one of the two only takes the other's value
    for (long r = moduleFirstRow_; r <= moduleLastRow_; ++r)
      for (long c = 1; c <= NCols; ++c) {
        double &now = massBalance_.grid[r][c];
        double &old = oldMassBalance_.grid[r][c];
        if (now == NoData && old != NoData)
          now = old;
        else if (old == NoData && now != NoData)
          old = now;
      }
  state(solidOnGlacier_, s.SolidOnGlacier, "SolidSnowStorage_onGlacier");
  state(liquidOnGlacier_, s.LiquidOnGlacier, "LiquidSnowStorage_onGlacier");
  state(totalOnGlacier_, s.TotalOnGlacier, "TotalSnowStorage_onGlacier");
  if (snow::IsEnergyBalance(section_.Pack.Method)) {
    const auto temperature = [&](OwnedGrid &owned, const SnowGridFile &file, const char *id) {
      if (read)
        ReadGrid(file.FileName, owned.grid, 0, true, true, 0.0, false, false, false, false);
      else
        owned.grid = ZoneFilledGrid(moduleFirstRow_, moduleLastRow_, 0.0);
      Register(owned, file.FileName, id, file.Writecode);
    };
    temperature(surfTempOnGlacier_, s.SurfaceTemperatureOnGlacier, "surftemp_onGlacier");
    temperature(snowTempOnGlacier_, s.SnowTemperatureOnGlacier, "snowtemp_onGlacier");
  }
  const auto copy = [&](OwnedGrid &owned, const Grid &source, const char *identifier) {
    owned.grid = Grid(moduleFirstRow_, moduleLastRow_, NCols, NRows, *Log);
    for (long r = moduleFirstRow_; r <= moduleLastRow_; ++r)
      for (long c = 1; c <= NCols; ++c)
        owned.grid[r][c] = source.HasRow(r) ? source[r][c] : NoData;
    Register(owned, identifier, identifier, 0);
  };
  copy(fractionOld_, *glacierGrid_, "GlacierizedCellsOld");
  copy(codesOld_, *glacierCodes_, "GlacierCodesOld");
  meltOnGlacier_.grid = ZoneFilledGrid(FirstRow, LastRow, 0.0);
  Register(meltOnGlacier_, s.MeltOnGlacier.FileName, "SnowMelt_onGlacier",
           s.MeltOnGlacier.Writecode);
  evaporationOnGlacier_.grid = ZoneFilledGrid(FirstRow, LastRow, 0.0);
  Register(evaporationOnGlacier_, s.EvaporationOnGlacier.FileName, "SnowEvaporation_onGlacier",
           s.EvaporationOnGlacier.Writecode);
  ThrowIfAnyFailed(*Log, CaptureExitCode([&] {
    if (MPIRank == 0)
      BuildGlacierList();
  }));
}

// Every layer of a glacierized cell starts with the firn of its height above
// the firn base (per metre); every other cell is nodata.
void schneemodellklasse::InitialFirn() {
  const int levels = glacier_.FirnLevels;
  firnStack_ = Stack(moduleFirstRow_, moduleLastRow_, NCols, levels, NRows, *Log);
  firnTotal_.grid = Grid(moduleFirstRow_, moduleLastRow_, NCols, NRows, *Log);
  for (long r = moduleFirstRow_; r <= moduleLastRow_; ++r)
    for (long c = 1; c <= NCols; ++c) {
      const bool glacierized = subbasinGrid_->HasRow(r) && (*subbasinGrid_)[r][c] != NoData &&
                               glacierGrid_->HasRow(r) && (*glacierGrid_)[r][c] > 0.0;
      double *firn = firnStack_[r][c];
      if (!glacierized) {
        for (int l = 0; l <= levels; ++l)
          firn[l] = NoData;
        firnTotal_.grid[r][c] = NoData;
        continue;
      }
      const double layer = glacier::InitialFirnLayer((*elevation_)[r][c], glacier_.FirnBase,
                                                     glacier_.DeltaFirnPerMetre);
      for (int l = 1; l <= levels; ++l)
        firn[l] = layer;
      firn[0] = levels * layer;
      firnTotal_.grid[r][c] = firn[0];
    }
}

glacier::GlacierRaster schneemodellklasse::GlacierRasterView() {
  glacier::GlacierRaster raster;
  raster.Rows = NRows;
  raster.Columns = NCols;
  raster.NoData = NoData;
  raster.CellSize = CellSize;
  raster.Subbasin = subbasinGrid_;
  raster.Elevation = elevation_;
  raster.Fraction = glacierGrid_;
  raster.Codes = glacierCodes_;
  raster.FractionOld = &fractionOld_.grid;
  raster.CodesOld = &codesOld_.grid;
  raster.MassBalance = &massBalance_.grid;
  raster.OldMassBalance = &oldMassBalance_.grid;
  raster.FirnTotal = &firnTotal_.grid;
  raster.Firn = &firnStack_;
  raster.FirnLevels = glacier_.FirnLevels;
  return raster;
}

void schneemodellklasse::BuildGlacierList() {
  glacier::GlacierMessages messages;
  messages.Entry = [this](const std::string &text) {
    Log->Entry(Concat(text, DiagnosticsLog::EndToken));
  };
  messages.ErrorLine = [](const std::string &line) { std::cerr << line << std::endl; };
  glaciers_ =
      std::make_unique<glacier::DynamicGlaciers>(GlacierRasterView(), glacier_.Glaciers, messages);
  if (const auto conflict = glaciers_->BuildGlacierList())
    ThrowFatal(*Log, kGlacierSubbasinsExitCode,
               Concat("\n\n=======================================\n", "!!!! ERROR !!!! \n\n",
                      "glacier ", conflict->Code, " is located in more than one subbasin:\n",
                      "First cell was found in subbasin ", conflict->RecordSubbasin, ",\n",
                      "whereas the cell in row ", conflict->Row, " and col ", conflict->Column,
                      " belongs to subbasin ", conflict->CellSubbasin,
                      ".\nPlease make sure that each single glacier belongs to one specific "
                      "subbasin only."));
  glaciers_->SetInitialVolumes();
}

void schneemodellklasse::SetUpPermafrost() {
  if (FindGrid("ThawCoeffPermaFrost", false) == 0 || FindGrid("PermafrostThawDepth", false) == 0)
    return;
  const auto daysGrid = [&](OwnedGrid &owned, const char *identifier) -> Grid * {
    if (Grid *registered = Optional(identifier))
      return registered;
    owned.grid = ZoneFilledGrid(FirstRow, LastRow, 0.0);
    Register(owned, "", identifier, 0);
    return &owned.grid;
  };
  snowFreeDays_ = daysGrid(snowFreeDaysOwned_, "SnowFreeDaysGrid");
  snowCoverDays_ = daysGrid(snowCoverDaysOwned_, "SnowCoverDaysGrid");
  thawCoefficient_ = Required("ThawCoeffPermaFrost");
  thawDepth_ = Required("PermafrostThawDepth");
  rootDepth1_ = Required("root_depth1");
  if (!OpenControlFile())
    ThrowFatal(*Log, LakeFileExitCode, "error opening " + ControlFileName);
  FindControlKey("[permafrost]", true);
  permafrost_ = ReadPermafrostSection(*this);
  thawDepthTable_ = std::make_unique<ModuleStatistic>(*this, Statistics, StatisticsCapacity,
                                                      permafrost_.ThawDepthTable, 4,
                                                      "thaw_depth_in_m_", ModuleName);
  if (!CloseControlFile())
    ThrowFatal(*Log, CloseErrorExitCode, "cannot close " + ControlFileName);
}

} // namespace tavro
