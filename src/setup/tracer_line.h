// One tracer line of "[substance_transport]": the short name first, the other
// entries anywhere on the line by their key words ("radioactive" with
// "half_time = x d" or "non_radioactive", "evaporating" or "non_evaporating",
// "min_conc =", "max_conc =" with an optional unit, "soilini =", "gwini =",
// "statcode =", "gridcode =", "path =", "statext =", "gridext ="). A pure
// function of the line: the tracer description, or the failure's text and
// exit code (56 for an entry, 59 for a name taken by an earlier tracer).
#pragma once

#include "kernel/tracer_info.h"

#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace tavro {

inline constexpr int kTracerLineExitCode = 56;
inline constexpr int kTracerNameExitCode = 59;
// Longest path or extension word of a tracer line.
inline constexpr std::size_t kMaxTracerWordLength = 299;

struct TracerLineFailure {
  int code = kTracerLineExitCode;
  std::string text; // the FATAL entry without its level word "FATAL: "
};

// The tracer's short name: the first (at most) three non-blank characters of
// the line, filled up with '_' to three, letters A to Z in lower case.
std::string TracerShortName(std::string_view line);

// Parses the line of tracer number tracer (1..tracerCount); earlier holds the
// tracers 1..tracer-1 already read.
std::variant<TracerInfo, TracerLineFailure> ParseTracerLine(std::string_view line, int tracer,
                                                            int tracerCount,
                                                            std::span<const TracerInfo> earlier);

} // namespace tavro
