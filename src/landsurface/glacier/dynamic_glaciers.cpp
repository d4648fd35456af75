// Dynamic glaciers: the glacier list, the statistics, the elevation bands,
// the distribution of a change of area, growth, the yearly balance and the
// redistribution of the mass balance of lost area.
#include "landsurface/glacier/dynamic_glaciers.h"

#include "kernel/fatal_error.h"
#include "landsurface/glacier/glacier_melt.h"

#include <array>
#include <cmath>
#include <utility>

namespace tavro::glacier {
namespace {

constexpr double kSquareMetresPerKm2 = 1.0e6;
constexpr double kFirnFree = 0.0001; // mm: firn total of a cell free of firn

struct Offset {
  long dr;
  long dc;
};
// Above, right, below, left, then the diagonals.
constexpr std::array<Offset, 8> kNeighbours{
    {{-1, 0}, {0, 1}, {1, 0}, {0, -1}, {-1, 1}, {1, 1}, {1, -1}, {-1, -1}}};
constexpr std::array<Offset, 4> kDirect{{{-1, 0}, {0, 1}, {1, 0}, {0, -1}}};
// Above, left, below, right: the border test.
constexpr std::array<Offset, 4> kBorder{{{-1, 0}, {0, -1}, {1, 0}, {0, 1}}};

int CodeOf(double value) { return static_cast<int>(value); }

} // namespace

// --- Records and bands -------------------------------------------------------------

void GlacierRecord::ResetStatistics() {
  CellCount = 0;
  Area = 0.0;
  MinimumElevation = kNoMinimum;
  MaximumElevation = kNoMaximum;
}

void GlacierRecord::BuildElevationBands() {
  Bands.clear();
  CellsInBands = 0;
  if (BandCount < 1)
    return;
  const double width = (MaximumElevation - MinimumElevation) / BandCount;
  for (int i = 0; i < BandCount; ++i)
    Bands.emplace_back(MinimumElevation + i * width, MinimumElevation + (i + 1) * width, width);
}

bool GlacierRecord::AddCellToBand(long row, long column, double elevation) {
  for (std::size_t i = 0; i < Bands.size(); ++i) {
    ElevationBand &band = Bands[i];
    const bool fits = (band.Lower <= elevation && elevation < band.Upper) ||
                      (i + 1 == Bands.size() && elevation >= MaximumElevation) ||
                      (i == 0 && elevation <= MinimumElevation);
    if (fits) {
      band.Cells.push_back({row, column, 0});
      ++CellsInBands;
      return true;
    }
  }
  return false;
}

void GlacierRecord::EmptyBands() {
  for (ElevationBand &band : Bands)
    band.Cells.clear();
  CellsInBands = 0;
}

GlacierRecord::Change GlacierRecord::ChangePerCell(const Grid &fraction) {
  Change change;
  const double F = CellsToChange;
  const auto nb = static_cast<double>(Bands.size());
  double weights = 0.0;
  for (std::size_t i = 0; i < Bands.size(); ++i) {
    std::int64_t n = 0;
    for (ElevationBand::Cell &cell : Bands[i].Cells) {
      const double f = fraction[cell.Row][cell.Column];
      const bool changeable = (F > 0.0 && f < 1.0) || (F < 0.0 && f > 0.0);
      cell.Blocked = changeable ? 0 : 1;
      n += changeable ? 1 : 0;
    }
    change.Changeable += n;
    weights += static_cast<double>(n) * (nb - static_cast<double>(i));
    if (i == 0)
      weights += static_cast<double>(ExtraWeightBand0) * static_cast<double>(n) * nb;
  }
  change.PerCell = weights != 0.0 ? F / weights : 0.0;
  return change;
}

double ElevationBand::DistributeChange(double d, GlacierRaster &raster,
                                       const GlacierMessages &messages) {
  std::int64_t free = 0;
  for (const Cell &cell : Cells)
    free += cell.Blocked == 0 ? 1 : 0;
  double total = d * static_cast<double>(free);
  auto k = static_cast<double>(free);
  double remainder = total;
  for (int pass = 1;; ++pass) {
    const double per = k > 0.0 ? total / k : 0.0;
    remainder = total;
    k = 0.0;
    for (const Cell &cell : Cells) {
      if (cell.Blocked != 0)
        continue;
      double &f = (*raster.Fraction)[cell.Row][cell.Column];
      double &code = (*raster.Codes)[cell.Row][cell.Column];
      const double nf = f + per;
      if (nf < 0.0) {
        if (code >= 0.0) {
          remainder += f; // what the cell could give
          f = 0.0;
          code = raster.NoData;
        }
      } else if (code < 0.0) {
        continue;
      } else if (nf > 1.0) {
        f = 1.0;
        remainder -= per - (nf - 1.0);
      } else {
        f = nf;
        remainder -= per;
        k += 1.0;
      }
    }
    const bool settled =
        std::abs(remainder) <= kConvergence || std::abs(total - remainder) <= kConvergence;
    if (settled && pass < kMaxBandPasses)
      return remainder;
    if (pass >= kMaxBandPasses) {
      if (messages.ErrorLine)
        messages.ErrorLine(
            "error: could not remove or add the required number of cells for the glacier");
      return remainder;
    }
    total = remainder;
  }
}

// --- The list ------------------------------------------------------------------------

bool DynamicGlaciers::HasSubbasin(long r, long c) const {
  return (*raster_.Subbasin)[r][c] != raster_.NoData;
}

GlacierRecord *DynamicGlaciers::Find(int code) {
  const auto found = index_.find(code);
  return found == index_.end() ? nullptr : &list_[found->second];
}

GlacierRecord &DynamicGlaciers::Append(int code, int subbasin) {
  GlacierRecord g;
  g.Code = code;
  g.CellSize = raster_.CellSize;
  g.VolumeCoefficient = p_.VAscaling;
  g.VolumeExponent = p_.VAexponent;
  g.BandCount = p_.NumElevBands;
  g.ExtraWeightBand0 = p_.ExtraWeightFactorBand0;
  g.Subbasin = subbasin;
  index_[code] = list_.size();
  list_.push_back(std::move(g));
  return list_.back();
}

void DynamicGlaciers::AddCell(GlacierRecord &g, long r, long c, double fraction, bool trackRange) {
  ++g.CellCount;
  g.Area += g.CellSize * g.CellSize * fraction / kSquareMetresPerKm2;
  const double z = (*raster_.Elevation)[r][c];
  if (g.CellCount == 1) {
    g.MinimumElevation = z;
    g.MaximumElevation = z;
  } else if (trackRange) {
    if (z > g.MaximumElevation)
      g.MaximumElevation = z;
    else if (z < g.MinimumElevation)
      g.MinimumElevation = z;
  }
}

std::optional<SubbasinConflict> DynamicGlaciers::BuildGlacierList() {
  list_.clear();
  index_.clear();
  std::optional<SubbasinConflict> conflict;
  ForEachSubbasinCell([&](long r, long c) {
    const double f = (*raster_.Fraction)[r][c];
    const double g = (*raster_.Codes)[r][c];
    if (conflict || !(f > 0.0) || !(g > 0.0))
      return;
    const int s = CodeOf((*raster_.Subbasin)[r][c]);
    GlacierRecord *record = Find(CodeOf(g));
    if (record == nullptr)
      record = &Append(CodeOf(g), s);
    if (record->Subbasin != s) {
      conflict = {record->Code, record->Subbasin, r, c, (*raster_.Subbasin)[r][c]};
      return;
    }
    AddCell(*record, r, c, f, (*raster_.FirnTotal)[r][c] == 0.0);
  });
  return conflict;
}

void DynamicGlaciers::SetInitialVolumes() {
  for (GlacierRecord &g : list_) {
    const VolumeArea va = InitialVolumeArea(g.Area, p_.VAscaling, p_.VAexponent);
    // The first yearly balance starts from these.
    g.NewVolume = g.OldVolume = va.Volume;
    g.Area = g.OldArea = va.Area;
    g.BuildElevationBands();
  }
  AssignGlacierCells(-1);
}

int DynamicGlaciers::NextCode() const {
  // With no glacier listed the first code is 1.
  return index_.empty() ? 1 : index_.rbegin()->first + 1;
}

void DynamicGlaciers::GlacierStatistics(int code, bool trackRange) {
  ForEachSubbasinCell([&](long r, long c) {
    double &g = (*raster_.Codes)[r][c];
    if (g < -1.0)
      return;
    const double f = (*raster_.Fraction)[r][c];
    if (GlacierRecord *record = Find(CodeOf(g)); record != nullptr && g >= 0.0) {
      if (code < 0 || CodeOf(g) == code)
        AddCell(*record, r, c, f, trackRange);
      return;
    }
    if (g == -1.0) {
      const double zone = (*raster_.Subbasin)[r][c];
      double found = static_cast<double>(NextCode());
      for (const Offset &o : kNeighbours) {
        const long nr = r + o.dr;
        const long nc = c + o.dc;
        if (Inside(nr, nc) && (*raster_.Codes)[nr][nc] > 0.0 &&
            (*raster_.Subbasin)[nr][nc] == zone) {
          found = (*raster_.Codes)[nr][nc];
          break;
        }
      }
      g = found;
    }
    (*raster_.CodesOld)[r][c] = g;
    (*raster_.Fraction)[r][c] = p_.RelSizeNewGlacier;
    GlacierRecord *record = Find(CodeOf(g));
    if (record == nullptr)
      record = &Append(CodeOf(g), CodeOf((*raster_.Subbasin)[r][c]));
    AddCell(*record, r, c, p_.RelSizeNewGlacier, (*raster_.FirnTotal)[r][c] == 0.0);
  });
}

bool DynamicGlaciers::IsBorder(long r, long c, double code) const {
  for (const Offset &o : kBorder) {
    const long nr = r + o.dr;
    const long nc = c + o.dc;
    if (Inside(nr, nc) && (*raster_.Codes)[nr][nc] != code)
      return true;
  }
  return false;
}

void DynamicGlaciers::AssignGlacierCells(int code) {
  const auto selected = [code](const GlacierRecord &g) { return code < 0 || g.Code == code; };
  for (GlacierRecord &g : list_)
    if (selected(g))
      g.EmptyBands();
  ForEachSubbasinCell([&](long r, long c) {
    const double f = (*raster_.Fraction)[r][c];
    const double g = (*raster_.Codes)[r][c];
    if (!(f > 0.0) || !(g > 0.0) || (*raster_.FirnTotal)[r][c] > 0.0)
      return;
    if (!(f < 1.0) && !IsBorder(r, c, g))
      return;
    GlacierRecord *record = Find(CodeOf(g));
    if (record != nullptr && selected(*record))
      record->AddCellToBand(r, c, (*raster_.Elevation)[r][c]);
  });
  for (GlacierRecord &record : list_) {
    if (!selected(record) || record.CellsInBands > 0)
      continue;
    for (long r = 1; r <= raster_.Rows; ++r)
      for (long c = 1; c <= raster_.Columns; ++c) {
        if (!HasSubbasin(r, c) || (*raster_.Codes)[r][c] != record.Code)
          continue;
        const double f = (*raster_.Fraction)[r][c];
        if ((f >= 0.0 && f < 1.0) || IsBorder(r, c, record.Code))
          record.AddCellToBand(r, c, (*raster_.Elevation)[r][c]);
      }
  }
}

void DynamicGlaciers::GrowGlacier(int code) {
  GlacierRecord *record = Find(code);
  if (record == nullptr)
    return;
  record->EmptyBands();
  const int levels = raster_.FirnLevels;
  for (int scan = 1; scan <= 4; ++scan) {
    const bool firnFreeOnly = scan == 1 || scan == 3;
    const bool negativeCodeOnly = scan == 1 || scan == 3;
    const bool exactlyZero = scan <= 2;
    bool claimed = false;
    ForEachSubbasinCell([&](long r, long c) {
      double &f = (*raster_.Fraction)[r][c];
      double &g = (*raster_.Codes)[r][c];
      if (exactlyZero ? f != 0.0 : f > 0.0)
        return;
      if (negativeCodeOnly && !(g < 0.0))
        return;
      const double zone = (*raster_.Subbasin)[r][c];
      const Offset *match = nullptr;
      for (const Offset &o : kDirect) {
        const long nr = r + o.dr;
        const long nc = c + o.dc;
        if (Inside(nr, nc) && (*raster_.Subbasin)[nr][nc] == zone &&
            (*raster_.Fraction)[nr][nc] == 1.0 && (*raster_.Codes)[nr][nc] == code &&
            (!firnFreeOnly || (*raster_.FirnTotal)[nr][nc] < kFirnFree)) {
          match = &o;
          break;
        }
      }
      if (match == nullptr)
        return;
      claimed = true;
      f = 0.0;
      g = code;
      record->AddCellToBand(r, c, (*raster_.Elevation)[r][c]);
      double *firn = (*raster_.Firn)[r][c];
      if (firnFreeOnly) {
        (*raster_.FirnTotal)[r][c] = 0.0;
        for (int l = 0; l <= levels; ++l)
          firn[l] = 0.0;
      } else {
        // The neighbour's firn, spread evenly over the layers.
        const double total = (*raster_.FirnTotal)[r + match->dr][c + match->dc];
        (*raster_.FirnTotal)[r][c] = total;
        firn[0] = total;
        for (int l = 1; l <= levels; ++l)
          firn[l] = total / levels;
      }
    });
    if (claimed)
      return;
  }
}

// --- The yearly balance ------------------------------------------------------------

void DynamicGlaciers::Log(const std::string &text) const {
  if (messages_.Entry)
    messages_.Entry(text);
}

void DynamicGlaciers::ResizeGlacier(GlacierRecord &g, double remaining) {
  g.ResetStatistics();
  if (remaining > 0.0) {
    Log("DEBUG: growing the glacier...");
    GrowGlacier(g.Code);
  } else {
    Log("DEBUG: shrinking the glacier...");
  }
  // The elevation range is tracked, so that the bands span the glacier.
  GlacierStatistics(g.Code, true);
  if (g.MinimumElevation == kNoMinimum) {
    g.ResetStatistics();
    GlacierStatistics(g.Code, true);
  }
  g.BuildElevationBands();
  AssignGlacierCells(g.Code);
}

void DynamicGlaciers::SettleGlacier(GlacierRecord &g, std::size_t position) {
  if (g.NewVolume <= kMinimumVolume)
    g.NewVolume = kMinimumVolume;
  g.Area = AreaFromVolume(g.NewVolume, p_.VAscaling, p_.VAexponent);
  g.RemainderSum = 0.0;
  g.CellsToChange = kSquareMetresPerKm2 * (g.Area - g.OldArea) / (g.CellSize * g.CellSize);
  g.ChangePerCell(*raster_.Fraction);
  Log(Concat("DEBUG: ", "Glacier:\t", position, "\n", "Old Volume:\t", g.OldVolume, "\n",
             "New Volume:\t", g.NewVolume, "\n", "Old Area:\t", g.OldArea, "\n", "New Area:\t",
             g.Area, "\n"));
  int passes = 0;
  while (std::abs(g.CellsToChange) > kConvergence) {
    const GlacierRecord::Change change = g.ChangePerCell(*raster_.Fraction);
    bool resize = g.Bands.empty() || change.Changeable == 0;
    if (!resize) {
      Log(Concat("DEBUG: ", "number of cells to add: \t", g.CellsToChange, "\n",
                 "number of changeable cells: \t", change.Changeable, "\n",
                 "fraction of cells to add per iteration: \t", change.PerCell));
      double remaining = 0.0;
      for (std::size_t K = 0; K < g.Bands.size(); ++K) {
        g.RemainderSum = 0.0;
        for (std::size_t L = 0; L <= K; ++L) {
          g.RemainderSum += g.Bands[L].DistributeChange(change.PerCell, raster_, messages_);
          if (L == 0)
            for (int e = 0; e < g.ExtraWeightBand0; ++e)
              g.RemainderSum += g.Bands[0].DistributeChange(change.PerCell, raster_, messages_);
        }
        remaining += g.RemainderSum;
      }
      g.CellsToChange = remaining;
      resize = std::abs(remaining) > kConvergence;
    }
    if (resize)
      ResizeGlacier(g, g.CellsToChange);
    if (++passes == kMaxGlacierPasses) {
      Log(Concat("WARNING: \n----------- WARNING: ----------\nThere were too many iterations "
                 "when trying to remove or add glacier areas for glacier",
                 position, "\n-----------------------------\n"));
      break;
    }
  }
  Log(Concat("DEBUG: ", "---------------------------------\n\n"));
  g.OldArea = g.Area;
  g.OldVolume = g.NewVolume;
}

void DynamicGlaciers::GlacierBalance() {
  for (GlacierRecord &g : list_) {
    g.ResetStatistics();
    g.NewVolume = g.OldVolume;
  }
  // The elevation range is tracked, so that the bands span each glacier and
  // the lowest band changes most.
  GlacierStatistics(-1, true);
  for (std::size_t i = 0; i < list_.size(); ++i) {
    GlacierRecord &g = list_[i];
    if (g.MinimumElevation == kNoMinimum) {
      g.ResetStatistics();
      GlacierStatistics(g.Code, true);
    }
    list_[i].BuildElevationBands();
  }
  AssignGlacierCells(-1);
  const double cellArea = raster_.CellSize * raster_.CellSize / kSquareMetresPerKm2;
  for (long r = 1; r <= raster_.Rows; ++r)
    for (long c = 1; c <= raster_.Columns; ++c) {
      const double f = (*raster_.Fraction)[r][c];
      const double code = (*raster_.Codes)[r][c];
      if (!HasSubbasin(r, c) || !(f >= 0.0) || !(code >= 0.0))
        continue;
      if (GlacierRecord *g = Find(CodeOf(code)); g != nullptr)
        g->NewVolume += ((*raster_.MassBalance)[r][c] - (*raster_.OldMassBalance)[r][c]) /
                        kMassBalanceDivisor * f / 1000.0 * cellArea;
    }
  Log("DEBUG: Glacierbalance\n");
  for (std::size_t p = 0; p < list_.size(); ++p)
    SettleGlacier(list_[p], p);
}

void DynamicGlaciers::RedistributeGlacierMassBalance(int code) {
  const auto selectedRecord = [&](double value) -> GlacierRecord * {
    if (!(value >= 0.0))
      return nullptr;
    GlacierRecord *g = Find(CodeOf(value));
    return g != nullptr && (code < 0 || g->Code == code) ? g : nullptr;
  };
  for (GlacierRecord &g : list_)
    if (code < 0 || g.Code == code)
      g.LostMassBalance = g.OldFractionSum = g.NewFractionSum = 0.0;
  ForEachSubbasinCell([&](long r, long c) {
    const double old = (*raster_.CodesOld)[r][c];
    if (GlacierRecord *g = selectedRecord(old); g != nullptr) {
      const double mb = (*raster_.MassBalance)[r][c];
      const double fOld = (*raster_.FractionOld)[r][c];
      g->LostMassBalance +=
          (*raster_.Codes)[r][c] != old ? mb * fOld : (fOld - (*raster_.Fraction)[r][c]) * mb;
      g->OldFractionSum += fOld;
    }
    if (GlacierRecord *g = selectedRecord((*raster_.Codes)[r][c]); g != nullptr)
      g->NewFractionSum += (*raster_.Fraction)[r][c];
  });
  for (GlacierRecord &g : list_)
    if (code < 0 || g.Code == code)
      g.MassBalancePerFraction =
          g.NewFractionSum > 0.0 ? g.LostMassBalance / g.NewFractionSum : 0.0;
  for (long r = 1; r <= raster_.Rows; ++r)
    for (long c = 1; c <= raster_.Columns; ++c)
      if (HasSubbasin(r, c))
        if (GlacierRecord *g = selectedRecord((*raster_.Codes)[r][c]); g != nullptr)
          (*raster_.MassBalance)[r][c] += g->MassBalancePerFraction;
}

} // namespace tavro::glacier
