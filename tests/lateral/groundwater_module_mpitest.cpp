// The groundwater module on a small catchment over 1 and 3 processes: its
// set-up (settings, pond flag, derived names, registered grids, layer-1
// thickness, control cell and file, lake section), the water balance of a
// closed confined layer, the edge cases of the solver, tracers, and the
// independence of the results from the threads.
#include "groundwater_module_fixture.h"

#include "kernel/tracer_info.h"

#include <omp.h>

#include <cmath>
#include <sstream>

namespace tavro {
namespace {

using test::AquiferInputs;
using test::GroundwaterSectionText;
using test::kGwColumns;
using test::kGwNoData;
using test::kGwRows;
using test::Logged;

double Elevation(long r, long c) { return 100.0 - 0.1 * r - 0.05 * c; }

// An entry of the log, which rank 0 writes (true elsewhere).
bool Rank0Logged(const std::string &text) { return test::Rank() != 0 || Logged(text); }

// The sum over every process.
double GlobalSum(double local) {
  double total = 0.0;
  MPI_Allreduce(&local, &total, 1, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
  return total;
}

class GroundwaterModule : public test::GroundwaterModuleTest {
protected:
  // Calls check(r, c) for every own model cell.
  template <class Check> void ForOwn(Check check) const {
    for (long r = 1; r <= kGwRows; ++r)
      for (long c = 1; c <= kGwColumns; ++c)
        if (Own(r, c))
          check(r, c);
  }
  double Sum(const std::function<double(long, long)> &value) const {
    double local = 0.0;
    ForOwn([&](long r, long c) { local += value(r, c); });
    return GlobalSum(local);
  }
};

TEST_F(GroundwaterModule, SetUpRegistersElevenGridsPerLayerWithDerivedNames) {
  AddAquifer({AquiferInputs{}, AquiferInputs{}});
  const int firstFree = registry_.FirstFreeIndex();
  auto gw = Build(GroundwaterSectionText{}.Text());
  ASSERT_EQ(gw->LayerCount(), 2);
  const char *expected[] = {"gw_head_1",
                            "gw_head_old_1",
                            "gw_head_2",
                            "gw_head_old_2",
                            "gw_head_old_old_1",
                            "gw_head_old_old_1",
                            "gw_transmissivity_x_1",
                            "gw_transmissivity_y_1",
                            "gw_flow_x_1",
                            "gw_flow_y_1",
                            "gw_balance1",
                            "gw_leakage_1",
                            "aquifer_upper_limit1",
                            "gw_head_old_old_2"};
  for (int i = 0; i < 14; ++i)
    EXPECT_EQ(registry_[firstFree + i].Identifier, expected[i]) << i;
  EXPECT_EQ(registry_[firstFree + 1].FileName, "heads1_old.asc");
  EXPECT_EQ(registry_[firstFree + 4].FileName, "gw_head_old_old_1");
  EXPECT_EQ(registry_[firstFree + 8].FileName, "qx1.asc");
  EXPECT_EQ(gw->Layer(1).HeadsOldOld, "heads1_oldold.asc");
  EXPECT_EQ(gw->Layer(1).HeadsOldIter, "heads1_olditer.asc");
  // The lookup by identifier finds the heads at the start of the previous sub-step.
  EXPECT_EQ(registry_.FindGrid("gw_head_old_old_1", false), firstFree + 4);

  const Grid &thickness = *registry_[registry_.FindGrid("aquifer_thickness_1", false)].Data;
  ForOwn([&](long r, long c) {
    EXPECT_NEAR(thickness[r][c], 1.5, 1e-12); // ten loam layers of 0.15 m
    const double head = Elevation(r, c) - 0.5;
    EXPECT_DOUBLE_EQ(gw->Layer(1)[kHead][r][c], head);
    EXPECT_DOUBLE_EQ(gw->Layer(2)[kHeadOld][r][c], head);
    EXPECT_DOUBLE_EQ(gw->Layer(1)[kUpperLimit][r][c], Elevation(r, c));
    EXPECT_DOUBLE_EQ(gw->Layer(2)[kUpperLimit][r][c], Elevation(r, c) - thickness[r][c]);
    EXPECT_DOUBLE_EQ(gw->Layer(1)[kTransmissivityX][r][c], (1.5 - 0.5) * 1e-4);
    EXPECT_DOUBLE_EQ(gw->Layer(2)[kTransmissivityY][r][c], (10.0 - 0.5) * 1e-4);
    EXPECT_EQ(gw->Layer(2)[kLeakage][r][c], 0.0);
  });
  if (gw->Layer(1)[kHead].HasRow(1)) {
    EXPECT_EQ(gw->Layer(1)[kHead][1][1], kGwNoData); // outside the zones
  }
  EXPECT_TRUE(Rank0Logged("INFO: in modul groundwater_flow: no POND-Grid will be used because "
                          "Use-Pond-Flag is not present"));
  gw->ReleaseMemory();
  EXPECT_EQ(registry_.FindGrid("gw_head_1", true), 0);
  EXPECT_EQ(registry_.FirstFreeIndex(), firstFree);
}

TEST_F(GroundwaterModule, PondFlagLineAndSoilWithoutType) {
  AddAquifer({AquiferInputs{}});
  GroundwaterSectionText text;
  text.layers = 1;
  struct Case {
    std::string line;
    bool ponding;
    std::string entry;
  };
  const Case cases[] = {
      {"1 use ponds\n", false,
       "INFO: in modul groundwater_flow: Use-Pond-Flag is 1\n POND-Grid was not found --> no "
       "PONDs will be used in GW-Model"},
      {"0 no ponds\n", false,
       "INFO: in modul groundwater_flow: Use-Pond-Flag is 0; --> no PONDs will be used in "
       "GW-Model"},
      {"1 use ponds\n", true,
       "INFO: in modul groundwater_flow: Use-Pond-Flag is 1\n POND-Grid was found --> PONDs "
       "will be used in GW-Model"},
  };
  for (const Case &c : cases) {
    if (c.ponding && registry_.FindGrid("ponding_storage", false) == 0)
      AddGrid("ponding_storage", [](long, long) { return 200.0; });
    text.pondLine = c.line;
    auto gw = Build(text.Text());
    EXPECT_EQ(gw->PondUse, 1 - (c.line[0] == '0'));
    EXPECT_EQ(gw->Layer(1).Heads.name, "heads1.asc"); // the next line is the layer's
    EXPECT_TRUE(Rank0Logged(c.entry)) << c.entry;
    gw->ReleaseMemory();
  }
}

TEST_F(GroundwaterModule, ControlCellIsCheckedAndItsFileWritten) {
  AddAquifer({AquiferInputs{}});
  GroundwaterSectionText text;
  text.layers = 1;
  struct Case {
    std::string cell;
    int code;
  };
  const Case cases[] = {{"0 0", -1}, {"9 3", -1}, {"10 3", 8},
                        {"3 8", 9},  {"-1 3", 8}, {"3 -1", 9}};
  for (const Case &c : cases) {
    text.control = c.cell;
    EXPECT_EQ(Failure(text.Text()), c.code) << c.cell;
  }
  EXPECT_TRUE(
      Rank0Logged("FATAL: in modul groundwater_flow:\nrow index (10) for output-cell must be "
                  "between 1 and 9 (Input as row col) or 0 0 "));
  EXPECT_TRUE(
      Rank0Logged("FATAL: in modul groundwater_flow:\ncolumn index (8) for output-cell must "
                  "be between 1 and 7 (Input as row col) "));

  text.control = "1 3";
  auto gw = Build(text.Text());
  EXPECT_EQ(gw->OwnsControlCell, Own(1, 3));
  Steps(*gw, 2);
  gw->FlushStatistics();
  MPI_Barrier(MPI_COMM_WORLD);
  if (Own(1, 3)) {
    std::istringstream lines(test::ReadWholeFile("gw_control.txt"));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "YY\tMM\tDD\tHH\tcontrol_point_fluxes[1][3][lr: 1, 1]\t[lr: 1, 2]\t[lr: 1, "
                    "3]\t[lr: 1, 4]\t[lr: 1, up]\t[lr: 1, down]\t");
    int records = 0;
    while (std::getline(lines, line)) {
      ++records;
      std::istringstream fields(line);
      std::vector<std::string> values;
      for (std::string v; std::getline(fields, v, '\t');)
        values.push_back(v);
      ASSERT_EQ(values.size(), 10u);
      EXPECT_EQ(values[0], "2012");
      EXPECT_EQ(values[5], "-8888"); // north of row 1
    }
    EXPECT_EQ(records, 2);
  }
  gw->ReleaseMemory();
}

// A layer count is checked before anything is sized from it: beyond what the
// grid registry holds (eleven grids a layer, 90 layers), or beyond the layer
// lines the section holds, the run ends with 17 and the count named.
TEST_F(GroundwaterModule, LayerCountsBeyondTheRegistryOrTheSectionAreRefused) {
  AddAquifer({AquiferInputs{}, AquiferInputs{}});
  struct Case {
    const char *what;
    int written; // layers whose lines the section holds
    std::string count;
    std::string entry;
  };
  const std::string registry = ", as the grid registry holds at most 999 grids and each layer "
                               "needs 11";
  const Case cases[] = {
      {"one beyond the registry", 91, "91",
       "FATAL: in modul groundwater_flow: the number of layers (91) must be at most 90" + registry},
      {"a million", 1, "1000000",
       "FATAL: in modul groundwater_flow: the number of layers (1000000) must be at most 90" +
           registry},
      {"two thousand million", 1, "2000000000",
       "FATAL: in modul groundwater_flow: the number of layers (2000000000) must be at most 90" +
           registry},
      {"more than the section holds", 2, "3",
       "FATAL: error in control file, name of grid with hydraulic heads in ; "
       "groundwater_flownot found!"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    GroundwaterSectionText text;
    text.layers = c.written;
    std::string section = text.Text();
    const std::string line = "\n" + std::to_string(c.written) + " layers\n";
    section.replace(section.find(line), line.size(), "\n" + c.count + " layers\n");
    EXPECT_EQ(Failure(section), 17);
    EXPECT_TRUE(Rank0Logged(c.entry));
  }
}

TEST_F(GroundwaterModule, LakeSection) {
  AddAquifer({AquiferInputs{}});
  GroundwaterSectionText text;
  text.layers = 1;
  {
    auto gw = Build(text.Text() + "[lake_model]\n1\n1\n");
    EXPECT_TRUE(Rank0Logged("INFO: no LAKE-grid was found in groundwater_flow\nLake modelling is "
                            "switched off for groundwater_flow.\n"));
    gw->ReleaseMemory();
  }
  AddGrid("lake_codes", [](long, long) { return kGwNoData; });
  EXPECT_EQ(Failure(text.Text() + "[lake_model]\n1\n1\n"), 214); // pond_use not set
  EXPECT_TRUE(Rank0Logged("pond_use must be set in groundwater_flow"));
  // A construction that fails leaves no registry entry behind.
  EXPECT_EQ(registry_.FindGrid("gw_head_1", true), 0);
  text.pondLine = "0\n";
  EXPECT_EQ(Failure(text.Text() + "[lake_model]\n1\n1\n"), 214);
  text.pondLine = "1\n";
  EXPECT_EQ(Failure(text.Text() + "[lake_model]\n1\n1\n"), 28); // no ponding grid
  EXPECT_TRUE(Rank0Logged("LAKE-grid was found, but no POND-Grid. For using lakes,"));
  AddGrid("ponding_storage", [](long, long) { return 0.0; });
  EXPECT_EQ(Failure(text.Text() + "[lake_model]\n1\n3\n"), 214);
  EXPECT_TRUE(Rank0Logged("Lake initialization method (3) not valid."));
  auto gw = Build(text.Text() + "[lake_model]\n1\n2\n");
  EXPECT_EQ(gw->LakeInitMethod, 2);
  gw->ReleaseMemory();
  auto off = Build(text.Text() + "[lake_model]\n0\n");
  EXPECT_EQ(off->LakeFlowControl, 0);
  off->ReleaseMemory();
}

TEST_F(GroundwaterModule, ClosedConfinedLayerStoresItsInflow) {
  const double q = 1e-7, dt = 3600.0, area = 1e4;
  AquiferInputs lower;
  lower.fixedInflow = [&](long r, long c) { return r == 6 && c == 4 ? q : kGwNoData; };
  AddAquifer({AquiferInputs{}, lower});
  GroundwaterSectionText text;
  text.maxerror = 1e-13;
  text.maxiter = 5000;
  auto gw = Build(text.Text());
  Steps(*gw, 1);
  const GroundwaterLayerGrids &layer = gw->Layer(2);
  const double stored = Sum(
      [&](long r, long c) { return 1e-3 * area * (layer[kHead][r][c] - layer[kHeadOld][r][c]); });
  EXPECT_NEAR(stored, q * area * dt, 1e-6 * q * area * dt);
  ForOwn([&](long r, long c) {
    const double expected = r == 6 && c == 4 ? q * dt * 1000.0 : 0.0;
    EXPECT_NEAR(layer[kBalance][r][c], expected, 1e-6) << r << " " << c;
  });
  gw->ReleaseMemory();
}

// One sub-step of a set-up changed by configure; check looks at the module.
struct EdgeCase {
  const char *what;
  std::function<void(std::vector<AquiferInputs> &, GroundwaterSectionText &, Grid &)> configure;
  std::function<void(const gwflowclass &, long, long)> check;
};

TEST_F(GroundwaterModule, EdgeCasesOfTheSolver) {
  const EdgeCase cases[] = {
      {"a fixed head is kept",
       [](auto &inputs, auto &, Grid &) {
         inputs[1].fixedHead = [](long r, long c) { return r == 5 && c == 3 ? 97.0 : kGwNoData; };
       },
       [](const gwflowclass &gw, long r, long c) {
         if (r == 5 && c == 3) {
           EXPECT_EQ(gw.Layer(2)[kHead][r][c], 97.0);
           EXPECT_EQ(gw.Layer(2)[kHeadOld][r][c], 97.0);
         }
       }},
      {"zones exchange no water under flow control 3",
       [](auto &, auto &text, Grid &) { text.flowControl = 3; },
       [](const gwflowclass &gw, long r, long c) {
         if (r == 4 && c > 1) {
           EXPECT_EQ(gw.Layer(2)[kTransmissivityY][r][c], 0.0);
         }
         if (r == 3) {
           EXPECT_GT(gw.Layer(2)[kTransmissivityY][r][c], 0.0);
         }
       }},
      {"zones exchange water under flow control 1", [](auto &, auto &, Grid &) {},
       [](const gwflowclass &gw, long r, long c) {
         if (r == 4 && c > 1) {
           EXPECT_GT(gw.Layer(2)[kTransmissivityY][r][c], 0.0);
         }
       }},
      {"a dry cell takes water from a higher neighbour only",
       [](auto &, auto &, Grid &distance) {
         for (long r = 1; r <= kGwRows; ++r)
           if (distance.HasRow(r)) {
             distance[r][3] = r == 2 || r == 7 ? -3.0 : distance[r][3]; // dry: below 1.5 m
             distance[r][4] = r == 7 ? -4.0 : distance[r][4];
           }
       },
       [](const gwflowclass &gw, long r, long c) {
         if (r == 2 && c == 3) { // east neighbour wet and higher
           EXPECT_NEAR(gw.Layer(1)[kTransmissivityX][r][c], 1.0 * 1e-4, 1e-12);
         }
         if (r == 7 && c == 3) { // east neighbour dry and lower
           EXPECT_EQ(gw.Layer(1)[kTransmissivityX][r][c], 0.0);
         }
       }},
      {"an isolated layer-1 cell ends the sub-step with baseflow 0",
       [](auto &inputs, auto &, Grid &) {
         inputs[0].kx = inputs[0].ky = [](long r, long c) { return r == 6 && c == 5 ? 0.0 : 1e-4; };
       },
       [](const gwflowclass &gw, long r, long c) {
         if (r == 6 && c == 5) {
           EXPECT_EQ((*gw.Baseflow)[r][c], 0.0);
         }
       }},
      {"one layer has no leakage",
       [](auto &inputs, auto &text, Grid &) {
         inputs.resize(1);
         text.layers = 1;
       },
       [](const gwflowclass &gw, long r, long c) {
         EXPECT_EQ(gw.Layer(1)[kLeakage][r][c], 0.0);
         EXPECT_EQ(gw.Layer(1).Leakance, nullptr);
       }},
      {"a cell with no-data thickness keeps its head and makes no NaN",
       [](auto &inputs, auto &, Grid &) {
         inputs[1].thickness = [](long r, long c) { return r == 6 && c == 6 ? kGwNoData : 10.0; };
         inputs[1].fixedInflow = [](long r, long c) { return r == 6 && c == 5 ? 1e-6 : kGwNoData; };
       },
       [](const gwflowclass &gw, long r, long c) {
         for (int k = 1; k <= 2; ++k)
           for (GroundwaterGridSlot slot : {kHead, kFlowX, kFlowY, kBalance})
             EXPECT_TRUE(std::isfinite(gw.Layer(k)[slot][r][c]));
         if (r == 6 && c == 6) {
           EXPECT_DOUBLE_EQ(gw.Layer(2)[kHead][r][c], Elevation(r, c) - 0.5);
         }
         if (r == 6 && c == 5) {
           EXPECT_EQ(gw.Layer(2)[kTransmissivityX][r][c], 0.0);
         }
       }},
  };
  const int base = registry_.FirstFreeIndex();
  for (const EdgeCase &e : cases) {
    SCOPED_TRACE(e.what);
    // Every case starts from a registry holding only the fixture's grids.
    for (int i = base; i <= GridRegistry::LastIndex; ++i)
      if (!registry_[i].IsFree())
        registry_.ReleaseGrid(i);
    std::vector<AquiferInputs> inputs(2);
    GroundwaterSectionText text;
    for (long r = held_.first; r <= held_.last; ++r)
      for (long c = 1; c <= kGwColumns; ++c)
        (*distance_)[r][c] = -0.5;
    e.configure(inputs, text, *distance_);
    AddAquifer(inputs);
    auto gw = Build(text.Text());
    Steps(*gw, 1);
    ForOwn([&](long r, long c) { e.check(*gw, r, c); });
    gw->ReleaseMemory();
  }
  EXPECT_TRUE(
      Rank0Logged("WARNING: in modul groundwater_flow: layer 2 has 1 cells whose thickness, "
                  "conductivity or storage coefficient is no-data or negative"));
}

TEST_F(GroundwaterModule, MaxiterOneMakesOneSweepOnEveryProcess) {
  AquiferInputs lower;
  lower.fixedInflow = [](long r, long c) { return r == 7 && c == 3 ? 1e-6 : kGwNoData; };
  AddAquifer({AquiferInputs{}, lower});
  for (int maxiter : {1, 1000}) {
    GroundwaterSectionText text;
    text.maxiter = maxiter;
    text.sor = 0.0;
    auto gw = Build(text.Text());
    Steps(*gw, 1);
    if (maxiter == 1)
      EXPECT_EQ(gw->LastSolve.Iterations, 1);
    else
      EXPECT_GT(gw->LastSolve.Iterations, 1);
    // Every process made the same number of sweeps.
    int fewest = 0;
    MPI_Allreduce(&gw->LastSolve.Iterations, &fewest, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
    EXPECT_EQ(fewest, gw->LastSolve.Iterations);
    gw->ReleaseMemory();
  }
}

class GroundwaterTracers : public GroundwaterModule {
protected:
  void SetUp() override {
    GroundwaterModule::SetUp();
    tracers_ = OneBasedArray<TracerInfo>(2);
    for (int t = 1; t <= 2; ++t) {
      TracerInfo &info = tracers_[static_cast<std::size_t>(t)];
      info.name = t == 1 ? "chl" : "tri";
      info.radioactive = t == 2;
      info.half_time = t == 2 ? 1.0 : -9999.0;
      info.gwini = 2.0;
      info.statcode = 0;
      info.gridcode = 0;
      info.statext = "sta";
      info.gridext = "asc";
    }
  }
  OneBasedArray<TracerInfo> tracers_;
};

TEST_F(GroundwaterTracers, MassIsKeptByTheFlowAndTheRadioactiveTracerDecays) {
  AquiferInputs upper;
  upper.fixedHead = [](long r, long c) { return r == 3 && c == 3 ? 105.0 : kGwNoData; };
  AquiferInputs lower;
  lower.fixedInflow = [](long r, long c) { return r == 8 && c == 2 ? 2e-6 : kGwNoData; };
  lower.leakance = [](long, long) { return 1e-7; };
  upper.leakance = lower.leakance;
  AddAquifer({upper, lower});
  AddGrid("GlacierizedCells", [](long r, long c) { return r == 5 && c == 5 ? 1.0 : 0.0; });
  GroundwaterSectionText text;
  auto gw = Build(text.Text());
  int error = -1;
  gw->InitTracerGrids(error, 2, &tracers_, &statistics_, 200);
  ASSERT_EQ(error, 0);
  ASSERT_EQ(gw->Tracers.size(), 2u);
  EXPECT_EQ(registry_.FindGrid("concstor_tracer_1_layer_2_groundwater_flow", false),
            gw->Tracers[0].ConcentrationIndex[1]);
  EXPECT_EQ(registry_[gw->Tracers[0].ConcentrationIndex[1]].FileName, "chl2grou.asc");
  EXPECT_NE(registry_.FindGrid("concflux_tracer_2_groundwater_flow", false), 0);
  // Not evaporating too: the concentration gwini, the unit of the soil-water
  // module's hand-over, not an amount (the layer's water is 10 m x 1e-3 here).
  ForOwn([&](long r, long c) {
    for (const GroundwaterTracer &tracer : gw->Tracers)
      EXPECT_EQ(tracer.Concentration[1][r][c], 2.0);
  });

  // One sub-step with flow: the mass c V before equals c (V + sum Q) after,
  // in every layer but the first (reset from the soil) and the glacier cell.
  const double area = 1e4;
  const auto massBefore = [&](int k) {
    return Sum([&](long r, long c) {
      if (r == 5 && c == 5)
        return 0.0;
      const GroundwaterLayerGrids &l = gw->Layer(k);
      return gw->Tracers[0].Concentration[static_cast<std::size_t>(k - 1)][r][c] * 1e-3 * area *
             (*l.Thickness)[r][c];
    });
  };
  const double before = massBefore(2);
  Steps(*gw, 1);
  // The layer's water after the step is the start volume plus its inflows.
  const double after = Sum([&](long r, long c) {
    if (r == 5 && c == 5)
      return 0.0;
    return gw->Tracers[0].Working[r][c] * gw->TotalVolume[r][c];
  });
  EXPECT_NEAR(after, before, 1e-12 * before);
  EXPECT_GT(Sum([&](long r, long c) { return std::fabs(gw->Layer(2)[kFlowX][r][c]); }), 0.0);
  ForOwn([&](long r, long c) {
    if (r == 5 && c == 5) { // a whole glacier keeps its own concentration
      EXPECT_DOUBLE_EQ(gw->Tracers[0].Concentration[1][r][c], 2.0);
    }
  });
  gw->FinishTracerGrids();
  gw->ReleaseMemory();
}

TEST_F(GroundwaterTracers, RadioactiveTracerHalvesInAHalfLife) {
  AddAquifer({AquiferInputs{}, AquiferInputs{}});
  // Level heads: no flow.
  for (long r = held_.first; r <= held_.last; ++r)
    for (long c = 1; c <= kGwColumns; ++c)
      (*distance_)[r][c] = -0.5 - (100.0 - 0.1 * r - 0.05 * c) + 99.0;
  auto gw = Build(GroundwaterSectionText{}.Text());
  int error = -1;
  gw->InitTracerGrids(error, 2, &tracers_, &statistics_, 200);
  ASSERT_EQ(error, 0);
  Steps(*gw, 24); // 24 sub-steps of an hour: one half-life
  ForOwn([&](long r, long c) {
    EXPECT_NEAR(gw->Tracers[1].Concentration[1][r][c], 1.0, 2e-10 * 1.0);
    EXPECT_NEAR(gw->Tracers[0].Concentration[1][r][c], 2.0, 1e-12 * 2.0);
  });
  gw->FinishTracerGrids();
  gw->ReleaseMemory();
}

TEST_F(GroundwaterModule, ResultsDoNotDependOnTheThreads) {
  AquiferInputs upper;
  upper.fixedHead = [](long r, long c) { return r == 9 && c == 2 ? 98.0 : kGwNoData; };
  upper.leakance = [](long, long) { return 1e-6; };
  AquiferInputs lower;
  lower.fixedInflow = [](long r, long c) { return r == 2 && c == 6 ? 5e-6 : kGwNoData; };
  AddAquifer({upper, lower});
  for (long r = held_.first; r <= held_.last; ++r)
    for (long c = 1; c <= kGwColumns; ++c)
      (*distance_)[r][c] = -0.2 - 0.1 * ((r * 3 + c) % 5);
  GroundwaterSectionText text;
  text.sor = 0.0; // adaptive
  text.alpha = 0.7;
  text.maxiter = 40;
  const auto run = [&](int threads) {
    omp_set_num_threads(threads);
    auto gw = Build(text.Text());
    Steps(*gw, 3);
    std::vector<double> values;
    ForOwn([&](long r, long c) {
      for (int k = 1; k <= 2; ++k)
        for (GroundwaterGridSlot slot : {kHead, kFlowX, kFlowY, kBalance})
          values.push_back(gw->Layer(k)[slot][r][c]);
      values.push_back((*baseflow_)[r][c]);
    });
    gw->ReleaseMemory();
    return values;
  };
  const int before = omp_get_max_threads();
  const std::vector<double> one = run(1);
  EXPECT_EQ(run(2), one);
  omp_set_num_threads(before);
}

} // namespace
} // namespace tavro
