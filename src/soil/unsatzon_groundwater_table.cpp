// Soil-water module: re-setting every column of the strip to the groundwater
// table that an external groundwater model gives in "GWTableExtern".
#include "soil/unsatzon_model.h"

#include "soil/column/column_boundaries.h"
#include "soil/soil_column_parameters.h"

#include <cmath>

namespace tavro {

void unsatzonmodellklasse::AdjustToGroundwaterTable() {
  if (FlowControl == 0)
    return;
  ExternalGWTableApplied = true;
  EnsureColumnParameters();
  const int n = MaxSoilLayers;
  SoilWaterGrids &g = Grids;
  Grid &balance = g.Balance.Values;
  Grid &baseflow = g.Baseflow.Values;
  Grid &distance = g.GroundwaterDistance.Values;
  Grid &external = g.GwTableExtern.Values;
  const auto width = static_cast<std::size_t>(n) + 1;
  // Runs on the main thread between steps, in row and column order.
  for (long r = FirstRow; r <= LastRow; ++r)
    for (long c = 1; c <= NCols; ++c) {
      if (!IsValid(r, c)) {
        balance[r][c] = NoData;
        if (baseflow.HasRow(r))
          baseflow[r][c] = NoData;
        distance[r][c] = NoData;
        continue;
      }
      const double table = external[r][c];
      const soil_class *soil = SoilOf(r, c);
      if (table == NoData || soil == nullptr || !IsOwn(r, c)) {
        balance[r][c] = 0.0;
        continue;
      }
      const auto soilIndex = static_cast<std::size_t>(std::lround((*Links.SoilTypes)[r][c]));
      if (!columnParameters_[soilIndex]) {
        balance[r][c] = 0.0;
        continue;
      }
      const ColumnGeometry &geometry = columnParameters_[soilIndex]->Geometry();
      const TableColumn column{{g.Theta.Levels[r][c], width},
                               geometry.theta_s,
                               geometry.theta_fc,
                               {g.GeodeticHeads.Levels[r][c], width},
                               geometry.dz,
                               geometry.layers,
                               static_cast<int>(g.GroundwaterLevel.Values[r][c]),
                               distance[r][c]};
      const TableAdjustment a = tavro::AdjustToGroundwaterTable(column, table);
      external[r][c] = a.table;
      balance[r][c] = a.balance;
      g.GroundwaterLevel.Values[r][c] = a.groundwaterLayer;
      if (baseflow.HasRow(r))
        baseflow[r][c] = 0.0;
      distance[r][c] = a.groundwaterDistance;
    }
}

} // namespace tavro
