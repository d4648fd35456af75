// File names of a module's tracer statistics and grids.
#include "kernel/tracer_record.h"

namespace tavro {

std::string TracerFileName(std::string_view path, std::string_view tracerName,
                           std::string_view moduleName, std::string_view extension) {
  std::string name(path);
  name += tracerName.substr(0, 3);
  name += moduleName.substr(0, 5);
  name += '.';
  name += extension.substr(0, 3);
  return name;
}

} // namespace tavro
