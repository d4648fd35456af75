// Flow-time zones and linear storages of the runoff concentration.
#include "raster/handover/runoff_concentration.h"

#include "kernel/fatal_error.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace tavro {

int FlowTimeZone(double seconds, double stepMinutes) {
  const double zone = std::ceil(seconds / 60.0 / stepMinutes);
  // A NaN fails the comparison too.
  if (!(zone >= 1.0))
    return 1;
  return static_cast<int>(zone);
}

// --- FlowTimeZones ------------------------------------------------------------

FlowTimeZones::FlowTimeZones(int rowCount, std::span<const int> maxZones)
    : rows_(rowCount), maxZone_(maxZones.begin(), maxZones.end()) {
  if (maxZone_.empty())
    maxZone_.push_back(0);
  maxZone_[0] = 0;
  start_.assign(maxZone_.size(), 0);
  std::size_t next = 0;
  for (std::size_t k = 1; k < maxZone_.size(); ++k) {
    start_[k] = next;
    next += static_cast<std::size_t>(maxZone_[k]) + 1;
  }
  rowSize_ = next;
  records_.assign(rowSize_ * static_cast<std::size_t>(rows_), ZoneRecord{});
}

std::size_t FlowTimeZones::Offset(int row, int k) const {
  return static_cast<std::size_t>(row) * rowSize_ + start_[static_cast<std::size_t>(k)];
}

std::span<ZoneRecord> FlowTimeZones::Zones(int row, int k) {
  return {records_.data() + Offset(row, k), static_cast<std::size_t>(MaxZone(k)) + 1};
}

std::span<const ZoneRecord> FlowTimeZones::Zones(int row, int k) const {
  return {records_.data() + Offset(row, k), static_cast<std::size_t>(MaxZone(k)) + 1};
}

void FlowTimeZones::Move() {
  for (int row = 0; row < rows_; ++row)
    for (int k = 1; k <= SubbasinCount(); ++k) {
      const std::span<ZoneRecord> zones = Zones(row, k);
      const std::size_t last = zones.size() - 1;
      for (std::size_t z = 2; z <= last; ++z) {
        zones[z - 1].n = zones[z].n;
        zones[z - 1].sx = zones[z].sx;
        zones[z - 1].RelCellSum = zones[z].RelCellSum;
      }
      if (last >= 1) {
        zones[last].n = 0.0;
        zones[last].sx = 0.0;
        zones[last].RelCellSum = 0.0;
      }
    }
}

void FlowTimeZones::AccumulateWeights(int row) {
  for (int k = 1; k <= SubbasinCount(); ++k) {
    const std::span<ZoneRecord> zones = Zones(row, k);
    for (std::size_t z = zones.size() - 1; z >= 2; --z) {
      zones[z - 1].n += zones[z].n;
      zones[z - 1].RelCellSum += zones[z].RelCellSum;
    }
  }
}

void FlowTimeZones::ScaleWeights(int row, double factor) {
  for (int k = 1; k <= SubbasinCount(); ++k)
    for (ZoneRecord &zone : Zones(row, k)) {
      zone.n *= factor;
      zone.RelCellSum *= factor;
    }
}

void FlowTimeZones::ClearSums() {
  for (ZoneRecord &zone : records_) {
    zone.n = 0.0;
    zone.sx = 0.0;
    zone.RelCellSum = 0.0;
  }
}

// --- ZoneAdditions -------------------------------------------------------------

ZoneAdditions::ZoneAdditions(const FlowTimeZones &layout) {
  const int n = layout.SubbasinCount();
  start_.assign(static_cast<std::size_t>(n) + 1, 0);
  std::size_t next = 0;
  for (int k = 1; k <= n; ++k) {
    start_[static_cast<std::size_t>(k)] = next;
    next += static_cast<std::size_t>(layout.MaxZone(k)) + 1;
  }
  sums_.assign(next, ExactZoneSums{});
}

void ZoneAdditions::Add(int k, int z, double n, double sx, double relCellSum) {
  ExactZoneSums &sum = sums_[start_[static_cast<std::size_t>(k)] + static_cast<std::size_t>(z)];
  sum.n.Add(n);
  sum.sx.Add(sx);
  sum.RelCellSum.Add(relCellSum);
}

void ZoneAdditions::AddTo(FlowTimeZones &zones, int row) const {
  for (int k = 1; k <= zones.SubbasinCount(); ++k) {
    const std::span<ZoneRecord> records = zones.Zones(row, k);
    const std::size_t first = start_[static_cast<std::size_t>(k)];
    for (std::size_t z = 0; z < records.size(); ++z) {
      const ExactZoneSums &sum = sums_[first + z];
      if (sum.n.IsZero() && sum.sx.IsZero() && sum.RelCellSum.IsZero())
        continue;
      records[z].n += sum.n.ToDouble();
      records[z].sx += sum.sx.ToDouble();
      records[z].RelCellSum += sum.RelCellSum.ToDouble();
    }
  }
}

