// Groundwater module: step output, the control-cell records and their file,
// the statistics flush and the groundwater part of "[lake_model]".
#include "lateral/groundwater_flow.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "lateral/groundwater_names.h"
#include "raster/output/zonal_statistic.h"
#include "raster/parallel/interrupts_ignored.h"

#include <cstdio>

namespace tavro {

void gwflowclass::WriteStepOutput(long hour, long day, long month, long year) {
  if (FlowControl == 0)
    return;
  SetActualStep(hour, day, month, year);
  // "baseflow" is the soil-water module's grid, which that module writes by
  // its writecode at the end of the step (with the values left here); a
  // second write would date-stamp a copy and count the step twice in the
  // period sums.
  for (int k = 1; k <= LayerCount(); ++k) {
    const GroundwaterLayerGrids &layer = Layer(k);
    for (GroundwaterGridSlot slot : {kHead, kHeadOld, kFlowX, kFlowY, kBalance})
      WriteGridOutput(layer.Index[slot]);
    for (GroundwaterTracer &tracer : Tracers) {
      const std::size_t l = static_cast<std::size_t>(k - 1);
      WriteGridOutput(tracer.ConcentrationIndex[l]);
      if (tracer.Statistics[l])
        tracer.Statistics[l]->EndOfStep(year, month, day, hour, 1);
    }
  }
}

void gwflowclass::FlushStatistics() {
  if (FlowControl == 0)
    return;
  for (GroundwaterTracer &tracer : Tracers)
    for (auto &table : tracer.Statistics)
      if (table)
        table->FlushBuffer();
  if (ControlRow > 0)
    WriteControlPointFluxes();
}

void gwflowclass::RecordControlPoint() {
  if (!OwnsControlCell || ControlCapacity == 0)
    return;
  const long r = ControlRow, c = ControlColumn;
  const std::size_t record = ControlCount++;
  std::int64_t *date = &ControlDates[4 * record];
  date[0] = ActualYear;
  date[1] = ActualMonth;
  date[2] = ActualDay;
  date[3] = ActualHour;
  const std::size_t perRecord = 6 * static_cast<std::size_t>(LayerCount());
  double *values = &ControlValues[perRecord * record];
  for (int k = 1; k <= LayerCount(); ++k) {
    const Grid &h = Layer(k)[kHead];
    auto at = [&](long rn, long cn) {
      return rn < 1 || rn > NRows || cn < 1 || cn > NCols ? -8888.0 : h[rn][cn];
    };
    *values++ = h[r][c];
    *values++ = at(r - 1, c);
    *values++ = at(r, c + 1);
    *values++ = at(r + 1, c);
    *values++ = at(r, c - 1);
    *values++ = (*Baseflow)[r][c];
  }
  if (ControlCount >= ControlCapacity)
    WriteControlPointFluxes();
}

void gwflowclass::WriteControlPointFluxes() {
  if (ControlCount == 0)
    return;
  InterruptsIgnored quiet;
  std::FILE *file = std::fopen(ControlPointFileName.c_str(), "a+");
  if (file == nullptr)
    ThrowFatal(*Log, ControlFileAppendExitCode, "error opening file " + ControlPointFileName);
  const std::size_t perRecord = 6 * static_cast<std::size_t>(LayerCount());
  for (std::size_t i = 0; i < ControlCount; ++i) {
    const std::int64_t *date = &ControlDates[4 * i];
    std::fprintf(file, "%ld\t%ld\t%ld\t%ld", static_cast<long>(date[0]), static_cast<long>(date[1]),
                 static_cast<long>(date[2]), static_cast<long>(date[3]));
    const double *v = &ControlValues[perRecord * i];
    for (std::size_t j = 0; j < perRecord; ++j)
      std::fprintf(file, "\t%g", v[j]);
    std::fputc('\n', file);
  }
  const bool failed = std::ferror(file) != 0;
  if (std::fclose(file) != 0 || failed)
    ThrowFatal(*Log, ControlFileAppendExitCode, "error opening file " + ControlPointFileName);
  Log->Entry(Concat("write ", ControlPointFileName, "(",
                    ControlRecordBytes(LayerCount()) * ControlCount, " of ", 2097152,
                    " buffer-bytes)", DiagnosticsLog::EndToken));
  ControlCount = 0;
}

void gwflowclass::ReadLakeParameters(const std::string &section) {
  const int lakeIndex = FindGrid("lake_codes", false);
  if (lakeIndex == 0) {
    Log->Entry(Concat("INFO: no LAKE-grid was found in ", ModuleName, "\n",
                      "Lake modelling is switched off for ", ModuleName, ".\n",
                      DiagnosticsLog::EndToken));
    return;
  }
  if (!OpenControlFile())
    ThrowFatal(*Log, OpenErrorExitCode, "error opening " + ControlFileName);
  struct CloseOnExit {
    gwflowclass &module;
    ~CloseOnExit() {
      if (module.ControlFile().IsOpen())
        module.CloseControlFile();
    }
  } closer{*this};
  FindControlKey(section, true);
  ReadControlValue(LakeFlowControl, "flow control parameter for ");
  if (SpinUpSwitch != 0)
    LakeFlowControl = 0;
  if (LakeFlowControl == 0)
    return;
  const std::string banner = "\n=======================================\n";
  if (PondUse != 1)
    ThrowFatal(*Log, LakeExitCode,
               Concat(banner, "!!!! ERROR !!!! \n\n", "Error in initialization method for ",
                      section, ".\n", "pond_use must be set in ", ModuleName, "\n",
                      "for using the ", section, "\n", banner));
  ReadControlValue(LakeInitMethod, "initialization method for ");
  if (!CloseControlFile())
    ThrowFatal(*Log, CloseErrorExitCode,
               Concat("error closing ", ControlFileName, "after reading initialization method for ",
                      section));
  LakeCodes = (*Registry)[lakeIndex].Data;
  const int ponding = FindGrid("ponding_storage", false);
  if (ponding == 0)
    ThrowFatal(*Log, NoPondGridExitCode,
               Concat(banner, "!!!! ERROR !!!! \n\n",
                      "\nLAKE-grid was found, but no POND-Grid. For using lakes,",
                      "\nboth grids must be present.", banner));
  LakePonding = (*Registry)[ponding].Data;
  if (LakeInitMethod != 1 && LakeInitMethod != 2)
    ThrowFatal(
        *Log, LakeExitCode,
        Concat(banner, "!!!! ERROR !!!! \n\n ", "Error in initialization method for ", section,
               ".\n", "Lake initialization method (", LakeInitMethod, ") not valid.\n",
               "Allowed values are 1 (no change of grids) or 2 (adjust DEM, SLOPE, DRAIN).\n",
               "In either case, theta_soil will be set to saturation,\n",
               "if the cell is marked as lake and POND is > 0. Also, the groudwater level\n",
               "will be set to 0.", banner));
}

} // namespace tavro
