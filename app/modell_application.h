// One model run from one control file: set-up and wiring, time loop, teardown.
// Until the set-up exists, init reports that it is not built and fails.
#pragma once

namespace tavro {

class DiagnosticsLog;

class ModellApplication {
public:
  // Performs init; throws the exit code of a failed set-up.
  ModellApplication(DiagnosticsLog &log, int argc, char **argv, int controlFileArgument);
  int run();
  void ClearMemory();

private:
  DiagnosticsLog &Log;
};

} // namespace tavro
