// The real modules of a run.
#include "module_factory.h"

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
#include "raster/output/special_output.h"
#include "routing/routing_model.h"
#include "run_setup.h"
#include "setup/tracer_ini_class.h"
#include "soil/unsatzon_model.h"

namespace tavro {
namespace {
// Constructors store their code in error and throw it as well: the object
// does not exist then, and the caller only looks at error.
template <class Module, class... Arguments>
std::unique_ptr<Module> Construct(int &error, int otherCode, Arguments &&...arguments) {
  error = 0;
  try {
    return std::make_unique<Module>(error, std::forward<Arguments>(arguments)...);
  } catch (int code) {
    error = code;
  } catch (...) {
    if (error == 0)
      error = otherCode;
  }
  return nullptr;
}
constexpr int kOther = 103;
} // namespace

std::unique_ptr<RunSetup> ModuleFactory::MakeSetup(int &error, DiagnosticsLog &log,
                                                   const std::string &controlFileName,
                                                   StatisticsRegistry *statistics, int capacity,
                                                   int soilModelVariant, GridRegistry *registry) {
  return Construct<DefaultiniSetup>(error, kOther, log, controlFileName, statistics, capacity,
                                    soilModelVariant, registry);
}

std::unique_ptr<meteointerpol> ModuleFactory::MakeInterpolator(int &error, const ModuleSettings &s,
                                                               const ModelDate &start,
                                                               int registryIndex) {
  return Construct<meteointerpol>(error, kOther, s, start, registryIndex);
}

std::unique_ptr<tracer_ini_class> ModuleFactory::MakeTracerDescription(int &error,
                                                                       const ModuleSettings &s) {
  return Construct<tracer_ini_class>(error, kOther, s);
}

std::unique_ptr<RegionalSuperposition>
ModuleFactory::MakeRegionalSuperposition(const ModuleSettings &s, const RegionTableRef &regions) {
  return std::make_unique<RegionalSuperposition>(s, regions);
}

std::unique_ptr<precicorrclass>
ModuleFactory::MakePrecipitationCorrection(int &error, const ModuleSettings &s,
                                           std::vector<meteointerpol *> variables,
                                           std::vector<std::string> names, int regionCount) {
  return Construct<precicorrclass>(error, kOther, s, std::move(variables), std::move(names),
                                   regionCount);
}

std::unique_ptr<expokorrklasse> ModuleFactory::MakeRadiationCorrection(int &error,
                                                                       const ModuleSettings &s) {
  return Construct<expokorrklasse>(error, kOther, s);
}

std::unique_ptr<verdunstungsmodellklasse>
ModuleFactory::MakeEvapotranspiration(int &error, const ModuleSettings &s) {
  return Construct<verdunstungsmodellklasse>(error, kOther, s);
}

std::unique_ptr<schneemodellklasse> ModuleFactory::MakeSnow(int &error, const ModuleSettings &s) {
  return Construct<schneemodellklasse>(error, kOther, s);
}

std::unique_ptr<interzeptionsmodellklasse>
ModuleFactory::MakeInterception(int &error, const ModuleSettings &s) {
  return Construct<interzeptionsmodellklasse>(error, kOther, s);
}

std::unique_ptr<siltingupclass> ModuleFactory::MakeSiltingUp(int &error, const ModuleSettings &s) {
  return Construct<siltingupclass>(error, kOther, s);
}

std::unique_ptr<unsatzonmodellklasse>
ModuleFactory::MakeSoilWater(int &error, const ModuleSettings &s, const IrrigationTable *irrigation,
                             int substepCount) {
  return Construct<unsatzonmodellklasse>(error, kOther, s, irrigation, substepCount);
}

std::unique_ptr<surfaceroutingclass>
ModuleFactory::MakeSurfaceRouting(int &error, const ModuleSettings &s, int substepCount) {
  return Construct<surfaceroutingclass>(error, kOther, s, substepCount);
}

std::unique_ptr<irrigationclass> ModuleFactory::MakeIrrigation(int &error, const ModuleSettings &s,
                                                               const IrrigationTable *irrigation) {
  return Construct<irrigationclass>(error, kOther, s, irrigation);
}

std::unique_ptr<gwflowclass> ModuleFactory::MakeGroundwater(int &error, const ModuleSettings &s,
                                                            const IrrigationTable *irrigation,
                                                            int substepCount) {
  return Construct<gwflowclass>(error, kOther, s, irrigation, substepCount);
}

std::unique_ptr<abflussmodellklasse>
ModuleFactory::MakeRouting(int &error, const ModuleSettings &s, int tracerCount,
                           OneBasedArray<TracerInfo> *tracerInfo, int stateReadMode) {
  return Construct<abflussmodellklasse>(error, kOther, s, tracerCount, tracerInfo, stateReadMode);
}

std::unique_ptr<SpecialOutputClass>
ModuleFactory::MakeSpecialOutput(int &error, const ModuleSettings &s, int substepCount) {
  return Construct<SpecialOutputClass>(error, SpecialOutputClass::OtherFailureExitCode, s,
                                       substepCount);
}

} // namespace tavro
