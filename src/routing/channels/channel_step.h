// One step of one sub-channel: the step's inflow is written into the
// sub-channel's part of the storage chain at its translation delay and the
// part moves on by one step (K elements); the K elements that reach its end
// leave through two linear storages side by side, the main channel and the
// flood plain. Chains hold the water (component 0) and the tracer
// concentrations (1..n) element by element.
#pragma once

namespace tavro {

// The place of one sub-channel in a channel's chain.
struct SubChannelPart {
  int subIntervals = 0; // K
  int base = 0;         // elements before the part: (c - 1) x partLength
  int partLength = 0;   // K plus the channel's largest delay
  int delay = 0;        // this step's delay d (table row of the inflow)
};

// Writes inflow[k * (K + 1) + s] (s = 1..K) of every component k into
// elements pos .. pos + K - 1 (pos = base + K + d + 1) of chains[k]; then
// every element of the part takes the value K elements further on, tracer
// elements times decay[k] (k >= 1). The water is kept whole when the delay
// changes: a longer delay spreads the step's water evenly over the gap behind
// previousEnd and its own K elements (the gap with the inflow's mean
// concentration); a shorter one adds the inflow to the water still held at
// or before previousEnd, mixing the tracers by water. Returns the new end of
// the held water, max(pos - 1, previousEnd - K). Chains hold at least
// base + partLength + K + 1 elements.
int TranslateSubChannel(double *const *chains, int components, const double *inflow,
                        const SubChannelPart &part, int previousEnd, const double *decay);

// The previous step's outflows of one sub-channel per sub-interval 1..K: all
// of it and the flood plain's part (the main channel's is the difference).
struct StorageOutflows {
  double *total = nullptr;
  double *flood = nullptr;
};

// Outflow of the first K elements of the part (translated[1..K]): the share
// floodShare of an element enters the flood-plain storage (coefficient
// floodCoefficient), the rest the main channel's (mainCoefficient), two
// single linear storages side by side, each draining its own water whatever
// the shares do. floodShareOld is the previous step's share. Writes
// outflow[1..K] and the same, with the flood plain's part, into previous for
// the next step.
void DrainLinearStorages(const double *translated, int subIntervals, double floodShare,
                         double floodShareOld, double mainCoefficient, double floodCoefficient,
                         const StorageOutflows &previous, double *outflow);

} // namespace tavro
