// The river network that the routing descriptions give by their codes: which
// subbasin flows into which (the irrigation's `routing-target`), and the
// order in which the routing subbasins are computed: every subbasin after all
// subbasins whose descriptions name it as a tributary ("OL", "SUMTRIB" and
// its "&" list), ties in the order of the descriptions. Inflows fed by
// abstractions are no edges of the network.
#pragma once

#include "kernel/module_exchange.h"
#include "routing/routing_description.h"

#include <string>
#include <vector>

namespace tavro {

struct RoutingOrder {
  std::vector<int> Order;     // description numbers in computation order
  bool Reordered = false;     // the order differs from the descriptions'
  DescriptionFailure Failure; // a cycle (41)
};

// Upstream first; a cycle of descriptions fails with exit code 41.
RoutingOrder UpstreamFirstOrder(const std::vector<RoutingDescription> &descriptions);

// The WARNING text (without "WARNING: ") that lists a changed order.
std::string ReorderedWarning(const std::vector<RoutingDescription> &descriptions,
                             const RoutingOrder &order);

// Fills `routing-target` from the descriptions, in reading order; the
// tributary list holds at least 2 x nsub entries.
void FillRoutingTargets(const std::vector<RoutingDescription> &descriptions,
                        const SubbasinCodes &codes, RoutingTargets &targets);

} // namespace tavro
