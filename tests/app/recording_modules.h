// Recording test doubles of the set-up object and every module, and a
// factory that builds them: each double appends "<module>.<operation>" to a
// shared call list, getters hand out objects of their own, and setters keep
// the pointer they received, so that tests can check the order of calls and
// every hand-over by pointer identity.
#pragma once

#include "kernel/grid.h"
#include "kernel/module_exchange.h"
#include "landsurface/evapotranspiration_model.h"
#include "landsurface/interception_model.h"
#include "landsurface/radiation_correction.h"
#include "landsurface/silting_up_model.h"
#include "landsurface/snow_model.h"
#include "lateral/groundwater_flow.h"
#include "lateral/irrigation_model.h"
#include "lateral/surface_routing.h"
#include "meteo/meteointerpol.h"
#include "meteo/precipitation_correction.h"
#include "meteo/regional_superposition.h"
#include "module_factory.h"
#include "raster/output/special_output.h"
#include "routing/routing_model.h"
#include "run_setup.h"
#include "setup/tracer_ini_class.h"
#include "soil/unsatzon_model.h"
#include "support/setup_grids.h"
#include "support/test_support.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tavro::test {

struct CallList {
  std::vector<std::string> calls;
  void Add(const std::string &call) { calls.push_back(call); }
  // Index of the first call equal to text at or after from; -1 when absent.
  int Find(const std::string &text, int from = 0) const {
    for (int i = from; i < static_cast<int>(calls.size()); ++i)
      if (calls[static_cast<std::size_t>(i)] == text)
        return i;
    return -1;
  }
  int Count(const std::string &text) const {
    int n = 0;
    for (const auto &call : calls)
      n += call == text ? 1 : 0;
    return n;
  }
};

// What the doubles do; set by a test before the application is built.
struct RecordingConfig {
  std::vector<std::string> VariableNames{"temperature", "precipitation"};
  std::map<std::string, int> DataRows;    // per variable; default 3
  std::map<std::string, int> FlowControl; // per module name; default 1
  int InterceptionMethod = 1;             // GetMethod when active
  int SubstepCount = 2;
  double EvapotranspirationStep = 1440.0; // minutes
  SpinUpSettings SpinUp;
  std::string FailingConstructor; // module whose construction fails
  int FailureCode = 0;
  std::string ControlFileName = "control.txt_0.$$$";
  std::function<void()> OnInterpolate; // called in every Interpolate
  int HoursPerRow = 24;                // data rows from 2001-01-01 00:00
  char CouplingLetter = 0;             // 0: coupling inactive
};

// Settings for the base constructors: without a zone table the sub-model
// base reads nothing, so every double can be built on a small fixture.
inline ModuleSettings Quiet(const ModuleSettings &settings) {
  ModuleSettings s = settings;
  s.ZoneIndex = nullptr;
  return s;
}

// Writes the control-file fixture the interpolator, tracer and precipitation
// correction bases read (collective: rank 0 writes, all wait).
inline void WriteRecordingFixture(const RecordingConfig &config);

