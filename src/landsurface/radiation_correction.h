// The radiation correction module (section "[radiation_correction]"): for
// every cell the factor by which its slope, its aspect and the shadows of the
// surrounding terrain change the clear-sky direct radiation of a step against
// a horizontal unshaded surface ("radiation_correction", handed to
// evapotranspiration and snow), the sum of the capped inclined beam
// ("Ieff_max"), the shadows of the last sub-step ("Shadow") and, by methods 2
// and 4, the temperature corrected by the factor ("corr_temperature"). Steps
// longer than 720 minutes also get "temperature_night", the temperature at the
// start of the step, whether the module is on or off.
//
// Methods: 1 shadows, 2 shadows and temperature, 3 exposure only, 4 exposure
// and temperature; any other number counts as 2. The correction is computed
// every "number if timesteps" calls in "number of splittings" sub-steps; the
// shadows of a sub-step are cast by rank 0 over the whole raster and sent to
// the owners of the cells. The corrected temperature follows the current
// temperature in every call, with the factor of the last computation.
//
// The geometry is in radiation/exposure_geometry.h, the shadows in
// radiation/shadow_casting.h; this class owns the grids and the loops.
#pragma once

#include "kernel/grid.h"
#include "kernel/module_settings.h"
#include "kernel/registry_entries.h"
#include "kernel/teilmodellklasse.h"

#include <string>

namespace tavro {

class expokorrklasse : public teilmodellklasse {
public:
  static constexpr const char *FixedName = "radiation_correction";
  static constexpr int NoFreeGridExitCode = 12;
  static constexpr int CloseExitCode = 11;
  static constexpr int ControlFileExitCode = 17;

  // error: 0, or the exit code (also thrown) of a failed construction.
  // Reads positions 3 to 12 of the section when the module is on: a number of
  // splittings below 1 is a control-file error (17). Needs the elevation
  // model (registry entry 2), "slope_aspect" and "slope_angle" (33 when
  // missing), with spin-up the response-unit grids.
  expokorrklasse(int &error, const ModuleSettings &settings);
  ~expokorrklasse() override;

  // The correction grid when the flow control parameter is exactly 1, none
  // otherwise (the module may compute without handing it over).
  virtual Grid *GetRadiationCorrectionGrid();
  // One step (collective): the night temperature, then, when the module is on,
  // the correction on every n-th call and the corrected temperature in every
  // call, and the grid output.
  void ComputeTimeStep(long hour, long day, long month, long year) override;
  // Frees the grids and their registry entries, then the base release.
  void ReleaseMemory() override;

  int Method() const { return method_; }
  int StepsPerComputation() const { return stepsPerComputation_; }
  int Splittings() const { return splittings_; }
  double TemperatureScaling() const { return temperatureScaling_; }

private:
  void ReadSectionValues();
  void LinkInputGrids();
  void RegisterOutputGrids();
  // A zero grid (nodata outside the zones) registered at the first free entry.
  int RegisterNewGrid(Grid &grid, long firstRow, long lastRow, const std::string &fileName,
                      const std::string &identifier, int writecode);
  bool CastsShadows() const { return method_ == 1 || method_ == 2; }

  // "temperature_night" from the temperature at the start of the step.
  void CopyNightTemperature();
  // The sub-steps of a computing step: daylight, beam, shadows and the
  // inclined beam of every cell; then the factors.
  void ComputeCorrection();
  // Every shadow cell this process works on back to sunlit.
  void ResetShadows();
  // Rank 0 casts the shadows of the sun over the whole raster; every process
  // receives those of its cells (collective).
  void ShadowsOfSubStep(double azimuth, double elevation);
  void FinishCorrection(double horizontalSum);
  // The corrected temperature from the current temperature and the kept factor.
  void CorrectTemperature();
  void WriteOutput();

  int method_ = 2;
  std::string temperatureFile_;
  int temperatureWritecode_ = 0;
  double temperatureScaling_ = 0.0;
  std::string correctionFile_;
  int correctionWritecode_ = 0;
  std::string shadowFile_;
  int shadowWritecode_ = 0;
  int stepsPerComputation_ = 1;
  int splittings_ = 1;
  int stepCounter_ = 0;
  // Whether the last computation saw any sun (its horizontal sum above 0).
  bool sunSeen_ = false;

  const Grid *zone_ = nullptr;
  const Grid *elevation_ = nullptr;
  const Grid *aspect_ = nullptr;
  const Grid *slope_ = nullptr;
  const Grid *sunshine_ = nullptr;
  const Grid *temperature_ = nullptr;

  Grid correction_;
  Grid shadow_;
  Grid inclinedBeam_; // "Ieff_max"
  Grid correctedTemperature_;
  Grid nightTemperature_;
  bool shadowsOfWholeRaster_ = false; // rank 0 with shadows: rows 1..NRows
  long shadowFirstRow_ = 0;
  long shadowLastRow_ = -1;
  int correctionIndex_ = 0;
  int shadowIndex_ = 0;
  int inclinedBeamIndex_ = 0;
  int correctedTemperatureIndex_ = 0;
  int nightTemperatureIndex_ = 0;
  // Declared last: its entries are released before the grids go.
  RegistryEntries entries_;
};

} // namespace tavro
