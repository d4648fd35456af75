// Translation chain and linear storages of one sub-channel.
#include "routing/channels/channel_step.h"

namespace tavro {

int TranslateSubChannel(double *const *chains, int components, const double *inflow,
                        const SubChannelPart &part, int previousEnd, const double *decay) {
  const int k = part.subIntervals;
  const int pos = part.base + k + part.delay + 1;
  const int stride = k + 1;

  if (previousEnd + 1 < pos) {
    // The translation became longer: the elements between the old and the new
    // end get the smaller of the last stored water and the new first inflow.
    const bool fromChain = chains[0][previousEnd] < inflow[1];
    for (int c = 0; c < components; ++c) {
      const double fill = fromChain ? chains[c][previousEnd] : inflow[c * stride + 1];
      for (int j = previousEnd + 1; j < pos; ++j)
        chains[c][j] = fill;
    }
  }
  for (int c = 0; c < components; ++c) {
    double *chain = chains[c];
    const double *in = inflow + c * stride;
    for (int s = 1; s <= k; ++s)
      chain[pos + s - 1] = in[s];
    const int last = part.base + part.partLength;
    for (int j = part.base + 1; j <= last; ++j)
      chain[j] = chain[j + k];
    if (c >= 1)
      for (int j = part.base + 1; j <= last; ++j)
        chain[j] *= decay[c];
  }
  return pos - 1;
}

void DrainLinearStorages(const double *translated, int subIntervals, double floodShare,
                         double floodShareOld, double mainCoefficient, double floodCoefficient,
                         double *previousOutflow, double *outflow) {
  const double f = floodShare;
  const double fOld = floodShareOld;
  const double cm = mainCoefficient;
  const double cf = floodCoefficient;
  for (int s = 1; s <= subIntervals; ++s) {
    const double p = translated[s];
    const double q = previousOutflow[s];
    const double out =
        (1.0 - cm) * (1.0 - f) * p + cm * (1.0 - fOld) * q + (1.0 - cf) * f * p + cf * fOld * q;
    outflow[s] = out;
    previousOutflow[s] = out;
  }
}

} // namespace tavro
