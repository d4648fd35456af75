// Translation chain and linear storages of one sub-channel.
#include "routing/channels/channel_step.h"

#include <algorithm>

namespace tavro {

namespace {

// Concentration of water a with concentration ca mixed with water b of cb.
double Mixed(double a, double ca, double b, double cb) {
  const double water = a + b;
  return water != 0.0 ? (a * ca + b * cb) / water : cb;
}

} // namespace

int TranslateSubChannel(double *const *chains, int components, const double *inflow,
                        const SubChannelPart &part, int previousEnd, const double *decay) {
  const int k = part.subIntervals;
  const int pos = part.base + k + part.delay + 1;
  const int stride = k + 1;

  // A longer translation leaves elements between the old end and the new
  // first element: the step's water is spread evenly over them and its own K
  // elements, so that no element runs dry and none is made up. The gap
  // carries the mean concentration of the inflow.
  const int gap = std::max(0, pos - (previousEnd + 1));
  const double scale = static_cast<double>(k) / static_cast<double>(k + gap);
  if (gap > 0) {
    double water = 0.0;
    for (int s = 1; s <= k; ++s)
      water += inflow[s];
    const double fill = scale * water / k;
    for (int j = previousEnd + 1; j < pos; ++j)
      chains[0][j] = fill;
    for (int c = 1; c < components; ++c) {
      double mass = 0.0;
      for (int s = 1; s <= k; ++s)
        mass += inflow[s] * inflow[c * stride + s];
      const double concentration = water != 0.0 ? mass / water : inflow[c * stride + 1];
      for (int j = previousEnd + 1; j < pos; ++j)
        chains[c][j] = concentration;
    }
  }
  // A shorter translation writes onto elements that still hold water: the
  // inflow joins it (a wave that catches up with the water ahead of it).
  for (int s = 1; s <= k; ++s) {
    const int j = pos + s - 1;
    const double in = scale * inflow[s];
    const bool held = j <= previousEnd;
    for (int c = 1; c < components; ++c)
      chains[c][j] = held ? Mixed(chains[0][j], chains[c][j], in, inflow[c * stride + s])
                          : inflow[c * stride + s];
    chains[0][j] = held ? chains[0][j] + in : in;
  }
  const int last = part.base + part.partLength;
  for (int c = 0; c < components; ++c) {
    double *chain = chains[c];
    for (int j = part.base + 1; j <= last; ++j)
      chain[j] = chain[j + k];
    if (c >= 1)
      for (int j = part.base + 1; j <= last; ++j)
        chain[j] *= decay[c];
  }
  return std::max(pos - 1, previousEnd - k);
}

void DrainLinearStorages(const double *translated, int subIntervals, double floodShare,
                         double floodShareOld, double mainCoefficient, double floodCoefficient,
                         const StorageOutflows &previous, double *outflow) {
  const double f = floodShare;
  const double fOld = floodShareOld;
  const double cm = mainCoefficient;
  const double cf = floodCoefficient;
  for (int s = 1; s <= subIntervals; ++s) {
    const double p = translated[s];
    const double q = previous.total[s];
    const double qFlood = previous.flood[s];
    const double floodOut = (1.0 - cf) * f * p + cf * qFlood;
    double out = 0.0;
    if (cm == cf) {
      // Equal constants make the two storages one, so how the previous
      // outflow splits between them does not change the total: it is split
      // by the previous share, as channels of equal constants always did,
      // which keeps their results to the bit.
      out = (1.0 - cm) * (1.0 - f) * p + cm * (1.0 - fOld) * q + (1.0 - cf) * f * p + cf * fOld * q;
    } else {
      const double mainOut = (1.0 - cm) * (1.0 - f) * p + cm * (q - qFlood);
      out = mainOut + floodOut;
    }
    outflow[s] = out;
    previous.total[s] = out;
    previous.flood[s] = floodOut;
  }
}

} // namespace tavro
