// Concentration arithmetic of the tracers, shared by the modules' kernels:
// mixing two volumes, concentrating by a loss of solvent, and the radioactive
// decay over one time step. Plain functions of plain values.
#pragma once

#include <cmath>

namespace tavro {

// 1 / ln 2 to the digits the model's decay is defined with (it differs from
// the exact value in the tenth digit).
inline constexpr double kHalfLifeToMeanLife = 1.442695041111;

constexpr double Multiply(double a, double b) { return a * b; }

// Concentration of the mixture of volume qa at concentration ca and volume qb
// at concentration cb; 0 when both volumes together are 0.
constexpr double MixConcentration(double ca, double cb, double qa, double qb) {
  const double volume = qa + qb;
  return volume == 0.0 ? 0.0 : (ca * qa + cb * qb) / volume;
}

// Concentration left when volume v at concentration c loses the solvent loss
// but keeps its solute; 0 when the whole volume is lost.
constexpr double ConcentrateByLoss(double c, double v, double loss) {
  const double left = v - loss;
  return left == 0.0 ? 0.0 : c * v / left;
}

// Fraction of a radioactive tracer left after one time step of
// timeStepMinutes, for a half-life of halfTimeDays (above 0).
inline double TracerDecayFactor(double timeStepMinutes, double halfTimeDays) {
  return std::exp(-(timeStepMinutes / 60.0 / 24.0) / (halfTimeDays * kHalfLifeToMeanLife));
}

} // namespace tavro
