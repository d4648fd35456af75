// The dump inspector of one cell's call: copies each internal step's inputs
// into the thread's snapshot before the iteration, and after the iteration
// and the heat steps runs the plausibility checks, writes the dump file of a
// failing step and stops the run (199) or clamps the values back. Only built
// in dump mode.
#pragma once

#include "soil/column_step.h"
#include "soil/dump_file.h"

#include <span>

namespace tavro {

class DiagnosticsLog;
class ParallelErrors;

// What the dumps of a cell take from the module.
struct CellDumpContext {
  DumpPlace place;                      // row, column, call and date; the step is set per step
  std::array<int, 4> stepDate{};        // hour, day, month, year stored at the step's begin
  int maxLayers = 0;                    // n of the file layout
  int landuseLayers = 0;                // L
  int soilType = 0;                     // the cell's soil type index
  std::span<const double> landuseCodes; // 1..L (element 0 unused)
  std::span<const double>
      transpiration;           // the cell's real_transpiration grids before the call, 0..L
  double airTemperature = 0.0; // the cell's temperature grid value
  DumpOptions options;
};

class CellDumper final : public StepInspector {
public:
  CellDumper(const CellDumpContext &context, DumpSnapshot &snapshot, DiagnosticsLog &log,
             ParallelErrors &errors)
      : context_(context), snapshot_(snapshot), log_(log), errors_(errors) {}

  void BeforeIteration(const InternalStepView &view) override;
  // Throws the exit code 199, recorded in the errors with its text, when the
  // run is to stop after the dump.
  void AfterIteration(const InternalStepView &view) override;

private:
  const CellDumpContext &context_;
  DumpSnapshot &snapshot_;
  DiagnosticsLog &log_;
  ParallelErrors &errors_;
};

} // namespace tavro
