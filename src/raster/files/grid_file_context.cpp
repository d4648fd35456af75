// Path prefixing and the SIGINT pause of the grid and stack file operations.
#include "raster/files/grid_file_context.h"

namespace tavro {

std::string PrefixedPath(const std::string &directory, const std::string &name) {
  if (!name.empty() && (name.front() == '/' || name.front() == '~'))
    return name;
  return directory + name;
}

InterruptPause::InterruptPause(After after, void (*handler)(int)) {
  void (*previous)(int) = std::signal(SIGINT, SIG_IGN);
  if (after == After::DefaultAction)
    restore_ = SIG_DFL;
  else
    restore_ = handler != nullptr ? handler : (previous == SIG_ERR ? SIG_DFL : previous);
}

InterruptPause::~InterruptPause() { std::signal(SIGINT, restore_); }

} // namespace tavro
