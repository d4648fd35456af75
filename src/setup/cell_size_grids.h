// The size of every cell in x and y and its area relative to the header's
// square cell ("CellSizeX", "CellSizeY", "RelCellArea"). A user may supply any
// of the three as a standard or variable grid; the set-up derives the others
// from the ones read, cell by cell, and stops when the read ones contradict
// each other. The set-up object's member MakeCellSizeGrids is defined in
// cell_size_grids.cpp too.
#pragma once

namespace tavro {

// Exit code of a zero or contradictory read cell size.
inline constexpr int kCellSizeExitCode = 66;

// Largest difference between a read relative area and the one its read cell
// sizes give (0.001 %).
inline constexpr double kRelativeAreaTolerance = 1e-5;

// Which of the three grids were read from files (the others are created).
struct CellSizeSources {
  bool SizeXRead = false;
  bool SizeYRead = false;
  bool AreaRead = false;
};

// The three values of one valid cell: X and Y in the units of the header's
// cell size, A relative to the square cell of that size. A created area holds
// 1 when it comes in.
struct CellSizes {
  double X = 0.0;
  double Y = 0.0;
  double A = 1.0;
};

enum class CellSizeProblem { None, ZeroX, ZeroY, AreaMismatch };

// Completes the created values of one valid cell from the read ones (cs: the
// header's cell size). Neither size read: both are the side of a square of
// area A. One size read: the other makes up area A. Both read: a created area
// is X·Y/cs², a read one must agree with it within kRelativeAreaTolerance. A
// read size of 0 is a problem; the cell is then left as it came.
CellSizeProblem DeriveCellSizes(CellSizes &cell, const CellSizeSources &sources, double cs);

} // namespace tavro
