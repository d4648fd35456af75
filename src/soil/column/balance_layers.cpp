// The layer balance of a soil column.
#include "soil/column/balance_layers.h"

#include <algorithm>
#include <cstddef>

namespace tavro {
namespace {

// The fluxes and exchange flows of one layer, corrected in place.
struct LayerFlows {
  double &top;       // flux[k - 1]
  double &bottom;    // flux[k]
  double &interflow; // interflow_out[k]
  double &outflow;   // exchange_out[k]
  double &inflow;    // exchange_in[k]
  double &infiltrationSum;
  double &exfiltrationSum;
};

// Takes an excess upward flux f > 0 out of the interflow, else (when
// allowed) out of the exfiltration; with neither f stays (or becomes 0 when
// dropUnabsorbed).
void AbsorbByInterflowOrOutflow(double &f, LayerFlows &w, bool outflowAllowed) {
  if (w.interflow > 0.0) {
    if (f > w.interflow) {
      f -= w.interflow;
      w.interflow = 0.0;
    } else {
      w.interflow -= f;
      f = 0.0;
    }
  } else if (outflowAllowed && w.outflow > 0.0) {
    const double taken = std::min(f, w.outflow);
    w.outflow -= taken;
    w.exfiltrationSum -= taken;
    f -= taken;
  }
}

void CorrectSurplus(LayerFlows &w, double x, bool inflowAllowed) {
  double &ft = w.top;
  double &fb = w.bottom;
  double &q = w.inflow;
  const bool useQ = inflowAllowed;
  if (ft <= 0.0 && fb <= 0.0) {
    ft += x;
    if (useQ && ft > 0.0 && q > 0.0) {
      if (ft > q) {
        ft -= q;
        w.infiltrationSum -= q;
        q = 0.0;
      } else {
        q -= ft;
        w.infiltrationSum -= ft;
        ft = 0.0;
      }
    }
  } else if (ft <= 0.0) { // fb > 0
    ft += x;
    if (ft > 0.0) {
      fb -= ft;
      ft = 0.0;
      if (useQ && fb < 0.0 && q > 0.0) {
        q += fb;
        w.infiltrationSum += fb;
        fb = 0.0;
      }
    }
  } else if (fb >= 0.0) { // ft > 0
    fb -= x;
    if (useQ && fb < 0.0 && q > 0.0) {
      q += fb;
      w.infiltrationSum += fb;
      fb = 0.0;
    }
  } else if (useQ && q > 0.0) { // ft > 0, fb < 0
    const double taken = std::min(x, q);
    q -= taken;
    w.infiltrationSum -= taken;
  }
}

void CorrectDeficit(LayerFlows &w, double y, bool outflowAllowed) {
  double &ft = w.top;
  double &fb = w.bottom;
  double &i = w.interflow;
  double &s = w.outflow;
  if (ft <= 0.0 && fb <= 0.0) {
    fb += y;
    if (fb > 0.0) {
      if (i > 0.0 || (outflowAllowed && s > 0.0))
        AbsorbByInterflowOrOutflow(fb, w, outflowAllowed);
      else
        fb = 0.0;
    }
  } else if (ft > 0.0 && fb <= 0.0) {
    ft -= y;
    if (ft < 0.0) {
      fb -= ft;
      ft = 0.0;
      if (fb > 0.0)
        AbsorbByInterflowOrOutflow(fb, w, outflowAllowed);
    }
  } else if (ft <= 0.0) { // fb > 0
    if (i > 0.0) {
      i = std::max(0.0, i - y);
    } else if (outflowAllowed && s > 0.0) {
      const double taken = std::min(y, s);
      s -= taken;
      w.exfiltrationSum -= taken;
    }
  } else { // ft > 0, fb > 0
    ft -= y;
    if (ft < 0.0) {
      if (i > 0.0) {
        if (i + ft >= 0.0) {
          i += ft;
          ft = 0.0;
        } else {
          ft += i;
          i = 0.0;
        }
      } else if (outflowAllowed && s > 0.0) {
        if (s + ft > 0.0) {
          s += ft;
          w.exfiltrationSum += ft;
          ft = 0.0;
        } else {
          ft += s;
          w.exfiltrationSum -= s;
          s = 0.0;
        }
      }
    }
  }
  if (i < 0.0)
    i = 0.0;
}

} // namespace

double BalancedTheta(const ColumnGeometry &geometry, const ColumnState &state, int k, double dt) {
  const auto i = static_cast<std::size_t>(k);
  return state.theta_old[i] + (state.flux[i] - state.flux[i - 1] - state.interflow_out[i] -
                               state.exchange_out[i] + state.exchange_in[i]) *
                                  dt / geometry.dz[i];
}

void BalanceLayers(const ColumnGeometry &geometry, ColumnState &state, int startLayer, double dt,
                   const BalanceOptions &options, int maxSweeps) {
  const int n = geometry.layers;
  const int last = ActiveDepth(state, std::max(state.groundwater_layer + 3, startLayer), n);
  const bool inflowAllowed = options.groundwaterCoupled && options.surfaceInteraction == 2;
  const bool outflowAllowed = options.groundwaterCoupled && options.surfaceInteraction >= 1;
  for (int sweep = 0; sweep < maxSweeps; ++sweep) {
    bool corrected = false;
    for (int k = last; k >= 1; --k) {
      const auto i = static_cast<std::size_t>(k);
      LayerFlows w{state.flux[i - 1],     state.flux[i],        state.interflow_out[i],
                   state.exchange_out[i], state.exchange_in[i], state.river_infiltration_sum,
                   state.exfiltration_sum};
      const double theta = BalancedTheta(geometry, state, k, dt);
      const double rate = geometry.dz[i] / dt;
      if (theta > geometry.theta_s[i]) {
        CorrectSurplus(w, (theta - geometry.theta_s[i]) * rate, inflowAllowed);
        corrected = true;
      } else if (theta < geometry.theta_r[i]) {
        double y = 0.0;
        if (state.theta_old[i] > geometry.theta_r[i])
          y = (geometry.theta_r[i] - theta) * rate;
        else if (state.theta_old[i] - theta > 0.0)
          y = (state.theta_old[i] - theta) * rate;
        else
          y = -state.flux[i];
        CorrectDeficit(w, y, outflowAllowed);
        corrected = true;
      }
      state.theta_new[i] = BalancedTheta(geometry, state, k, dt);
    }
    if (!corrected)
      break;
  }
}

} // namespace tavro
