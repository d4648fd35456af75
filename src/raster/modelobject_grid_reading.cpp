// The grid and stack reading members of modelobject: the object's file
// context with its strip exchanges, handed to the free functions.
#include "kernel/modelobject.h"
#include "raster/files/gif_image_grid.h"
#include "raster/files/grid_reader.h"
#include "raster/files/stack_files.h"
#include "raster/modelobject_file_context.h"

namespace tavro {

namespace {

GridFileContext ReadingContextOf(modelobject &object) {
  GridFileContext context = FileContextOf(object);
  context.scatterGrid = [&object](Grid &grid) { object.MPIScatterGrid(0, &grid); };
  context.exchangeHalo = [&object](Grid &grid) { object.MPIExchangeHalo(0, &grid); };
  context.scatterStack = [&object](Stack &stack, int levels) {
    object.MPIScatterStack(0, &stack, levels);
  };
  // Only an object that knows where its images lie can read image grids.
  if (object.GifGeoreferenced) {
    context.decodeGif = [&object, geometry = context.geometry](const std::string &path,
                                                               Grid &grid) {
      const GifGeoreference georeference{object.GifXllCorner, object.GifYllCorner,
                                         object.GifCellSize, object.GifMask};
      const GifMapping mapping{object.GifF1, object.GifX1, object.GifThreshold, object.GifF2,
                               object.GifX2};
      return ReadGifImageGrid(*object.Log, path, grid, geometry, georeference, mapping);
    };
  }
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

void modelobject::SetGifGeoreference(const Grid *mask, double xllCorner, double yllCorner,
                                     double cellSize) {
  GifMask = mask;
  GifXllCorner = xllCorner;
  GifYllCorner = yllCorner;
  GifCellSize = cellSize;
  GifGeoreferenced = true;
}

int modelobject::ReadStack(const std::string &fileName, Stack &stack, bool keepWholeOnRoot) {
  return tavro::ReadStack(ReadingContextOf(*this), fileName, stack, keepWholeOnRoot).levels;
}

} // namespace tavro
