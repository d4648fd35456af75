// The set-up object as the application drives it: the staged set-up, the
// hand-over, and the per-step, coupling, flush and release operations. The
// application talks to this interface so that its order of calls can be
// checked with a recording double; DefaultiniSetup adapts the real set-up
// object.
#pragma once

#include "setup/defaultini.h"

#include <memory>
#include <string>
#include <vector>

namespace tavro {

struct HydrologicResponseUnit;

// The "[SpinUp]" values of the run.
struct SpinUpSettings {
  int SpinUpSwitch = 0;
  int doTemperaturePreSpinUp = 0;
  int RepeatCount = 0;
  const std::vector<HydrologicResponseUnit> *HydrologicResponseUnits = nullptr;
};

class RunSetup {
public:
  virtual ~RunSetup() = default;

  virtual void InitStep(bool &done) = 0;
  virtual void CreateStandardGridStatistics() = 0;
  virtual SetupHandOver GetSettings() = 0;
  virtual void SetInitialized(int value) = 0;
  virtual SpinUpSettings InitSpinUp() = 0;
  virtual double GetMaxElevation() = 0;
  virtual void LinkExternalGrids(StatisticsRegistry *statistics, int capacity) = 0;

  virtual void ReadPeriodicGrids(long hour, long day, long month, long year, int minutes) = 0;
  virtual void UpdateLanduseParameters(long hour, long day, long month, long year, int minutes) = 0;
  virtual void WriteStandardGrids(long hour, long day, long month, long year) = 0;
  virtual void WriteVariableGrids(long hour, long day, long month, long year) = 0;
  virtual void ResetStandardGridStatistics() = 0;
  virtual void AddStandardGridStatistics() = 0;
  virtual void EndStepStandardGridStatistics(long hour, long day, long month, long year) = 0;
  virtual void FlushStatistics() = 0;
  virtual void SetActualDate(long year, long month, long day, long hour) = 0;
  virtual void ReleaseMemory() = 0;

  // External coupling.
  virtual bool IsCouplingActive() = 0;
  virtual char GetCouplingMode() = 0;
  virtual std::string GetSemaphoreFile() = 0;
  virtual long GetWaitInterval() = 0;
  virtual void ReadExternalGrids(long year, long month, long day, long hour) = 0;
  virtual bool HasExternalGWTable() = 0;
  virtual void WriteExternalOutput(long day, long month, long year, int dayEnded, int monthEnded,
                                   int yearEnded) = 0;
  virtual void AccumulateExternalOutput() = 0;
  virtual std::string GetOwnSemaphoreFile() = 0;
  virtual std::string GetOwnSemaphoreContent() = 0;
};

// The real set-up object behind the interface.
class DefaultiniSetup : public RunSetup {
public:
  DefaultiniSetup(int &error, DiagnosticsLog &log, const std::string &controlFileName,
                  StatisticsRegistry *statistics, int capacity, int soilModelVariant,
                  GridRegistry *registry);

  void InitStep(bool &done) override { setup_.InitStep(done); }
  void CreateStandardGridStatistics() override { setup_.CreateStandardGridStatistics(); }
  SetupHandOver GetSettings() override { return setup_.GetSettings(); }
  void SetInitialized(int value) override { setup_.SetInitialized(value); }
  SpinUpSettings InitSpinUp() override;
  double GetMaxElevation() override { return setup_.MaxElevation(); }
  void LinkExternalGrids(StatisticsRegistry *statistics, int capacity) override {
    setup_.LinkExternalGrids(statistics, capacity);
  }

  void ReadPeriodicGrids(long hour, long day, long month, long year, int) override {
    setup_.ReadPeriodicGrids(hour, day, month, year);
  }
  void UpdateLanduseParameters(long hour, long day, long month, long year, int minutes) override {
    setup_.UpdateLanduseParameters(hour, day, month, year, minutes);
  }
  void WriteStandardGrids(long hour, long day, long month, long year) override {
    setup_.WriteStandardGrids(hour, day, month, year);
  }
  void WriteVariableGrids(long hour, long day, long month, long year) override {
    setup_.WriteVariableGrids(hour, day, month, year);
  }
  void ResetStandardGridStatistics() override { setup_.ResetStandardGridStatistics(); }
  void AddStandardGridStatistics() override { setup_.AddStandardGridStatistics(); }
  void EndStepStandardGridStatistics(long hour, long day, long month, long year) override {
    setup_.EndStepStandardGridStatistics(hour, day, month, year);
  }
  void FlushStatistics() override { setup_.FlushStatistics(); }
  void SetActualDate(long year, long month, long day, long hour) override {
    setup_.SetActualDate(year, month, day, hour);
  }
  void ReleaseMemory() override { setup_.ReleaseMemory(); }

  bool IsCouplingActive() override { return setup_.IsCouplingActive(); }
  char GetCouplingMode() override { return setup_.GetCouplingMode(); }
  std::string GetSemaphoreFile() override { return setup_.GetSemaphoreFile(); }
  long GetWaitInterval() override { return setup_.GetWaitInterval(); }
  void ReadExternalGrids(long year, long month, long day, long hour) override {
    setup_.ReadExternalGrids(year, month, day, hour);
  }
  bool HasExternalGWTable() override { return setup_.HasExternalGWTable(); }
  void WriteExternalOutput(long day, long month, long year, int dayEnded, int monthEnded,
                           int yearEnded) override {
    setup_.WriteExternalOutput(day, month, year, dayEnded, monthEnded, yearEnded);
  }
  void AccumulateExternalOutput() override { setup_.AccumulateExternalOutput(); }
  std::string GetOwnSemaphoreFile() override { return setup_.GetOwnSemaphoreFile(); }
  std::string GetOwnSemaphoreContent() override { return setup_.GetOwnSemaphoreContent(); }

  defaultini &Object() { return setup_; }

private:
  defaultini setup_;
};

} // namespace tavro
