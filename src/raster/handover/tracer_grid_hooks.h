// The raster side of the modules' tracer grids: the concentration statistics
// table of a tracer and the reading of its storage grid, installed in the
// run's grid registry for teilmodellklasse::InitTracerGrids and
// FinishTracerGrids (the kernel does not link the raster code).
#pragma once

namespace tavro {

class GridRegistry;

// Sets registry.TracerHooks: a tracer's statistics table is a zonalstatistic
// with the tracer's statcode, six significant digits, the module's cell
// weights, output list and output directory, and the header "tracer
// concentration for tracer <i> (<name>) " with the module name; its release
// writes the remaining rows. The storage grid is read by the module's
// ReadGrid with nearest-value filling (fill value 0), the whole raster kept on
// rank 0 and the halo rows.
void InstallTracerGridHooks(GridRegistry &registry);

} // namespace tavro
