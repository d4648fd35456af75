// The tracer description of the run (section "[substance_transport]",
// mandatory): the number of tracers (at most 9, read as a decimal count) and
// one line per tracer (tracer_line.h), which make the tracer_info_table that
// the application hands to the routing module and, through InitTracerGrids,
// to every module that carries tracers. A model object, not a sub-model.
//
// Exit codes: copy not opened 28, section or count missing 17, more than 9
// tracers 58 (before any line is read), a tracer line 56, two tracers with
// the same short name 59, copy not closed 11. Each tracer logs "reading
// parameters for tracer <i> ..." and "done.".
#pragma once

#include "kernel/modelobject.h"
#include "kernel/module_settings.h"
#include "kernel/one_based_array.h"
#include "kernel/tracer_info.h"

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

  // Longest tracer line (line break not counted).
  static constexpr std::size_t MaxLineLength = 1199;

private:
  OneBasedArray<TracerInfo> ReadTracerLines(int count);

  int tracerCount_ = 0;
  OneBasedArray<TracerInfo> table_;
};

} // namespace tavro
