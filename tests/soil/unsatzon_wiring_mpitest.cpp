// What the soil-water module takes part in after its grids are set up: the
// soil-water part of "[lake_model]" (saturation of lake cells by method,
// state source and ponding depth, the lowered elevation model and the
// recomputed column geometry, spin-up, the refusals), the choice of the water
// input and the entry of a state file that contradicts the control file.
#include "soil/soil_module_fixture.h"

#include "kernel/fatal_error.h"

#include <mpi.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

using test::kSoilColumns;
using test::kSoilNoData;
using test::kSoilRows;
using test::Logged;
using test::Rank;
using test::SoilSection;
using test::SoilSectionText;
using test::ThreeSubbasins;

// Lake cells: columns 2 to 4 of row 2 (subbasin 1) and of row 4 (subbasin 2).
bool LakeCell(long r, long c) { return (r == 2 || r == 4) && c >= 2 && c <= 4; }

std::string LakeSection(int flowControl, int method) {
  return Concat("[lake_model]\n", flowControl, " flow control parameter\n", method,
                " initialization method\n");
}

// An ASCII grid of the fixture's raster with one value everywhere.
std::string UniformGrid(double value) {
  std::string text = "ncols 5\nnrows 6\nxllcorner 0\nyllcorner 0\ncellsize 1000\n"
                     "nodata_value -9999\n";
  for (long r = 1; r <= kSoilRows; ++r) {
    for (long c = 1; c <= kSoilColumns; ++c)
      text += Concat(value, " ");
    text += "\n";
  }
  return text;
}

class UnsatzonWiringTest : public test::SoilModuleTest {
protected:
  void AddLakes() {
    AddGrid("lake_codes", [](long r, long c) { return LakeCell(r, c) ? 1.0 : -1.0; });
    AddGrid("max_ponding_storage", [](long, long) { return 0.05; }); // m
  }

  // An entry of the level ERROR (1), which the XML file marks by its level.
  static bool LoggedError(const std::string &text) {
    return test::ReadWholeFile("Tavro_Diag_0.xml")
               .find("level=\"1\" description= \"" + DiagnosticsLog::EscapeForXml(text)) !=
           std::string::npos;
  }

  // The section with ponding and the given state source; readgrids 2 reads a
  // groundwater distance of 1 m and the ponding depth (mm).
  std::string Control(int readgrids, double ponding, const std::string &lake) {
    SoilSectionText s = ThreeSubbasins();
    s.pond = 1;
    s.readgrids = readgrids;
    if (readgrids == 2) {
      test::WriteFixture("soilgrid_8.asc", UniformGrid(-1.0));
      test::WriteFixture("soilgrid_20.asc", UniformGrid(ponding));
    }
    return SoilSection(s) + lake;
  }
};

