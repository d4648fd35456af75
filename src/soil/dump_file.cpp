// Dump files of misbehaving soil cells.
#include "soil/dump_file.h"

#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace tavro {
namespace {

constexpr double kBaseflowLimit = 10.0;
constexpr double kThetaTolerance = 0.001;
constexpr double kTemperatureLimit = 70.0;
constexpr double kSpike = 0.001;

std::size_t At(int j) { return static_cast<std::size_t>(j); }

// The neighbour temperatures of layer j: its own start value, and the start
// and new values of the layers around it (the surface above layer 1).
int Neighbours(const DumpTemperatures &heat, int j, std::array<double, 5> &out) {
  out[0] = heat.start[At(j)];
  if (j == 1) {
    out[1] = heat.surface;
    out[2] = heat.start[2];
    out[3] = heat.now[2];
    return 4;
  }
  out[1] = heat.start[At(j - 1)];
  out[2] = heat.now[At(j - 1)];
  out[3] = heat.start[At(j + 1)];
  out[4] = heat.now[At(j + 1)];
  return 5;
}

// +1 for an upward spike, -1 for a downward one, 0 otherwise.
int Spike(const DumpTemperatures &heat, int j, double &bound) {
  std::array<double, 5> nb{};
  const int count = Neighbours(heat, j, nb);
  const auto first = nb.begin();
  const double highest = *std::max_element(first, first + count);
  const double lowest = *std::min_element(first, first + count);
  const double t = heat.now[At(j)];
  if (t > highest + kSpike) {
    bound = highest;
    return 1;
  }
  if (t < lowest - kSpike) {
    bound = lowest;
    return -1;
  }
  return 0;
}

bool TemperatureFails(const DumpTemperatures &heat, int j) {
  const double t = heat.now[At(j)];
  double bound = 0.0;
  return t < -kTemperatureLimit || t > kTemperatureLimit || Spike(heat, j, bound) != 0;
}

// Little-endian bytes of the file, whatever the machine's order.
class LittleEndianBuffer {
public:
  void Int(int value) { Bytes(static_cast<std::uint32_t>(value), 4); }
  void Double(double value) { Bytes(std::bit_cast<std::uint64_t>(value), 8); }
  void Doubles(const std::vector<double> &values, std::size_t first, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
      Double(first + i < values.size() ? values[first + i] : 0.0);
  }
  const std::vector<unsigned char> &Data() const { return bytes_; }

private:
  void Bytes(std::uint64_t value, int count) {
    for (int i = 0; i < count; ++i)
      bytes_.push_back(static_cast<unsigned char>((value >> (8 * i)) & 0xffU));
  }
  std::vector<unsigned char> bytes_;
};

LittleEndianBuffer Layout(const DumpSnapshot &s, int layers, int landuseLayers, bool heat) {
  const std::size_t n1 = At(layers) + 1;
  LittleEndianBuffer b;
  b.Int(s.rootedLayers);
  b.Double(s.meanSuction);
  b.Double(s.inputRate);
  b.Double(s.baseflow);
  b.Doubles(s.realTranspiration, 0, At(landuseLayers) + 1);
  for (const auto *column :
       {&s.exchangeIn, &s.exchangeOut, &s.suctionOld, &s.thetaOld, &s.thetaIter, &s.head,
        &s.zBottom, &s.flux, &s.interflowOut, &s.thetaSat, &s.dz, &s.thetaNew, &s.thetaR, &s.theta})
    b.Doubles(*column, 0, n1);
  if (heat) {
    for (const auto *column : {&s.liquidFraction, &s.temperature, &s.conductivity, &s.curveSlope,
                               &s.heatCapacity, &s.conduction, &s.temperatureStart})
      b.Doubles(*column, 0, n1);
    b.Double(s.heatStepLength);
  }
  b.Int(s.soilType);
  b.Doubles(s.landuseCodes, 1, At(landuseLayers));
  for (int part : s.date)
    b.Int(part);
  b.Double(s.internalSteps);
  b.Double(s.dt);
  if (heat) {
    b.Double(s.heatSteps);
    b.Int(s.heatStepsPerInternalStep);
    b.Double(s.airTemperature);
  }
  return b;
}

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};

} // namespace

void DumpSnapshot::Resize(int maxLayers, int landuseLayers) {
  const std::size_t n1 = At(maxLayers) + 1;
  for (auto *column :
       {&exchangeIn,   &exchangeOut, &suctionOld,      &thetaOld,    &thetaIter,    &head,
        &zBottom,      &flux,        &interflowOut,    &thetaSat,    &dz,           &thetaNew,
        &thetaR,       &theta,       &liquidFraction,  &temperature, &conductivity, &curveSlope,
        &heatCapacity, &conduction,  &temperatureStart})
    column->assign(n1, 0.0);
  realTranspiration.assign(At(landuseLayers) + 1, 0.0);
  landuseCodes.assign(At(landuseLayers) + 1, 0.0);
}

