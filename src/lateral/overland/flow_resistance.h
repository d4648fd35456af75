// Strickler-type resistance coefficient k (m^(1/3)/s) of overland flow: from
// the Reynolds number and residue cover on residue-covered soil, from the
// drag of crop stems on row crops, the land use's Strickler value otherwise.
#pragma once

#include <array>

namespace tavro::overland {

// The land-use parameters of a cell for the step (stem diameter and residue
// cover already taken at the cell's elevation and the step's date).
struct LandUseResistance {
  int Cultivation = 3;                        // 1 residue-covered soil, 2 row crops, other: fixed
  double Strickler = 0.0;                     // K_ST, m^(1/3)/s
  double DragCoefficient = 0.0;               // C_WR, from stem Reynolds numbers of 10000 on
  double StemSpacingX = 0.0;                  // a_x, m
  double StemSpacingY = 0.0;                  // a_y, m
  std::array<double, 3> RoughCoefficients1{}; // a, b, e below Re 20000
  std::array<double, 3> RoughCoefficients2{}; // a, b, e from Re 20000 on
  double StemDiameter = 0.0;                  // D, m
  double ResidueCover = 0.0;                  // R, 0..1
};

struct ResistanceSettings {
  double MaxErrorANL = 0.0; // m
  int MaxIterANL = 0;
  double MinCropRoughnessDepth = 0.0; // m
};

// The two velocity-dependent laws: residue-covered soil and row crops.
double ResidueResistance(const LandUseResistance &u, double v, double y);
double RowCropResistance(const LandUseResistance &u, const ResistanceSettings &settings, double v,
                         double y, double sigma);

// velocity v (m/s), depth y (m), sigma the square root of the gradient.
// Inline so that the velocity iterations of the common fixed-coefficient
// land uses cost no call.
inline double FlowResistance(const LandUseResistance &u, const ResistanceSettings &settings,
                             double v, double y, double sigma) {
  switch (u.Cultivation) {
  case 1:
    return ResidueResistance(u, v, y);
  case 2:
    return RowCropResistance(u, settings, v, y, sigma);
  default:
    return u.Strickler;
  }
}

} // namespace tavro::overland
