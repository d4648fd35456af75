// Test fixture of the routing module: a zone table of subbasins with their
// areas, a "[routing_model]" section written by the test, the module built
// from it, and a runner that routes the network step by step with runoff the
// test feeds, as the module's time step will.
#pragma once

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/module_settings.h"
#include "kernel/tracer_info.h"
#include "raster/handover/tracer_grid_hooks.h"
#include "routing/routing_model.h"
#include "support/decomposed_raster.h"
#include "support/diagnostics_entries.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tavro::test {

inline constexpr const char *kRoutingControl = "control.txt_0.$$$";

// Ten values of a channel behind their labels.
inline std::string ChannelText(double kMain, double kFlood, double bMain, double bFlood,
                               double depth, double mMain, double mFlood, double slope,
                               double length, double area) {
  return Concat(" kh= ", kMain, " kv= ", kFlood, " Bm= ", bMain, " Bv= ", bFlood, " Tm= ", depth,
                " Mm= ", mMain, " Mv= ", mFlood, " I= ", slope, " L= ", length, " AE= ", area);
}

// The example network of the tests: subbasin 1 flows into 2 (channel "OL 1"),
// 2 into the outlet 3 ("OL 2").
inline const std::string kTestOl1 =
    "OL 1" + ChannelText(2, 6, 5, 50, 1, 25, 15, 0.005, 6000, 37) + "\n";
inline const std::string kTestOl2 =
    "OL 2" + ChannelText(3, 8, 8, 80, 1.5, 30, 15, 0.003, 8000, 61) + "\n";
inline const std::string kTestNetwork =
    "TG 2 (middle) A= 61 F= 1\n" + kTestOl1 + "TG 3 (outlet) A= 114 F= 1\n" + kTestOl2;

class RoutingModuleTest : public testing::Test {
protected:
  RoutingModuleTest() {
    InstallTracerGridHooks(registry_);
    settings_.Log = &log_;
    settings_.ControlFileName = kRoutingControl;
    settings_.Registry = &registry_;
    settings_.EndDate = ModelDate{0, 1, 1, 2012}; // the start of the model time
    settings_.NCols = 4;
    settings_.NRows = 3;
    settings_.FirstRow = 1;
    settings_.LastRow = 3;
    SetZones({{1, 37.0}, {2, 24.0}, {3, 53.0}});
  }

  // Subbasins (code, area in km2) in ascending order of code.
  void SetZones(const std::vector<std::pair<int, double>> &zones) {
    int maxCode = 0;
    double total = 0.0;
    for (const auto &[code, area] : zones) {
      maxCode = std::max(maxCode, code);
      total += area;
    }
    zoneIndex_ = OneBasedArray<int>(static_cast<std::size_t>(maxCode), 0);
    zoneTable_ = OneBasedArray<ZoneRecord>(zones.size());
    zoneTable_[0].rel = total;
    for (std::size_t j = 0; j < zones.size(); ++j) {
      zoneIndex_[static_cast<std::size_t>(zones[j].first)] = static_cast<int>(j) + 1;
      zoneTable_[j + 1].zonenwert = zones[j].first;
      zoneTable_[j + 1].rel = zones[j].second / total;
    }
    settings_.ZoneIndex = &zoneIndex_;
    settings_.ZoneTable = &zoneTable_;
    settings_.ZoneCount = static_cast<int>(zones.size());
    settings_.MaxZoneCode = maxCode;
  }

  // The section with its values and descriptions, an empty line after them.
  static std::string Section(const std::string &descriptions,
                             const std::string &line3 = "1 1000 10 1", int flowControl = 1,
                             double timeStep = 60, const std::string &columns = "0",
                             const std::string &lakes = "[lake_model]\n0\n") {
    return Concat("[routing_model]\n", flowControl, " flow control parameter\n", timeStep,
                  " time interval\n", line3, " qspec min, max, intervals, sub-intervals\n",
                  "discharge.stat 0 routed discharges\nobserved.dat observed discharges\n", columns,
                  " column descriptors\n0 fit offset\n", descriptions, "\n", lakes);
  }

  std::unique_ptr<abflussmodellklasse> Build(const std::string &control, int tracerCount = 0) {
    WriteFixture(kRoutingControl, control);
    int error = 0;
    return std::make_unique<abflussmodellklasse>(error, settings_, tracerCount,
                                                 tracerCount > 0 ? &tracers_ : nullptr, 1);
  }

  // A raster of cols x rows decomposed over the processes by its zones; the
  // settings take the process's strip, the row ranges and nodata.
  void DecomposeRaster(long cols, long rows, double noData,
                       const std::function<double(long, long)> &zoneOf) {
    Grid whole;
    decomposition_ = DecomposeZones(whole, cols, rows, noData, zoneOf, log_);
    held_ = decomposition_.HeldRows();
    settings_.NCols = static_cast<int>(cols);
    settings_.NRows = static_cast<int>(rows);
    settings_.FirstRow = static_cast<int>(decomposition_.strip.first);
    settings_.LastRow = static_cast<int>(decomposition_.strip.last);
    settings_.RowRanges = &decomposition_.rowRanges;
    settings_.Halo.Decomposition = &decomposition_;
    settings_.CellCounts = &decomposition_.cellCounts;
    settings_.NoData = noData;
  }

  // The exit code the construction ends with, -1 when it succeeds.
  int BuildFailure(const std::string &control) {
    return ExitCodeOf([&] { Build(control); });
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  GridRegistry registry_;
  OneBasedArray<int> zoneIndex_;
  OneBasedArray<ZoneRecord> zoneTable_;
  OneBasedArray<TracerInfo> tracers_{9};
  ModuleSettings settings_;
  MpiDecomposition decomposition_; // with DecomposeRaster
  StripRows held_;
};

// Routes the network of a built module: set-up with an initial runoff per
// subbasin, then steps with the runoff the test gives (mm per step).
class NetworkRun {
public:
  NetworkRun(abflussmodellklasse &module, const std::vector<double> &initial) : m_(module) {
    RoutingFlowArrays &f = m_.Flows();
    SetRunoff(initial);
    for (int n = 1; n <= m_.RoutingSubbasinCount(); ++n)
      m_.RoutingSubbasin(n).SetInputArrays(&f);
    for (int n = 1; n <= m_.RoutingSubbasinCount(); ++n)
      m_.RoutingSubbasin(n).InitChannelStorages();
  }

  // Runoff of subbasins 1..nsub (entry 0 unused).
  void SetRunoff(const std::vector<double> &runoff) {
    for (std::size_t i = 1; i < runoff.size(); ++i)
      m_.Flows().RoutingInput[0][static_cast<int>(i)] = runoff[i];
  }
  // Copies the step's input into every sub-interval.
  void SpreadOverSubIntervals() {
    RoutingFlowArrays &f = m_.Flows();
    for (int k = 0; k < f.RoutingInput.Components(); ++k)
      for (int s = 1; s <= f.SubIntervals; ++s)
        for (int e = 1; e <= f.SubbasinCount + f.InflowCount; ++e)
          f.SubIntervalInput.Row(k, s)[e] = f.RoutingInput[k][e];
  }
  // Routes every routing subbasin in the module's order.
  void Route() {
    for (const int n : m_.ComputationOrder())
      m_.RoutingSubbasin(n).Route(2012, 1, 1, 0);
  }
  double Step(const std::vector<double> &runoff, int outlet) {
    SetRunoff(runoff);
    SpreadOverSubIntervals();
    Route();
    return m_.Flows().RoutingInput[0][outlet];
  }

private:
  abflussmodellklasse &m_;
};

} // namespace tavro::test
