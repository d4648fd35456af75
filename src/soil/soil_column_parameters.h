// The column geometry of every soil type of the soil table, cached once per
// run: the layer thicknesses, saturated and residual water contents,
// conductivities and the field capacity at 3.45 m suction that the column
// kernels read for every cell, internal step and iteration.
#pragma once

#include "soil/column/column_state.h"

#include <vector>

namespace tavro {

class soil_class;

// Suction (m) of the field capacity.
inline constexpr double kFieldCapacitySuction = 3.45;

// The arrays of one soil type behind its ColumnGeometry (not copyable: the
// geometry's spans point into the arrays).
class SoilColumnParameters {
public:
  explicit SoilColumnParameters(const soil_class &soil);
  SoilColumnParameters(const SoilColumnParameters &) = delete;
  SoilColumnParameters &operator=(const SoilColumnParameters &) = delete;

  const ColumnGeometry &Geometry() const { return geometry_; }

private:
  std::vector<double> fieldCapacity_;
  ColumnGeometry geometry_;
};

} // namespace tavro
