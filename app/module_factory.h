// Construction of the set-up object and of every sub-model of a run. The
// application builds its modules only through this factory, so that tests
// can hand it recording doubles; the base class builds the real classes.
//
// Every operation but the regional superposition's follows the constructor
// convention: error is set to 0, or to the exit code of a failed
// construction (any other exception: the module's "other" code), and the
// result is then null. The regional superposition throws its exit code.
#pragma once

#include "kernel/model_date.h"
#include "kernel/module_exchange.h"
#include "kernel/module_settings.h"
#include "kernel/one_based_array.h"

#include <memory>
#include <string>
#include <vector>

namespace tavro {

class DiagnosticsLog;
class GridRegistry;
class StatisticsRegistry;
class RunSetup;
class meteointerpol;
class tracer_ini_class;
class RegionalSuperposition;
class precicorrclass;
class expokorrklasse;
class verdunstungsmodellklasse;
class schneemodellklasse;
class interzeptionsmodellklasse;
class siltingupclass;
class unsatzonmodellklasse;
class surfaceroutingclass;
class irrigationclass;
class gwflowclass;
class abflussmodellklasse;
class SpecialOutputClass;
struct TracerInfo;
struct IrrigationTableEntry;

using IrrigationTable = OneBasedArray<IrrigationTableEntry>;

class ModuleFactory {
public:
  virtual ~ModuleFactory() = default;

  virtual std::unique_ptr<RunSetup> MakeSetup(int &error, DiagnosticsLog &log,
                                              const std::string &controlFileName,
                                              StatisticsRegistry *statistics, int capacity,
                                              int soilModelVariant, GridRegistry *registry);
  virtual std::unique_ptr<meteointerpol>
  MakeInterpolator(int &error, const ModuleSettings &s, const ModelDate &start, int registryIndex);
  virtual std::unique_ptr<tracer_ini_class> MakeTracerDescription(int &error,
                                                                  const ModuleSettings &s);
  virtual std::unique_ptr<RegionalSuperposition>
  MakeRegionalSuperposition(const ModuleSettings &s, const RegionTableRef &regions);
  virtual std::unique_ptr<precicorrclass>
  MakePrecipitationCorrection(int &error, const ModuleSettings &s,
                              std::vector<meteointerpol *> variables,
                              std::vector<std::string> names, int regionCount);
  virtual std::unique_ptr<expokorrklasse> MakeRadiationCorrection(int &error,
                                                                  const ModuleSettings &s);
  virtual std::unique_ptr<verdunstungsmodellklasse> MakeEvapotranspiration(int &error,
                                                                           const ModuleSettings &s);
  virtual std::unique_ptr<schneemodellklasse> MakeSnow(int &error, const ModuleSettings &s);
  virtual std::unique_ptr<interzeptionsmodellklasse> MakeInterception(int &error,
                                                                      const ModuleSettings &s);
  virtual std::unique_ptr<siltingupclass> MakeSiltingUp(int &error, const ModuleSettings &s);
  virtual std::unique_ptr<unsatzonmodellklasse> MakeSoilWater(int &error, const ModuleSettings &s,
                                                              const IrrigationTable *irrigation,
                                                              int substepCount);
  virtual std::unique_ptr<surfaceroutingclass>
  MakeSurfaceRouting(int &error, const ModuleSettings &s, int substepCount);
  virtual std::unique_ptr<irrigationclass> MakeIrrigation(int &error, const ModuleSettings &s,
                                                          const IrrigationTable *irrigation);
  virtual std::unique_ptr<gwflowclass> MakeGroundwater(int &error, const ModuleSettings &s,
                                                       const IrrigationTable *irrigation,
                                                       int substepCount);
  virtual std::unique_ptr<abflussmodellklasse> MakeRouting(int &error, const ModuleSettings &s,
                                                           int tracerCount,
                                                           OneBasedArray<TracerInfo> *tracerInfo,
                                                           int stateReadMode);
  virtual std::unique_ptr<SpecialOutputClass> MakeSpecialOutput(int &error, const ModuleSettings &s,
                                                                int substepCount);
};

} // namespace tavro
