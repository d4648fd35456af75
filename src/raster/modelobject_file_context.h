// The GridFileContext of a model object: its geometry, strip, directories,
// decomposition and statistics accumulator, for the grid and stack file
// members of modelobject (defined in the raster library).
#pragma once

#include "raster/files/grid_file_context.h"

namespace tavro {

class modelobject;

// Without strip exchanges: the readers add them (they call the exchange
// members, which the writers do not need).
GridFileContext FileContextOf(modelobject &object);

} // namespace tavro
