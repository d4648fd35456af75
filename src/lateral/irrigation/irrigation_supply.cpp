// Surface-water supply per subbasin.
#include "lateral/irrigation/irrigation_supply.h"

#include <algorithm>
#include <numeric>

namespace tavro {
namespace {

void LowerRecord(riverflow_table *table, int index, double rate, double dtMinutes) {
  if (table == nullptr || index < 1 || static_cast<std::size_t>(index) > table->Records.Count())
    return;
  RiverflowRecord &r = table->Records[static_cast<std::size_t>(index)];
  if (r.routingNumber < 1)
    return;
  r.flowm3s -= rate;
  r.flow_mm[0] = r.area > 0.0 ? r.flowm3s / r.area * dtMinutes * 0.06 : 0.0;
  if (r.flow_mm[0] < 0.0 || r.flowm3s < 0.0) {
    r.flowm3s = 0.0;
    r.flow_mm[0] = 0.0;
  }
}

// Steps from a subbasin to the outlet of its network; a cycle counts as far.
int Depth(const std::vector<SubbasinSupply> &s, int i) {
  int depth = 0;
  const int n = static_cast<int>(s.size()) - 1;
  for (int m = s[static_cast<std::size_t>(i)].target; m >= 1 && m <= n && depth <= n;
       m = s[static_cast<std::size_t>(m)].target)
    ++depth;
  return depth;
}

} // namespace

void SupplySubbasins(std::vector<SubbasinSupply> &subbasins, riverflow_table *table,
                     double dtMinutes) {
  const int n = static_cast<int>(subbasins.size()) - 1;
  std::vector<int> order(static_cast<std::size_t>(std::max(n, 0)));
  std::iota(order.begin(), order.end(), 1);
  std::vector<int> depth(static_cast<std::size_t>(n) + 1, 0);
  for (int i = 1; i <= n; ++i)
    depth[static_cast<std::size_t>(i)] = Depth(subbasins, i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return depth[static_cast<std::size_t>(a)] > depth[static_cast<std::size_t>(b)];
  });

  for (const int i : order) {
    SubbasinSupply &s = subbasins[static_cast<std::size_t>(i)];
    s.demand = s.area > 0.0 ? std::max(0.0, s.demandVolume) / (s.area * 1000.0) : 0.0;
    s.fromReservoir = s.reservoir > 0.0 ? std::min(s.demand, s.reservoir) : 0.0;
    const double rest = s.demand - s.fromReservoir;
    s.fromRiver = std::max(0.0, std::min(s.river, rest));
    s.supplyRatio = rest > 1e-8 ? std::min(1.0, s.fromRiver / rest) : 1.0;
    s.fraction = s.demand > 0.0 ? (s.fromReservoir + s.fromRiver) / s.demand : 0.0;
    if (s.fromRiver <= 0.0)
      continue;
    const double rate = s.fromRiver * s.area / (dtMinutes * 0.06); // m3/s
    LowerRecord(table, i, rate, dtMinutes);
    int guard = 0;
    for (int u = s.target; u >= 1 && u <= n && guard <= n;
         u = subbasins[static_cast<std::size_t>(u)].target, ++guard) {
      SubbasinSupply &below = subbasins[static_cast<std::size_t>(u)];
      if (below.area > 0.0)
        below.river = std::max(0.0, below.river - s.fromRiver * s.area / below.area);
      LowerRecord(table, u, rate, dtMinutes);
    }
  }
}

} // namespace tavro
