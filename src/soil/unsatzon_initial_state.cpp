// Soil-water module: the initial state over the module's own cells (the
// column functions of initial_soil_state.h applied cell by cell), the
// lower-boundary temperature, the irrigation thresholds and root-zone water,
// the drainage levels and the start-of-run report.
#include "soil/unsatzon_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/exact_sum.h"
#include "kernel/fatal_error.h"
#include "raster/parallel/collective_failure.h"
#include "raster/parallel/zone_reduction.h"
#include "soil/initial_soil_state.h"
#include "tables/irrigation_table.h"
#include "tables/landuse_class.h"
#include "tables/soil_class.h"

#include <mpi.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <span>

namespace tavro {
namespace {

constexpr int kSoilTypeExitCode = 29;

std::span<double> Column(Stack &stack, long row, long column, int layers) {
  return {stack[row][column], static_cast<std::size_t>(layers) + 1};
}

std::span<const double> Column(const Stack &stack, long row, long column, int layers) {
  return {stack[row][column], static_cast<std::size_t>(layers) + 1};
}

} // namespace

void unsatzonmodellklasse::ComputeInitialState() {
  const int n = MaxSoilLayers;
  SoilWaterGrids &g = Grids;
  const bool read = Config.ReadsState();
  auto soilOf = [&](long r, long c) -> const soil_class & {
    const soil_class *soil = SoilOf(r, c);
    if (soil == nullptr)
      ThrowFatal(*Log, kSoilTypeExitCode,
                 Concat("no soil type of the soil table in \"soil_types\" at row ", r, ", column ",
                        c, " (", ModuleName, ")"));
    return *soil;
  };
  ThrowIfAnyFailed(*Log, CaptureExitCode([&] {
    if (read) {
      // The layer elevations follow the soil table and the elevation model.
      for (long r = FirstRow; r <= LastRow; ++r)
        for (long c = 1; c <= NCols; ++c) {
          const std::span<double> geo = Column(g.GeodeticHeads.Levels, r, c, n);
          if (IsValid(r, c) && SoilOf(r, c) != nullptr) {
            ComputeGeodeticHeads((*Links.Elevation)[r][c], soilOf(r, c).thickness, geo);
          } else {
            for (int i = 1; i <= n; ++i)
              geo[static_cast<std::size_t>(i)] = NoData;
          }
        }
      return;
    }
    for (SoilStack *s : {&g.GeodeticHeads, &g.Theta, &g.HydraulicHeads})
      ResetOwnStack(*s, 0.0);
    ResetOwnGrid(g.GroundwaterLevel.Values, 0.0);
    ResetOwnGrid(g.ThetaInGwLevel.Values, 0.0);
    const bool distanceRead = Config.readgrids == 2;
    ForOwnCells([&](long r, long c) {
      const soil_class &soil = soilOf(r, c);
      const std::span<double> geo = Column(g.GeodeticHeads.Levels, r, c, n);
      const std::span<double> theta = Column(g.Theta.Levels, r, c, n);
      ComputeGeodeticHeads((*Links.Elevation)[r][c], soil.thickness, geo);
      const int layer =
          distanceRead ? GroundwaterLayerFromDistance(g.GroundwaterDistance.Values[r][c], geo, n)
                       : InitialGroundwaterLayer(n, Config.ini_gw_level);
      ComputeEquilibriumTheta(soil, layer, geo, theta);
      ComputeHydraulicHeads(soil, geo, theta, Column(g.HydraulicHeads.Levels, r, c, n));
      const GroundwaterValues gw = FindGroundwaterValues(soil, geo, theta);
      g.GroundwaterLevel.Values[r][c] = gw.level;
      g.ThetaInGwLevel.Values[r][c] = gw.thetaInGwLevel;
      if (!distanceRead)
        g.GroundwaterDistance.Values[r][c] = gw.distance;
    });
  }));
}

void unsatzonmodellklasse::ComputeLowerBoundaryTemperature(int &next) {
  if (Config.Heat.HeatTransferActive <= 0 || Links.LowerBoundaryTemperature != nullptr)
    return;
  SoilGrid &t = Grids.LowerBoundaryTemperature;
  t.Values = NewGrid(FirstRow, LastRow);
  ResetOwnGrid(t.Values, 0.0);
  ForOwnCells([&](long r, long c) {
    t.Values[r][c] = LowerBoundaryTemperature((*Links.Elevation)[r][c], Config.Heat.dTModLapseRate,
                                              Config.Heat.dTModLowBoundBase);
  });
  Register(next, "T_Lower_Boundary_Condition", &t.Values, nullptr,
           FileAndCode{"T_Lower_Boundary_Condition", 0}, FirstRow, LastRow, t.Index);
  Links.LowerBoundaryTemperature = &t.Values;
  // One file of the whole raster, written by rank 0.
  Grid whole = MPIGatherGridForOutput(t.Index, &t.Values);
  ThrowIfAnyFailed(*Log, CaptureExitCode([&] {
    if (MPIRank == 0)
      WriteGrid("T_Lower_Boundary_Condition", whole, WriteAsciiGrids, WriteDoubleGrids);
  }));
}

void unsatzonmodellklasse::ComputeIrrigationGrids() {
  const int n = MaxSoilLayers;
  SoilWaterGrids &g = Grids;
  const OneBasedArray<IrrigationTableEntry> &table = *IrrigationTable;
  const LanduseLayerLinks &layer1 = Links.Layers[1];
  // Soils of one layer have no layer 2.
  const int thresholdLayer = n < 2 ? n : 2;
  ResetOwnGrid(g.SBLow.Values, 0.0);
  ResetOwnGrid(g.SBHigh.Values, 0.0);
  ForOwnCells([&](long r, long c) {
    const soil_class *soil = SoilOf(r, c);
    if (soil == nullptr)
      return;
    const std::span<const double> theta = Column(g.Theta.Levels, r, c, n);
    const std::span<const double> geo = Column(g.GeodeticHeads.Levels, r, c, n);
    const double code = (*Links.IrrigationCodes)[r][c];
    const bool irrigated =
        code != NoData && code >= 1.0 && code <= static_cast<double>(table.Count());
    if (irrigated) {
      const IrrigationTableEntry &entry = table[static_cast<std::size_t>(std::lround(code))];
      g.SBLow.Values[r][c] = soil->GetTheta(thresholdLayer, entry.psi_dry);
      double wet = entry.psi_wet;
      if (entry.Method == 4 && LanduseTable != nullptr) {
        const double record = (*layer1.Landuse)[r][c];
        if (record >= 1.0 && record <= static_cast<double>(LanduseTable->Count()))
          wet = (*LanduseTable)[static_cast<std::size_t>(std::lround(record))].GetHReduDry();
      }
      g.SBHigh.Values[r][c] = soil->GetTheta(thresholdLayer, wet);
    } else {
      g.SBLow.Values[r][c] = NoData;
      g.SBHigh.Values[r][c] = NoData;
    }
    const double sb1 = RootZoneMeanTheta((*layer1.RootDepth)[r][c], soil->thickness, geo, theta);
    g.SB1.Values[r][c] = sb1;
    g.MeanThetaInRootZone.Values[r][c] = soil->GetSuction(1, sb1);
  });
}

void unsatzonmodellklasse::ComputeDrainageLevels() {
  const int n = MaxSoilLayers;
  SoilWaterGrids &g = Grids;
  std::atomic<long> belowProfile{0};
  ForOwnCells([&](long r, long c) {
    const int level =
        DrainageLevel((*Links.DrainageDepth)[r][c], Column(g.GeodeticHeads.Levels, r, c, n));
    if (level < 0)
      belowProfile.fetch_add(1, std::memory_order_relaxed);
    g.DrainageLevel.Values[r][c] = level < 0 ? 0.0 : level;
  });
  long total = 0;
  const long own = belowProfile.load();
  MPI_Reduce(&own, &total, 1, MPI_LONG, MPI_SUM, 0, MPI_COMM_WORLD);
  if (MPIRank == 0 && total > 0)
    Log->Entry(Concat("WARNING: in ", total,
                      " cells the drainage depth lies at or below the bottom of the soil profile "
                      "(",
                      ModuleName, "): they get no drainage (drainage level 0)",
                      DiagnosticsLog::EndToken));
}

std::array<ExactZoneSums, 2> unsatzonmodellklasse::SoilWaterSums() const {
  const int n = MaxSoilLayers;
  const SoilWaterGrids &g = Grids;
  // Exact sums, so that the reports do not depend on the number of processes:
  // unglacierized and glacierized water and weights, and the control cell's
  // water with the number of its process (plus 1).
  std::array<ExactZoneSums, 2> sums{};
  const Grid *glacier = Links.Glacier;
  const Grid *weights = CellWeights;
  for (long r = FirstRow; r <= LastRow; ++r) {
    const RowColumnRange range = RowRanges != nullptr
                                     ? (*RowRanges)[static_cast<std::size_t>(r)]
                                     : RowColumnRange{1, static_cast<std::int32_t>(NCols)};
    for (long c = range.first; c <= range.last; ++c) {
      if (!IsValid(r, c) || !IsOwn(r, c) || !((*Links.Subbasins)[r][c] > 0.0))
        continue;
      const soil_class *soil = SoilOf(r, c);
      if (soil == nullptr)
        continue;
      const std::span<const double> theta = Column(g.Theta.Levels, r, c, n);
      const double fraction = glacier != nullptr && glacier->HasRow(r) ? (*glacier)[r][c] : 0.0;
      const double weight = weights != nullptr && weights->HasRow(r) ? (*weights)[r][c] : 1.0;
      const StartReportPart part = StartReportOfCell(*soil, theta, fraction, weight);
      sums[0].n.Add(part.unglacierized);
      sums[0].sx.Add(part.glacierized);
      sums[0].RelCellSum.Add(part.unglacierizedWeight);
      sums[1].n.Add(part.glacierizedWeight);
      if (HasControlPoint && r == Config.control_row && c == Config.control_column) {
        sums[1].sx.Add(ColumnWater(theta, std::span<const double>(soil->thickness)) * 1000.0);
        sums[1].RelCellSum.Add(1.0 + MPIRank);
      }
    }
  }
  MPIReduceExactZones(sums);
  return sums;
}

void unsatzonmodellklasse::ReportStartOfRun() {
  const std::array<ExactZoneSums, 2> sums = SoilWaterSums();
  if (MPIRank != 0)
    return;
  char line[256];
  if (sums[1].RelCellSum.ToDouble() > 0.0) {
    std::snprintf(line, sizeof line,
                  "soil water content (for control point r=%d c=%d) at model-start: %lf mm\n",
                  Config.control_row, Config.control_column, sums[1].sx.ToDouble());
    WriteRankLog(line);
  }
  WriteRankLog(MeanSoilWaterLines(sums[0].n.ToDouble(), sums[0].sx.ToDouble(),
                                  sums[0].RelCellSum.ToDouble(), sums[1].n.ToDouble(),
                                  "model-start"));
}

} // namespace tavro
