// The small fixture catchment of the set-up tests (tests/data/setup): copied
// into the test's directory with replacements in its control file, and one
// staged set-up run over it that records how it ended.
#pragma once

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "raster/statistics_registry.h"
#include "setup/defaultini.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tavro::test {

inline std::string CatchmentDirectory() {
  const std::string file = __FILE__;
  return file.substr(0, file.find_last_of('/')) + "/../data/setup/";
}

// The zone grid of the catchment (rows 1..5, columns 1..6).
inline bool IsCatchmentCell(long r, long c) {
  constexpr double N = -9999.0;
  constexpr double zone[5][6] = {{N, 3, 3, 7, 7, N},
                                 {3, 3, 3, 7, 7, 7},
                                 {N, 3, 10, 10, 7, N},
                                 {10, 10, 10, 10, 7, 7},
                                 {N, N, 10, 10, N, N}};
  return zone[r - 1][c - 1] != N;
}

// An ASCII grid of the catchment's raster with the value of every cell.
inline std::string CatchmentGridText(const std::function<double(long, long)> &value) {
  std::string text = "ncols 6\nnrows 5\nxllcorner 3400000\nyllcorner 5200000\n"
                     "cellsize 1000\nnodata_value -9999\n";
  for (long r = 1; r <= 5; ++r) {
    for (long c = 1; c <= 6; ++c)
      text += std::to_string(value(r, c)) + " ";
    text += "\n";
  }
  return text;
}

// Writes the catchment with each (from, to) replaced once in the control file.
inline void
WriteCatchment(const std::vector<std::pair<std::string, std::string>> &replacements = {}) {
  for (const char *name :
       {"zone.asc", "elevation.asc", "soil_depth.asc", "albedo.asc", "river.asc", "vg_read.asc"})
    WriteFixture(name, ReadWholeFile(CatchmentDirectory() + name));
  std::string control = ReadWholeFile(CatchmentDirectory() + "catchment.ctl");
  for (const auto &[from, to] : replacements) {
    const std::size_t at = control.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    control.replace(at, from.size(), to);
  }
  WriteFixture("catchment.ctl", control);
  // A fixed time per process: equal shares without the speed benchmark.
  WriteFixture("MpiSpeedFactor.dat", "1\n");
}

// A land-use type in the old one-line form: albedo, twelve monthly rsc
// values, four Julian days and the LAI, Z0, VCF, root depth and root
// distribution values.
inline std::string LanduseLine(int code, const std::string &name) {
  return std::to_string(code) + " " + name +
         " 0.15 110 120 130 140 150 160 170 180 190 200 210 220 120 150 250 300 1 2 3 4 0.5 0.6 "
         "0.7 0.8 0.1 0.2 0.3 0.4 0.3 0.4 0.5 0.6 2.5 4.5\n";
}

struct SetupOutcome {
  int code = 0; // the exit code thrown, 0 when the set-up ended normally
  int calls = 0;
  std::string console;
};

struct CatchmentSetup {
  DiagnosticsLog log{"Tavro_Diag.xml", 4};
  GridRegistry registry;
  StatisticsRegistry statistics{200};
  std::unique_ptr<defaultini> setup;

  const Grid &GridOf(const char *identifier) const {
    const int index = registry.FindGrid(identifier, false);
    EXPECT_GT(index, 0) << identifier;
    return *registry[index].Data;
  }

  // Calls check for every catchment cell whose value this process holds from
  // its owner: its own cells and its halo copies.
  void ForOwnAndHaloCells(const std::function<void(long, long)> &check) const {
    const MpiDecomposition &d = setup->Decomposition();
    const StripRows rows = d.HeldRows();
    for (long r = rows.first; r <= rows.last; ++r)
      for (long c = 1; c <= 6; ++c) {
        const bool own = d.regions[r][c] == d.rank;
        const bool halo = d.halo.HasRow(r) && d.halo[r][c] >= 0;
        if (IsCatchmentCell(r, c) && (own || halo))
          check(r, c);
      }
  }

  // Runs every step of the set-up of "catchment.ctl", capturing the console.
  SetupOutcome Run() {
    SetupOutcome outcome;
    testing::internal::CaptureStdout();
    int error = 0;
    setup =
        std::make_unique<defaultini>(error, log, "catchment.ctl", &statistics, 200, 2, &registry);
    outcome.code = error;
    try {
      bool done = false;
      while (error == 0 && !done && outcome.calls < 100) {
        ++outcome.calls;
        setup->InitStep(done);
      }
    } catch (int code) {
      outcome.code = code;
    }
    outcome.console = testing::internal::GetCapturedStdout();
    return outcome;
  }
};

} // namespace tavro::test
