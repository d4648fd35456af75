// A lake in the routing across processes: its cells span the strips of all
// three processes under three. Every step the owners change the ponding of
// their lake cells as the soil does, by rain, the pond's evaporation, its
// exchange with the soil and its overflow (while the cells' whole
// evapotranspiration and the fluxes of their columns say something else),
// the routing gathers the cells, balances the lake on rank 0 and spreads its
// water back over the cells with one level. The lake's balance closes on days
// of rain, evaporation, drying cells, a flood over the top and release, its
// terms are the ponds' own over the cells wet at the start or the end of the
// step, the water on the cells is the lake's volume, and a lake restarts from
// its cells' ponding, whatever the state file says.
#include "routing_module_fixture.h"

#include "kernel/state_file.h"
#include "routing/reservoirs/lake_table.h"
#include "support/decomposed_raster.h"
#include "support/soil_water_inputs.h"

#include <gtest/gtest.h>
#include <mpi.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr long kCols = 5;
constexpr long kRows = 6;
constexpr double kNoData = -9999.0;
constexpr double kCellSize = 100.0; // m
constexpr double kCellArea = kCellSize * kCellSize;
constexpr double kSeconds = 3600.0; // the routing step of the section
constexpr double kTop = 102.5;      // m: the lake's highest level
constexpr int kLake = 4;

// Subbasin 1 in the two western columns, 2 in the middle, 3 (the outlet,
// which holds the lake) in the east.
double Subbasin(long, long c) { return c <= 2 ? 1.0 : c == 3 ? 2.0 : 3.0; }
bool LakeCell(long r, long c) { return r >= 2 && r <= 5 && c >= 4; }
// Terraced bottom: multiples of 0.25 m between 100 and 101.5 m.
double Elevation(long r, long c) { return 100.0 + 0.25 * static_cast<double>((r * 3 + c * 5) % 7); }

// What the soil gives the cells in step s (mm): rain, a storm over the
// lake's top in step 6 and none in step 3; what the pond could evaporate and
// what the soil below could take (more than some shallow cells hold); a
// rise from below on a few cells.
double Rain(long r, long c, int s) {
  return s == 6 ? 2500.0 : s == 3 ? 0.0 : 2.0 + 0.1 * static_cast<double>((r + c + s) % 5);
}
double Evaporation(long r, long c, int s) {
  return 0.5 + 0.05 * static_cast<double>((r * c + s) % 3);
}
double Infiltration(long r, long c, int s) { return 3.0 * static_cast<double>((r + c + s) % 4); }
double Rise(long r, long c, int s) { return (r * c + s) % 5 == 0 ? 1.5 : 0.0; }
// What the column's other numbers say, which the lake never held: the
// cell's whole evapotranspiration, the flux below the column (m/s) and the
// baseflow.
double CellEvapotranspiration(long r, long c, int s) { return Evaporation(r, c, s) + 1.25; }
double DownwardFlux(long r, long, int s) { return 1e-8 * static_cast<double>((r + s) % 3); }
double Baseflow(long, long c, int) { return 1e-9 * static_cast<double>(c); }

// One cell's pond through the soil's step: its terms (mm) and what is left.
struct PondStep {
  double evaporation = 0.0, exchange = 0.0, overflow = 0.0, after = 0.0;
};
PondStep StepPond(long r, long c, int s, double before, double maxPond) {
  PondStep p;
  double water = before + Rain(r, c, s);
  p.evaporation = std::min(water, Evaporation(r, c, s));
  water -= p.evaporation;
  const double infiltrated = std::min(water, Infiltration(r, c, s));
  p.exchange = Rise(r, c, s) - infiltrated;
  water += p.exchange;
  p.overflow = std::max(0.0, water - maxPond);
  p.after = water - p.overflow;
  return p;
}

const std::string kLakeElement = "SP 4 (file = lake_4.txt V0 = 40000 C0 = 0 0 0 0 0 0 0 0 0)\n";
const std::string kLakeRule = "[abstraction_rule_reservoir_4]\n2\n0 0\n200000 2\n\n";

