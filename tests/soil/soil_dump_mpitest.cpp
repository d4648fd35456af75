// Dump files written by the soil-water step on the test catchment divided
// over one or three processes: a cell whose baseflow rate fails the check
// gets its file (with D > 1 one per call), read back field by field; the
// results do not change in dump mode; "-repairAfterDump" clamps the rate and
// logs its DEBUG entry; "-closeAfterDump" ends the run with 199 and its
// entry, also when repair is asked for too.
#include "soil/soil_module_fixture.h"

#include "kernel/fatal_error.h"
#include "support/diagnostics_entries.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace tavro {
namespace {

using test::kSoilColumns;
using test::kSoilNoData;
using test::Logged;
using test::Rank;
using test::SoilSection;
using test::ThreeSubbasins;

// Outside -10..10 m/s: a supply from below that fails the groundwater check.
constexpr double kWildRate = -20.0;

const std::string kCloseEntry = "FATAL: \n\n -------- command line option -closeAfterDump active! "
                                "---------------------------------------------\n\n"
                                " a dumpfile has been written and Tavro aborts now.\n"
                                "-------------------------------------------------------------\n\n";
const std::string kRepairEntry =
    "DEBUG: \n ---- command line option -repairAfterDump active! --------\n"
    "setting the misbehaving parameter back to what is expected of it :-)";

std::vector<std::string> DumpFiles() {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator("."))
    if (entry.path().extension() == ".dmp")
      names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

template <class T> T Field(const std::string &bytes, std::size_t offset) {
  T value{};
  std::memcpy(&value, bytes.data() + offset, sizeof value); // the test machine is little-endian
  return value;
}

class SoilDumpTest : public test::SoilModuleTest {
protected:
  void SetUp() override {
    test::SoilModuleTest::SetUp();
    // A cell of rank 0, so that its log entries reach the diagnostics file.
    std::tie(cellRow_, cellColumn_) = CellOfRankZero();
    AddGrid("precipitation", [](long r, long c) { return 5.0 + r + 0.5 * c; });
  }

  // The module with the table set from outside, so the step takes the
  // baseflow grid's rate: wild where failing(r, c), none elsewhere.
  template <class Failing>
  std::unique_ptr<unsatzonmodellklasse> Prepared(int calls, Failing failing, bool dump, bool close,
                                                 bool repair) {
    auto m = Build(SoilSection(ThreeSubbasins()));
    m->SelectWaterInput(false);
    m->SetSubstepCount(calls);
    m->SetDumpOptions(dump, close, repair);
    m->ExternalGWTableApplied = true;
    ForOwn(*m, [&](long r, long c) {
      m->Grids.Baseflow.Values[r][c] = failing(r, c) ? kWildRate : 0.0;
    });
    return m;
  }

  template <class Body> void ForOwn(const unsatzonmodellklasse &m, Body &&body) const {
    for (long r = m.FirstRow; r <= m.LastRow; ++r)
      for (long c = 1; c <= kSoilColumns; ++c)
        if (Own(r, c) && test::SoilSubbasin(r, c) != kSoilNoData)
          body(r, c);
  }

  // One model step of `calls` calls on 5 January 2012; the theta stacks
  // of the own cells after it.
  bool OneCell(long r, long c) const { return r == cellRow_ && c == cellColumn_; }
  std::string Name(const char *call) const {
    return "dgw_dump_row_" + std::to_string(cellRow_) + "_col_" + std::to_string(cellColumn_) +
           "_substep_1" + call + "_2012010500.dmp";
  }

  long cellRow_ = 0;
  long cellColumn_ = 0;

