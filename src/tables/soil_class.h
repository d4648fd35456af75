// One soil type of the soil table: per-layer van Genuchten / Mualem
// parameters, thermal properties and the scalar macropore, interflow and
// storage parameters, with the retention and conductivity tables on 30 fixed
// suctions, the freezing curve, and the fast lookups that the soil-water
// module calls for every cell and substep (const, allocation-free and safe to
// call from many threads at once).
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace tavro {

class soil_class {
public:
  // Number of suction steps of the retention and conductivity tables.
  static constexpr int RetentionSteps = 30;
  using RetentionArray = std::array<double, RetentionSteps + 1>;
  // Suctions (m) of the tables; element 0 and 1 are both 0.
  static constexpr RetentionArray SuctionSteps{0,    0,    0.0005, 0.001, 0.002, 0.005, 0.007, 0.01,
                                               0.02, 0.03, 0.05,   0.07,  0.1,   0.15,  0.2,   0.3,
                                               0.4,  0.6,  0.8,    1.2,   1.6,   2.6,   3.45,  6.9,
                                               20,   35,   50,     75,    100,   125,   150};
  // Temperature steps of the freezing curve.
  static constexpr int FreezingSteps = 1000;
  // Longest soil type name (the readers refuse longer ones).
  static constexpr std::size_t MaxNameLength = 199;

  // The three tables of one layer, indexed 0..RetentionSteps along SuctionSteps.
  struct RetentionTable {
    RetentionArray ThetaForKrel{};
    RetentionArray KrelAtSuction{};
    RetentionArray ThetaAtSuction{};
  };

  soil_class() = default;
  explicit soil_class(int code) : Code(code) {}

  // Sizes every per-layer array to layerCount + 1 elements (layer 0 mirrors
  // layer 1), zero-filled, together with the retention and freezing tables.
  void ResizeLayers(int layerCount);

  // Fills the retention tables of a layer from its theta_sat, theta_res,
  // alpha, Par_n, Par_m and Par_tau (layers sized by ResizeLayers).
  void MakeRetentionTables(int layer);
  // Fills the freezing curve of a layer; x is the suction equivalent of one
  // degree of freezing-point depression (m per degree).
  void MakeFreezingCurve(int layer, double x);

  const std::vector<double> &GetKsat() const { return ksat; }

  // Suction (m) at water content theta, linear in the water content.
  double GetSuction(int layer, double theta) const;
  // Relative conductivity at the smaller of the two water contents.
  double GetKrel(int layer, double theta1, double theta2) const;
  // Water content at suction h (m).
  double GetTheta(int layer, double h) const;

  // For layers 1..LayerCount: liquid share of the soil water at temperature
  // T[i] (degC) and water content theta[i]. The spans are indexed by layer
  // (element 0 unused) and need LayerCount + 1 elements; an empty T leaves
  // fraction untouched.
  void GetUnfrozenWaterFraction(std::span<double> fraction, std::span<const double> T,
                                std::span<const double> theta) const;
  // As above, the slope of the liquid share per degree.
  void GetUnfrozenWaterSlope(std::span<double> slope, std::span<const double> T,
                             std::span<const double> theta) const;
  // For layers 1..LayerCount: volumetric heat capacity of water, ice and dry
  // soil plus extra[i]; c_ice goes linearly from c_ice0 at 0 degC to c_ice20
  // at -20 degC.
  void GetHeatCapacity(std::span<const double> T, std::span<double> result,
                       std::span<const double> fraction, std::span<const double> extra,
                       std::span<const double> theta, double rho, double c_liquid, double c_ice0,
                       double c_ice20) const;

  const RetentionTable &Retention(int layer) const { return Retention_[layer]; }
  std::span<const double> UnfrozenFraction(int layer) const {
    return CurveOf(UnfrozenFraction_, layer);
  }
  std::span<const double> UnfrozenSlope(int layer) const { return CurveOf(UnfrozenSlope_, layer); }
  std::span<const double> FreezingShift(int layer) const { return CurveOf(FreezingShift_, layer); }

  // Record fields; the set-up and the modules read them directly.
  std::string Name;
  int Code = 0;   // record 0 of a table: the number of soil types
  int Method = 0; // 1 for an old one-line entry, 0 for a block
  double FCap = 0;
  double mSB = 0;
  double mSBMinusFCap = 0;
  double ksat_topmodel = 0;
  double suction = 0;
  std::array<int, 2> RetentionPoints{0, 0};
  int LayerCount = 0;
  int HorizonCount = 0;
  std::vector<int> HorizonLayers; // 0..HorizonCount, element 0 = total layers

  // Per-layer arrays 0..LayerCount.
  std::vector<double> ksat;
  std::vector<double> thickness;
  std::vector<double> theta_sat;
  std::vector<double> theta_res;
  std::vector<double> Par_n;
  std::vector<double> Par_m;
  std::vector<double> alpha;
  std::vector<double> Par_tau;
  std::vector<double> k_recession;
  std::vector<double> DryHeatCapacity;   // -1 = not given
  std::vector<double> DryDensity;        // -1 = not given
  std::vector<double> DryThermalConduct; // -1 = not given

  double k_reduction = 0;
  double maxratio = 0;
  double EvapMaxDepth = 0.1;
  double MaxInterflowDepth = 2.0;
  double ThicknessScaling = 1.0;
  double TotalDepth = 0;
  double PMacroThresh = 1.0;
  double MacroCapacity = 0;
  double MacroDepth = 0;
  double CapacityRedu = 1.0;
  // sand, silt, clay, stones1..stones4
  std::array<double, 7> GrainSizeDist{0.3333, 0.3333, 0.3334, 0, 0, 0, 0};
  std::array<double, 11> SU_PAR{}; // SU_PAR00..SU_PAR10
  double KMinFrozenSoil = -1;
  double LogKMinFrozenSoil = -20;
  double FreezingMinTemperature = -10;
  double HeatCache1 = -1;
  double HeatCache2 = -1;

private:
  static std::span<const double> CurveOf(const std::vector<double> &curve, int layer) {
    return std::span<const double>(curve).subspan(
        static_cast<std::size_t>(layer) * (FreezingSteps + 1), FreezingSteps + 1);
  }
  // Temperature shift of the freezing curve at water content theta.
  double TemperatureShift(int layer, double theta) const;
  // Interpolates a freezing curve of the layer at the (shifted) temperature.
  double InterpolateCurve(const std::vector<double> &curve, int layer, double shiftedT) const;

  std::vector<RetentionTable> Retention_;
  // Freezing curves of layers 0..LayerCount, FreezingSteps + 1 values each.
  std::vector<double> UnfrozenFraction_;
  std::vector<double> UnfrozenSlope_;
  std::vector<double> FreezingShift_;
};

} // namespace tavro
