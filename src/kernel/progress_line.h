// When a module announces its step on the console: every step with an hour
// divisor of 1 (or below, which would divide by zero), else when the data
// hour plus the whole hours to the end of the step is a multiple of it.
#pragma once

namespace tavro {

inline bool ProgressLineDue(int hourDivisor, long hour, double hoursToIntervalEnd) {
  if (hourDivisor <= 1)
    return true;
  const long k = static_cast<long>(static_cast<double>(hour) + hoursToIntervalEnd);
  return k % hourDivisor == 0;
}

} // namespace tavro