TEST_F(UnsatzonWiringTest, LakeCellsBySaturationMethodStateAndPonding) {
  AddLakes();
  struct Case {
    int method;
    int readgrids;
    double ponding; // mm
    bool saturated;
  };
  const std::vector<Case> cases = {
      {1, 0, 0.5, true}, {2, 0, 0.5, true}, {1, 2, 0.5, false},
      {2, 2, 0.5, true}, {1, 2, 2.0, true}, {2, 2, 2.0, true},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(Concat("method ", k.method, ", readgrids ", k.readgrids, ", ponding ", k.ponding));
    // A fresh elevation model, slope and ponding capacity (m) for every case,
    // as every run reads them anew.
    const Grid &elevation = *registry_[2].Data;
    Grid &slope = const_cast<Grid &>(Registered("slope_angle"));
    Grid &capacity = const_cast<Grid &>(Registered("max_ponding_storage"));
    for (long r = held_.first; r <= held_.last; ++r)
      for (long c = 1; c <= kSoilColumns; ++c) {
        const_cast<Grid &>(elevation)[r][c] = test::SoilElevation(r, c);
        slope[r][c] = 30.0;
        capacity[r][c] = 0.05;
      }
    auto m = Build(Control(k.readgrids, k.ponding, LakeSection(1, k.method)));
    EXPECT_EQ(m->LakeFlowControl, 1);
    EXPECT_EQ(m->LakeInitMethod, k.method);
    const SoilWaterGrids &g = m->Grids;
    const bool adjusted = k.method == 2;
    for (long r = m->FirstRow; r <= m->LastRow; ++r)
      for (long c = 1; c <= kSoilColumns; ++c) {
        if (!Own(r, c))
          continue;
        const bool lake = LakeCell(r, c);
        const bool saturated = lake && k.saturated;
        const double *theta = g.Theta.Levels[r][c];
        const double thetaSat = r >= 5 ? 0.41 : 0.43;
        EXPECT_EQ(theta[5] == thetaSat, saturated) << r << c;
        if (saturated) {
          for (int i = 1; i <= 9; ++i)
            EXPECT_EQ(theta[i], thetaSat);
          EXPECT_EQ(g.GroundwaterDistance.Values[r][c], 0.0);
          EXPECT_EQ(g.GroundwaterLevel.Values[r][c], 1.0);
        }
        const double surface = test::SoilElevation(r, c) - (lake && adjusted ? 0.05 : 0.0);
        EXPECT_NEAR(elevation[r][c], surface, 1e-12) << r << c;
        EXPECT_NEAR(g.GeodeticHeads.Levels[r][c][0], surface, 1e-12);
        EXPECT_NEAR(g.GeodeticHeads.Levels[r][c][10], surface - 1.5, 1e-9);
        const bool flat = saturated && adjusted;
        EXPECT_EQ(slope[r][c], flat ? 0.0 : 30.0);
        EXPECT_NEAR(g.TangensBeta.Values[r][c], flat ? 0.0 : 0.5235987755, 1e-10);
        if (flat) // no suction in a saturated layer: the head is its centre
          EXPECT_NEAR(g.HydraulicHeads.Levels[r][c][3], surface - 0.375, 1e-9);
      }
    // Rank 0 holds the lowered elevation of every lake cell.
    if (Rank() == 0)
      for (long r = 1; r <= kSoilRows; ++r)
        for (long c = 1; c <= kSoilColumns; ++c)
          if (LakeCell(r, c))
            EXPECT_NEAR(elevation[r][c], test::SoilElevation(r, c) - (adjusted ? 0.05 : 0.0),
                        1e-12);
    m->ReleaseMemory();
  }
}

TEST_F(UnsatzonWiringTest, SpinUpLeavesTheLakesToTheSoilModel) {
  AddLakes();
  AddGrid("HydrologicResponseUnits", [](long, long) { return 1.0; });
  AddGrid("MasterHydrologicResponseUnits", [](long, long) { return kSoilNoData; });
  settings_.SpinUpSwitch = 1;
  auto m = Build(Control(0, 0.0, LakeSection(1, 2)));
  EXPECT_EQ(m->LakeFlowControl, 0);
  for (long r = m->FirstRow; r <= m->LastRow; ++r)
    for (long c = 1; c <= kSoilColumns; ++c)
      if (Own(r, c) && LakeCell(r, c)) {
        EXPECT_EQ((*registry_[2].Data)[r][c], test::SoilElevation(r, c));
        EXPECT_EQ(m->Grids.GroundwaterLevel.Values[r][c], 6.0);
      }
  EXPECT_NE(m->Links.HydrologicResponseUnits, nullptr);
  EXPECT_FALSE(m->ControlFile().IsOpen());
  m->ReleaseMemory();
}

TEST_F(UnsatzonWiringTest, LakesSwitchedOffOrWithoutGrid) {
  AddGrid("max_ponding_storage", [](long, long) { return 0.05; });
  auto without = Build(Control(0, 0.0, ""));
  EXPECT_EQ(without->LakeFlowControl, 0);
  if (Rank() == 0)
    EXPECT_TRUE(Logged("INFO: no LAKE-grid was found in unsatzon_model\nLake modelling is "
                       "switched off for unsatzon_model."));
  without->ReleaseMemory();
  AddGrid("lake_codes", [](long r, long c) { return LakeCell(r, c) ? 1.0 : -1.0; });
  auto off = Build(Control(0, 0.0, LakeSection(0, 7))); // the method is not read
  EXPECT_EQ(off->LakeFlowControl, 0);
  EXPECT_EQ(off->LakeInitMethod, 0);
  EXPECT_FALSE(off->ControlFile().IsOpen());
  off->ReleaseMemory();
}

