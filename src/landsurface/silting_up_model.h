// The silting-up module (section "[SiltingUpModel]"). The physics comes
// later; this class fixes the module's interface.
#pragma once

#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"

namespace tavro {

class siltingupclass : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "SiltingUpModel";

  siltingupclass(int &error, const ModuleSettings &settings);

  // When active: water input from interception when interceptionFirst.
  virtual void SelectWaterInput(bool interceptionFirst);
  void InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                       StatisticsRegistry *registry, int capacity) override;
  // The base step, then (later) the silting-up of the step.
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  virtual void FlushStatistics();
  void FinishTracerGrids() override;
  void ReleaseMemory() override;

  bool WaterInputFromInterception() const { return waterFromInterception_; }

private:
  bool waterFromInterception_ = false;
};

} // namespace tavro
