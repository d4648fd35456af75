// The eight flow directions of a cell, numbered clockwise from north (the
// row above): 1 N, 2 NE, 3 E, 4 SE, 5 S, 6 SW, 7 W, 8 NW. Index 0 of every
// per-direction array is the cell's own or summary value.
#pragma once

#include <array>

namespace tavro::overland {

constexpr int kDirections = 8;
using PerDirection = std::array<double, kDirections + 1>; // [0] summary, [1..8] directions

constexpr std::array<int, kDirections + 1> kRowOffset = {0, -1, -1, 0, 1, 1, 1, 0, -1};
constexpr std::array<int, kDirections + 1> kColumnOffset = {0, 0, 1, 1, 1, 0, -1, -1, -1};

constexpr bool IsDiagonal(int d) { return d % 2 == 0; }
// The direction pointing back from the neighbour in direction d.
constexpr int Opposite(int d) { return (d + 3) % kDirections + 1; }
constexpr int Previous(int d) { return d == 1 ? kDirections : d - 1; }
constexpr int Next(int d) { return d == kDirections ? 1 : d + 1; }

// Flow length to the neighbour in direction d (m).
constexpr double FlowLength(int d, double cellSize) {
  return IsDiagonal(d) ? cellSize * 1.4142135 : cellSize;
}

// What a cell knows of itself and its eight neighbours. A neighbour outside
// the raster has Inside false; Valid means inside with a zone value that is
// not no-data; Positive means valid with a zone value above 0.
struct Neighbourhood {
  double CellSize = 0.0;      // m
  double Elevation = 0.0;     // terrain z, m
  double Depth = 0.0;         // water depth h, m
  double Storage = 0.0;       // surface storage S, mm
  double PlanCurvature = 0.0; // 1/m
  bool River = false;         // river depth and width above 0
  bool FirstRow = false, LastRow = false, FirstColumn = false, LastColumn = false;
  PerDirection NeighbourElevation{}; // z_d, m
  PerDirection NeighbourDepth{};     // h_d, m
  std::array<bool, kDirections + 1> Inside{};
  std::array<bool, kDirections + 1> Valid{};
  std::array<bool, kDirections + 1> Positive{};
};

// Whether slopes and drops use the water surface (methods 3 to 5) or the
// terrain alone (1 and 2), and whether the outflow goes to one neighbour.
constexpr bool UsesWaterSurface(int method) { return method >= 3; }
constexpr bool SingleDirection(int method) { return method == 2 || method == 4 || method == 5; }

// Head of the cell and of the neighbour in direction d (m).
inline double CellHead(const Neighbourhood &n, int method) {
  return n.Elevation + (UsesWaterSurface(method) ? n.Depth : 0.0);
}
inline double NeighbourHead(const Neighbourhood &n, int method, int d) {
  const bool wet = UsesWaterSurface(method) && n.Inside[static_cast<std::size_t>(d)] &&
                   n.Positive[static_cast<std::size_t>(d)];
  return n.NeighbourElevation[static_cast<std::size_t>(d)] +
         (wet ? n.NeighbourDepth[static_cast<std::size_t>(d)] : 0.0);
}

} // namespace tavro::overland
