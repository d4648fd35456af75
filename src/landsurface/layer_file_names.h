// File names of the vegetation layers' grids and statistics, derived from the
// name of layer 0 (the cell's total): the layer number goes in front of the
// extension, "etp.grd" gives "etp_Layer_1.grd", "etp_Layer_2.grd", ...
#pragma once

#include <string>
#include <string_view>

namespace tavro {

// The name cut at the last '.' of its file part, then "_Layer_" and the layer
// number, then the cut-off extension ("%.*s_Layer_%d%s"); a file part without
// '.' gets "_Layer_" and the number appended. A '.' in a directory of the name
// never takes the number, so the layer files stay beside the layer-0 file.
std::string LayerFileName(std::string_view layer0Name, int layer);

} // namespace tavro
