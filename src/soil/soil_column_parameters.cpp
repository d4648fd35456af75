// The column geometry of a soil type.
#include "soil/soil_column_parameters.h"

#include "tables/soil_class.h"

#include <cstddef>

namespace tavro {

SoilColumnParameters::SoilColumnParameters(const soil_class &soil)
    : fieldCapacity_(static_cast<std::size_t>(soil.LayerCount) + 1, 0.0) {
  for (int j = 1; j <= soil.LayerCount; ++j)
    fieldCapacity_[static_cast<std::size_t>(j)] = soil.GetTheta(j, kFieldCapacitySuction);
  geometry_.layers = soil.LayerCount;
  geometry_.dz = soil.thickness;
  geometry_.theta_s = soil.theta_sat;
  geometry_.theta_r = soil.theta_res;
  geometry_.ksat = soil.ksat;
  geometry_.theta_fc = fieldCapacity_;
  geometry_.maxratio = soil.maxratio;
  geometry_.EvapMaxDepth = soil.EvapMaxDepth;
  geometry_.PMacroThresh = soil.PMacroThresh;
  geometry_.MacroCapacity = soil.MacroCapacity;
  geometry_.CapacityRedu = soil.CapacityRedu;
  geometry_.MacroDepth = soil.MacroDepth;
}

} // namespace tavro
