// The frame that every module's tracer set-up runs in: a failure of the
// set-up becomes the exit code reported through the error out-parameter
// (an int as thrown, no memory as 81, any other exception as 103).
#pragma once

#include "kernel/one_based_array.h"
#include "kernel/tracer_info.h"
#include "kernel/tracer_record.h"

#include <functional>

namespace tavro {

class memory_handling;

// Checks that info holds tracerCount tracers, makes records 1..tracerCount
// and runs build, which fills them; error stays as it is on success.
void SetUpTracerRecords(memory_handling &module, int &error, int tracerCount,
                        const OneBasedArray<TracerInfo> *info, OneBasedArray<TracerRecord> &records,
                        const std::function<void()> &build);

} // namespace tavro
