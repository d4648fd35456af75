// Transmissivity between a cell and its east or south neighbour: the
// saturated thickness of each cell (reduced in the top layer by frozen
// ground), the cell values, the rules that let water enter a dry cell from a
// higher neighbour, and their harmonic mean. Pure functions.
//
// Units: heads, elevations and thicknesses in m, conductivities in m/s,
// transmissivities in m²/s.
#pragma once

namespace tavro::groundwater {

// A head at most this far above the layer top counts as unconfined, m.
inline constexpr double kConfinedMargin = 0.01;

// The thickness that conducts water in the top layer: the layer thickness b
// less a frozen thickness (frozenValid) or limited to the thaw depth (a
// negative depth below the surface; thawValid); b elsewhere.
double EffectiveThickness(double b, bool frozenValid, double frozen, bool thawValid,
                          double thawDepth);

// Saturated thickness: unconfined (head at or below top + 0.01 m) the water
// column above the bottom of the effective thickness a; confined the full
// thickness b.
double SaturatedThickness(double h, double top, double b, double a);

// One side of an interblock transmissivity.
struct TransmissivitySide {
  double h = 0.0;       // head, m
  double top = 0.0;     // layer top, m
  double b = 0.0;       // layer thickness, m (0 outside the raster or under a whole glacier)
  double a = 0.0;       // effective thickness, m
  double k = 0.0;       // conductivity in the direction of the pair, m/s
  double glacier = 0.0; // glacier fraction, 0..1
  bool conducts = true; // false: takes no part in the layer's flow
};

// Interblock transmissivity between a cell and its neighbour in one
// direction. neighbourValid: the neighbour lies inside the raster, is a model
// cell and may exchange water with the cell (same zone under flow control 3).
// A side that does not conduct (unusable input) gives 0.
double InterblockTransmissivity(const TransmissivitySide &cell, const TransmissivitySide &neighbour,
                                bool neighbourValid);

// A cell's layer takes part in the flow only when its thickness, both
// conductivities and its storage coefficient are numbers of at least 0:
// no-data (negative) input never enters the arithmetic.
inline bool ConductsWater(double b, double kx, double ky, double s) {
  return b >= 0.0 && kx >= 0.0 && ky >= 0.0 && s >= 0.0;
}

} // namespace tavro::groundwater
