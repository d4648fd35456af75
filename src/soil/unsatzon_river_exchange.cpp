// Soil-water module: the cells at a river when the groundwater module is
// coupled (their river values, which of them may take river water, the
// check of their links and the record of the linked subbasin).
#include "soil/unsatzon_model.h"

#include "kernel/fatal_error.h"
#include "raster/output/module_statistic.h"
#include "raster/parallel/collective_failure.h"

#include <climits>

namespace tavro {
namespace {

// The integer part of a positive link value.
long LinkCode(double value) { return static_cast<long>(value); }

std::string InvalidLinkMessage(long code) {
  return Concat("\n\n -------- error! ---------------------------------------------\n\nThere is a "
                "river link \"",
                code,
                "\" from the river link grid\nwhich is not valid for the current routing "
                "structure -> there is no routing \ndescription for a river with code ",
                code,
                "\nPlease check your River link grid if there are cells defined as routing "
                "link ",
                code,
                " and replace those values by nodata (-9999).\n"
                "-------------------------------------------------------------\n\n");
}

} // namespace

bool unsatzonmodellklasse::RiverCellsTakeWater() const {
  return GroundwaterCoupling != 0 && Config.surface_interaction >= 2 &&
         Links.RiverLinks != nullptr && Links.RiverDepth != nullptr &&
         Links.RiverWidth != nullptr && Links.Kolmation != nullptr &&
         riverflow_.Records.Count() > 0;
}

bool unsatzonmodellklasse::MayTakeRiverWater(long row, long column) const {
  return (*Links.RiverLinks)[row][column] > 0.0 && (*Links.RiverDepth)[row][column] > 0.0 &&
         (*Links.RiverWidth)[row][column] > 0.0 && (*Links.Kolmation)[row][column] > 0.0;
}

void unsatzonmodellklasse::CheckRiverLinks() const {
  const CellIteration cells = SolverCells();
  long invalid = -1;
  for (long r = cells.FirstRow(); r <= cells.LastRow(); ++r) {
    const RowColumnRange range = cells.Columns(r);
    for (long c = range.first; c <= range.last; ++c) {
      const double link = (*Links.RiverLinks)[r][c];
      if (!cells.IsComputed(r, c) || !(link > 0.0))
        continue;
      const long code = link < static_cast<double>(INT_MAX) ? LinkCode(link) : INT_MAX;
      const int index = ZoneIndexOf(*this, static_cast<double>(code));
      if (code < 1 || code > MaxZoneCode || index < 1 ||
          static_cast<std::size_t>(index) > riverflow_.Records.Count())
        invalid = std::max(invalid, code);
    }
  }
  // Every process learns the largest invalid code, so all end alike.
  const int agreed = AgreedExitCode(static_cast<int>(invalid));
  if (agreed >= 0)
    ThrowFatal(*Log, InvalidRiverLinkExitCode, InvalidLinkMessage(agreed));
}

RiverCell unsatzonmodellklasse::RiverCellOf(long row, long column) const {
  RiverCell cell;
  cell.surfaceInteraction = Config.surface_interaction;
  cell.lakeFlowControl = LakeFlowControl;
  cell.lake = Links.LakeCodes != nullptr && (*Links.LakeCodes)[row][column] >= 0.0;
  cell.riverDepth = (*Links.RiverDepth)[row][column];
  cell.riverWidth = (*Links.RiverWidth)[row][column];
  cell.kolmation = (*Links.Kolmation)[row][column];
  cell.cellsize = CellSize;
  return cell;
}

RiverflowRecord &unsatzonmodellklasse::RiverRecordOf(long row, long column) {
  const long code = LinkCode((*Links.RiverLinks)[row][column]);
  return riverflow_.Records[static_cast<std::size_t>(ZoneIndexOf(*this, code))];
}

} // namespace tavro
