// Layer file names.
#include "landsurface/layer_file_names.h"

namespace tavro {

std::string LayerFileName(std::string_view layer0Name, int layer) {
  const std::string number = "_Layer_" + std::to_string(layer);
  const std::size_t slash = layer0Name.find_last_of('/');
  const std::size_t dot = layer0Name.find_last_of('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
    return std::string(layer0Name) + number;
  return std::string(layer0Name.substr(0, dot)) + number + std::string(layer0Name.substr(dot));
}

} // namespace tavro
