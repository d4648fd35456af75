// Snow and glacier module: section, wiring, state section and step hooks.
#include "landsurface/snow_model.h"

#include "kernel/diagnostics_log.h"
#include "kernel/module_construction.h"
#include "kernel/state_section.h"

#include <cstdio>

namespace tavro {

schneemodellklasse::schneemodellklasse(int &error, const ModuleSettings &settings) try
    : teilmodellklasse(BeginModuleConstruction(error, settings, FixedName)) {
  CloseModuleSection(*this);
  if (FlowControl != 0)
    snowStorage_ = MakeStripGrid(*this);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName);
}

void schneemodellklasse::SetRadiationCorrectionGrid(Grid *grid) {
  if (FlowControl != 0)
    radiationCorrection_ = grid;
}

Grid *schneemodellklasse::GetSnowStorage() {
  return FlowControl != 0 && snowStorage_.Allocated() ? &snowStorage_ : nullptr;
}

int schneemodellklasse::GetMethod() const { return FlowControl > 0 ? FlowControl : 0; }

void schneemodellklasse::SelectWaterInput(bool interceptionFirst) {
  if (FlowControl != 0)
    waterFromInterception_ = interceptionFirst;
}

void schneemodellklasse::ReadLakeParameters(std::string_view sectionName) {
  lakeSection_ = std::string(sectionName);
}

void schneemodellklasse::SetQg(SubbasinRunoffArrays *qg) {
  if (FlowControl == 0)
    return;
  qg_ = qg;
  // From here on the module writes its state section at the end of the run.
  Initialized = 1;
}

void schneemodellklasse::ReadStorage(const std::string &fileName, int readMode) {
  // The name is also where the section is written at the end of the run,
  // whatever the read mode.
  if (!fileName.empty())
    storageFileName_ = fileName;
  if (fileName.empty() || readMode == 2 || readMode == 4)
    return;
  std::FILE *file = std::fopen(fileName.c_str(), "r");
  if (file == nullptr) {
    Log->Entry("WARNING: in snow/glacier model: error opening storage content file " + fileName +
               std::string(DiagnosticsLog::EndToken));
    Log->Entry("WARNING: glacier model will be run with cold start initialization values" +
               std::string(DiagnosticsLog::EndToken));
    return;
  }
  // The glacier reservoir values of the section are read with the glacier model.
  std::fclose(file);
}

void schneemodellklasse::WriteStorage(const std::string &fileName, bool append) {
  WriteStateSectionHeader(*this, fileName, StateSection, append);
}

void schneemodellklasse::InitTracerGrids(int &error, int tracerCount,
                                         OneBasedArray<TracerInfo> *info,
                                         StatisticsRegistry *registry, int capacity) {
  error = 0;
  if (FlowControl != 0)
    teilmodellklasse::InitTracerGrids(error, tracerCount, info, registry, capacity);
}

void schneemodellklasse::ComputeTimeStep(long hour, long day, long month, long year) {
  teilmodellklasse::ComputeTimeStep(hour, day, month, year);
}

void schneemodellklasse::FlushStatistics() {}

void schneemodellklasse::FinishTracerGrids() {
  if (FlowControl != 0)
    teilmodellklasse::FinishTracerGrids();
}

void schneemodellklasse::ReleaseMemory() {
  if (FlowControl > 0 && Initialized == 1 && !storageFileName_.empty()) {
    WriteStorage(storageFileName_, true);
    Initialized = 0; // written once, also when released twice
  }
  snowStorage_ = Grid();
  radiationCorrection_ = nullptr;
  qg_ = nullptr;
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
