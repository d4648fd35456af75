// The tracer column a cell starts with when no stored one is read, the
// concentration of its groundwater layer, and the share of a call's decay
// that one internal step applies. Pure functions of plain values.
#pragma once

#include "soil/column/solute_transport.h"

#include <span>

namespace tavro {

// Layers 1..L-1 take soilini, layers L..n gwini (L the groundwater layer);
// an amount tracer stores them times the water of the layer (theta x 1000
// x dz), an evaporating one as they are.
void FillStartTracerColumn(const SoluteKind &kind, double soilini, double gwini,
                           int groundwaterLayer, int layers, std::span<const double> theta,
                           std::span<const double> dz, std::span<double> storage);

// The concentration of a stored value in a layer of water content theta
// and thickness dz (m): an amount divided by its water, lowered to maxConc
// when that is set; an evaporating tracer's value as it is.
double StoredConcentration(const SoluteKind &kind, double stored, double theta, double dz);

// Fraction left after one of the call's internal steps, so that the
// internal steps of a call together decay by callFactor.
double DecayPerInternalStep(double callFactor, int internalSteps);

} // namespace tavro