  std::vector<double> Step(unsatzonmodellklasse &m, int calls) {
    m.BeginTimeStep(0, 5, 1, 2012);
    for (int call = 0; call < calls; ++call) {
      m.ComputeTimeStep(0, 5, 1, 2012);
      // The next call takes the rate again, not what the call booked.
      ForOwn(m, [&](long r, long c) {
        if (r == cellRow_ && c == cellColumn_)
          m.Grids.Baseflow.Values[r][c] = kWildRate;
      });
    }
    std::vector<double> theta;
    ForOwn(m, [&](long r, long c) {
      theta.insert(theta.end(), m.Grids.Theta.Levels[r][c],
                   m.Grids.Theta.Levels[r][c] + m.MaxSoilLayers + 1);
    });
    return theta;
  }
};

struct NamesCase {
  int calls;
  std::vector<std::string> files;
};

TEST_F(SoilDumpTest, AFailingCellGetsItsFileInEveryCall) {
  const NamesCase cases[] = {
      {1, {Name("")}},
      {2, {Name("_call_1"), Name("_call_2")}},
  };
  const auto one = [this](long r, long c) { return OneCell(r, c); };
  for (const NamesCase &c : cases) {
    SCOPED_TRACE(c.calls);
    MPI_Barrier(MPI_COMM_WORLD);
    if (Rank() == 0)
      for (const std::string &name : DumpFiles())
        std::filesystem::remove(name);
    MPI_Barrier(MPI_COMM_WORLD);
    auto plain = Prepared(c.calls, one, false, false, false);
    const std::vector<double> expected = Step(*plain, c.calls);
    plain->ReleaseMemory();
    MPI_Barrier(MPI_COMM_WORLD);
    EXPECT_TRUE(DumpFiles().empty()); // nothing without dump mode

    auto dumped = Prepared(c.calls, one, true, false, false);
    EXPECT_EQ(Step(*dumped, c.calls), expected); // dumps change no result
    const int layers = dumped->MaxSoilLayers;
    const int landuse = dumped->LanduseLayerCount;
    dumped->ReleaseMemory();
    MPI_Barrier(MPI_COMM_WORLD);
    EXPECT_EQ(DumpFiles(), c.files);
    if (Rank() != 0 || DumpFiles() != c.files)
      continue; // the cell's process reads its files back
    const double soilType = Registered("soil_types")[cellRow_][cellColumn_];

    // Without heat: the int32 and three doubles, L + 1 transpirations,
    // fourteen layer rows, the soil type, L codes, the date and n, dt.
    const std::size_t n1 = static_cast<std::size_t>(layers) + 1;
    const auto L = static_cast<std::size_t>(landuse);
    const std::size_t soil = 4 + 3 * 8 + 8 * (L + 1) + 14 * 8 * n1;
    const std::size_t date = soil + 4 + 8 * L;
    for (const std::string &name : c.files) {
      const std::string bytes = test::ReadWholeFile(name);
      ASSERT_EQ(bytes.size(), date + 16 + 16);
      EXPECT_EQ(Field<double>(bytes, 4 + 16), kWildRate);
      EXPECT_EQ(Field<std::int32_t>(bytes, soil), static_cast<std::int32_t>(soilType));
      EXPECT_EQ(Field<std::int32_t>(bytes, date), 0);         // hour
      EXPECT_EQ(Field<std::int32_t>(bytes, date + 4), 5);     // day
      EXPECT_EQ(Field<std::int32_t>(bytes, date + 8), 1);     // month
      EXPECT_EQ(Field<std::int32_t>(bytes, date + 12), 2012); // year
      EXPECT_EQ(Field<double>(bytes, date + 16), 1.0);        // one internal step (methode 2)
      EXPECT_EQ(Field<double>(bytes, date + 24), 86400.0 / c.calls);
      // The water content row holds the layers' values of the snapshot.
      const std::size_t theta = 4 + 3 * 8 + 8 * (L + 1) + 13 * 8 * n1;
      for (std::size_t j = 1; j < n1; ++j) {
        const double value = Field<double>(bytes, theta + 8 * j);
        EXPECT_GT(value, 0.0);
        EXPECT_LT(value, 1.0);
      }
    }
  }
}

TEST_F(SoilDumpTest, RepairClampsTheRateAndLogsIt) {
  const auto one = [this](long r, long c) { return OneCell(r, c); };
  for (const bool repair : {false, true}) {
    SCOPED_TRACE(repair);
    auto m = Prepared(1, one, true, false, repair);
    m->BeginTimeStep(0, 5, 1, 2012);
    m->ComputeTimeStep(0, 5, 1, 2012);
    if (Own(cellRow_, cellColumn_)) {
      // The booked baseflow of the one internal step: the rate times t_ms.
      const double rate = repair ? -10.0 : kWildRate;
      EXPECT_EQ(m->Grids.Baseflow.Values[cellRow_][cellColumn_], rate * 86400000.0);
    }
    m->ReleaseMemory();
    if (Rank() == 0) {
      EXPECT_EQ(Logged(kRepairEntry), repair);
    }
  }
}

TEST_F(SoilDumpTest, CloseEndsTheRunWith199AndWinsOverRepair) {
  for (const bool repairToo : {false, true}) {
    SCOPED_TRACE(repairToo);
    // Every cell fails, so that every process meets the stop.
    auto m = Prepared(
        1, [](long, long) { return true; }, true, true, repairToo);
    m->BeginTimeStep(0, 5, 1, 2012);
    EXPECT_EQ(test::ExitCodeOf([&] { m->ComputeTimeStep(0, 5, 1, 2012); }), 199);
    MPI_Barrier(MPI_COMM_WORLD);
    EXPECT_FALSE(DumpFiles().empty()); // the file is written before the stop
    if (Rank() == 0) {
      EXPECT_TRUE(Logged(kCloseEntry));
      EXPECT_FALSE(Logged(kRepairEntry));
    }
    m->ReleaseMemory();
  }
}

} // namespace
} // namespace tavro