std::string LakeSection(int readGrids) {
  return Concat("[lake_model]\n1 flow control parameter\n1 initialization\n0 a\n0 b\n", readGrids,
                " readgrids\n");
}

class RoutingLakeBalanceTest : public test::RoutingModuleTest {
protected:
  void SetUp() override {
    DecomposeRaster(kCols, kRows, kNoData, Subbasin);
    settings_.CellSize = kCellSize;
    const auto zero = [](long, long) { return 0.0; };
    grids_.Add("zonegrid_soilmodel", held_.first, held_.last, Subbasin);
    grids_.Add("lake_codes", held_.first, held_.last,
               [](long r, long c) { return LakeCell(r, c) ? kLake : kNoData; });
    grids_.Add("[elevation_model]", held_.first, held_.last, Elevation);
    grids_.Add("max_ponding_storage", held_.first, held_.last,
               [](long r, long c) { return (kTop - Elevation(r, c)) * 1000.0; });
    ponding_ = &grids_.Add("ponding_storage", held_.first, held_.last, zero);
    evapotranspiration_ = &grids_.Add("real_transpiration0", held_.first, held_.last, zero);
    downward_ = &grids_.Add("q_downext", held_.first, held_.last, zero);
    baseflow_ = &grids_.Add("baseflow", held_.first, held_.last, zero);
    rain_ = &grids_.Add("precipitation", held_.first, held_.last, zero);
    pondEvaporation_ = &grids_.Add("pond_evaporation", held_.first, held_.last, zero);
    pondExchange_ = &grids_.Add("pond_exchange", held_.first, held_.last, zero);
    pondOverflow_ = &grids_.Add("pond_overflow", held_.first, held_.last, zero);
  }

  bool OwnLakeCell(long r, long c) const {
    return LakeCell(r, c) && decomposition_.regions.HasRow(r) &&
           decomposition_.regions[r][c] == test::Rank();
  }

  std::unique_ptr<abflussmodellklasse> BuildLake(int readGrids) {
    test::WriteFixture(test::kRoutingControl,
                       Section(test::kTestNetwork + kLakeElement, "1 2000 20 1", 1, 60, "0",
                               LakeSection(readGrids)) +
                           kLakeRule);
    int error = 0;
    auto routing = std::make_unique<abflussmodellklasse>(error, settings_, 0, nullptr, 1);
    EXPECT_EQ(error, 0);
    qg_.Resize(3);
    routing->SetQg(&qg_);
    routing->InitLakeModel(false);
    routing->InitializeDischarges();
    routing->SetInitialized(1);
    return routing;
  }

  // The soil's part of step s on the owners' lake cells: the grids, and the
  // ponding changed by the pond's terms. Returns the terms of the owner's
  // cells wet at the start or the end of the step (m3): rain, evaporation,
  // exchange, overflow.
  std::array<double, 4> SoilStep(int s) {
    std::array<double, 4> wet{};
    for (long r = held_.first; r <= held_.last; ++r)
      for (long c = 1; c <= kCols; ++c) {
        if (!OwnLakeCell(r, c))
          continue;
        const double before = (*ponding_)[r][c];
        const PondStep p = StepPond(r, c, s, before, (kTop - Elevation(r, c)) * 1000.0);
        (*rain_)[r][c] = Rain(r, c, s);
        (*pondEvaporation_)[r][c] = p.evaporation;
        (*pondExchange_)[r][c] = p.exchange;
        (*pondOverflow_)[r][c] = p.overflow;
        (*evapotranspiration_)[r][c] = CellEvapotranspiration(r, c, s);
        (*downward_)[r][c] = DownwardFlux(r, c, s);
        (*baseflow_)[r][c] = Baseflow(r, c, s);
        (*ponding_)[r][c] = p.after;
        if (before > 0.0 || p.after > 0.0) {
          const std::array<double, 4> terms{Rain(r, c, s), p.evaporation, p.exchange, p.overflow};
          for (std::size_t t = 0; t < wet.size(); ++t)
            wet[t] += terms[t] * kCellArea / 1000.0;
        }
      }
    for (int i = 1; i <= 3; ++i)
      qg_.Components[0][static_cast<std::size_t>(i)] = 0.01 + 0.01 * ((s * i) % 4);
    std::array<double, 4> total{};
    MPI_Reduce(wet.data(), total.data(), 4, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);
    return total;
  }

