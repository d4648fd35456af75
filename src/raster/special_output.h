// Point time series of chosen grids (section "[special_output]", optional):
// values at map coordinates written to text files every step. Without the
// section the module stays inactive and the run goes on. The file blocks and
// their sampling come later; this class fixes the module's interface.
#pragma once

#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"

namespace tavro {

class SpecialOutputClass : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "special_output";
  static constexpr int OtherFailureExitCode = 104;

  // error: 0, or the exit code of a failure, which is thrown as well (other
  // failures: 104). A missing section leaves the module inactive.
  SpecialOutputClass(int &error, const ModuleSettings &settings, int substepCount);

  // After each sub-step (substepCall set, index 1..m) and once after the
  // step's output (cleared, index 0).
  virtual void SampleStep(long hour, long day, long month, long year, bool substepCall,
                          int substepIndex);
  // Writes the buffered rows of every file; collective.
  virtual void FlushFiles();
  void ReleaseMemory() override;

  int FileCount() const { return fileCount_; }

private:
  int fileCount_ = 0;
};

} // namespace tavro