DumpChecks CheckCell(double baseflow, std::span<const double> theta,
                     std::span<const double> thetaSat, int layers, const DumpTemperatures *heat) {
  DumpChecks checks;
  checks.groundwater = baseflow < -kBaseflowLimit || baseflow > kBaseflowLimit;
  for (int j = 1; j <= layers && checks.thetaLayer == 0; ++j)
    if (theta[At(j)] < 0.0 || theta[At(j)] > thetaSat[At(j)] + kThetaTolerance)
      checks.thetaLayer = j;
  if (heat != nullptr)
    for (int j = 1; j < layers && checks.temperatureLayer == 0; ++j)
      if (TemperatureFails(*heat, j))
        checks.temperatureLayer = j;
  return checks;
}

void RepairCell(const DumpChecks &checks, double &baseflow, std::span<double> theta,
                std::span<const double> thetaSat, int layers, DumpTemperatures *heat) {
  if (checks.groundwater)
    baseflow = baseflow < -kBaseflowLimit ? -kBaseflowLimit : kBaseflowLimit;
  if (checks.thetaLayer > 0)
    for (int j = 1; j <= layers; ++j) {
      double &t = theta[At(j)];
      if (t < 0.0)
        t = 0.0;
      else if (t > thetaSat[At(j)] + kThetaTolerance)
        t = thetaSat[At(j)];
    }
  if (checks.temperatureLayer > 0 && heat != nullptr)
    for (int j = 1; j < layers; ++j) {
      double &t = heat->now[At(j)];
      double bound = 0.0;
      if (t < -kTemperatureLimit)
        t = -kTemperatureLimit;
      else if (t > kTemperatureLimit)
        t = kTemperatureLimit;
      else if (Spike(*heat, j, bound) != 0)
        t = bound;
    }
}

std::string DumpFileName(const DumpChecks &checks, const DumpPlace &p) {
  std::string name;
  if (checks.temperatureLayer > 0)
    name += "heat(" + std::to_string(checks.temperatureLayer) + ")_";
  if (checks.thetaLayer > 0)
    name += "theta(" + std::to_string(checks.thetaLayer) + ")_";
  if (checks.groundwater)
    name += "dgw_";
  name += "dump_row_" + std::to_string(p.row) + "_col_" + std::to_string(p.column) + "_substep_" +
          std::to_string(p.internalStep);
  if (p.call > 0)
    name += "_call_" + std::to_string(p.call);
  char date[64];
  std::snprintf(date, sizeof date, "_%ld%02ld%02ld%02ld.dmp", p.year, p.month, p.day, p.hour);
  return name + date;
}

bool WriteDumpFile(const std::string &name, const DumpSnapshot &snapshot, int layers,
                   int landuseLayers, bool heat) {
  const LittleEndianBuffer buffer = Layout(snapshot, layers, landuseLayers, heat);
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(name.c_str(), "wb"));
  if (!file)
    return false;
  const auto &bytes = buffer.Data();
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  return std::fclose(file.release()) == 0 && written;
}

bool HandleFailedChecks(const DumpChecks &checks, const DumpPlace &place,
                        const DumpSnapshot &snapshot, int layers, int landuseLayers,
                        const DumpOptions &options, double &baseflow, std::span<double> theta,
                        std::span<const double> thetaSat, DumpTemperatures *heat,
                        DiagnosticsLog &log, ParallelErrors &errors) {
  if (!checks.Failed())
    return false;
  const std::string name = DumpFileName(checks, place);
  if (!WriteDumpFile(name, snapshot, layers, landuseLayers, heat != nullptr))
    log.Entry("WARNING: the dump file " + name + " could not be written[end-entry]");
  if (options.closeAfterDump) {
    errors.Record(kCloseAfterDumpExitCode,
                  "\n\n -------- command line option -closeAfterDump active! "
                  "---------------------------------------------\n\n"
                  " a dumpfile has been written and Tavro aborts now.\n"
                  "-------------------------------------------------------------\n\n");
    return true;
  }
  if (options.repairAfterDump) {
    RepairCell(checks, baseflow, theta, thetaSat, layers, heat);
    log.Entry("DEBUG: \n ---- command line option -repairAfterDump active! --------\n"
              "setting the misbehaving parameter back to what is expected of it :-)"
              "[end-entry]");
  }
  return false;
}

} // namespace tavro
