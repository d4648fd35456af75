// Ctrl-C (SIGINT) is ignored while a table file is written, so that a
// keystroke cannot leave half a row behind; the disposition that was in force
// before (the run's Ctrl-C handler, or the default) comes back afterwards.
#pragma once

#include <csignal>

namespace tavro {

class InterruptsIgnored {
public:
  InterruptsIgnored();
  ~InterruptsIgnored();
  InterruptsIgnored(const InterruptsIgnored &) = delete;
  InterruptsIgnored &operator=(const InterruptsIgnored &) = delete;

private:
  struct sigaction previous_ {};
  bool saved_ = false;
};

} // namespace tavro
