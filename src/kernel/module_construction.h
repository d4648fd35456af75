// What every module constructor shares: the error out-parameter convention and
// the closing of the module's section after its own values were read.
//
// A constructor clears its error when it begins. A failure stores the exit
// code in the error and throws it on as an int: a constructor cannot leave a
// half-built object behind, so the caller sees the code both ways. Any
// exception that is not an exit code becomes the module's "other" code (103
// for the sub-models, 104 for the special output) with a FATAL entry.
#pragma once

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid.h"
#include "kernel/grid_registry.h"
#include "kernel/modelobject.h"
#include "kernel/module_settings.h"

#include <exception>
#include <string>
#include <string_view>

namespace tavro {

inline constexpr int OtherConstructionFailure = 103;

// Clears error and returns the settings under the module's fixed name (and,
// when substepCount is at least 0, with that sub-step count).
inline ModuleSettings BeginModuleConstruction(int &error, const ModuleSettings &settings,
                                              std::string_view moduleName, int substepCount = -1) {
  error = 0;
  ModuleSettings named = settings;
  if (!moduleName.empty())
    named.ModuleName = std::string(moduleName);
  if (substepCount >= 0)
    named.SubstepCount = substepCount;
  return named;
}

// For the handler of a constructor's function-try-block: stores the code of
// the exception being handled and throws it on as an int.
[[noreturn]] inline void StoreConstructionFailure(int &error, DiagnosticsLog *log,
                                                  std::string_view moduleName,
                                                  int otherCode = OtherConstructionFailure) {
  try {
    throw;
  } catch (int code) {
    error = code;
    throw;
  } catch (const std::exception &failure) {
    error = otherCode;
    if (log != nullptr)
      log->Entry(Concat("FATAL: constructing module ", moduleName, " failed: ", failure.what(),
                        DiagnosticsLog::EndToken));
    throw otherCode;
  } catch (...) {
    error = otherCode;
    if (log != nullptr)
      log->Entry(
          Concat("FATAL: constructing module ", moduleName, " failed", DiagnosticsLog::EndToken));
    throw otherCode;
  }
}

// The values of a registered grid that the module needs: a missing entry
// ends the run through the lookup (33), and so does an entry without values.
inline Grid *RequiredGridData(const modelobject &module, std::string_view identifier) {
  const int index = module.GetGridIndex(identifier);
  Grid *grid = (*module.Registry)[index].Data;
  if (grid == nullptr)
    ThrowFatal(*module.Log, GridRegistry::NotFoundExitCode,
               Concat(identifier, " is registered without values, but ", module.ModuleName,
                      " needs them"));
  return grid;
}

// A zero-filled grid over the module's strip rows and columns 1..NCols; an
// empty grid when the module has no raster (never configured).
inline Grid MakeStripGrid(const modelobject &module) {
  if (module.NRows < 1 || module.NCols < 1 || module.FirstRow < 1 ||
      module.LastRow < module.FirstRow)
    return Grid();
  return Grid(module.FirstRow, module.LastRow, module.NCols, module.NRows, *module.Log);
}

// An active module's own constructor closes the section the base left open.
inline void CloseModuleSection(modelobject &module, int closeErrorCode = 11) {
  if (!module.ControlFile().IsOpen())
    return;
  if (!module.CloseControlFile())
    ThrowFatal(*module.Log, closeErrorCode, "error closing " + module.ControlFileName);
}

} // namespace tavro
