// The text of the snow module's "[ice_firn]" and "[permafrost]" sections for
// the glacier tests: every value in its order, each row changeable.
#pragma once

#include <sstream>
#include <string>

namespace tavro::test {

struct IceFirnText {
  int method = 11;
  double ddfIce = 8.0, ddfFirn = 6.0, ddfSnow = 4.0, mf = 2.0;
  double aiceMin = 0.2, aiceMax = 0.4, asnowMin = 0.1, asnowMax = 0.3;
  std::string kIce = "2.0", kFirn = "5.0", kSnow = "1.0";
  double qIce = 0.0, qFirn = 0.0, qSnow = 0.0;
  int firnCode = 0, iceCode = 0;
  std::string qfirnTable = "qfirn.sta 0", qiceTable = "qice.sta 0", qglacTable = "qglac.sta 0";
  // Dynamic methods.
  std::string snowOnIceTable = "qsnowglac.sta 0";
  int readGrid = 0;
  std::string firnRow = "4 3000 0.5  # firn_levels firn_base deltafirnper100m";
  std::string evalRow = "30 9  # GMBEvalDay GMBEvalMonth";
  std::string volumeAreaRow = "28.5 1.36 3 1  # VAscaling VAexponent numElevBands extra";
  int stackCode = 0, massBalanceCode = 0, oldMassBalanceCode = 0;
  double debrisScaling = 1.0;
  int packCode = 0;
  std::string newGlacierRow = "1000 0.25  # maxSnowPackToCreateGlacier relSizeNewGlacier";

  std::string Text() const {
    std::ostringstream s;
    s << "[ice_firn]\n"
      << method << "  # Glacier-Method\n"
      << ddfIce << "\n"
      << ddfFirn << "\n"
      << ddfSnow << "\n"
      << mf << "\n"
      << aiceMin << "\n"
      << aiceMax << "\n"
      << asnowMin << "\n"
      << asnowMax << "\n"
      << kIce << "\n"
      << kFirn << "\n"
      << kSnow << "\n"
      << qIce << "\n"
      << qFirn << "\n"
      << qSnow << "\n"
      << "firnmelt.grd\n"
      << firnCode << "\n"
      << qfirnTable << "\n"
      << "icemelt.grd\n"
      << iceCode << "\n"
      << qiceTable << "\n"
      << qglacTable << "\n";
    if (method < 10)
      return s.str();
    s << snowOnIceTable << "\n"
      << readGrid << "  # read grid parameter\n"
      << firnRow << "\n"
      << evalRow << "\n"
      << volumeAreaRow << "\n"
      << "firn.stk\n"
      << stackCode << "\n"
      << "firn.sta 0\n"
      << "gmb.grd\n"
      << massBalanceCode << "\n"
      << "gmbold.grd\n"
      << oldMassBalanceCode << "\n"
      << "gmb1.sta 0\n"
      << "gmb2.sta 0\n"
      << debrisScaling << "\n"
      << "snownoglac.sta 0\n";
    for (const char *stem : {"solidglac", "liquidglac", "totalglac", "meltglac", "surftempglac",
                             "snowtempglac", "evapglac"})
      s << stem << ".grd\n" << packCode << "\n";
    s << newGlacierRow << "\n";
    return s.str();
  }
};

struct PermafrostText {
  int method = 1;
  double minSnowAgeRefreeze = 2.0, maxSweSnowFree = 5.0;
  std::string Text() const {
    std::ostringstream s;
    s << "[permafrost]\n"
      << method << "  # Permafrost-Method\n"
      << minSnowAgeRefreeze << "\n"
      << maxSweSnowFree << "\n"
      << "thaw.sta 0\n"
      << "1e-9  # reduced k_sat\n";
    return s.str();
  }
};

} // namespace tavro::test
