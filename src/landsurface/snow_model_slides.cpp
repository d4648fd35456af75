// The snow slides of a step: rank 0 moves snow over the whole raster between
// a gather of the packs and a scatter of everything it changed.
#include "landsurface/snow_model.h"

#include "landsurface/snow/snow_slides.h"

#include <array>

namespace tavro {

void schneemodellklasse::Slides() {
  // What rank 0 reads for the whole raster before the slides (the solid store
  // too, since it sends all three stores back), and what it hands back to the
  // owners of the cells after them.
  static constexpr std::array<OwnedGridMember, 3> kGathered{
      &schneemodellklasse::total_, &schneemodellklasse::liquid_, &schneemodellklasse::solid_};
  static constexpr std::array<OwnedGridMember, 6> kScattered{
      &schneemodellklasse::total_,      &schneemodellklasse::liquid_,
      &schneemodellklasse::solid_,      &schneemodellklasse::inputMass_,
      &schneemodellklasse::mobileMass_, &schneemodellklasse::deposition_};

  // With dynamic glaciers the glacier pack slides too.
  static constexpr std::array<OwnedGridMember, 3> kGlacierPack{
      &schneemodellklasse::totalOnGlacier_, &schneemodellklasse::liquidOnGlacier_,
      &schneemodellklasse::solidOnGlacier_};
  const bool glaciers = glacierGrid_ != nullptr && glacier::IsDynamic(glacier_.Melt.Method);

  const bool exchange = MPIProcessCount > 1;
  if (exchange) {
    for (const OwnedGridMember member : kGathered)
      MPIGatherGrid((this->*member).index, &(this->*member).grid);
    if (glaciers)
      for (const OwnedGridMember member : kGlacierPack)
        MPIGatherGrid((this->*member).index, &(this->*member).grid);
  }
  if (MPIRank == 0) {
    snow::SlideGrids grids;
    grids.Zone = BaseZoneGrid;
    grids.Slope = slope_;
    grids.Shares = slideShares_;
    grids.MaxDeposition = maxDeposition_;
    grids.OrderRow = &orderRow_.grid;
    grids.OrderColumn = &orderCol_.grid;
    grids.InputMass = &inputMass_.grid;
    grids.MobileMass = &mobileMass_.grid;
    grids.Deposition = &deposition_.grid;
    grids.Pack = {&total_.grid, &liquid_.grid, &solid_.grid};
    if (glaciers) {
      grids.GlacierFraction = glacierGrid_;
      grids.GlacierPack = {&totalOnGlacier_.grid, &liquidOnGlacier_.grid, &solidOnGlacier_.grid};
    }
    snow::SlideSnow({NRows, NCols, NoData}, {section_.MinSlideSlope, section_.SlideMassFrac},
                    grids);
  }
  if (exchange) {
    for (const OwnedGridMember member : kScattered)
      MPIScatterGrid((this->*member).index, &(this->*member).grid);
    if (glaciers)
      for (const OwnedGridMember member : kGlacierPack)
        MPIScatterGrid((this->*member).index, &(this->*member).grid);
  }
}

} // namespace tavro
