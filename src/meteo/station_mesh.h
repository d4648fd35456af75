// The stations of the spline methods sorted into a mesh of columns of equal
// length in the rotated frame: node (i, j) is the i-th station from the north
// of column j, columns from west to east. Five matrices [1..Rows][1..Columns]
// hold each node's station index (1..N of the first station file), its value
// and second derivative of the step, and its x and y in the rotated frame.
#pragma once

#include "kernel/grid.h"

namespace tavro {

struct StationMesh {
  long Rows = 0;    // stations per column
  long Columns = 0; // columns
  Grid Station;     // station index of the node
  Grid Z;           // value of the step
  Grid Z2;          // second derivative along the column
  Grid X;
  Grid Y;
};

} // namespace tavro
