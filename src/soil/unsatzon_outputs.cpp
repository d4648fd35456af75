// Soil-water module: its zonal statistics tables, its control-point files
// and the glacier table of its subbasins.
#include "soil/unsatzon_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "raster/output/module_statistic.h"
#include "raster/parallel/collective_failure.h"
#include "soil/glacier_table.h"

#include <mpi.h>

#include <cstddef>

namespace tavro {
namespace {

struct TableSpec {
  SoilStatistic which;
  int decimals;
  const char *title;
};

// Tables 1 to 12, created at once in this order.
constexpr TableSpec kFirstTables[] = {
    {SoilStatistic::GWSTAND, 5, "groundwater level [m below surface] (GWSTAND)"},
    {SoilStatistic::GWN, 5, "groundwater recharge per zone [mm] (GWN)"},
    {SoilStatistic::SB_1, 5, "rel. soil moisture 0..root depth per zone "},
    {SoilStatistic::SB_2, 5, "abs. soil moisture 0..profile depth per zone "},
    {SoilStatistic::ROOT, 5, "root depth [mm per zone] "},
    {SoilStatistic::INFEX, 5, "Infiltration excess [mm per zone]  "},
    {SoilStatistic::QD, 6, "direct discharge [mm per Zone] (QD)"},
    {SoilStatistic::QI, 6, "Interflow [mm per zone]"},
    {SoilStatistic::QB, 6, "base flow [mm per Zone]"},
    {SoilStatistic::Qg, 6, "total runoff [mm per zone] (sum of QB, QI und QD)"},
    {SoilStatistic::MACRO, 6, "macropore_infiltration_per_zone_[mm] "},
    {SoilStatistic::INFILT, 6, "total_infiltration_per_zone_[mm] "},
};

// The SB_2 statistics file name with "_immo" before its last "." (at the end
// of a name without one).
std::string ImmobilisedFileName(const std::string &name) {
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos)
    return name + "_immo";
  return name.substr(0, dot) + "_immo" + name.substr(dot);
}

MPI_Datatype GlacierRecordType() {
  const int lengths[3] = {1, 1, 1};
  const MPI_Aint displacements[3] = {offsetof(GlacierRecord, HasGlacier),
                                     offsetof(GlacierRecord, GlacierSum),
                                     offsetof(GlacierRecord, UnglacierizedSum)};
  const MPI_Datatype types[3] = {MPI_CXX_BOOL, MPI_DOUBLE, MPI_DOUBLE};
  MPI_Datatype record = MPI_DATATYPE_NULL;
  MPI_Datatype resized = MPI_DATATYPE_NULL;
  MPI_Type_create_struct(3, lengths, displacements, types, &record);
  MPI_Type_create_resized(record, 0, sizeof(GlacierRecord), &resized);
  MPI_Type_free(&record);
  MPI_Type_commit(&resized);
  return resized;
}

} // namespace

void unsatzonmodellklasse::CreateStatisticsTables() {
  StatisticsTables.clear();
  StatisticsTables.resize(kSoilStatisticCount + 1);
  auto make = [&](const FileAndCode &file, int decimals, const char *title) {
    return std::make_unique<ModuleStatistic>(*this, Statistics, StatisticsCapacity, file, decimals,
                                             title, ModuleName);
  };
  for (const TableSpec &spec : kFirstTables)
    StatisticsTables[static_cast<std::size_t>(spec.which)] =
        make(FileAndCode{Config.Statistic(spec.which)}, spec.decimals, spec.title);
  if (Config.methode == 3)
    SubstepsTable = make(Config.SubstepsStatistics, 6, "Number_of_Substeps_per_Time_Step[-] ");
  // Its file name is read only when the heat model is on.
  if (Config.Heat.HeatTransferActive > 0)
    ThawDepthTable = make(Config.Heat.TemperStatistics, 5, "soil thaw depth [m] ");
}

