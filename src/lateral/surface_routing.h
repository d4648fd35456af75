// The surface routing module (section "[SurfaceRoutingModel]"): overland
// flow in sub-steps. When active (flow control parameter at least 1) it takes
// QBb and the storage constants from the soil-water module and delivers its
// own Qg to routing. The physics comes later; this class fixes the module's
// interface and the "[SurfaceRoutingModel]" state section.
#pragma once

#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"

#include <string>

namespace tavro {

class surfaceroutingclass : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "SurfaceRoutingModel";
  static constexpr const char *StateSection = "[SurfaceRoutingModel]";
  static constexpr int NotInitializedExitCode = 57;

  surfaceroutingclass(int &error, const ModuleSettings &settings, int substepCount);

  virtual void SetQBb(SubbasinRunoffArrays *qbb); // stored when active
  virtual void SetKelsqd(SubbasinValues *constants);
  virtual void SetKelsqi(SubbasinValues *constants);
  // When active: its Qg (fatal 57 when never set up); none when inactive.
  virtual SubbasinRunoffArrays *GetQg();
  void InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                       StatisticsRegistry *registry, int capacity) override;
  void SetSubstepCount(int count) override;
  // The base step (progress line), then the statistics preparation.
  virtual void BeginTimeStep(long hour, long day, long month, long year);
  // Overland flow of one sub-step; nothing when inactive.
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  virtual void ConcentrateRunoff(long hour, long day, long month, long year);
  virtual void FlushStatistics();
  // With FlowControl above 0: writes its state section when marked
  // initialised and a state file name is known (appended when append), then
  // releases its tracer grids and the base resources.
  virtual void FinishRun(bool append);
  virtual void WriteStorage(const std::string &fileName, bool append);
  void ReleaseMemory() override;

  SubbasinRunoffArrays *QBb() const { return qbb_; }
  SubbasinValues *Kelsqd() const { return kelsqd_; }
  SubbasinValues *Kelsqi() const { return kelsqi_; }

  std::string StorageFileName; // state file; read from the section later

private:
  SubbasinRunoffArrays qg_;
  bool qgCreated_ = false;
  SubbasinRunoffArrays *qbb_ = nullptr;
  SubbasinValues *kelsqd_ = nullptr;
  SubbasinValues *kelsqi_ = nullptr;
};

} // namespace tavro
