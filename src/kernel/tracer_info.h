// The description of one tracer (a dissolved substance carried with the
// water), as read from "[substance_transport]". The tracer_info_table is a
// OneBasedArray<TracerInfo> with the tracers at 1..count; modules keep a
// pointer to it and index it by tracer number.
//
// The table is shared by every module and only read by them. The decay of a
// radioactive tracer over one time step depends on the module's step, so each
// module keeps that factor in its own TracerRecord (tracer_record.h), not here.
#pragma once

#include <string>

namespace tavro {

struct TracerInfo {
  std::string name; // exactly 3 lower-case characters
  int radioactive = 0;
  int evaporating = 0;
  double min_conc = 0.0;
  double max_conc = 0.0;
  double half_time = -9999.0; // days; -9999 when not radioactive
  double gwini = 0.0;
  double soilini = 0.0;
  double reserved = 0.0;
  std::string path;
  std::string statext;
  std::string gridext;
  int statcode = 0;
  int gridcode = 0;
};

} // namespace tavro