#define TAVRO_RECORD(op) calls->Add(name + "." op)
#define TAVRO_DATE_OP(op)                                                                          \
  void op(long hour, long day, long month, long year) override {                                   \
    (void)hour, (void)day, (void)month, (void)year;                                                \
    TAVRO_RECORD(#op);                                                                             \
  }

class FakeSetup : public RunSetup {
public:
  FakeSetup(CallList &list, const RecordingConfig &config);
  ~FakeSetup() override { calls->Add("defaults.delete"); }

  void InitStep(bool &done) override {
    ++steps;
    done = steps == 24;
    if (done)
      TAVRO_RECORD("InitStep(done)");
  }
  void CreateStandardGridStatistics() override { TAVRO_RECORD("CreateStandardGridStatistics"); }
  SetupHandOver GetSettings() override {
    TAVRO_RECORD("GetSettings");
    return handOver;
  }
  void SetInitialized(int value) override {
    initialized = value;
    calls->Add(name + ".SetInitialized(" + std::to_string(value) + ")");
  }
  SpinUpSettings InitSpinUp() override {
    TAVRO_RECORD("InitSpinUp");
    return spinUp;
  }
  double GetMaxElevation() override { return 4321.0; }
  void LinkExternalGrids(StatisticsRegistry *, int) override { TAVRO_RECORD("LinkExternalGrids"); }
  void ReadPeriodicGrids(long, long, long, long, int minutes) override {
    landuseMinutes = minutes;
    TAVRO_RECORD("ReadPeriodicGrids");
  }
  void UpdateLanduseParameters(long, long, long, long, int) override {
    TAVRO_RECORD("UpdateLanduseParameters");
  }
  TAVRO_DATE_OP(WriteStandardGrids)
  TAVRO_DATE_OP(WriteVariableGrids)
  void ResetStandardGridStatistics() override { TAVRO_RECORD("ResetStandardGridStatistics"); }
  void AddStandardGridStatistics() override { TAVRO_RECORD("AddStandardGridStatistics"); }
  TAVRO_DATE_OP(EndStepStandardGridStatistics)
  void FlushStatistics() override { TAVRO_RECORD("FlushStatistics"); }
  void SetActualDate(long, long, long, long) override { TAVRO_RECORD("SetActualDate"); }
  void ReleaseMemory() override { TAVRO_RECORD("ReleaseMemory"); }
  bool IsCouplingActive() override { return couplingLetter != 0; }
  char GetCouplingMode() override { return couplingLetter; }
  std::string GetSemaphoreFile() override { return "partner.sem"; }
  long GetWaitInterval() override { return 1; }
  void ReadExternalGrids(long year, long month, long day, long hour) override {
    calls->Add(name + ".ReadExternalGrids(" + std::to_string(year) + "," + std::to_string(month) +
               "," + std::to_string(day) + "," + std::to_string(hour) + ")");
  }
  bool HasExternalGWTable() override { return false; }
  void WriteExternalOutput(long day, long month, long year, int dayEnded, int monthEnded,
                           int yearEnded) override {
    calls->Add(name + ".WriteExternalOutput(" + std::to_string(day) + "," + std::to_string(month) +
               "," + std::to_string(year) + "," + std::to_string(dayEnded) +
               std::to_string(monthEnded) + std::to_string(yearEnded) + ")");
  }
  void AccumulateExternalOutput() override { TAVRO_RECORD("AccumulateExternalOutput"); }
  std::string GetOwnSemaphoreFile() override { return "tavro.sem"; }
  std::string GetOwnSemaphoreContent() override { return "step done"; }

  CallList *calls;
  std::string name = "defaults";
  int steps = 0;
  int initialized = 0;
  int landuseMinutes = 0;
  OneBasedArray<std::string> meteoNames;
  OneBasedArray<int> outputList;
  SetupHandOver handOver;
  SpinUpSettings spinUp;
  std::unique_ptr<SetupGrids> grids;
  char couplingLetter = 0;
};

// A variable with DataRows daily rows from 2001-01-01, kept in memory.
class RecordingInterpolator : public meteointerpol {
public:
  RecordingInterpolator(CallList &list, int &error, const ModuleSettings &s, const ModelDate &start,
                        int registryIndex, int rows)
      : meteointerpol(error, s, start, registryIndex), calls(&list), name(s.ModuleName),
        rows(rows) {}
  ~RecordingInterpolator() override { TAVRO_RECORD("delete"); }

  void SetWarnings(int value) override {
    warnings = value;
    calls->Add(name + ".SetWarnings(" + std::to_string(value) + ")");
  }
  void SetTimeStep(double hours) override { timeStepHours = hours; }
  void GetActualDate(long &hour, long &day, long &month, long &year) const override {
    const int hoursPerRow = config != nullptr ? config->HoursPerRow : 24;
    const long hours = static_cast<long>(row < rows ? row : rows - 1) * hoursPerRow;
    hour = hours % 24;
    day = 1 + hours / 24;
    month = 1;
    year = 2001;
  }
  void Interpolate(long, long, long, long) override {
    TAVRO_RECORD("Interpolate");
    if (config != nullptr && config->OnInterpolate)
      config->OnInterpolate();
  }
  void CalcElevationRegression(int) override { TAVRO_RECORD("CalcElevationRegression"); }
  void WriteResultGrid() override { TAVRO_RECORD("WriteResultGrid"); }
  void ReadNextData() override {
    ++row;
    TAVRO_RECORD("ReadNextData");
  }
  bool EndOfData() const override { return row >= rows; }
  void SetActualDateFromData() override { TAVRO_RECORD("SetActualDateFromData"); }
  void Rewind() override {
    row = -1;
    TAVRO_RECORD("Rewind");
  }
  void FlushStatistics() override { TAVRO_RECORD("FlushStatistics"); }
  void ReleaseMemory() override { TAVRO_RECORD("ReleaseMemory"); }

  CallList *calls;
  const RecordingConfig *config = nullptr;
  std::string name;
  int rows;
  int row = 0;
  int warnings = -1;
  double timeStepHours = -1.0;
};

// Common part of the sub-model doubles.
#define TAVRO_SUBMODEL_COMMON(Double)                                                              \
  ~Double() override { TAVRO_RECORD("delete"); }                                                   \
  void ReleaseMemory() override { TAVRO_RECORD("ReleaseMemory"); }                                 \
  CallList *calls;                                                                                 \
  std::string name

class RecordingTracers : public tracer_ini_class {
public:
  RecordingTracers(CallList &list, int &error, const ModuleSettings &s)
      : tracer_ini_class(error, s), calls(&list), name("tracer_ini") {}
  TAVRO_SUBMODEL_COMMON(RecordingTracers);
};

class RecordingSuperposition : public RegionalSuperposition {
public:
  RecordingSuperposition(CallList &list, const ModuleSettings &s, const RegionTableRef &r)
      : RegionalSuperposition(Quiet(s), r), calls(&list), name(FixedName) {}
  TAVRO_DATE_OP(ComputeTimeStep)
  void WriteStepOutput() override { TAVRO_RECORD("WriteStepOutput"); }
  void FlushStatistics() override { TAVRO_RECORD("FlushStatistics"); }
  void FinishTracerGrids() override { TAVRO_RECORD("FinishTracerGrids"); }
  TAVRO_SUBMODEL_COMMON(RecordingSuperposition);
};

class RecordingPrecipitationCorrection : public precicorrclass {
public:
  RecordingPrecipitationCorrection(CallList &list, int &error, const ModuleSettings &s,
                                   std::vector<meteointerpol *> v, std::vector<std::string> n,
                                   int regions)
      : precicorrclass(error, s, v, n, regions), calls(&list), name(FixedName), variables(v),
        names(n) {}
  void SetMaxElevation(double e) override { maxElevation = e; }
  void CorrectStationData() override { TAVRO_RECORD("CorrectStationData"); }
  void CorrectGrids() override { TAVRO_RECORD("CorrectGrids"); }
  TAVRO_SUBMODEL_COMMON(RecordingPrecipitationCorrection);
  std::vector<meteointerpol *> variables;
  std::vector<std::string> names;
  double maxElevation = 0.0;
};

class RecordingRadiationCorrection : public expokorrklasse {
public:
  RecordingRadiationCorrection(CallList &list, int &error, const ModuleSettings &s)
      : expokorrklasse(error, Quiet(s)), calls(&list), name(FixedName) {}
  Grid *GetRadiationCorrectionGrid() override { return &grid; }
  TAVRO_DATE_OP(ComputeTimeStep)
  TAVRO_SUBMODEL_COMMON(RecordingRadiationCorrection);
  Grid grid;
};

class RecordingEvapotranspiration : public verdunstungsmodellklasse {
public:
  RecordingEvapotranspiration(CallList &list, int &error, const ModuleSettings &s)
      : verdunstungsmodellklasse(error, Quiet(s)), calls(&list), name(FixedName) {}
  void SetRadiationCorrectionGrid(Grid *g) override { radiation = g; }
  void SetSnowStorage(Grid *g) override { snowStorage = g; }
  void SetSnowMethod(int method) override { snowMethod = method; }
  void ReadLakeParameters(std::string_view section) override {
    calls->Add(name + ".ReadLakeParameters " + std::string(section));
  }
  void SetSubstepCount(int count) override {
    substeps = count;
    SubstepCount = count;
  }
  TAVRO_DATE_OP(PotentialEvapotranspiration)
  TAVRO_DATE_OP(SnowEvaporationOnGlacier)
  TAVRO_DATE_OP(RealEvapotranspiration)
  TAVRO_DATE_OP(ComputeSubstep)
  TAVRO_DATE_OP(FinishTimeStep)
  void FlushStatistics() override { TAVRO_RECORD("FlushStatistics"); }
  TAVRO_SUBMODEL_COMMON(RecordingEvapotranspiration);
  Grid *radiation = nullptr;
  Grid *snowStorage = nullptr;
  int snowMethod = -1;
  int substeps = -1;
};

class RecordingSnow : public schneemodellklasse {
public:
  RecordingSnow(CallList &list, int &error, const ModuleSettings &s)
      : schneemodellklasse(error, Quiet(s)), calls(&list), name(FixedName) {}
  void SetRadiationCorrectionGrid(Grid *g) override { radiation = g; }
  Grid *GetSnowStorage() override { return &storage; }
  int GetMethod() const override { return 7; }
  void SelectWaterInput(bool first) override { interceptionFirst = first; }
  void ReadLakeParameters(std::string_view section) override {
    calls->Add(name + ".ReadLakeParameters " + std::string(section));
  }
  void SetQg(SubbasinRunoffArrays *q) override { qg = q; }
  void ReadStorage(const std::string &file, int mode) override {
    storageFile = file;
    readMode = mode;
    TAVRO_RECORD("ReadStorage");
  }
  void InitTracerGrids(int &error, int, OneBasedArray<TracerInfo> *, StatisticsRegistry *,
                       int) override {
    error = 0;
    TAVRO_RECORD("InitTracerGrids");
  }
  TAVRO_DATE_OP(ComputeTimeStep)
  void FlushStatistics() override { TAVRO_RECORD("FlushStatistics"); }
  void FinishTracerGrids() override { TAVRO_RECORD("FinishTracerGrids"); }
  TAVRO_SUBMODEL_COMMON(RecordingSnow);
  Grid storage;
  Grid *radiation = nullptr;
  bool interceptionFirst = false;
  SubbasinRunoffArrays *qg = nullptr;
  std::string storageFile;
  int readMode = -1;
};

class RecordingInterception : public interzeptionsmodellklasse {
public:
  RecordingInterception(CallList &list, int &error, const ModuleSettings &s, int method)
      : interzeptionsmodellklasse(error, Quiet(s)), calls(&list), name(FixedName), method(method) {}
  int GetMethod() const override { return FlowControl > 0 ? method : 0; }
  void InitTracerGrids(int &error, int, OneBasedArray<TracerInfo> *, StatisticsRegistry *,
                       int) override {
    error = 0;
    TAVRO_RECORD("InitTracerGrids");
  }
  TAVRO_DATE_OP(ComputeTimeStep)
  void FlushStatistics() override { TAVRO_RECORD("FlushStatistics"); }
  void FinishTracerGrids() override { TAVRO_RECORD("FinishTracerGrids"); }
  TAVRO_SUBMODEL_COMMON(RecordingInterception);
  int method;
};

class RecordingSiltingUp : public siltingupclass {
public:
  RecordingSiltingUp(CallList &list, int &error, const ModuleSettings &s)
      : siltingupclass(error, Quiet(s)), calls(&list), name(FixedName) {}
  void SelectWaterInput(bool first) override { interceptionFirst = first; }
  void InitTracerGrids(int &error, int, OneBasedArray<TracerInfo> *, StatisticsRegistry *,
                       int) override {
    error = 0;
    TAVRO_RECORD("InitTracerGrids");
  }
  TAVRO_DATE_OP(ComputeTimeStep)
  void FlushStatistics() override { TAVRO_RECORD("FlushStatistics"); }
  void FinishTracerGrids() override { TAVRO_RECORD("FinishTracerGrids"); }
  TAVRO_SUBMODEL_COMMON(RecordingSiltingUp);
  bool interceptionFirst = false;
};

class RecordingSoilWater : public unsatzonmodellklasse {
public:
  RecordingSoilWater(CallList &list, int &error, const ModuleSettings &s, int substeps)
      : unsatzonmodellklasse(error, Quiet(s), nullptr, substeps), calls(&list), name(FixedName) {
    zoneIndex.Resize(3, 1);
    zoneTable.Resize(3);
  }
  void CopyZoneTableTo(ModuleSettings &s) const override {
    s.ZoneIndex = const_cast<OneBasedArray<int> *>(&zoneIndex);
    s.ZoneTable = const_cast<OneBasedArray<ZoneRecord> *>(&zoneTable);
    s.ZoneCount = 3;
    s.MaxZoneCode = 3;
  }
  void ComputeMaxPumping() override { TAVRO_RECORD("ComputeMaxPumping"); }
  void SelectWaterInput(bool first) override { interceptionFirst = first; }
  void SetDumpOptions(bool a, bool b, bool c) override {
    dump = {a, b, c};
    TAVRO_RECORD("SetDumpOptions");
  }
  void InitTracerGrids(int &error, int, OneBasedArray<TracerInfo> *, StatisticsRegistry *,
                       int) override {
    error = 0;
    TAVRO_RECORD("InitTracerGrids");
  }
  SubbasinRunoffArrays *GetQg() override { return &qgArrays; }
  SubbasinRunoffArrays *GetQBb() override { return &qbbArrays; }
  SubbasinValues *GetKelsqd() override { return &kelsqd; }
  SubbasinValues *GetKelsqi() override { return &kelsqi; }
  void SetSurfaceRoutingActive(int a) override {
    surfaceRoutingActive = a;
    calls->Add(name + ".SetSurfaceRoutingActive(" + std::to_string(a) + ")");
  }
  riverflow_table *GetRiverflowTable() override { return &riverflow; }
  std::string GetStorageFileName() const override { return "state.txt"; }
  void SetGroundwaterCoupling(int coupled) override { GroundwaterCoupling = coupled; }
  int GetStateReadMode() const override { return 3; }
  void AdjustToGroundwaterTable() override { TAVRO_RECORD("AdjustToGroundwaterTable"); }
  TAVRO_DATE_OP(BeginTimeStep)
  TAVRO_DATE_OP(ComputeTimeStep)
  TAVRO_DATE_OP(ConcentrateRunoff)
  void FlushStatistics() override { TAVRO_RECORD("FlushStatistics"); }
  TAVRO_DATE_OP(PreSpinUpAccumulate)
  void PreSpinUpFinish() override { TAVRO_RECORD("PreSpinUpFinish"); }
  void FinishRun(bool append) override {
    calls->Add(name + ".FinishRun(" + (append ? "append" : "create") + ")");
  }
  TAVRO_SUBMODEL_COMMON(RecordingSoilWater);
  OneBasedArray<int> zoneIndex;
  OneBasedArray<ZoneRecord> zoneTable;
  SubbasinRunoffArrays qgArrays, qbbArrays;
  SubbasinValues kelsqd, kelsqi;
  riverflow_table riverflow;
  std::vector<bool> dump;
  bool interceptionFirst = false;
  int surfaceRoutingActive = 0;
};

class RecordingSurfaceRouting : public surfaceroutingclass {
public:
  RecordingSurfaceRouting(CallList &list, int &error, const ModuleSettings &s, int substeps)
      : surfaceroutingclass(error, Quiet(s), substeps), calls(&list), name(FixedName) {}
  void SetQBb(SubbasinRunoffArrays *q) override { qbb = q; }
  void SetKelsqd(SubbasinValues *v) override { kelsqd = v; }
  void SetKelsqi(SubbasinValues *v) override { kelsqi = v; }
  SubbasinRunoffArrays *GetQg() override { return &qgArrays; }
  void InitTracerGrids(int &error, int, OneBasedArray<TracerInfo> *, StatisticsRegistry *,
                       int) override {
    error = 0;
    TAVRO_RECORD("InitTracerGrids");
  }
  TAVRO_DATE_OP(BeginTimeStep)
  TAVRO_DATE_OP(ComputeTimeStep)
  TAVRO_DATE_OP(ConcentrateRunoff)
  void FlushStatistics() override { TAVRO_RECORD("FlushStatistics"); }
  void FinishRun(bool append) override {
    calls->Add(name + ".FinishRun(" + (append ? "append" : "create") + ")");
  }
  TAVRO_SUBMODEL_COMMON(RecordingSurfaceRouting);
  SubbasinRunoffArrays qgArrays;
  SubbasinRunoffArrays *qbb = nullptr;
  SubbasinValues *kelsqd = nullptr;
  SubbasinValues *kelsqi = nullptr;
};

class RecordingIrrigation : public irrigationclass {
public:
  RecordingIrrigation(CallList &list, int &error, const ModuleSettings &s)
      : irrigationclass(error, Quiet(s), nullptr), calls(&list), name(FixedName),
        zoneIndex(s.ZoneIndex) {}
  void InitTracerGrids(int &error, int, OneBasedArray<TracerInfo> *, StatisticsRegistry *,
                       int) override {
    error = 0;
    TAVRO_RECORD("InitTracerGrids");
  }
  void SetRiverflowTable(riverflow_table *t) override { riverflow = t; }
  void SetQg(SubbasinRunoffArrays *q) override { qg = q; }
  void LinkSoilTracerGrids() override { TAVRO_RECORD("LinkSoilTracerGrids"); }
  void SetMaxIrrig(IrrigationLimits *a, IrrigationLimits *b) override {
    maxIrrig = a;
    maxIrrigReservoirs = b;
  }
  void SetRoutingTarget(RoutingTargets *t) override { target = t; }
  void SetAbfrel(DischargeRelations *r) override { abfrel = r; }
  IrrigationAmounts *GetIrrigationAmounts() override { return &amounts; }
  TAVRO_DATE_OP(ComputeTimeStep)
  void FlushStatistics() override { TAVRO_RECORD("FlushStatistics"); }
  void FinishTracerGrids() override { TAVRO_RECORD("FinishTracerGrids"); }
  TAVRO_SUBMODEL_COMMON(RecordingIrrigation);
  const OneBasedArray<int> *zoneIndex;
  IrrigationAmounts amounts;
  riverflow_table *riverflow = nullptr;
  SubbasinRunoffArrays *qg = nullptr;
  IrrigationLimits *maxIrrig = nullptr, *maxIrrigReservoirs = nullptr;
  RoutingTargets *target = nullptr;
  DischargeRelations *abfrel = nullptr;
};

class RecordingGroundwater : public gwflowclass {
public:
  RecordingGroundwater(CallList &list, int &error, const ModuleSettings &s, int substeps)
      : gwflowclass(error, Quiet(s), nullptr, substeps), calls(&list), name(FixedName),
        zoneIndex(s.ZoneIndex) {}
  void InitTracerGrids(int &error, int, OneBasedArray<TracerInfo> *, StatisticsRegistry *,
                       int) override {
    error = 0;
    TAVRO_RECORD("InitTracerGrids");
  }
  void SetRiverflowTable(riverflow_table *t) override { riverflow = t; }
  void SetQg(SubbasinRunoffArrays *q) override { qg = q; }
  TAVRO_DATE_OP(BeginTimeStep)
  TAVRO_DATE_OP(ComputeTimeStep)
  TAVRO_DATE_OP(WriteStepOutput)
  void FlushStatistics() override { TAVRO_RECORD("FlushStatistics"); }
  void FinishTracerGrids() override { TAVRO_RECORD("FinishTracerGrids"); }
  TAVRO_SUBMODEL_COMMON(RecordingGroundwater);
  const OneBasedArray<int> *zoneIndex;
  riverflow_table *riverflow = nullptr;
  SubbasinRunoffArrays *qg = nullptr;
};

class RecordingRouting : public abflussmodellklasse {
public:
  RecordingRouting(CallList &list, int &error, const ModuleSettings &s, int tracers,
                   OneBasedArray<TracerInfo> *info, int readMode)
      : abflussmodellklasse(error, Quiet(s), tracers, info, readMode), calls(&list),
        name(FixedName), zoneIndex(s.ZoneIndex), date(s.EndDate), readModeGiven(readMode) {}
  void SetQg(SubbasinRunoffArrays *q) override { qg = q; }
  void InitLakeModel(bool) override { TAVRO_RECORD("InitLakeModel"); }
  void InitializeDischarges() override { TAVRO_RECORD("InitializeDischarges"); }
  void SetIrrigationAmounts(IrrigationAmounts *a) override { irrigation = a; }
  void SetRiverflowTable(riverflow_table *t) override { riverflow = t; }
  void ReadStorage(const std::string &file, int mode) override {
    storageFile = file;
    readMode = mode;
    TAVRO_RECORD("ReadStorage");
  }
  IrrigationLimits *GetMaxIrrig() override { return &maxIrrig; }
  IrrigationLimits *GetMaxIrrigFromReservoirs() override { return &maxIrrigReservoirs; }
  RoutingTargets *GetRoutingTarget() override { return &target; }
  DischargeRelations *GetAbfrel() override { return &abfrel; }
  TAVRO_DATE_OP(ComputeTimeStep)
  void FlushStatistics() override { TAVRO_RECORD("FlushStatistics"); }
  TAVRO_SUBMODEL_COMMON(RecordingRouting);
  const OneBasedArray<int> *zoneIndex;
  ModelDate date;
  int readModeGiven;
  SubbasinRunoffArrays *qg = nullptr;
  IrrigationAmounts *irrigation = nullptr;
  riverflow_table *riverflow = nullptr;
  std::string storageFile;
  int readMode = -1;
  IrrigationLimits maxIrrig, maxIrrigReservoirs;
  RoutingTargets target;
  DischargeRelations abfrel;
};

class RecordingSpecialOutput : public SpecialOutputClass {
public:
  RecordingSpecialOutput(CallList &list, int &error, const ModuleSettings &s, int substeps)
      : SpecialOutputClass(error, Quiet(s), substeps), calls(&list), name(FixedName) {}
  void SampleStep(long, long, long, long, bool substep, int index) override {
    calls->Add(name + ".SampleStep(" + std::to_string(substep ? 1 : 0) + "," +
               std::to_string(index) + ")");
  }
  void FlushFiles() override { TAVRO_RECORD("FlushFiles"); }
  TAVRO_SUBMODEL_COMMON(RecordingSpecialOutput);
};

// Builds the doubles; FlowControl of each sub-model comes from the config.
class RecordingFactory : public ModuleFactory {
public:
  explicit RecordingFactory(const RecordingConfig &config) : config(config) {}

  std::unique_ptr<RunSetup> MakeSetup(int &error, DiagnosticsLog &, const std::string &,
                                      StatisticsRegistry *, int, int, GridRegistry *) override;
  std::unique_ptr<meteointerpol> MakeInterpolator(int &error, const ModuleSettings &s,
                                                  const ModelDate &start, int index) override;
  std::unique_ptr<tracer_ini_class> MakeTracerDescription(int &error,
                                                          const ModuleSettings &s) override;
  std::unique_ptr<RegionalSuperposition>
  MakeRegionalSuperposition(const ModuleSettings &s, const RegionTableRef &regions) override;
  std::unique_ptr<precicorrclass>
  MakePrecipitationCorrection(int &error, const ModuleSettings &s,
                              std::vector<meteointerpol *> variables,
                              std::vector<std::string> names, int regionCount) override;
  std::unique_ptr<expokorrklasse> MakeRadiationCorrection(int &error,
                                                          const ModuleSettings &s) override;
  std::unique_ptr<verdunstungsmodellklasse>
  MakeEvapotranspiration(int &error, const ModuleSettings &s) override;
  std::unique_ptr<schneemodellklasse> MakeSnow(int &error, const ModuleSettings &s) override;
  std::unique_ptr<interzeptionsmodellklasse> MakeInterception(int &error,
                                                              const ModuleSettings &s) override;
  std::unique_ptr<siltingupclass> MakeSiltingUp(int &error, const ModuleSettings &s) override;
  std::unique_ptr<unsatzonmodellklasse> MakeSoilWater(int &error, const ModuleSettings &s,
                                                      const IrrigationTable *,
                                                      int substeps) override;
  std::unique_ptr<surfaceroutingclass> MakeSurfaceRouting(int &error, const ModuleSettings &s,
                                                          int substeps) override;
  std::unique_ptr<irrigationclass> MakeIrrigation(int &error, const ModuleSettings &s,
                                                  const IrrigationTable *) override;
  std::unique_ptr<gwflowclass> MakeGroundwater(int &error, const ModuleSettings &s,
                                               const IrrigationTable *, int substeps) override;
  std::unique_ptr<abflussmodellklasse> MakeRouting(int &error, const ModuleSettings &s, int tracers,
                                                   OneBasedArray<TracerInfo> *info,
                                                   int readMode) override;
  std::unique_ptr<SpecialOutputClass> MakeSpecialOutput(int &error, const ModuleSettings &s,
                                                        int substeps) override;

  CallList calls;
  RecordingConfig config;
  std::vector<std::string> constructed; // module names in construction order
  std::map<std::string, ModuleSettings> settingsOf;

private:
  // Records the construction; true when this construction is to fail.
  bool Begin(const std::string &name, int &error, const ModuleSettings *settings);
  template <class Module> void Configure(Module &module) {
    auto found = config.FlowControl.find(module.ModuleName);
    module.FlowControl = found == config.FlowControl.end() ? 1 : found->second;
    module.TimeStep = 1440.0;
    module.SubstepCount = config.SubstepCount;
  }
};

inline void WriteRecordingFixture(const RecordingConfig &config) {
  std::string control;
  for (const auto &name : config.VariableNames) {
    control += "[" + name +
               "]\n1  # method\nstations.dat AdditionalColumns=0\nregression.dat\n"
               "result.grd\n0\n1.0\nmeteo.stat 0\n9999\n2\n0.5\n50000\n0\n1\n-100\n-100\n100\n"
               "100\n0\n";
  }
  control += "[substance_transport]\n0\n";
  control += "[precipitation_correction]\n0\n1.0\n0.0\n0.0\n0.0\n0.0\n";
  WriteFixture(config.ControlFileName, control);
  WriteFixture("stations.dat", "stations\nYY MM DD HH 500\nYY MM DD HH 1000\nYY MM DD HH 10\n"
                               "YY MM DD HH s1\n2001 01 01 00 1.0\n2001 01 02 00 2.0\n");
}

inline FakeSetup::FakeSetup(CallList &list, const RecordingConfig &config)
    : calls(&list), spinUp(config.SpinUp), couplingLetter(config.CouplingLetter) {
  const int n = static_cast<int>(config.VariableNames.size());
  meteoNames.Resize(static_cast<std::size_t>(n));
  for (int i = 1; i <= n; ++i)
    meteoNames[i] = config.VariableNames[static_cast<std::size_t>(i - 1)];
  outputList.Resize(0, 0);
  handOver.ControlFileName = config.ControlFileName;
  handOver.HourDivisor = 1;
  handOver.InterpolationWarnings = 1;
  handOver.MinToIntEnd = 1440.0;
  handOver.MeteoVariableCount = n;
  handOver.MeteoNames = &meteoNames;
  handOver.OutputList = &outputList;
  handOver.NCols = 4;
  handOver.NRows = 3;
  handOver.FirstRow = 1;
  handOver.LastRow = 3;
  handOver.NoData = -9999.0;
  handOver.Start = ModelDate{0, 1, 1, 2001};
  handOver.End = ModelDate{0, 31, 12, 2001};
  handOver.SubstepCount = config.SubstepCount;
}

inline bool RecordingFactory::Begin(const std::string &name, int &error,
                                    const ModuleSettings *settings) {
  error = 0;
  constructed.push_back(name);
  if (settings != nullptr)
    settingsOf[name] = *settings;
  if (name == config.FailingConstructor) {
    error = config.FailureCode;
    return true;
  }
  return false;
}

inline std::unique_ptr<RunSetup> RecordingFactory::MakeSetup(int &error, DiagnosticsLog &log,
                                                             const std::string &,
                                                             StatisticsRegistry *, int, int,
                                                             GridRegistry *registry) {
  if (Begin("defaults", error, nullptr))
    return nullptr;
  auto setup = std::make_unique<FakeSetup>(calls, config);
  // The set-up grids every interpolator looks up, on the fake raster.
  setup->grids = std::make_unique<SetupGrids>(log, SetupRaster{});
  if (registry != nullptr)
    setup->grids->Register(*registry);
  return setup;
}

inline std::unique_ptr<meteointerpol> RecordingFactory::MakeInterpolator(int &error,
                                                                         const ModuleSettings &s,
                                                                         const ModelDate &start,
                                                                         int index) {
  if (Begin(s.ModuleName, error, &s))
    return nullptr;
  auto found = config.DataRows.find(s.ModuleName);
  const int rows = found == config.DataRows.end() ? 3 : found->second;
  auto variable = std::make_unique<RecordingInterpolator>(calls, error, s, start, index, rows);
  variable->config = &config;
  return variable;
}

inline std::unique_ptr<tracer_ini_class>
RecordingFactory::MakeTracerDescription(int &error, const ModuleSettings &s) {
  if (Begin("tracer_ini", error, &s))
    return nullptr;
  return std::make_unique<RecordingTracers>(calls, error, s);
}

inline std::unique_ptr<RegionalSuperposition>
RecordingFactory::MakeRegionalSuperposition(const ModuleSettings &s, const RegionTableRef &r) {
  int error = 0;
  if (Begin(RegionalSuperposition::FixedName, error, &s))
    throw error; // this constructor throws its code
  auto module = std::make_unique<RecordingSuperposition>(calls, s, r);
  Configure(*module);
  return module;
}

inline std::unique_ptr<precicorrclass>
RecordingFactory::MakePrecipitationCorrection(int &error, const ModuleSettings &s,
                                              std::vector<meteointerpol *> v,
                                              std::vector<std::string> n, int regions) {
  if (Begin(precicorrclass::FixedName, error, &s))
    return nullptr;
  return std::make_unique<RecordingPrecipitationCorrection>(calls, error, s, v, n, regions);
}

#define TAVRO_MAKE(Function, Base, Double)                                                         \
  inline std::unique_ptr<Base> RecordingFactory::Function(int &error, const ModuleSettings &s) {   \
    if (Begin(Base::FixedName, error, &s))                                                         \
      return nullptr;                                                                              \
    auto module = std::make_unique<Double>(calls, error, s);                                       \
    Configure(*module);                                                                            \
    return module;                                                                                 \
  }
TAVRO_MAKE(MakeRadiationCorrection, expokorrklasse, RecordingRadiationCorrection)
TAVRO_MAKE(MakeSnow, schneemodellklasse, RecordingSnow)
TAVRO_MAKE(MakeSiltingUp, siltingupclass, RecordingSiltingUp)
#undef TAVRO_MAKE

inline std::unique_ptr<verdunstungsmodellklasse>
RecordingFactory::MakeEvapotranspiration(int &error, const ModuleSettings &s) {
  if (Begin(verdunstungsmodellklasse::FixedName, error, &s))
    return nullptr;
  auto module = std::make_unique<RecordingEvapotranspiration>(calls, error, s);
  Configure(*module);
  module->TimeStep = config.EvapotranspirationStep;
  return module;
}

inline std::unique_ptr<interzeptionsmodellklasse>
RecordingFactory::MakeInterception(int &error, const ModuleSettings &s) {
  if (Begin(interzeptionsmodellklasse::FixedName, error, &s))
    return nullptr;
  auto module = std::make_unique<RecordingInterception>(calls, error, s, config.InterceptionMethod);
  Configure(*module);
  return module;
}

inline std::unique_ptr<unsatzonmodellklasse>
RecordingFactory::MakeSoilWater(int &error, const ModuleSettings &s, const IrrigationTable *,
                                int substeps) {
  if (Begin(unsatzonmodellklasse::FixedName, error, &s))
    return nullptr;
  auto module = std::make_unique<RecordingSoilWater>(calls, error, s, substeps);
  Configure(*module);
  return module;
}

inline std::unique_ptr<surfaceroutingclass>
RecordingFactory::MakeSurfaceRouting(int &error, const ModuleSettings &s, int substeps) {
  if (Begin(surfaceroutingclass::FixedName, error, &s))
    return nullptr;
  auto module = std::make_unique<RecordingSurfaceRouting>(calls, error, s, substeps);
  Configure(*module);
  return module;
}

inline std::unique_ptr<irrigationclass>
RecordingFactory::MakeIrrigation(int &error, const ModuleSettings &s, const IrrigationTable *) {
  if (Begin(irrigationclass::FixedName, error, &s))
    return nullptr;
  auto module = std::make_unique<RecordingIrrigation>(calls, error, s);
  Configure(*module);
  return module;
}

inline std::unique_ptr<gwflowclass> RecordingFactory::MakeGroundwater(int &error,
                                                                      const ModuleSettings &s,
                                                                      const IrrigationTable *,
                                                                      int substeps) {
  if (Begin(gwflowclass::FixedName, error, &s))
    return nullptr;
  auto module = std::make_unique<RecordingGroundwater>(calls, error, s, substeps);
  Configure(*module);
  return module;
}

inline std::unique_ptr<abflussmodellklasse>
RecordingFactory::MakeRouting(int &error, const ModuleSettings &s, int tracers,
                              OneBasedArray<TracerInfo> *info, int readMode) {
  if (Begin(abflussmodellklasse::FixedName, error, &s))
    return nullptr;
  auto module = std::make_unique<RecordingRouting>(calls, error, s, tracers, info, readMode);
  Configure(*module);
  return module;
}

inline std::unique_ptr<SpecialOutputClass>
RecordingFactory::MakeSpecialOutput(int &error, const ModuleSettings &s, int substeps) {
  if (Begin(SpecialOutputClass::FixedName, error, &s))
    return nullptr;
  auto module = std::make_unique<RecordingSpecialOutput>(calls, error, s, substeps);
  Configure(*module);
  return module;
}

#undef TAVRO_SUBMODEL_COMMON
#undef TAVRO_DATE_OP
#undef TAVRO_RECORD

} // namespace tavro::test
