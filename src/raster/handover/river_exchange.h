// The river exchange table across processes: every process books what its
// river cells take from the rivers in its own copy of the table, while the
// routing that uses the sum and refreshes the flows runs on rank 0 alone.
#pragma once

#include "kernel/module_exchange.h"

namespace tavro {

// Collective: the exchange of every record summed over all processes onto
// rank 0, exactly (the total does not depend on the process count or the
// order of the processes); on every other process the exchange becomes 0,
// so that nothing is booked twice.
void ReduceRiverExchange(riverflow_table &table);

// Collective: rank 0's flow_mm, flowm3s and speed of every record to every
// process; with setUp also area, routingNumber and channelIndex.
void BroadcastRiverFlows(riverflow_table &table, bool setUp);

} // namespace tavro
