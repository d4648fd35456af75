// The registered grids a lateral module links by identifier: a needed one
// ends the run when it is missing or holds no values (33), an optional one
// is simply absent.
#pragma once

#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/modelobject.h"

#include <string>

namespace tavro {

inline Grid *NeededGrid(const modelobject &module, const std::string &identifier) {
  const int index = module.GetGridIndex(identifier);
  Grid *grid = (*module.Registry)[index].Data;
  if (grid == nullptr)
    ThrowFatal(*module.Log, GridRegistry::NotFoundExitCode,
               Concat(identifier, " is registered without values, but ", module.ModuleName,
                      " needs them"));
  return grid;
}

inline Grid *OptionalGrid(const modelobject &module, const std::string &identifier,
                          int *index = nullptr) {
  const int found = module.FindGrid(identifier, false);
  if (index != nullptr)
    *index = found;
  return found == 0 ? nullptr : (*module.Registry)[found].Data;
}

} // namespace tavro