TEST_F(UnsatzonWiringTest, LakeRefusals) {
  AddLakes();
  struct Case {
    const char *what;
    std::string control;
    int code;
    std::string entry;
  };
  SoilSectionText withoutPonding = ThreeSubbasins();
  const std::vector<Case> cases = {
      {"no section", Control(0, 0.0, ""), 17,
       "FATAL: error in control file, [lake_model]; (EOF)not found!"},
      {"no ponding", SoilSection(withoutPonding) + LakeSection(1, 1), 215,
       "\n\n=======================================\n!!!! ERROR !!!! \n\nError in "
       "initialization method for [lake_model].\npond_use must be set in unsatzon_model\nfor "
       "using the [lake_model]\n\n=======================================\n"},
      {"method 3", Control(0, 0.0, LakeSection(1, 3)), 215,
       "FATAL: \n\n=======================================\n!!!! ERROR !!!! \n\n Error in "
       "initialization method for [lake_model].\nAllowed values are 1 (no change of grids) or 2 "
       "(adjust DEM, SLOPE, DRAIN).\nIn either case, theta_soil will be set to saturation,\nif "
       "the cell is marked as lake and POND is > 0. Also, the groudwater level\nwill be set to "
       "0.\n\n=======================================\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Failure(c.control), c.code);
    if (Rank() == 0)
      EXPECT_TRUE(c.code == 215 && c.entry[0] == '\n' ? LoggedError(c.entry) : Logged(c.entry));
  }
}

TEST_F(UnsatzonWiringTest, WaterInputPrecedence) {
  struct Case {
    std::vector<const char *> registered;
    bool interceptionFirst;
    const char *chosen;
  };
  const std::vector<Case> cases = {
      {{"precipitation", "throughfall0", "snowcover_outflow"}, true, "snowcover_outflow"},
      {{"precipitation", "throughfall0", "snowcover_outflow"}, false, "throughfall0"},
      {{"precipitation", "throughfall0"}, true, "throughfall0"},
      {{"precipitation", "snowcover_outflow"}, false, "snowcover_outflow"},
      {{"precipitation"}, true, "precipitation"},
      {{"precipitation"}, false, "precipitation"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(Concat(c.chosen, c.interceptionFirst));
    std::vector<int> entries;
    for (const char *name : c.registered) {
      AddGrid(name, [](long, long) { return 0.0; });
      entries.push_back(registry_.FindGrid(name, false));
    }
    auto m = Build(SoilSection(ThreeSubbasins()));
    m->SelectWaterInput(c.interceptionFirst);
    EXPECT_EQ(m->Links.WaterInput, &Registered(c.chosen));
    // Once chosen, the input stays.
    m->SelectWaterInput(!c.interceptionFirst);
    EXPECT_EQ(m->Links.WaterInput, &Registered(c.chosen));
    m->ReleaseMemory();
    for (const int entry : entries)
      registry_.ReleaseGrid(entry);
  }
  auto m = Build(SoilSection(ThreeSubbasins()));
  EXPECT_EQ(test::ExitCodeOf([&] { m->SelectWaterInput(false); }), 33);
  if (Rank() == 0)
    EXPECT_TRUE(Logged("Wether throughfall0, snowcover_outflow or precipitation"));
  m->ReleaseMemory();
}

TEST_F(UnsatzonWiringTest, AStateFileThatContradictsTheControlFile) {
  auto m = Build(SoilSection(ThreeSubbasins()));
  EXPECT_EQ(test::ExitCodeOf([&] { m->ThrowStorageMismatch("ini_gw_level", 2.0, 2.5); }), 71);
  if (Rank() == 0)
    EXPECT_TRUE(Logged("FATAL: error in storage file content reading ini_gw_level:\nvalue in "
                       "actual control is:   2\nbut value in storage file is: 2.5\nTavro "
                       "throws..."));
  m->SetDumpOptions(true, false, true);
  EXPECT_TRUE(m->DumpMode);
  EXPECT_FALSE(m->CloseAfterDump);
  EXPECT_TRUE(m->RepairAfterDump);
  m->SetGroundwaterCoupling(1);
  EXPECT_EQ(m->GroundwaterCoupling, 1);
  m->ReleaseMemory();
}

} // namespace
} // namespace tavro
