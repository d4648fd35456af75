// The grid and stack reading members of modelobject: the object's file
// context with its strip exchanges, handed to the free functions.
#include "kernel/modelobject.h"
#include "raster/grid_reader.h"
#include "raster/modelobject_file_context.h"
#include "raster/stack_files.h"

namespace tavro {

namespace {

GridFileContext ReadingContextOf(modelobject &object) {
  GridFileContext context = FileContextOf(object);
  context.scatterGrid = [&object](Grid &grid) { object.MPIScatterGrid(0, &grid); };
  context.exchangeHalo = [&object](Grid &grid) { object.MPIExchangeHalo(0, &grid); };
  context.scatterStack = [&object](Stack &stack, int levels) {
    object.MPIScatterStack(0, &stack, levels);
  };
  return context;
}

} // namespace

void modelobject::ReadGrid(const std::string &fileName, Grid &grid, int fillMode, bool allocate,
                           bool verbose, double fillValue, bool searchNeighbours,
                           bool keepWholeOnRoot, bool rootOnly, bool withHalo) {
  const GridReadOptions options{fillMode,         allocate,        verbose,  fillValue,
                                searchNeighbours, keepWholeOnRoot, rootOnly, withHalo};
  tavro::ReadGrid(ReadingContextOf(*this), fileName, grid, options);
}

// Kept for the GIF images this object reads: where their lower-left corner
// lies, their cell size, and the mask (the zone grid) of their resampling.
void modelobject::SetGifGeoreference(const Grid *mask, double xllCorner, double yllCorner,
                                     double cellSize) {
  GifMask = mask;
  GifXllCorner = xllCorner;
  GifYllCorner = yllCorner;
  GifCellSize = cellSize;
}

int modelobject::ReadStack(const std::string &fileName, Stack &stack, bool keepWholeOnRoot) {
  return tavro::ReadStack(ReadingContextOf(*this), fileName, stack, keepWholeOnRoot).levels;
}

} // namespace tavro
