// Point time series of chosen grids (section "[special_output]", optional):
// for every model step the values of grids or stack levels at map
// coordinates, written into one or more text files. Without the section, or
// with flow control parameter 0, the module stays inactive.
//
// The section holds, after the flow control parameter and the time interval,
// a line "numfiles = N;" and N file blocks in braces:
//   {
//     header = <one word>; filename = <file>;
//     entity = { ID = <grid>; Symbol = <label>; Xcoords = x1, x2; Ycoords = y1, y2;
//                Level = l1, l2; };
//   }
// Values of the flux grids (IsFluxIdentifier) are summed over the sub-steps
// of a step when a step has more than one; all other values are taken at the
// end of the step.
#pragma once

#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"
#include "raster/output/special_output_file.h"

#include <string_view>
#include <vector>

namespace tavro {

class SpecialOutputClass : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "special_output";
  static constexpr int OtherFailureExitCode = 104;

  // error: 0, or the exit code of a failure, which is thrown as well (other
  // failures such as a missing key: 104). A missing section leaves the
  // module inactive.
  SpecialOutputClass(int &error, const ModuleSettings &settings, int substepCount);

  // After each sub-step (substepCall set, index 1..m) and once after the
  // step's output (cleared, index 0). Collective when a buffer is full.
  virtual void SampleStep(long hour, long day, long month, long year, bool substepCall,
                          int substepIndex);
  // Writes the buffered rows of every file; collective.
  virtual void FlushFiles();
  void ReleaseMemory() override;

  int FileCount() const { return fileCount_; }
  const std::vector<SpecialOutputFile> &Files() const { return files_; }

private:
  void ReadFileBlocks();
  // The next line of the section; none at the end of the control-file copy.
  std::optional<std::string> ReadLine();
  void ReadFileCount();
  std::string ReadBlockText(int block);
  SpecialOutputFile MakeFile(std::string_view block, int blockNumber);
  SpecialOutputEntity MakeEntity(std::string_view group, int blockNumber);
  [[noreturn]] void MissingKey(std::string_view key, int blockNumber);
  SamplingContext Context() const;

  int fileCount_ = 0;
  std::vector<SpecialOutputFile> files_;
};

} // namespace tavro