  // The level rank 0 reports, on every process.
  static double SharedLevel(const SP_class *sp) {
    double level = sp != nullptr ? LevelFromVolume(*sp->Lake(), sp->state[0]) : 0.0;
    MPI_Bcast(&level, 1, MPI_DOUBLE, 0, MPI_COMM_WORLD);
    return level;
  }

  // Every owner's lake cells hold the depth above their bottom at `level`.
  void ExpectCellsAtLevel(double level) const {
    for (long r = held_.first; r <= held_.last; ++r)
      for (long c = 1; c <= kCols; ++c)
        if (OwnLakeCell(r, c)) {
          EXPECT_NEAR((*ponding_)[r][c], std::max(0.0, (level - Elevation(r, c)) * 1000.0), 1e-9)
              << r << "," << c;
        }
  }

  test::RegisteredGrids grids_{log_, registry_, kRows, kCols};
  Grid *ponding_ = nullptr;
  Grid *evapotranspiration_ = nullptr;
  Grid *pondEvaporation_ = nullptr;
  Grid *pondExchange_ = nullptr;
  Grid *pondOverflow_ = nullptr;
  Grid *downward_ = nullptr;
  Grid *baseflow_ = nullptr;
  Grid *rain_ = nullptr;
  SubbasinRunoffArrays qg_;
};

TEST_F(RoutingLakeBalanceTest, TheLakeBalanceClosesOverItsCellsAcrossStrips) {
  auto routing = BuildLake(0);
  SP_class *sp = test::Rank() == 0 ? &routing->RoutingSubbasin(2).Reservoir(1) : nullptr;
  if (sp != nullptr) {
    ASSERT_TRUE(sp->IsLake());
    EXPECT_EQ(sp->LakeCells().size(), 8u);
    EXPECT_NEAR(sp->state[0], 40000.0, 1e-9 * 40000.0);
  }
  // The initial volume lies on the cells of every process.
  ExpectCellsAtLevel(SharedLevel(sp));
  const int steps = 8;
  for (int s = 1; s <= steps; ++s) {
    SCOPED_TRACE(Concat("step ", s));
    const std::array<double, 4> wet = SoilStep(s);
    routing->ComputeTimeStep(s, 1, 1, 2012);
    if (sp != nullptr) {
      // The terms are the ponds' own, summed over the cells wet at the start
      // or the end of the step; the overflow leaves with the exchange.
      const auto &m = sp->report.m3;
      const double scale = 1e-12 * (wet[0] + sp->state[0]);
      EXPECT_NEAR(m[ReservoirReport::PREC], wet[0], scale);
      EXPECT_NEAR(m[ReservoirReport::ETR], wet[1], scale);
      EXPECT_NEAR(m[ReservoirReport::QGW], wet[2] - wet[3], scale);
      EXPECT_GT(m[ReservoirReport::ETR], 0.0);
      if (s == 6) {
        EXPECT_GT(wet[3], 0.0); // the storm spills over the top
      }
      // The area wet once the gathered water stands at one level.
      EXPECT_GT(sp->report.area, 0.0);
      EXPECT_LE(sp->report.area, 8 * kCellArea);
      EXPECT_GT(m[ReservoirReport::Qin], 0.0);
      EXPECT_GT(m[ReservoirReport::Qout], 0.0);
      // What the cells gained is all the change of the lake beside its
      // inflow and release: the balance closes.
      EXPECT_NEAR(m[ReservoirReport::Err], 0.0, 1e-9 * sp->state[0]);
    }
    // The lake's water lies on its cells with one level, wherever they are.
    ExpectCellsAtLevel(SharedLevel(sp));
    double onCells = 0.0;
    for (long r = held_.first; r <= held_.last; ++r)
      for (long c = 1; c <= kCols; ++c)
        if (OwnLakeCell(r, c))
          onCells += (*ponding_)[r][c] / 1000.0 * kCellArea;
    double total = 0.0;
    MPI_Reduce(&onCells, &total, 1, MPI_DOUBLE, MPI_SUM, 0, MPI_COMM_WORLD);
    if (sp != nullptr) {
      EXPECT_NEAR(total, sp->state[0], 1e-9 * sp->state[0]);
    }
  }
  routing->FlushOutputs();
  if (sp != nullptr) {
    std::istringstream table(test::ReadWholeFile("lake_4.txt"));
    std::string line;
    int rows = 0;
    double lastVolume = 0.0;
    while (std::getline(table, line)) {
      // Rows start with the year; the header lines with a name.
      if (line.empty() || !std::isdigit(static_cast<unsigned char>(line[0])))
        continue;
      std::istringstream values(line);
      std::vector<double> v;
      double x = 0.0;
      while (values >> x)
        v.push_back(x);
      ASSERT_EQ(v.size(), 34u) << line;
      ++rows;
      // Six digits: the level to the millimetre.
      EXPECT_NEAR(v[4], LevelFromVolume(*sp->Lake(), v[6]), 1e-3); // W[m]
      EXPECT_GT(v[5], 0.0);                                        // A[m2]
      EXPECT_LE(v[5], 8 * kCellArea);
      EXPECT_NEAR(v[32], 0.0, 1e-6); // Err[mm]
      lastVolume = v[6];
    }
    EXPECT_EQ(rows, steps);
    EXPECT_NEAR(lastVolume, sp->state[0], 5e-6 * sp->state[0]); // six digits
    // CTest compares the tables of the runs under one and three processes.
    if (const char *copy = std::getenv("TAVRO_LAKE_TABLES"); copy != nullptr) {
      std::ofstream out(copy, std::ios::trunc);
      out << test::ReadWholeFile(LakeTableFileName(kLake)) << test::ReadWholeFile("lake_4.txt");
      EXPECT_TRUE(out.good()) << copy;
    }
  }
  routing->ReleaseMemory();
}