void ZoneAdditions::Clear() {
  for (ExactZoneSums &sum : sums_)
    sum.Clear();
}

// --- Set-up shares --------------------------------------------------------------

ZoneShareStatus ShareZoneWeights(FlowTimeZones &direct, FlowTimeZones &inter, int k) {
  const int last = direct.MaxZone(k);
  double total = 0.0;
  for (int z = 1; z <= last; ++z)
    total += direct.At(0, k, z).n;
  if (last < 1 || !(total != 0.0))
    return ZoneShareStatus::NoCells;
  for (int z = 1; z <= last; ++z) {
    const double share = direct.At(0, k, z).n / total;
    for (FlowTimeZones *zones : {&direct, &inter}) {
      zones->At(0, k, z).rel = share;
      zones->At(0, k, z).zonenwert = z;
    }
    direct.At(0, k, z).n = 0.0;
  }
  for (int row = 1; row < direct.RowCount(); ++row)
    for (int z = 1; z <= last; ++z)
      for (FlowTimeZones *zones : {&direct, &inter}) {
        zones->At(row, k, z).rel = 0.0;
        zones->At(row, k, z).zonenwert = z;
      }
  return direct.At(0, k, 1).rel > 0.0 ? ZoneShareStatus::Ok : ZoneShareStatus::FirstZoneEmpty;
}

std::string FlowTimeDistributionLine(int code, int maxZone, std::span<const double> shares) {
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), "TG\t%4d\t(%3d\tZonen):", code, maxZone);
  std::string line = text.data();
  for (const double share : shares) {
    std::snprintf(text.data(), text.size(), "\t%5.3f", share);
    line += text.data();
  }
  line += "\n";
  return line;
}

// --- Linear storages --------------------------------------------------------------

double StorageFactor(double stepMinutes, double storageMinutes, bool surfaceRoutingActive) {
  if (surfaceRoutingActive)
    return 0.0;
  return std::exp(-stepMinutes / storageMinutes);
}

double ZoneOutflow(const ZoneRecord &zone) {
  return zone.RelCellSum > 0.0 ? zone.sx / zone.RelCellSum : 0.0;
}

double MeanBaseflow(double sx, double relCellSum) {
  const double mean = sx / relCellSum;
  return mean >= 0.0 ? mean : 0.0;
}

void CopyZoneCounts(const FlowTimeZones &direct, FlowTimeZones &inter, int n,
                    std::span<const int> maxZone) {
  for (int k = 1; k <= n; ++k)
    for (int z = 0; z <= maxZone[static_cast<std::size_t>(k)]; ++z) {
      inter.At(0, k, z).n = direct.At(0, k, z).n;
      inter.At(0, k, z).RelCellSum = direct.At(0, k, z).RelCellSum;
    }
}

void WeighZonesPerSubstep(FlowTimeZones &direct, FlowTimeZones &inter, int substepCount, int rank) {
  for (FlowTimeZones *zones : {&direct, &inter}) {
    zones->AccumulateWeights(0);
    // Every sub-step adds the weight of each cell once more.
    zones->ScaleWeights(0, static_cast<double>(substepCount));
  }
  if (rank != 0) {
    direct.ClearSums();
    inter.ClearSums();
  }
}

ZoneShareOutcome ShareSubbasinZones(FlowTimeZones &direct, FlowTimeZones &inter,
                                    std::span<const int> codes, std::string_view heading,
                                    std::string_view flowFileName) {
  ZoneShareOutcome outcome;
  outcome.Report = std::string(heading);
  for (int k = 1; k <= direct.SubbasinCount(); ++k) {
    const int code = codes[static_cast<std::size_t>(k)];
    const ZoneShareStatus status = ShareZoneWeights(direct, inter, k);
    if (status == ZoneShareStatus::NoCells) {
      outcome.Failure = 6;
      outcome.Message = Concat("all cells in ", flowFileName, ", subbasin ", code, " are NODATA!");
      return outcome;
    }
    std::vector<double> shares;
    for (int z = 1; z <= direct.MaxZone(k); ++z)
      shares.push_back(direct.At(0, k, z).rel);
    outcome.Report += FlowTimeDistributionLine(code, direct.MaxZone(k), shares);
    if (status == ZoneShareStatus::FirstZoneEmpty) {
      outcome.Failure = 61;
      outcome.Message =
          Concat("in flow-travel-time grid: the first time zone of subbasin ", k, " has no cells!");
      return outcome;
    }
  }
  return outcome;
}

} // namespace tavro
