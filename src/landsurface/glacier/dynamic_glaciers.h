// Dynamic glaciers: every glacier is the set of cells carrying its code in
// "GlacierCodes", with the glacierized share of each cell in
// "GlacierizedCells". Once a year the mass balance since the last evaluation
// changes each glacier's volume, the volume-area relation turns it into an
// area, and the change of area, counted in cells, is spread over the
// glacier's cells by elevation bands, the lowest band changing most; the mass
// balance of lost area is then spread over the remaining area.
//
// Works on whole-raster grids (rows 1..nrows) on one process, in the fixed
// order of the raster; no MPI, no logging: log entries and the diagnostic
// line for the standard error stream go to the sinks the caller gives.
#pragma once

#include "kernel/grid.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tavro::glacier {

inline constexpr double kMassBalanceDivisor = 0.85;
inline constexpr double kConvergence = 1e-5;
inline constexpr int kMaxGlacierPasses = 31;
inline constexpr int kMaxBandPasses = 5;
inline constexpr double kNoMinimum = 10000.0;
inline constexpr double kNoMaximum = -10000.0;

// The grids the glaciers live on, whole raster, not owned.
struct GlacierRaster {
  long Rows = 0;
  long Columns = 0;
  double NoData = -9999.0;
  double CellSize = 0.0;           // m
  const Grid *Subbasin = nullptr;  // "zonegrid_soilmodel"
  const Grid *Elevation = nullptr; // m
  Grid *Fraction = nullptr;        // "GlacierizedCells"
  Grid *Codes = nullptr;           // "GlacierCodes"
  Grid *FractionOld = nullptr;     // "GlacierizedCellsOld"
  Grid *CodesOld = nullptr;        // "GlacierCodesOld"
  Grid *MassBalance = nullptr;     // "GlacierMassBalance", mm
  Grid *OldMassBalance = nullptr;  // "OldGlacierMassBalance", mm
  Grid *FirnTotal = nullptr;       // totals of the firn stack, mm
  Stack *Firn = nullptr;           // levels 0..FirnLevels, level 0 the total
  int FirnLevels = 0;
};

struct GlacierParameters {
  double VAscaling = 0.0;
  double VAexponent = 0.0;
  int NumElevBands = 1;
  int ExtraWeightFactorBand0 = 0;
  double RelSizeNewGlacier = 0.25;
};

// Where messages go: whole log entries, and the line of a band that could not
// take its share.
struct GlacierMessages {
  std::function<void(const std::string &)> Entry;
  std::function<void(const std::string &)> ErrorLine;
};

// One elevation band of a glacier and its changeable cells.
class ElevationBand {
public:
  struct Cell {
    long Row = 0;
    long Column = 0;
    std::int32_t Blocked = 0; // 1: cannot take the current change
  };
  ElevationBand(double lower, double upper, double width)
      : Lower(lower), Upper(upper), Width(width) {}

  // Applies a change of d per free cell to the band; returns the part left
  // unapplied (cells), after at most five passes.
  double DistributeChange(double d, GlacierRaster &raster, const GlacierMessages &messages);

  double Lower = 0.0;
  double Upper = 0.0;
  double Width = 0.0;
  std::vector<Cell> Cells;
};

struct GlacierRecord {
  std::int32_t Code = 0;
  double CellSize = 0.0;      // m
  std::int64_t CellCount = 0; // of the last statistics pass
  double Area = 0.0;          // km²
  double NewVolume = 0.0;     // 10^6 m³
  double OldArea = 0.0;       // km²
  double OldVolume = 0.0;     // 10^6 m³
  double VolumeCoefficient = 0.0;
  double VolumeExponent = 0.0;
  double MinimumElevation = kNoMinimum;
  double MaximumElevation = kNoMaximum;
  std::int32_t BandCount = 0;
  double CellsToChange = 0.0;
  double RemainderSum = 0.0;
  std::int64_t CellsInBands = 0;
  std::int32_t ExtraWeightBand0 = 0;
  std::int32_t Subbasin = 0;
  double LostMassBalance = 0.0;
  double OldFractionSum = 0.0;
  double NewFractionSum = 0.0;
  double MassBalancePerFraction = 0.0;
  std::vector<ElevationBand> Bands; // lowest first

  void ResetStatistics(); // cell count, area and elevation range
  void BuildElevationBands();
  // Puts the cell into the band its elevation falls in; false when none fits.
  bool AddCellToBand(long row, long column, double elevation);
  void EmptyBands();
  struct Change {
    double PerCell = 0.0;        // d
    std::int64_t Changeable = 0; // cells that can take the change
  };
  // The change per changeable cell and weighting unit for CellsToChange;
  // blocks every cell that cannot change.
  Change ChangePerCell(const Grid &fraction);
};

// A glacier found in two subbasins while the list is built.
struct SubbasinConflict {
  int Code = 0;
  int RecordSubbasin = 0;
  long Row = 0;
  long Column = 0;
  double CellSubbasin = 0.0;
};

class DynamicGlaciers {
public:
  DynamicGlaciers(GlacierRaster raster, GlacierParameters parameters, GlacierMessages messages)
      : raster_(raster), p_(parameters), messages_(std::move(messages)) {}

  // Builds the list from the grids; a glacier in two subbasins is returned.
  std::optional<SubbasinConflict> BuildGlacierList();
  // Initial volumes and areas of every glacier, its bands, then the cells of
  // every glacier in its bands.
  void SetInitialVolumes();
  // Recounts cells, area and elevation range of glacier code (all when
  // negative), and turns marked and unlisted cells into glacier cells.
  void GlacierStatistics(int code, bool trackRange);
  void AssignGlacierCells(int code);
  void GrowGlacier(int code);
  // The yearly update of every glacier.
  void GlacierBalance();
  void RedistributeGlacierMassBalance(int code);

  std::vector<GlacierRecord> &Glaciers() { return list_; }
  const std::vector<GlacierRecord> &Glaciers() const { return list_; }
  GlacierRecord *Find(int code);
  GlacierRaster &Raster() { return raster_; }

private:
  bool HasSubbasin(long r, long c) const;
  // Every cell of the raster inside a subbasin, row by row.
  template <class Visit> void ForEachSubbasinCell(Visit visit) const {
    for (long r = 1; r <= raster_.Rows; ++r)
      for (long c = 1; c <= raster_.Columns; ++c)
        if (HasSubbasin(r, c))
          visit(r, c);
  }
  bool Inside(long r, long c) const {
    return r >= 1 && r <= raster_.Rows && c >= 1 && c <= raster_.Columns;
  }
  GlacierRecord &Append(int code, int subbasin);
  void AddCell(GlacierRecord &g, long r, long c, double fraction, bool trackRange);
  bool IsBorder(long r, long c, double code) const;
  int NextCode() const;
  void Log(const std::string &text) const;
  void SettleGlacier(GlacierRecord &g, std::size_t position);
  void ResizeGlacier(GlacierRecord &g, double remaining);

  GlacierRaster raster_;
  GlacierParameters p_;
  GlacierMessages messages_;
  std::vector<GlacierRecord> list_;
  std::map<int, std::size_t> index_;
};

} // namespace tavro::glacier
