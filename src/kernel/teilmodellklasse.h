// Base of every sub-model (module). Its constructor does what every module's
// construction shares: store the common settings, find the module's section
// "[<module name>]" in the substituted control-file copy, read "flow control
// parameter" (0 = module off) and "time interval" (minutes), check the time
// step against min_to_int_end, and leave the copy open at the module's next
// value when the module is on. It also provides the base step with its
// progress line, the floating-point-error report, the accessors of the time
// loop and the solar geometry of the module's position.
//
// Failures throw the exit code (module constructors store it in their error
// out-parameter): copy not opened 28, section or values missing 17, time
// interval not above 0 minutes 17, min_to_int_end longer than the step 63,
// copy of an inactive module not closed 11.
#pragma once

#include "kernel/modelobject.h"
#include "kernel/module_settings.h"
#include "kernel/solar_geometry.h"
#include "kernel/tracer_record.h"

#include <array>
#include <atomic>
#include <string>

namespace tavro {

class StatisticsRegistry;
struct TracerInfo;
struct CellIterationSetup;

class teilmodellklasse : public modelobject {
public:
  static constexpr int OpenErrorExitCode = 28;
  static constexpr int ControlFileExitCode = 17;
  static constexpr int TimeStepExitCode = 63;
  static constexpr int CloseErrorExitCode = 11;
  static constexpr int OtherFailureExitCode = 103; // a failure that is not an exit code

  // sectionMandatory false (the special output): a missing section logs the
  // control-file error and leaves the module off instead of ending the run.
  explicit teilmodellklasse(const ModuleSettings &settings, bool sectionMandatory = true);
  ~teilmodellklasse() override;

  int IsActive() const { return FlowControl; }
  int GetTimeStep() const { return static_cast<int>(TimeStep); } // whole minutes
  int GetSubstepCount() const { return SubstepCount; }
  virtual void SetSubstepCount(int count) { SubstepCount = count; }

  // Logs one INFO entry with the values when a floating-point error was
  // signalled since the last report (FpeFlag 1 -> 2); otherwise re-arms
  // the flag (-> 0).
  void ReportFPE(int i1, int i2, int i3, int i4, double a1, double a2, double a3, double a4,
                 double a5);

  // The base step: stores the date and writes the progress line in the steps
  // whose hour plus the whole hours to the interval end is a multiple of
  // HourDivisor. Does nothing for an inactive module.
  virtual void ComputeTimeStep(long hour, long day, long month, long year);

  // Tracer grids of the module: for every tracer of info (1..tracerCount) a
  // TracerRecord with the decay factor for the module's time step, the
  // concentration statistics per zone (the tracer's statcode, registered in
  // registry), the storage grid "concstor_tracer_<i>_<module>" (read from the
  // tracer's grid file when GridReadParameter is 1, else nodata outside the
  // zone grid and 0 inside; registered with the tracer's gridcode) and the
  // flux grid "concflux_tracer_<i>_<module>" (writecode 0), each in an empty
  // registry entry of its own. The grids hold the whole raster on rank 0 and
  // the strip with its halo rows elsewhere. error: 0, or the exit code of the
  // failure (103 for a failure that is not one); the operation then stops.
  virtual void InitTracerGrids(int &error, int tracerCount, OneBasedArray<TracerInfo> *info,
                               StatisticsRegistry *registry, int capacity);
  // Frees the registry entries and grids of the records and releases their
  // statistics, which writes the remaining rows. Does nothing a second time.
  virtual void FinishTracerGrids();

  // The module's own subbasins: ranks the grid "zonegrid_soilmodel" into
  // zones 1..n ascending by code (the code of a cell is its value rounded to
  // the nearest whole number) with the module's CellWeights. The outputs are
  // reset first, then hold the grid's data, the zone records 0..n, the zone
  // number of every code 0..highest code, n and the highest code. Collective:
  // rank 0 ranks the whole raster and the tables are broadcast. Fatal on
  // every process: 33 when the grid is not registered, 3 for a code outside
  // 0..32767, 4 for more than 16000 codes or 10000 zones, 7 when every cell
  // is no data. Defined with the raster code.
  void RankZones(const Grid *&zoneGrid, OneBasedArray<ZoneRecord> &zoneTable,
                 OneBasedArray<int> &zoneIndex, int &zoneCount, int &maxZoneCode);

  // The setup of this module's cell loop (CellIteration): its strip, column
  // ranges, zone grid and owning processes, and with spin-up units the grids
  // "HydrologicResponseUnits" and "MasterHydrologicResponseUnits" and the
  // list, so that the loop computes only master cells and copies their
  // results to the other cells of their units. Defined with the raster code.
  CellIterationSetup CellLoopSetup() const;

  // --- Solar geometry at the module's constants ----------------------------
  double SolarDeclination(long day, long month) const;
  double EquationOfTime(long day, long month) const; // hours
  double SunElevation(long day, long month, double latitude, double longitude, double hour) const;
  // Azimuth and elevation in radians.
  void SunAzimuth(long day, long month, double &azimuth, double &elevation, double latitude,
                  double longitude, double hour) const;
  double CosIncidence(double azimuth1, double polar1, double azimuth2, double polar2) const;
  void SunriseSunset(long day, long month, double &sunrise, double &sunset, double latitude,
                     double longitude) const;
  // Day and night of the current step (ActualDay, ActualMonth, ActualHour)
  // into DayFraction, NightFraction, NightBeforeSunrise, NightAfterSunset,
  // IsNight, Sunrise and Sunset.
  void DaylightFraction();

  // --- Fields -----------------------------------------------------------
  int TracerCount = 0;
  OneBasedArray<TracerInfo> *TracerInfoTable = nullptr; // not owned
  OneBasedArray<TracerRecord> TracerRecords;            // 1..TracerCount once built
  int FlowControl = 0;
  int GridReadParameter = 0; // read by the module's own constructor
  // 0 none, 1 signalled by the SIGFPE handler, 2 reported.
  std::atomic<int> FpeFlag{0};
  double TimeStep = 0.0; // minutes
  double StepsPerDay = 0.0;
  int SubstepCount = 1;
  double Latitude = 0.0;
  double Longitude = 0.0;
  double ReferenceMeridian = 0.0;
  double DayFraction = 0.0;
  double NightFraction = 0.0;
  double NightBeforeSunrise = 0.0;
  double NightAfterSunset = 0.0;
  int IsNight = 0;
  double Sunrise = 0.0;
  double Sunset = 0.0;
  double Pi = 0.0;
  double DegreesPerRadian = 0.0;
  std::array<double, 14> EquationOfTimeTable{};
  const Grid *BaseZoneGrid = nullptr; // data of registry entry 1
  double TimeShift = 0.0;
  StatisticsRegistry *Statistics = nullptr; // for the module's tables
  int StatisticsCapacity = 0;
  const std::vector<std::int64_t> *CellCounts = nullptr;
  int SpinUpSwitch = 0;
  const std::vector<HydrologicResponseUnit> *HydrologicResponseUnits = nullptr;

private:
  void StoreSettings(const ModuleSettings &settings);
  // Returns false when the section is missing and not mandatory.
  bool ReadSection(bool sectionMandatory);
  void CheckTimeStep();
  void BuildTracerRecord(int tracer, const TracerInfo &info, StatisticsRegistry *registry,
                         int capacity);
  void CreateStorageGrid(TracerRecord &record);
  int FreeTracerGridEntry() const;
  const TracerGridHooks &TracerHooks() const;
};

} // namespace tavro
