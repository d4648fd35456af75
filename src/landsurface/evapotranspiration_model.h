// The evapotranspiration module (section "[evapotranspiration]"): potential
// and real evapotranspiration, evaporation of snow on glaciers. It receives
// the radiation correction grid and the snow storage and method through the
// application's wiring. The physics comes later; this class fixes the
// module's interface and the documented wiring effects.
#pragma once

#include "kernel/grid.h"
#include "kernel/model_date.h"
#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"

#include <string>
#include <string_view>

namespace tavro {

class verdunstungsmodellklasse : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "evapotranspiration";

  verdunstungsmodellklasse(int &error, const ModuleSettings &settings);

  // Stored when the module is active (FlowControl not 0).
  virtual void SetRadiationCorrectionGrid(Grid *grid);
  virtual void SetSnowStorage(Grid *grid);
  virtual void SetSnowMethod(int method); // stored always
  // Reads the lake parameters of the section (here "[lake_model]").
  virtual void ReadLakeParameters(std::string_view sectionName);
  void SetSubstepCount(int count) override;

  virtual void PotentialEvapotranspiration(long hour, long day, long month, long year);
  virtual void SnowEvaporationOnGlacier(long hour, long day, long month, long year);
  virtual void RealEvapotranspiration(long hour, long day, long month, long year);
  // The per-sub-step hook; does nothing.
  virtual void ComputeSubstep(long hour, long day, long month, long year);
  virtual void FinishTimeStep(long hour, long day, long month, long year);
  virtual void FlushStatistics();
  void ReleaseMemory() override;

  // What the wiring handed over (for the later physics and for tests).
  Grid *RadiationCorrection() const { return radiationCorrection_; }
  Grid *SnowStorage() const { return snowStorage_; }
  int SnowMethod() const { return snowMethod_; }
  const std::string &LakeSection() const { return lakeSection_; }

private:
  Grid *radiationCorrection_ = nullptr; // owned by the radiation correction
  Grid *snowStorage_ = nullptr;         // owned by the snow module
  int snowMethod_ = 0;
  std::string lakeSection_;
};

} // namespace tavro
