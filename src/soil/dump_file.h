// Dump files of misbehaving soil cells, for the diagnosis of numerical
// trouble: what a thread copies of a cell before the iteration, the three
// plausibility checks after it, the binary file with the copied inputs,
// its name, and what follows a failed check (the run stops with 199, or the
// values are clamped back). Only in dump mode; without it nothing is copied.
#pragma once

#include <array>
#include <span>
#include <string>
#include <vector>

namespace tavro {

class DiagnosticsLog;
class ParallelErrors;

// The inputs of one internal step of a cell, copied before the iteration.
// Layer arrays hold n + 1 values (0..n), land-use arrays L + 1 (0..L).
struct DumpSnapshot {
  void Resize(int maxLayers, int landuseLayers);

  int rootedLayers = 0;     // of the last root water uptake
  double meanSuction = 0.0; // of the last head computation of the thread, m (0 before any)
  double inputRate = 0.0;   // surface input after macropores, m/s
  double baseflow = 0.0;    // the cell's baseflow rate, m/s
  std::vector<double> realTranspiration; // mm, 0..L
  std::vector<double> exchangeIn, exchangeOut, suctionOld, thetaOld, thetaIter, head, zBottom, flux,
      interflowOut, thetaSat, dz, thetaNew, thetaR, theta;
  // Heat model only.
  std::vector<double> liquidFraction, temperature, conductivity, curveSlope, heatCapacity,
      conduction, temperatureStart;
  double heatStepLength = 0.0; // s
  int soilType = 0;
  std::vector<double> landuseCodes; // 1..L (element 0 unused)
  std::array<int, 4> date{};        // hour, day, month, year of the step
  double internalSteps = 0.0;       // n of the call
  double dt = 0.0;                  // s
  double heatSteps = 0.0;           // H of the call
  int heatStepsPerInternalStep = 0;
  double airTemperature = 0.0; // the cell's temperature grid value
};

// The soil temperatures a check reads (heat model on).
struct DumpTemperatures {
  std::span<double> now;         // after the heat steps, 1..n
  std::span<const double> start; // at the start of the internal step, 1..n
  double surface = 0.0;          // air temperature times the n-factor
};

// Results of the checks: the failing layer (0 when it passed) of the
// temperature and water-content checks, and the groundwater check.
struct DumpChecks {
  int temperatureLayer = 0;
  int thetaLayer = 0;
  bool groundwater = false;
  bool Failed() const { return temperatureLayer > 0 || thetaLayer > 0 || groundwater; }
};

// The checks of a cell after its iteration and heat steps; heat null
// without the heat model.
DumpChecks CheckCell(double baseflow, std::span<const double> theta,
                     std::span<const double> thetaSat, int layers, const DumpTemperatures *heat);

// Clamps what failed back into range (baseflow to +-10, water contents to
// 0..theta_s, temperatures of layers 1..n-1 to +-70 and spikes to their
// neighbours).
void RepairCell(const DumpChecks &checks, double &baseflow, std::span<double> theta,
                std::span<const double> thetaSat, int layers, DumpTemperatures *heat);

// Where the file of a cell goes.
struct DumpPlace {
  int row = 0;
  int column = 0;
  int internalStep = 1; // from 1
  int call = 0;         // 1..D when D > 1; 0 with one call per step
  long year = 0, month = 0, day = 0, hour = 0;
};

// "theta(3)_dgw_dump_row_7_col_12_substep_2_2010030506.dmp"; with a call
// number "_call_<c>" follows the internal step.
std::string DumpFileName(const DumpChecks &checks, const DumpPlace &place);

// Writes the snapshot (little-endian int32 and doubles, the heat rows only
// with heat); false when the file could not be written.
bool WriteDumpFile(const std::string &name, const DumpSnapshot &snapshot, int layers,
                   int landuseLayers, bool heat);

inline constexpr int kCloseAfterDumpExitCode = 199;

struct DumpOptions {
  bool closeAfterDump = false;
  bool repairAfterDump = false;
};

// After the checks of a cell: when one failed, writes its file (a WARNING
// with the name when that fails), then records the stop 199 in errors with
// closeAfterDump (returns true: the cell's step ends), or repairs with
// repairAfterDump and logs the DEBUG entry.
bool HandleFailedChecks(const DumpChecks &checks, const DumpPlace &place,
                        const DumpSnapshot &snapshot, int layers, int landuseLayers,
                        const DumpOptions &options, double &baseflow, std::span<double> theta,
                        std::span<const double> thetaSat, DumpTemperatures *heat,
                        DiagnosticsLog &log, ParallelErrors &errors);

} // namespace tavro
