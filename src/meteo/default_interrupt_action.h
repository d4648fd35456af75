// Ctrl-C (SIGINT) at the system's default action for the life of the object,
// as the grid reads of the interpolation step want it; the action in place
// at construction (the program's Ctrl-C handler during a run) is installed
// again when the object ends, also when the read fails.
#pragma once

#include <csignal>

namespace tavro {

class DefaultInterruptAction {
public:
  DefaultInterruptAction() {
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    saved_ = sigaction(SIGINT, &defaults, &previous_) == 0;
  }
  ~DefaultInterruptAction() {
    if (saved_)
      sigaction(SIGINT, &previous_, nullptr);
  }
  DefaultInterruptAction(const DefaultInterruptAction &) = delete;
  DefaultInterruptAction &operator=(const DefaultInterruptAction &) = delete;

private:
  struct sigaction previous_ {};
  bool saved_ = false;
};

} // namespace tavro
