// The snow and glacier module (section "[snow_model]"). It hands its solid
// snow storage and its method to evapotranspiration, takes the radiation
// correction grid and the subbasin runoff, and keeps the "[snow_model]"
// section of the state file. The physics comes later; this class fixes the
// module's interface and the documented wiring and state-file effects.
#pragma once

#include "kernel/grid.h"
#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"

#include <string>
#include <string_view>

namespace tavro {

class schneemodellklasse : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "snow_model";
  static constexpr const char *StateSection = "[snow_model]";

  schneemodellklasse(int &error, const ModuleSettings &settings);

  virtual void SetRadiationCorrectionGrid(Grid *grid); // stored when active
  // The solid snow storage (zero-filled strip grid) when active, else none.
  virtual Grid *GetSnowStorage();
  // The snow method (flow control parameter) when it is above 0, else 0.
  virtual int GetMethod() const;
  // When active: water input from the interception module when
  // interceptionFirst, else from the grid "precipitation".
  virtual void SelectWaterInput(bool interceptionFirst);
  virtual void ReadLakeParameters(std::string_view sectionName);
  // When active: stores the arrays and marks the module initialised.
  virtual void SetQg(SubbasinRunoffArrays *qg);
  // Reads its state section unless fileName is empty or readMode is 2 or 4.
  // A file that does not open is a cold start (two WARNING entries).
  virtual void ReadStorage(const std::string &fileName, int readMode);
  // Writes its (for now empty) state section; append adds it to the file.
  virtual void WriteStorage(const std::string &fileName, bool append);
  void InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                       StatisticsRegistry *registry, int capacity) override;
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  virtual void FlushStatistics();
  void FinishTracerGrids() override;
  // With FlowControl above 0 and marked initialised: appends its state
  // section to the state file of ReadStorage; then releases.
  void ReleaseMemory() override;

  Grid *RadiationCorrection() const { return radiationCorrection_; }
  bool WaterInputFromInterception() const { return waterFromInterception_; }
  SubbasinRunoffArrays *Qg() const { return qg_; }
  const std::string &StorageFileName() const { return storageFileName_; }

private:
  Grid snowStorage_;
  Grid *radiationCorrection_ = nullptr;
  bool waterFromInterception_ = false;
  std::string lakeSection_;
  SubbasinRunoffArrays *qg_ = nullptr;
  std::string storageFileName_;
};

} // namespace tavro