TEST_F(RoutingLakeBalanceTest, ALakeRestartsFromItsCellsPonding) {
  // The first run: a few steps, then the routing state.
  auto first = BuildLake(0);
  for (int s = 1; s <= 3; ++s) {
    SoilStep(s);
    first->ComputeTimeStep(s, 1, 1, 2012);
  }
  first->WriteStorage();
  const double stored = test::Rank() == 0 ? first->RoutingSubbasin(2).Reservoir(1).state[0] : 0.0;
  first->ReleaseMemory();
  first.reset();

  // Before the restart the cells gain water the state file does not know of.
  for (long r = held_.first; r <= held_.last; ++r)
    for (long c = 1; c <= kCols; ++c)
      if (OwnLakeCell(r, c))
        (*ponding_)[r][c] += 50.0;
  auto second = BuildLake(1);
  second->ReadStorage(abflussmodellklasse::DefaultStateFile, 1);
  SoilStep(4);
  second->ComputeTimeStep(4, 1, 1, 2012);
  if (test::Rank() == 0) {
    SP_class &sp = second->RoutingSubbasin(2).Reservoir(1);
    // The stored volume only stands for the water before the first step.
    EXPECT_EQ(sp.previousState[0], stored);
    const auto &m = sp.report.m3;
    // The cells' 50 mm on 8 cells is the step's error against the state.
    EXPECT_NEAR(m[ReservoirReport::Err], 50.0 / 1000.0 * 8 * kCellArea, 1e-6 * stored);
    EXPECT_NEAR(sp.state[0] - stored - m[ReservoirReport::dV], m[ReservoirReport::Err],
                1e-9 * stored);
  }
  second->ReleaseMemory();
}

} // namespace
} // namespace tavro
