// The glacier melt kernels against hand values and analytic results: snow on
// the glacier, ice and firn melt under a bare glacier, the firn layers, the
// linear reservoirs, the firn a glacier starts with, the volume-area relation
// and the yearly turn of snow into firn.
#include "landsurface/glacier/glacier_melt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace tavro::glacier {
namespace {

constexpr double N = -9999.0;

MeltParameters Parameters(int method) {
  MeltParameters p;
  p.Method = method;
  p.DDFice = 8.0;
  p.DDFfirn = 6.0;
  p.DDFsnow = 4.0;
  p.MF = 2.0;
  p.DebrisScaling = 1.0;
  return p;
}

MeltForcing Warm(double temperature) {
  MeltForcing f;
  f.Temperature = temperature;
  f.T0 = 0.0;
  f.StepsPerDay = 2.0;
  f.Radiation = 10.0;
  f.SnowRadiationFactor = 0.1;
  f.IceRadiationFactor = 0.3;
  return f;
}

TEST(GlacierMelt, SnowMeltOfTheStaticAndDynamicMethods) {
  struct Case {
    int method;
    double expected; // T = 5, spd 2
  };
  for (const Case &c :
       {Case{1, 4.0 * 5.0 / 2.0}, Case{11, 10.0}, Case{2, (1.0 + 1.0) * 5.0}, Case{12, 10.0}}) {
    EXPECT_DOUBLE_EQ(SnowMelt(Parameters(c.method), Warm(5.0), 3.0), c.expected) << c.method;
    EXPECT_EQ(SnowMelt(Parameters(c.method), Warm(5.0), 0.0), 0.0) << "no pack before the step";
    EXPECT_EQ(SnowMelt(Parameters(c.method), Warm(0.0), 3.0), 0.0) << "not above T0";
  }
}

TEST(GlacierMelt, BothPacksReceiveTheSplitAndMeltOnTheirOwn) {
  Pack own{10.0, 0.0, 10.0};
  Pack onGlacier{1.0, 0.0, 1.0};
  // Snow share 0.5 of 4 mm; melt 10 mm per pack; CWH 0.1.
  const GlacierCellSnow r =
      GlacierSnowStep(Parameters(1), Warm(5.0), 0.5, 4.0, 0.1, own, &onGlacier);
  EXPECT_DOUBLE_EQ(r.Own.Moved, 10.0);
  EXPECT_DOUBLE_EQ(own.Solid, 2.0);
  EXPECT_DOUBLE_EQ(own.Liquid, 0.2);
  EXPECT_DOUBLE_EQ(r.Own.Outflow, 12.0 - 0.2);
  EXPECT_DOUBLE_EQ(r.Glacier.Moved, 3.0);
  EXPECT_DOUBLE_EQ(onGlacier.Solid, 0.0);
  EXPECT_DOUBLE_EQ(r.Glacier.Outflow, 5.0);
  EXPECT_DOUBLE_EQ(onGlacier.Total, 0.0);
  // Water balance of both packs: input + storage before = storage after + outflow.
  EXPECT_NEAR(4.0 + 10.0, own.Total + r.Own.Outflow, 1e-12);
  EXPECT_NEAR(4.0 + 1.0, onGlacier.Total + r.Glacier.Outflow, 1e-12);
}

TEST(GlacierMelt, StaticIceAndFirnMeltMatchHandValues) {
  struct Case {
    int method;
    double code, debris, snowMelt, ice, firn;
  };
  const double radiationIce = (2.0 / 2.0 + 0.3 * 10.0) * 5.0;  // 20
  const double radiationFirn = (2.0 / 2.0 + 0.1 * 10.0) * 5.0; // 10
  for (const Case &c : {
           Case{1, 1.0, 1.0, 0.0, 20.0, 0.0},         // 8 x 5 / 2
           Case{1, 1.0, 0.5, 4.0, 6.0, 0.0},          // debris halves, F reduces
           Case{1, 2.0, 1.0, 3.0, 0.0, 12.0},         // firn: 6 x 5 / 2 - 3
           Case{1, 1.0, 1.0, 25.0, 0.0, 0.0},         // F beyond the melt
           Case{2, 1.0, 1.0, 0.0, radiationIce, 0.0}, // radiation
           Case{2, 2.0, 1.0, 1.0, 0.0, radiationFirn - 1.0},
       }) {
    const IceFirnMelt m =
        StaticIceFirnMelt(Parameters(c.method), Warm(5.0), c.code, c.debris, c.snowMelt);
    EXPECT_DOUBLE_EQ(m.Ice, c.ice) << c.method << " " << c.code;
    EXPECT_DOUBLE_EQ(m.Firn, c.firn) << c.method << " " << c.code;
  }
  MeltParameters scaled = Parameters(1);
  scaled.DebrisScaling = 2.0;
  EXPECT_DOUBLE_EQ(StaticIceFirnMelt(scaled, Warm(5.0), 1.0, 1.0, 0.0).Ice, 40.0);
}

TEST(GlacierMelt, FirnDemandBeyondTheStackMeltsIceForTheRest) {
  // Levels 0..3, one nodata layer; the demand is 15 - 0 = 15 (method 11, T 5).
  std::vector<double> levels{6.0, 2.0, N, 4.0};
  const IceFirnMelt m = DynamicIceFirnMelt(Parameters(11), Warm(5.0), 1.0, 0.0, 6.0, levels, N);
  EXPECT_DOUBLE_EQ(m.Firn + m.Ice, 15.0);
  EXPECT_DOUBLE_EQ(m.Firn, 6.0);
  EXPECT_DOUBLE_EQ(m.Ice, 9.0);
  EXPECT_EQ(levels[1], 0.0);
  EXPECT_EQ(levels[2], N) << "a nodata layer gives nothing and stays nodata";
  EXPECT_EQ(levels[3], 0.0);
  EXPECT_EQ(levels[0], 0.0);

  std::vector<double> deep{30.0, 10.0, 10.0, 10.0};
  const IceFirnMelt partial =
      DynamicIceFirnMelt(Parameters(11), Warm(5.0), 1.0, 3.0, 30.0, deep, N);
  EXPECT_DOUBLE_EQ(partial.Firn, 12.0);
  EXPECT_EQ(partial.Ice, 0.0);
  EXPECT_EQ(deep[1], 0.0);
  EXPECT_DOUBLE_EQ(deep[2], 8.0);
  EXPECT_DOUBLE_EQ(deep[0], 18.0);

  // Without firn the ice melts, with the debris factor.
  std::vector<double> none{0.0, 0.0, 0.0, 0.0};
  const IceFirnMelt ice = DynamicIceFirnMelt(Parameters(11), Warm(5.0), 0.5, 0.0, 0.0, none, N);
  EXPECT_DOUBLE_EQ(ice.Ice, 10.0);
  EXPECT_EQ(ice.Firn, 0.0);
}

TEST(GlacierMelt, ReservoirFollowsTheAnalyticResult) {
  const double k = 3.5;
  const double inflow = 2.0; // I over the glacierized share Z
  double q = 0.0;
  for (int n = 1; n <= 40; ++n) {
    q = LinearReservoir(q, inflow, k);
    EXPECT_NEAR(q, inflow * (1.0 - std::exp(-n / k)), 1e-12) << n;
  }
  double impulse = 5.0;
  for (int n = 1; n <= 10; ++n) {
    const double before = impulse;
    impulse = LinearReservoir(impulse, 0.0, k);
    EXPECT_NEAR(impulse / before, std::exp(-1.0 / k), 1e-12);
  }
  EXPECT_EQ(LinearReservoir(7.0, 3.0, 0.0), 3.0) << "k = 0 passes the inflow through";
  // A subbasin's reservoir: the mean melt over the glacierized share z.
  EXPECT_EQ(GlacierReservoir(7.0, 1.0, 0.25, 0.0), 4.0);
  EXPECT_NEAR(GlacierReservoir(0.0, 1.0, 0.25, k), 4.0 * (1.0 - std::exp(-1.0 / k)), 1e-15);
  EXPECT_EQ(GlacierReservoir(7.0, 1.0, 0.0, k), 0.0) << "no glacier: no outflow";
  EXPECT_EQ(GlacierReservoir(7.0, 1.0, -0.1, k), 0.0);
}

TEST(GlacierMelt, FirnStartPerMetre) {
  EXPECT_DOUBLE_EQ(InitialFirnLayer(3100.0, 3000.0, 0.5), 50.0);
  EXPECT_DOUBLE_EQ(4 * InitialFirnLayer(3100.0, 3000.0, 0.5), 200.0);
  EXPECT_EQ(InitialFirnLayer(2900.0, 3000.0, 0.5), 0.0);
}

TEST(GlacierMelt, VolumeAreaRelation) {
  // Chen and Ohmura (1990), Bahr et al. (1997): V = 28.5 A^1.36 (10^6 m³, km²).
  EXPECT_NEAR(AreaFromVolume(0.0543, 28.5, 1.36), 0.0099992, 5e-8);
  for (double area : {0.01, 0.7, 3.2, 25.0})
    EXPECT_NEAR(AreaFromVolume(VolumeFromArea(area, 28.5, 1.36), 28.5, 1.36), area, 1e-12);
  // An area of 0.005 counts as 0.01 (28.5 x 0.01^1.36 = 0.0543056, just
  // above the minimum volume).
  const VolumeArea small = InitialVolumeArea(0.005, 28.5, 1.36);
  EXPECT_DOUBLE_EQ(small.Volume, VolumeFromArea(0.01, 28.5, 1.36));
  EXPECT_NEAR(small.Area, 0.01, 1e-12);
  const VolumeArea tiny = InitialVolumeArea(0.005, 1.0, 1.36);
  EXPECT_EQ(tiny.Volume, kMinimumVolume);
  EXPECT_NEAR(tiny.Area, std::pow(kMinimumVolume, 1.0 / 1.36), 1e-15);
}

TEST(GlacierMelt, YearlyUpdateMakesANewGlacierCell) {
  std::vector<double> levels(5, N);
  YearlyCell cell;
  cell.Fraction = 0.0;
  cell.Code = N;
  cell.CodeOld = N;
  cell.Own = {1200.0, 200.0, 1400.0};
  cell.FirnLevels = levels;
  YearlyFirnUpdate({1000.0, 0.25, N}, cell);
  EXPECT_EQ(cell.Code, -1.0);
  EXPECT_EQ(cell.Fraction, 0.25);
  EXPECT_DOUBLE_EQ(cell.Own.Total, 1000.0);
  EXPECT_DOUBLE_EQ(levels[1], 2600.0);
  EXPECT_EQ(levels[2], 0.0);
  EXPECT_DOUBLE_EQ(cell.FirnTotal, 2600.0);
  EXPECT_DOUBLE_EQ(levels[0], 2600.0);
  EXPECT_DOUBLE_EQ(cell.MassBalance, 2600.0);
  EXPECT_EQ(cell.OldMassBalance, 0.0);
  EXPECT_EQ(cell.Glacier.Total, 0.0);
  // Area-weighted water is conserved.
  EXPECT_NEAR(cell.Own.Total * 0.75 + cell.FirnTotal * 0.25, 1400.0, 1e-9);
  // A positive code is kept and remembered.
  std::vector<double> other(3, N);
  YearlyCell coded;
  coded.Code = 4.0;
  coded.Own = {1100.0, 0.0, 1100.0};
  coded.FirnLevels = other;
  YearlyFirnUpdate({1000.0, 0.25, N}, coded);
  EXPECT_EQ(coded.Code, 4.0);
  EXPECT_EQ(coded.CodeOld, 4.0);
}

TEST(GlacierMelt, YearlyUpdateTurnsTheGlacierSnowIntoFirn) {
  std::vector<double> levels{30.0, 10.0, 20.0, 0.0};
  YearlyCell cell;
  cell.Fraction = 0.5;
  cell.Code = 3.0;
  cell.CodeOld = 2.0;
  cell.Own = {1500.0, 0.0, 1500.0};
  cell.Glacier = {40.0, 2.0, 42.0};
  cell.MassBalance = 5.0;
  cell.FirnLevels = levels;
  YearlyFirnUpdate({1000.0, 0.25, N}, cell);
  // 500 mm move onto the glacierized half: + 500 on the glacier pack.
  EXPECT_DOUBLE_EQ(cell.Own.Total, 1000.0);
  EXPECT_DOUBLE_EQ(levels[1], 542.0);
  EXPECT_DOUBLE_EQ(levels[2], 10.0);
  EXPECT_DOUBLE_EQ(levels[3], 20.0);
  EXPECT_DOUBLE_EQ(levels[0], 572.0);
  EXPECT_DOUBLE_EQ(cell.MassBalance, 505.0);
  EXPECT_EQ(cell.CodeOld, 3.0);
  EXPECT_EQ(cell.Glacier.Total, 0.0);
  // A fully glacierized cell loses its own pack.
  std::vector<double> full{0.0, 0.0, 0.0};
  YearlyCell covered;
  covered.Fraction = 1.0;
  covered.Own = {50.0, 0.0, 50.0};
  covered.Glacier = {7.0, 0.0, 7.0};
  covered.FirnLevels = full;
  YearlyFirnUpdate({1000.0, 0.25, N}, covered);
  EXPECT_EQ(covered.Own.Total, 0.0);
  EXPECT_EQ(full[1], 7.0);
}

} // namespace
} // namespace tavro::glacier

namespace tavro::glacier {
namespace {

TEST(GlacierMelt, YearlyUpdateIsDueAtTheEndOfTheEvaluationDay) {
  struct Case {
    long day, month, hour;
    double minutes, hoursToEnd;
    bool due;
  };
  // The data stamp is the start of the step (hours to the interval end = the step).
  for (const Case &c : {Case{30, 9, 23, 60.0, 1.0, true}, Case{30, 9, 22, 60.0, 1.0, false},
                        Case{30, 9, 0, 1440.0, 24.0, true}, Case{29, 9, 0, 1440.0, 24.0, false},
                        Case{30, 8, 0, 1440.0, 24.0, false}, Case{30, 9, 12, 720.0, 12.0, true},
                        Case{30, 9, 0, 720.0, 12.0, false}})
    EXPECT_EQ(YearlyUpdateDue(c.day, c.month, c.hour, c.minutes, c.hoursToEnd, 30, 9), c.due)
        << c.day << "." << c.month << " " << c.hour << " h, " << c.minutes << " min";
}

} // namespace
} // namespace tavro::glacier
