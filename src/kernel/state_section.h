// Writing a module's section header into the state file (StorageContentFile):
// the routing module creates the file, the soil-water, surface-routing and
// snow modules append their sections in that order. The section contents
// belong to each module's physics.
#pragma once

#include "kernel/modelobject.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace tavro {

// Writes "<section>\n" to fileName, appended or creating the file. A file that
// cannot be written ends the run through the object's write error (18).
inline void WriteStateSectionHeader(modelobject &module, const std::string &fileName,
                                    std::string_view section, bool append) {
  std::FILE *file = std::fopen(fileName.c_str(), append ? "a" : "w");
  if (file == nullptr)
    module.WriteError(fileName, 1);
  const bool written =
      std::fprintf(file, "%.*s\n", static_cast<int>(section.size()), section.data()) > 0;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed)
    module.WriteError(fileName, 2);
}

} // namespace tavro
