// The small fixture catchment of tests/data/setup for the tests of the staged
// set-up: its files copied into the test's directory with chosen changes of
// the control file, grids of its shape, and one run of the set-up to its end
// or to its first fatal error, on one process or several.
#pragma once

#include "kernel/diagnostics_log.h"
#include "kernel/grid_registry.h"
#include "raster/output/statistics_registry.h"
#include "setup/defaultini.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tavro::test {

inline std::string SetupFixtureDirectory() {
  const std::string file = __FILE__;
  return file.substr(0, file.find_last_of('/')) + "/../data/setup/";
}

// The fixture's zone grid, row by row (nodata -9999): zones 3, 7 and 10.
inline constexpr double kCatchmentZone[5][6] = {{-9999, 3, 3, 7, 7, -9999},
                                                {3, 3, 3, 7, 7, 7},
                                                {-9999, 3, 10, 10, 7, -9999},
                                                {10, 10, 10, 10, 7, 7},
                                                {-9999, -9999, 10, 10, -9999, -9999}};
inline constexpr long kCatchmentRows = 5;
inline constexpr long kCatchmentColumns = 6;
inline constexpr double kCatchmentCellSize = 1000.0;

inline double ZoneAt(long r, long c) { return kCatchmentZone[r - 1][c - 1]; }

// An ASCII grid of the catchment's header with value(row, column) in every cell.
inline std::string CatchmentGrid(const std::function<double(long, long)> &value) {
  std::string text = "ncols 6\nnrows 5\nxllcorner 3400000\nyllcorner 5200000\n"
                     "cellsize 1000\nnodata_value -9999\n";
  char number[64];
  for (long r = 1; r <= kCatchmentRows; ++r) {
    for (long c = 1; c <= kCatchmentColumns; ++c) {
      std::snprintf(number, sizeof number, "%.17g ", value(r, c));
      text += number;
    }
    text += "\n";
  }
  return text;
}

// Copies the fixture into the working directory, the control file with each
// (from, to) replaced once (read from the fixture itself on every process, so
// a rewrite by rank 0 never races with a read elsewhere), and a fixed speed
// per process so that the shares are equal without the speed benchmark.
inline void
WriteCatchment(const std::vector<std::pair<std::string, std::string>> &replacements = {}) {
  for (const char *name :
       {"zone.asc", "elevation.asc", "soil_depth.asc", "albedo.asc", "river.asc", "vg_read.asc"})
    WriteFixture(name, ReadWholeFile(SetupFixtureDirectory() + name));
  std::string control = ReadWholeFile(SetupFixtureDirectory() + "catchment.ctl");
  for (const auto &[from, to] : replacements) {
    const std::size_t at = control.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    control.replace(at, from.size(), to);
  }
  WriteFixture("catchment.ctl", control);
  WriteFixture("MpiSpeedFactor.dat", "1\n");
}

// The control-file change that declares further standard grids: the fixture
// has four; each entry is a whole definition line.
inline std::pair<std::string, std::string>
MoreStandardGrids(const std::vector<std::string> &definitions) {
  std::string lines;
  for (const std::string &line : definitions)
    lines += line + "\n";
  return {"4 number of standard grids\n",
          std::to_string(4 + definitions.size()) + " number of standard grids\n" + lines};
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
  int code = 0;  // exit code thrown by the set-up, 0 when it finished
  int calls = 0; // calls of InitStep made
  std::string console;
};

struct SetupRun {
  DiagnosticsLog log{"Tavro_Diag.xml", 4};
  GridRegistry registry;
  StatisticsRegistry statistics{200};
  std::unique_ptr<defaultini> setup;
  int calls = 0;

  // The staged set-up on "catchment.ctl" until it reports done or stops.
  SetupOutcome Run() {
    SetupOutcome outcome;
    testing::internal::CaptureStdout();
    int error = 0;
    setup =
        std::make_unique<defaultini>(error, log, "catchment.ctl", &statistics, 200, 2, &registry);
    outcome.code = error;
    try {
      bool done = false;
      while (error == 0 && !done && calls < 100) {
        ++calls;
        setup->InitStep(done);
      }
    } catch (int code) {
      outcome.code = code;
    }
    outcome.calls = calls;
    outcome.console = testing::internal::GetCapturedStdout();
    return outcome;
  }

  // Calls check for every valid cell this process holds the owner's value
  // of: its own cells and its halo copies (rank 0: every valid cell).
  void ForHeldValidCells(const std::function<void(long, long)> &check) const {
    const MpiDecomposition &d = setup->Decomposition();
    const StripRows rows = d.HeldRows();
    for (long r = rows.first; r <= rows.last; ++r)
      for (long c = 1; c <= kCatchmentColumns; ++c) {
        if (ZoneAt(r, c) == -9999)
          continue;
        const bool own = d.regions[r][c] == d.rank;
        const bool halo = d.halo.HasRow(r) && d.halo[r][c] >= 0;
        if (d.rank == 0 || own || halo)
          check(r, c);
      }
  }

  // Calls check for every valid cell whose value this process holds from its
  // owner: its own cells and its halo copies.
  void ForOwnAndHaloCells(const std::function<void(long, long)> &check) const {
    const MpiDecomposition &d = setup->Decomposition();
    const StripRows rows = d.HeldRows();
    for (long r = rows.first; r <= rows.last; ++r)
      for (long c = 1; c <= kCatchmentColumns; ++c) {
        const bool own = d.regions[r][c] == d.rank;
        const bool halo = d.halo.HasRow(r) && d.halo[r][c] >= 0;
        if (ZoneAt(r, c) != -9999 && (own || halo))
          check(r, c);
      }
  }

  const Grid &GridOf(const char *identifier) const {
    const int index = registry.FindGrid(identifier, false);
    if (index == 0)
      throw std::runtime_error(std::string("no grid ") + identifier);
    return *registry[index].Data;
  }
};

using CatchmentSetup = SetupRun;

} // namespace tavro::test
