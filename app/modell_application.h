// One model run from one control file. Construction (init) builds the set-up
// and every module in a fixed order and wires them through their getters and
// setters; run drives the time loop with its Ctrl-C agreement, sub-steps and
// spin-up repetitions; ClearMemory flushes, releases (writing the state file
// sections in their order) and deletes the modules. main creates one
// application per control file.
#pragma once

#include "kernel/memory_handling.h"
#include "kernel/model_date.h"
#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/teilmodellklasse.h"
#include "module_factory.h"
#include "resident_memory.h"
#include "run_setup.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavro {

class GridRegistry;
class StatisticsRegistry;

// What the application needs from its surroundings. The defaults are those
// of the program: the real modules, the console's standard input for the
// Ctrl-C dialogue, and choice 2 of the dialogue ending the process.
struct ApplicationServices {
  ModuleFactory *Factory = nullptr;  // null: the real modules
  std::FILE *ConsoleInput = nullptr; // null: stdin
  // Choice 2 of the Ctrl-C dialogue ("cancel now"): must not return. The
  // default ends the process with the status, without flushing anything.
  std::function<void(int status)> CancelNow;
};

// The modules of a run; every reference may be none (never constructed).
struct ApplicationModules {
  std::unique_ptr<RunSetup> Setup;
  std::vector<std::unique_ptr<meteointerpol>> Interpolators; // variable i at [i - 1]
  std::unique_ptr<tracer_ini_class> Tracers;
  std::unique_ptr<RegionalSuperposition> Superposition;
  std::unique_ptr<precicorrclass> PrecipitationCorrection;
  std::unique_ptr<expokorrklasse> RadiationCorrection;
  std::unique_ptr<verdunstungsmodellklasse> Evapotranspiration;
  std::unique_ptr<schneemodellklasse> Snow;
  std::unique_ptr<interzeptionsmodellklasse> Interception;
  std::unique_ptr<siltingupclass> SiltingUp;
  std::unique_ptr<unsatzonmodellklasse> SoilWater;
  std::unique_ptr<surfaceroutingclass> SurfaceRouting;
  std::unique_ptr<irrigationclass> Irrigation;
  std::unique_ptr<gwflowclass> Groundwater;
  std::unique_ptr<abflussmodellklasse> Routing;
  std::unique_ptr<SpecialOutputClass> SpecialOutput;
};

class ModellApplication : public memory_handling {
public:
  static constexpr int kStatisticsCapacity = 200;
  static constexpr std::size_t kMaxControlFilePath = 1200;
  static constexpr int kRegistryFullExitCode = 12;
  static constexpr int kRegistryAllocationExitCode = 1;
  static constexpr int kCancelNowStatus = 98;
  static constexpr int kPreSpinUpExitCode = 1035;
  static constexpr int kSemaphoreExitCode = 1036; // own semaphore file not written

  // Performs init: throws the exit code of a failed set-up (after its FATAL
  // entry); the modules built so far are deleted once with the object.
  ModellApplication(DiagnosticsLog &log, int argc, char **argv, int controlFileArgument,
                    ApplicationServices services = {});
  // Two-phase form: Init follows; ClearMemory may be called after a failed Init.
  ModellApplication(DiagnosticsLog &log, ApplicationServices services);
  ~ModellApplication() override;

  void Init(int argc, char **argv, int controlFileArgument);
  // The time loop; returns 0, 99 (choice 1) or 1 (Ctrl-C in the last pass).
  virtual int run();
  virtual void ClearMemory();
  // Busy wait for the given processor-clock ticks.
  virtual void Wait(long ticks);
  // Returns 1 once the file can be opened; Ctrl-C dialogue while waiting.
  virtual int WaitForFile(const std::string &fileName, long ticks);
  // Writes the content under a temporary name and renames it (no failure).
  void WriteSemaphoreFile(const std::string &target, const std::string &content);
  // Runs the temperature interpolation once through the period for the soil
  // temperatures.
  void PreSpinUp();

  // --- State (read by tests and the handlers) -----------------------------
  const ApplicationModules &Modules() const { return modules_; }
  int EndOfRun() const { return endOfRun_; }
  bool InterceptionFirst() const { return interceptionFirst_; }
  int SubstepCount() const { return substepCount_; }
  const ModelDate &ActualDate() const { return actualDate_; }
  const std::string &ControlFilePath() const { return controlFilePath_; }
  const std::string &ControlFileCopyName() const { return controlFileCopy_; }
  const SpinUpSettings &SpinUp() const { return spinUp_; }
  GridRegistry *Registry() const { return registry_.get(); }
  StatisticsRegistry *Statistics() const { return statistics_.get(); }

private:
  void InitSteps(int argc, char **argv, int controlFileArgument);
  void BuildSetup();
  void BuildInterpolators();
  void BuildSubModels(int argc, char **argv);
  // Tells the precipitation correction how its grid is renewed and logs
  // where it corrects.
  void AnnouncePrecipitationCorrection();
  void WireRunoff();
  ModuleSettings CommonSettings(const std::string &moduleName) const;
  void InitTracers(teilmodellklasse &module, bool markInitialized);

  void Pass(int rank);
  void Agreement();
  void ActOnChoice(int choice);
  void CouplingInput();
  void CouplingOutput();
  void SubSteps();
  void ReadNextRow();
  bool RepeatForSpinUp(int &runNumber);
  void FlushAll();
  void DeliverFloatingPointError();
  void ReleaseModules();
  void DeleteModules();

  ApplicationServices services_;
  ModuleFactory defaultFactory_;
  ModuleFactory *factory_ = nullptr;
  ResidentMemoryMeter memory_; // what each part of the set-up adds, printed at its end
  // The registries outlive the modules: modules release their entries when
  // they are destroyed.
  std::unique_ptr<GridRegistry> registry_;
  std::unique_ptr<StatisticsRegistry> statistics_;
  ApplicationModules modules_;
  SetupHandOver settings_;
  SpinUpSettings spinUp_;

  ModelDate lastExchangeDate_{-1, -1, -1, -1};
  char couplingMode_ = 'I';
  std::vector<std::string> meteoNames_;
  OneBasedArray<int> outputList_;
  int outputListCount_ = 0;
  int meteoVariableCount_ = 0;
  int endOfRun_ = 0;
  int interceptionMethod_ = 0;
  bool interceptionFirst_ = false;
  std::string controlFilePath_;
  std::string controlFileCopy_;
  ModelDate actualDate_;
  int substepCount_ = 1;
  int tracerCount_ = 0;
  OneBasedArray<TracerInfo> *tracerInfo_ = nullptr;
  bool fpeDelivered_ = false;
};

} // namespace tavro
