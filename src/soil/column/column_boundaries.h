// The column's boundaries with surface water and the groundwater table: the
// exchange with the river of the cell in one internal step, and the
// re-setting of a column's water contents to an external groundwater table.
// Pure per-cell functions; layer arrays are indexed 1..n.
#pragma once

#include <span>

namespace tavro {

// What the column needs of the river record of the linked subbasin.
class RiverExchangeSource {
public:
  virtual ~RiverExchangeSource() = default;
  virtual double Flow() const = 0;      // m3/s
  virtual double FlowSpeed() const = 0; // m/s
  // Flow that cells may still take in this step, m3/s.
  virtual double Available() const = 0;
};

// A river that also books what the cells take from it.
class RiverExchangeBook : public RiverExchangeSource {
public:
  // Adds a share of the step's mean exchange flow, m3/s.
  virtual void Book(double flow) = 0;
};

// The cell at the river.
struct RiverCell {
  int surfaceInteraction = 0; // 0 none, 1 exfiltration only, 2 both ways
  int lakeFlowControl = 0;
  bool lake = false;              // a lake cell
  double ponding = 0;             // ponded water, mm
  double riverDepth = 0;          // m below the surface
  double riverWidth = 0;          // m
  double kolmation = 0;           // leakage coefficient of the bed
  double groundwaterDistance = 0; // table above the surface, m
  double cellsize = 0;            // m
  // The linked river, or none (no link, or exfiltration only).
  const RiverExchangeSource *river = nullptr;
};

// The column as the exchange reads it.
struct ExchangeColumn {
  std::span<const double> thetaSat;
  std::span<const double> thetaOld;
  std::span<const double> thetaIter;
  std::span<const double> zBottom; // z[0] the surface
  std::span<const double> head;
  std::span<const double> dz;
  int layers = 0;
  int groundwaterLayer = 1;
  double fieldCapacityAtTable = 0; // water content at 3.45 m suction of the table's layer
  double dt = 0;                   // internal step, s
};

// The step's exchange: per-layer rates (m/s) into exchangeIn / exchangeOut
// and the two sums; both sums are always written, so no cell inherits the
// previous cell's.
struct SurfaceWaterExchange {
  double riverInfiltration = 0; // m/s over the cell
  double exfiltration = 0;      // m/s over the cell
};

// The river layer: the first whose cumulative thickness reaches depth, else n.
int RiverLayer(std::span<const double> dz, int layers, double depth);

SurfaceWaterExchange ExchangeWithSurfaceWater(const RiverCell &cell, const ExchangeColumn &column,
                                              std::span<double> exchangeIn,
                                              std::span<double> exchangeOut);

// A column to be set to an external table.
struct TableColumn {
  std::span<double> theta; // adjusted in place
  std::span<const double> thetaSat;
  std::span<const double> fieldCapacity; // water content at 3.45 m suction per layer
  std::span<const double> zBottom;
  std::span<const double> dz;
  int layers = 0;
  int groundwaterLayer = 1;
  double groundwaterDistance = 0;
};

struct TableAdjustment {
  double balance = 0;             // change of stored water, mm
  int groundwaterLayer = 1;       // the new groundwater layer
  double table = 0;               // the table used (clamped to the column bottom)
  double groundwaterDistance = 0; // table above the surface, m
};

// Moves the column's table to the height table: a lower table drains the
// drainable water, a higher one fills the pores.
TableAdjustment AdjustToGroundwaterTable(const TableColumn &column, double table);

} // namespace tavro
