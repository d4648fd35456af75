// Names of the groundwater module's files and grids.
#include "lateral/groundwater_names.h"

#include <algorithm>
#include <cstdio>

namespace tavro {

std::string DerivedHeadsFileName(std::string_view heads, std::string_view suffix) {
  const std::size_t slash = heads.find_last_of('/');
  const std::size_t fileStart = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = heads.find_last_of('.');
  std::string name;
  if (dot == std::string_view::npos || dot < fileStart) {
    name.append(heads).append(suffix);
  } else {
    name.append(heads.substr(0, dot)).append(suffix).append(heads.substr(dot));
  }
  return name;
}

std::string LayerIdentifier(std::string_view prefix, int layer) {
  return std::string(prefix) + std::to_string(layer);
}

std::size_t ControlRecordCapacity(int layers) {
  return std::max<std::size_t>(1, 2097152 / ControlRecordBytes(layers));
}

std::string ControlPointHeader(int row, int column, int layers) {
  std::string header = "YY\tMM\tDD\tHH\tcontrol_point_fluxes[" + std::to_string(row) + "][" +
                       std::to_string(column) + "]";
  for (int k = 1; k <= layers; ++k) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "[lr: %d, 1]\t[lr: %d, 2]\t[lr: %d, 3]\t[lr: %d, 4]\t[lr: %d, up]\t[lr: %d, "
                  "down]\t",
                  k, k, k, k, k, k);
    header += text;
  }
  return header + "\n";
}

} // namespace tavro
