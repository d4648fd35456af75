// Soil-water module: what frames the column step. The begin of a step
// (progress line, zone move, statistics reset), the pumping limit for
// irrigation, the control-point records and their writer, the flush of every
// buffer, and the end of the run (state section, control-point and summary
// lines, releases).
#include "soil/unsatzon_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/exact_sum.h"
#include "kernel/fatal_error.h"
#include "kernel/progress_line.h"
#include "raster/output/module_statistic.h"
#include "raster/parallel/collective_failure.h"
#include "raster/parallel/interrupts_ignored.h"
#include "raster/parallel/zone_reduction.h"
#include "soil/initial_soil_state.h"
#include "tables/soil_class.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <iomanip>
#include <mutex>
#include <span>

namespace tavro {
namespace {

// Appends one record (the date and values 0..ValueCount-1, missing ones 0) to
// the buffer of a file; a full buffer takes nothing (it is written out after
// the step's statistics, before it can fill).
void AppendRecord(std::vector<ControlPointBuffer> &buffers, ControlPointFile file,
                  const ModelDate &date, std::span<const double> values) {
  for (ControlPointBuffer &b : buffers)
    if (b.File == file)
      AppendControlPointRecord(b, date.Year, date.Month, date.Day, date.Hour, values.data(),
                               values.size());
}

} // namespace

// --- Begin of a step --------------------------------------------------------------

void unsatzonmodellklasse::BeginTimeStep(long hour, long day, long month, long year) {
  if (FlowControl == 0)
    return;
  SetActualStep(hour, day, month, year);
  CallOfStep = 0;
  // The ponds' terms add up over the calls of the step.
  for (SoilGrid *pond : {&Grids.PondEvaporation, &Grids.PondExchange, &Grids.PondOverflow})
    if (pond->Index != 0)
      ResetOwnGrid(pond->Values, 0.0);
  LinkSurfaceWaterTracers();
  InitialiseSoilTemperatures();
  if (ProgressLineDue(HourDivisor, hour, HoursToIntervalEnd)) {
    std::lock_guard lock(Log->Mutex());
    *Log << std::setw(20) << ModuleName << " " << day << "." << month << "." << year << " " << hour
         << ". h "
         << "(time of meteo data)" << ProcessTag << "[end-entry]";
  }
  ZonesQD.Move();
  ZonesQI.Move();
  ResetStatisticsStep();
}

void unsatzonmodellklasse::ResetStatisticsStep() {
  auto reset = [](ModuleStatistic *table) {
    if (table != nullptr)
      (*table)->ResetStep();
  };
  using S = SoilStatistic;
  for (const S which : {S::GWSTAND, S::GWN, S::MACRO})
    reset(Table(which));
  reset(SubstepsTable.get());
  for (const S which : {S::INFILT, S::SB_1, S::SB_2})
    reset(Table(which));
  reset(GlacierResizeTable.get());
  for (const S which :
       {S::ROOT, S::INFEX, S::QD, S::QI, S::QB, S::GWIN, S::GWEX, S::Qg, S::QDRAIN, S::POND})
    reset(Table(which));
  for (TracerRecord &record : TracerRecords)
    if (record.Statistics)
      record.Statistics->ResetStep();
  if (Config.Heat.HeatTransferActive >= 1)
    reset(ThawDepthTable.get());
}

// --- Pumping limit --------------------------------------------------------------------

void unsatzonmodellklasse::ComputeMaxPumping() {
  if (FlowControl == 0 || IrrigationTable == nullptr || !Grids.MaxPumping.Values.Allocated())
    return;
  Grid &pumping = Grids.MaxPumping.Values;
  for (long r = FirstRow; r <= LastRow; ++r) {
    const RowColumnRange range = RowRanges != nullptr
                                     ? (*RowRanges)[static_cast<std::size_t>(r)]
                                     : RowColumnRange{1, static_cast<std::int32_t>(NCols)};
    for (long c = range.first; c <= range.last; ++c) {
      const soil_class *soil = SoilOf(r, c);
      if (!IsValid(r, c) || !IsOwn(r, c) || soil == nullptr) {
        pumping[r][c] = NoData;
        continue;
      }
      // The drainable pore space from the groundwater layer down to the
      // layer above the deepest one.
      double room = 0.0;
      const int first = static_cast<int>(Grids.GroundwaterLevel.Values[r][c]);
      for (int k = std::max(first, 1); k < soil->LayerCount; ++k) {
        const auto at = static_cast<std::size_t>(k);
        room += 1000.0 * soil->thickness[at] *
                (soil->theta_sat[at] - soil->GetTheta(k, kFieldCapacitySuction));
      }
      pumping[r][c] = room;
    }
  }
}

// --- Control point -----------------------------------------------------------------------

void unsatzonmodellklasse::RecordControlPoint() {
  if (!HasControlPoint)
    return;
  const long r = Config.control_row;
  const long c = Config.control_column;
  const int n = MaxSoilLayers;
  const ModelDate date = ActualDate();
  const auto column = [&](const Stack &stack) {
    return std::span<const double>(stack[r][c], static_cast<std::size_t>(n) + 1);
  };
  auto append = [&](ControlPointFile which, const Stack &stack) {
    AppendRecord(ControlPointBuffers, which, date, column(stack));
  };
  append(ControlPointFile::Qbottom, Grids.QDown.Levels);
  append(ControlPointFile::Theta, Grids.Theta.Levels);
  append(ControlPointFile::Hhyd, Grids.HydraulicHeads.Levels);
  if (Config.Heat.HeatTransferActive > 0 && Config.Heat.HeatTransferMethod > 0 &&
      Grids.SoilTemperature.Levels.Allocated())
    append(ControlPointFile::Temperature, Grids.SoilTemperature.Levels);
  AppendTracerPointRecords(date);
  // Full buffers are written out (the hydraulic heads too, whose records
  // would otherwise be lost once their buffer is full).
  for (const ControlPointFile which :
       {ControlPointFile::Qbottom, ControlPointFile::Theta, ControlPointFile::Hhyd,
        ControlPointFile::Temperature, ControlPointFile::Otherdata, ControlPointFile::EtrDetail,
        ControlPointFile::Interflow})
    for (ControlPointBuffer &b : ControlPointBuffers)
      if (b.File == which && b.Count >= b.Capacity)
        WritePointRecords(b, b.FirstWritten(), b.ValueCount - 1);
  for (SoilTracerGrids &s : SoilTracers)
    if (s.point && s.point->Count >= s.point->Capacity)
      WritePointRecords(*s.point, 1, MaxSoilLayers);
}

void unsatzonmodellklasse::RecordControlCellDetails(
    std::span<const double> evaporationAndTranspiration, std::span<const double> interflow,
    double infiltration) {
  if (!HasControlPoint)
    return;
  const long r = Config.control_row;
  const long c = Config.control_column;
  const ModelDate date = ActualDate();
  AppendRecord(ControlPointBuffers, ControlPointFile::EtrDetail, date, evaporationAndTranspiration);
  AppendRecord(ControlPointBuffers, ControlPointFile::Interflow, date, interflow);
  auto at = [&](const Grid *grid) {
    return grid != nullptr && grid->Allocated() && grid->HasRow(r) ? (*grid)[r][c] : NoData;
  };
  const SoilWaterGrids &g = Grids;
  const double first[] = {0.0, // value 0 unused
                          at(&g.DirectFlow.Values),
                          at(&g.Interflow.Values),
                          at(&g.Baseflow.Values),
                          infiltration,
                          at(&g.RiverInfiltration.Values),
                          at(&g.RiverExfiltration.Values),
                          at(&g.GroundwaterRecharge.Values),
                          at(&g.CapillarUprise.Values),
                          at(&g.Percolation.Values),
                          at(&g.MacroporeInfiltration.Values),
                          at(&g.DrainageFlow.Values),
                          at(&g.Ponding.Values),
                          at(&g.InfiltrationExcess.Values),
                          at(&g.GroundwaterDistance.Values),
                          at(&g.GroundwaterLevel.Values),
                          at(&g.Root.Values),
                          at(Links.Albedo),
                          at(Links.SurfaceEvaporationResistance)};
  std::vector<double> &values = otherData_;
  values.assign(std::begin(first), std::end(first));
  for (int l = 1; l <= LanduseLayerCount; ++l) {
    const LanduseLayerLinks &layer = Links.Layers[static_cast<std::size_t>(l)];
    for (const Grid *grid : {layer.LeafAreaIndex, layer.VegetationCover, layer.CanopyResistance,
                             layer.InterceptionResistance, layer.RootDepth, layer.RoughnessLength})
      values.push_back(at(grid));
  }
  AppendRecord(ControlPointBuffers, ControlPointFile::Otherdata, date, values);
}

void unsatzonmodellklasse::WritePointRecords(ControlPointBuffer &buffer, int first, int last) {
  if (buffer.Count == 0)
    return;
  if (last == 0)
    last = MaxSoilLayers;
  const InterruptsIgnored quiet;
  Log->Entry(Concat("write ", buffer.FileName, DiagnosticsLog::EndToken));
  std::FILE *file = std::fopen(buffer.FileName.c_str(), "a+");
  if (file == nullptr)
    ThrowFatal(*Log, PointFileExitCode, "\nerror opening file " + buffer.FileName);
  const auto width = static_cast<std::size_t>(buffer.ValueCount);
  for (std::size_t i = 0; i < buffer.Count; ++i) {
    const std::int64_t *date = &buffer.Dates[4 * i];
    std::fprintf(file, "%ld\t%ld\t%ld\t%ld", static_cast<long>(date[0]), static_cast<long>(date[1]),
                 static_cast<long>(date[2]), static_cast<long>(date[3]));
    const double *values = &buffer.Values[width * i];
    for (int v = first; v <= last && static_cast<std::size_t>(v) < width; ++v)
      std::fprintf(file, "\t%g", values[v]);
    std::fputs("\n", file);
  }
  std::fclose(file);
  Log->Entry(Concat("(", static_cast<long long>((MaxSoilLayers * 8 + 32) * buffer.Count), " of ",
                    2097152, " buffer-bytes)", DiagnosticsLog::EndToken));
  buffer.Count = 0;
}

void unsatzonmodellklasse::FlushControlPointBuffers() {
  if (!HasControlPoint)
    return;
  for (const ControlPointFile which :
       {ControlPointFile::Qbottom, ControlPointFile::Theta, ControlPointFile::Hhyd,
        ControlPointFile::Otherdata, ControlPointFile::EtrDetail, ControlPointFile::Interflow,
        ControlPointFile::Temperature})
    for (ControlPointBuffer &b : ControlPointBuffers) {
      if (b.File != which)
        continue;
      WritePointRecords(b, b.FirstWritten(), b.ValueCount - 1);
    }
  for (SoilTracerGrids &s : SoilTracers)
    if (s.point)
      WritePointRecords(*s.point, 1, MaxSoilLayers);
}

// --- Flush -----------------------------------------------------------------------------

void unsatzonmodellklasse::FlushStatistics() {
  if (FlowControl == 0)
    return;
  FlushControlPointBuffers();
  auto flush = [](ModuleStatistic *table) {
    if (table != nullptr)
      (*table)->FlushBuffer();
  };
  using S = SoilStatistic;
  for (const S which : {S::QD, S::QI, S::QB, S::GWIN, S::GWEX, S::Qg, S::SB_1, S::SB_2})
    flush(Table(which));
  flush(GlacierResizeTable.get());
  for (const S which : {S::ROOT, S::GWSTAND, S::GWN, S::INFILT, S::MACRO})
    flush(Table(which));
  flush(SubstepsTable.get());
  for (const S which : {S::INFEX, S::POND, S::QDRAIN})
    flush(Table(which));
  if (Config.Heat.HeatTransferActive > 0 && Config.Heat.HeatTransferMethod > 0)
    flush(ThawDepthTable.get());
  for (TracerRecord &record : TracerRecords)
    if (record.Statistics)
      record.Statistics->FlushBuffer();
}

// --- End of the run ------------------------------------------------------------------------

void unsatzonmodellklasse::FinishRun(bool append) {
  if (FlowControl <= 0)
    return;
  // A state that cannot be written ends the run, but only after everything
  // else of the run has been written.
  int stateFailure = 0;
  if (Initialized == 1 && !StorageFileName.empty()) {
    stateFailure = CaptureExitCode([&] { WriteStorage(StorageFileName, append); });
    Initialized = 0; // the section is written once
  }
  ReportEndOfRun();
  // The tracers' records go with the others, before the tracers are released.
  FlushControlPointBuffers();
  FinishTracerGrids();
  ReleaseMemory();
  if (stateFailure != 0)
    throw stateFailure;
}

void unsatzonmodellklasse::ReportEndOfRun() {
  // The control cell's water comes to rank 0 with the sums, so that its line
  // joins the others in the one log file whatever the number of processes.
  const std::array<ExactZoneSums, 2> sums = SoilWaterSums();
  if (MPIRank != 0)
    return;
  std::string text;
  const double owner = sums[1].RelCellSum.ToDouble();
  if (owner > 0.0) {
    std::array<char, 256> line{};
    std::snprintf(line.data(), line.size(),
                  "(mpi_rank %d) soil water content (control point r=%d c=%d) at model-end: %lf "
                  "mm\n",
                  static_cast<int>(owner) - 1, Config.control_row, Config.control_column,
                  sums[1].sx.ToDouble());
    text += line.data();
  }
  text += MeanSoilWaterLines(sums[0].n.ToDouble(), sums[0].sx.ToDouble(),
                             sums[0].RelCellSum.ToDouble(), sums[1].n.ToDouble(), "model-end");
  std::FILE *file = std::fopen("modell_0.log", "a+");
  if (file == nullptr) {
    Log->Entry(Concat("WARNING: log file modell_0.log could not be opened: the soil water at "
                      "model-end is not reported there",
                      DiagnosticsLog::EndToken));
    return;
  }
  std::fputs(text.c_str(), file);
  std::fclose(file);
}

} // namespace tavro