void unsatzonmodellklasse::CreateLateStatisticsTables() {
  auto make = [&](SoilStatistic which, const char *title) {
    StatisticsTables[static_cast<std::size_t>(which)] = std::make_unique<ModuleStatistic>(
        *this, Statistics, StatisticsCapacity, Config.Statistic(which), 5, title, ModuleName);
  };
  if (Links.DrainageDepth != nullptr)
    make(SoilStatistic::QDRAIN, "drainage discharge [mm per zone] (QDRAIN)");
  if (Links.MaxPonding != nullptr)
    make(SoilStatistic::POND, "ponding water storage content [mm per zone]  ");
}

void unsatzonmodellklasse::CreateGlacierResizeTable() {
  if (FindGrid("GlacierizedCells", false) == 0 || FindGrid("GlacierMassBalance", false) == 0)
    return;
  const FileAndCode &sb2 = Config.Statistic(SoilStatistic::SB_2);
  GlacierResizeTable = std::make_unique<ModuleStatistic>(
      *this, Statistics, StatisticsCapacity, FileAndCode{ImmobilisedFileName(sb2.name), sb2.code},
      5, "immobilised or mobilised soil water by glacier resizing 0..profile depth per zone ",
      ModuleName);
}

void unsatzonmodellklasse::CreateControlPointFiles() {
  const long row = Config.control_row;
  const long column = Config.control_column;
  HasControlPoint = row >= 1 && column >= 1 && row >= FirstRow && row <= LastRow &&
                    IsValid(row, column) && IsOwn(row, column);
  ControlPointBuffers.clear();
  const int failure = CaptureExitCode([&] {
    if (!HasControlPoint)
      return;
    const ControlPointFileNames &names = Config.ControlPointFiles;
    const std::pair<ControlPointFile, const std::string *> files[] = {
        {ControlPointFile::Hhyd, &names.Hhyd},
        {ControlPointFile::Otherdata, &names.Otherdata},
        {ControlPointFile::Theta, &names.Theta},
        {ControlPointFile::Qbottom, &names.Qbottom},
        {ControlPointFile::EtrDetail, &names.EtrDetail},
        {ControlPointFile::Interflow, &names.Interflow},
        {ControlPointFile::Temperature, &Config.Heat.TemperatureFile},
    };
    for (const auto &[file, name] : files) {
      if (file == ControlPointFile::Temperature && Config.Heat.HeatTransferActive <= 0)
        continue;
      ControlPointBuffers.push_back(CreateControlPointFile(*Log, file, *name, Config.control_row,
                                                           Config.control_column, MaxSoilLayers,
                                                           LanduseLayerCount));
    }
  });
  // A file that the owner cannot create ends every process.
  ThrowIfAnyFailed(*Log, failure);
}

void unsatzonmodellklasse::BuildGlacierTable() {
  GlacierTable = {};
  const bool massBalance = FindGrid("GlacierMassBalance", false) > 0;
  if (FindGrid("ice_firn", false) == 0 && !massBalance)
    return;
  const bool dynamic = massBalance && FindGrid("GlacierizedCells", false) > 0;
  const int index = GetGridIndex(dynamic ? "GlacierizedCells" : "ice_firn");
  Links.Glacier = (*Registry)[index].Data;
  if (dynamic) {
    Links.GlacierMassBalance = (*Registry)[FindGrid("GlacierMassBalance", false)].Data;
    Links.GlacierOld = (*Registry)[GetGridIndex("GlacierizedCellsOld")].Data;
  }
  // Rank 0 builds the table from the whole raster, whichever rows the grid holds.
  const Grid whole = MPIGatherGridForOutput(index, Links.Glacier);
  const SubbasinRanks codes{&subbasinIndex_, &subbasinTable_, ZoneCount, MaxZoneCode};
  if (MPIRank == 0)
    GlacierTable = tavro::BuildGlacierTable(*Links.Subbasins, whole, codes, NRows, NCols, NoData);
  else
    GlacierTable = OneBasedArray<GlacierRecord>(static_cast<std::size_t>(ZoneCount));
  MPI_Barrier(MPI_COMM_WORLD);
  MPI_Datatype type = GlacierRecordType();
  MPI_Bcast(GlacierTable.Data(), ZoneCount + 1, type, 0, MPI_COMM_WORLD);
  MPI_Type_free(&type);
}

} // namespace tavro
