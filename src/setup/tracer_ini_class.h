// The tracer description of the run (section "[substance_transport]",
// mandatory): the number of tracers (at most 9) and the tracer_info_table
// that the application hands to the routing module and, through
// InitTracerGrids, to every module that carries tracers. A model object, not
// a sub-model. The reading of the tracer lines comes later: for now a run
// with tracers is refused with a clear FATAL entry.
#pragma once

#include "kernel/modelobject.h"
#include "kernel/module_settings.h"
#include "kernel/one_based_array.h"
#include "setup/tracer_info.h"

namespace tavro {

class tracer_ini_class : public modelobject {
public:
  static constexpr const char *FixedName = "tracer_ini";
  static constexpr const char *SectionKey = "[substance_transport]";
  static constexpr int MaxTracers = 9;
  static constexpr int TooManyTracersExitCode = 58;

  // error: 0, or the exit code of a failure, which is thrown as well.
  tracer_ini_class(int &error, const ModuleSettings &settings);

  virtual int GetTracerCount() const { return tracerCount_; }
  // The table (tracers 1..count), none without tracers.
  virtual OneBasedArray<TracerInfo> *GetTracerInfo() {
    return tracerCount_ > 0 ? &table_ : nullptr;
  }
  void ReleaseMemory() override;

private:
  int tracerCount_ = 0;
  OneBasedArray<TracerInfo> table_;
};

} // namespace tavro
