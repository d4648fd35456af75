// Network order and routing targets of the routing descriptions.
#include "routing/routing_network.h"

#include "kernel/fatal_error.h"

#include <algorithm>
#include <functional>
#include <map>
#include <queue>
#include <sstream>

namespace tavro {
namespace {

// Every subbasin code that flows into a description.
std::vector<int> TributaryCodes(const RoutingDescription &description) {
  std::vector<int> codes;
  for (const ChannelElement &channel : description.Ol)
    codes.push_back(channel.Code);
  for (const ChannelElement &channel : description.Sumtrib) {
    codes.push_back(channel.Code);
    codes.insert(codes.end(), channel.List.begin(), channel.List.end());
  }
  return codes;
}

} // namespace

RoutingOrder UpstreamFirstOrder(const std::vector<RoutingDescription> &descriptions) {
  RoutingOrder result;
  const std::size_t count = descriptions.size();
  std::map<int, std::size_t> byCode; // TG code -> position 0..count-1
  for (std::size_t d = 0; d < count; ++d)
    byCode.emplace(descriptions[d].TgCode, d);

  std::vector<std::vector<std::size_t>> downstream(count);
  std::vector<int> waiting(count, 0); // upstream descriptions not yet placed
  for (std::size_t d = 0; d < count; ++d)
    for (const int code : TributaryCodes(descriptions[d])) {
      const auto upstream = byCode.find(code);
      if (upstream == byCode.end() || upstream->second == d)
        continue;
      downstream[upstream->second].push_back(d);
      ++waiting[d];
    }

  std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> ready;
  for (std::size_t d = 0; d < count; ++d)
    if (waiting[d] == 0)
      ready.push(d);
  while (!ready.empty()) {
    const std::size_t d = ready.top();
    ready.pop();
    result.Order.push_back(descriptions[d].Number);
    for (const std::size_t next : downstream[d])
      if (--waiting[next] == 0)
        ready.push(next);
  }

  if (result.Order.size() != count) {
    std::ostringstream codes;
    for (std::size_t d = 0; d < count; ++d)
      if (waiting[d] > 0)
        codes << " " << descriptions[d].TgCode;
    result.Failure = {kRoutingCodeExitCode,
                      Concat("the routing descriptions form a cycle: the subbasins", codes.str(),
                             " flow into each other or into a cycle; no order routes each of them "
                             "after its tributaries")};
    return result;
  }
  for (std::size_t d = 0; d < count; ++d)
    result.Reordered = result.Reordered || result.Order[d] != descriptions[d].Number;
  return result;
}

std::string ReorderedWarning(const std::vector<RoutingDescription> &descriptions,
                             const RoutingOrder &order) {
  std::ostringstream text;
  text << "routing descriptions are computed upstream first, in the order";
  for (std::size_t k = 0; k < order.Order.size(); ++k) {
    const RoutingDescription &d = descriptions[static_cast<std::size_t>(order.Order[k] - 1)];
    text << (k == 0 ? " " : ", ") << "TG " << d.TgCode << " (description " << d.Number << ")";
  }
  text << "; a tributary described after its receiving subbasin is routed before it";
  return text.str();
}

void FillRoutingTargets(const std::vector<RoutingDescription> &descriptions,
                        const SubbasinCodes &codes, RoutingTargets &targets) {
  const auto subbasins = static_cast<std::size_t>(codes.Count > 0 ? codes.Count : 0);
  std::size_t tributaryCount = 0;
  for (const RoutingDescription &d : descriptions)
    tributaryCount += TributaryCodes(d).size();
  targets.Tributaries = OneBasedArray<int>(std::max(2 * subbasins, tributaryCount), 0);
  targets.Target = OneBasedArray<int>(subbasins, 0);
  targets.Description = OneBasedArray<int>(subbasins, 0);

  std::size_t next = 1;
  for (const RoutingDescription &d : descriptions) {
    const int own = codes.IndexOf(d.TgCode);
    targets.Description[static_cast<std::size_t>(own)] = d.Number;
    for (const int code : TributaryCodes(d)) {
      const int index = codes.IndexOf(code);
      targets.Tributaries[next++] = index;
      targets.Target[static_cast<std::size_t>(index)] = own;
    }
  }
}

} // namespace tavro
