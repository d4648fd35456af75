// SIGINT ignored for the lifetime of a table write.
#include "raster/parallel/interrupts_ignored.h"

namespace tavro {

InterruptsIgnored::InterruptsIgnored() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  saved_ = sigaction(SIGINT, &ignore, &previous_) == 0;
}

InterruptsIgnored::~InterruptsIgnored() {
  if (saved_)
    sigaction(SIGINT, &previous_, nullptr);
}

} // namespace tavro
