// River exchange and external groundwater table of one column.
#include "soil/column/column_boundaries.h"

#include <algorithm>

namespace tavro {

namespace {
// Water of the column in mm.
double StoredWater(std::span<const double> theta, std::span<const double> dz, int layers) {
  double sum = 0.0;
  for (int j = 1; j <= layers; ++j)
    sum += theta[j] * dz[j];
  return sum * 1000.0;
}

// Draws from the layers in turn until nothing remains.
struct Draw {
  double remaining;
  void Take(double &into, double limit) {
    const double amount = std::max(0.0, std::min(remaining, limit));
    into += amount;
    remaining -= amount;
  }
};

double Exfiltrate(const RiverCell &cell, const ExchangeColumn &c, int i, double tableH, double bedH,
                  std::span<double> out) {
  const int g = std::min(c.groundwaterLayer, c.layers);
  const double q = cell.kolmation > 0.0
                       ? cell.kolmation * (tableH - bedH) * cell.riverWidth / cell.cellsize
                       : 0.0;
  const double f = (c.thetaOld[g] + c.thetaIter[g]) / 2.0 - c.fieldCapacityAtTable;
  Draw draw{q};
  if (g < i) {
    draw.Take(out[g], (tableH - c.zBottom[g]) * f / c.dt);
    for (int j = g + 1; j < i; ++j)
      draw.Take(out[j], c.dz[j] * f / c.dt);
    draw.Take(out[i], (c.zBottom[i - 1] - bedH) * f / c.dt);
  } else {
    draw.Take(out[i], (tableH - bedH) * f / c.dt);
  }
  return q - draw.remaining;
}

// Layer below which the river's water surface lies.
int RiverSurfaceLayer(std::span<const double> dz, int layers, double d) {
  if (d <= 0.0)
    return 1;
  int count = 0;
  double sum = 0.0;
  while (count < layers && sum < d)
    sum += dz[++count];
  return std::min(1 + count, layers + 1);
}

SurfaceWaterExchange Infiltrate(const RiverCell &cell, const ExchangeColumn &c, int i,
                                double tableH, double bedH, std::span<double> in) {
  SurfaceWaterExchange r;
  if (cell.river == nullptr || cell.surfaceInteraction == 1)
    return r;
  const RiverExchangeSource &river = *cell.river;
  const double h =
      river.FlowSpeed() > 0.0 ? river.Flow() / river.FlowSpeed() / cell.riverWidth : 0.0;
  const int g = c.groundwaterLayer;
  const double groundH = g < i ? tableH : c.head[i];
  double q =
      cell.kolmation > 0.0
          ? std::max(0.0, ((bedH + h) - groundH) * cell.kolmation * cell.riverWidth * cell.cellsize)
          : 0.0;
  q = std::min(q, std::max(0.0, river.Available()));
  q /= cell.cellsize * cell.cellsize;
  if (q <= 0.0)
    return r;
  const int s = RiverSurfaceLayer(c.dz, c.layers, cell.riverDepth - h);
  Draw draw{q};
  auto fill = [&](int j) {
    draw.Take(in[j], (c.thetaSat[j] - (c.thetaOld[j] + c.thetaIter[j]) / 2.0) * c.dz[j] / c.dt);
  };
  if (g >= i)
    for (int j = i; j <= std::min(g, c.layers) && draw.remaining > 0.0; ++j)
      fill(j);
  for (int j = i - 1; j > s && draw.remaining > 0.0; --j)
    fill(j);
  r.riverInfiltration = q - draw.remaining;
  return r;
}
} // namespace

int RiverLayer(std::span<const double> dz, int layers, double depth) {
  double sum = 0.0;
  for (int j = 1; j <= layers; ++j) {
    sum += dz[j];
    if (sum >= depth)
      return j;
  }
  return layers;
}

SurfaceWaterExchange ExchangeWithSurfaceWater(const RiverCell &cell, const ExchangeColumn &column,
                                              std::span<double> exchangeIn,
                                              std::span<double> exchangeOut) {
  if (cell.surfaceInteraction <= 0)
    return {};
  std::fill_n(exchangeIn.begin() + 1, column.layers, 0.0);
  std::fill_n(exchangeOut.begin() + 1, column.layers, 0.0);
  if (cell.lakeFlowControl != 0 && cell.lakeFlowControl != 1)
    return {};
  if (cell.lakeFlowControl == 1 && cell.lake && cell.ponding >= 1.0)
    return {};
  if (cell.riverDepth <= 0.0 || cell.riverWidth <= 0.0)
    return {};
  const int i = RiverLayer(column.dz, column.layers, cell.riverDepth);
  const double z0 = column.zBottom[0];
  const double tableH = z0 + cell.groundwaterDistance;
  const double bedH = z0 - cell.riverDepth;
  if (tableH > bedH)
    return {0.0, Exfiltrate(cell, column, i, tableH, bedH, exchangeOut)};
  return Infiltrate(cell, column, i, tableH, bedH, exchangeIn);
}

TableAdjustment AdjustToGroundwaterTable(const TableColumn &column, double table) {
  const int n = column.layers;
  const auto &zb = column.zBottom;
  const auto &ts = column.thetaSat;
  auto theta = column.theta;
  const double before = StoredWater(theta, column.dz, n);
  const double oldH = zb[0] + column.groundwaterDistance;
  int g = std::clamp(column.groundwaterLayer, 1, n);
  TableAdjustment a;
  if (table < oldH) {
    int next = g;
    while (next <= n && table < zb[next])
      ++next;
    if (next > n) {
      next = n;
      table = zb[n];
    }
    auto lower = [&](int j, double thickness) {
      theta[j] -= (ts[j] - column.fieldCapacity[j]) * thickness / column.dz[j];
    };
    if (next == g) {
      lower(g, oldH - table);
    } else {
      lower(g, oldH - zb[g]);
      for (int j = g + 1; j < next; ++j)
        lower(j, column.dz[j]);
      lower(next, zb[next - 1] - table);
    }
    g = next;
  } else if (g > 1 && table > zb[g - 1]) {
    int u = g - 1;
    while (u > 1 && zb[u - 1] < table)
      --u;
    for (int j = u + 1; j <= g; ++j)
      theta[j] = ts[j];
    theta[u] = std::min(ts[u], theta[u] + (table - zb[u]) * (ts[u] - theta[u]) / column.dz[u]);
    g = u;
  } else {
    theta[g] += (ts[g] - theta[g]) * (table - oldH) / column.dz[g];
  }
  a.balance = StoredWater(theta, column.dz, n) - before;
  a.groundwaterLayer = g;
  a.table = table;
  a.groundwaterDistance = table - zb[0];
  return a;
}

} // namespace tavro
