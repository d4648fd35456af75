// The hydraulic properties the column kernels look up, as a type they take
// as a template parameter: the soil table's retention and conductivity
// tables in production. A property type offers
//   double Suction(int layer, double theta) const;        // m
//   double Krel(int layer, double theta, double limit) const; // of the smaller
//   double Theta(int layer, double suction) const;
#pragma once

#include "tables/soil_class.h"

namespace tavro {

// The look-ups of one soil type of the soil table.
class SoilTableHydraulics {
public:
  explicit SoilTableHydraulics(const soil_class &soil) : soil_(&soil) {}
  double Suction(int layer, double theta) const { return soil_->GetSuction(layer, theta); }
  double Krel(int layer, double theta, double limit) const {
    return soil_->GetKrel(layer, theta, limit);
  }
  double Theta(int layer, double suction) const { return soil_->GetTheta(layer, suction); }

private:
  const soil_class *soil_;
};

} // namespace tavro
