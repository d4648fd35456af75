// The interception module (section "[interception_model]"). Its method
// decides whether interception runs before snow (method above 10). The
// physics comes later; this class fixes the module's interface.
#pragma once

#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"

namespace tavro {

class interzeptionsmodellklasse : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "interception_model";

  interzeptionsmodellklasse(int &error, const ModuleSettings &settings);

  // The interception method (flow control parameter) when it is above 0,
  // else 0, so an inactive interception never runs first.
  virtual int GetMethod() const;
  void InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                       StatisticsRegistry *registry, int capacity) override;
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  virtual void FlushStatistics();
  void FinishTracerGrids() override;
  void ReleaseMemory() override;
};

} // namespace tavro
