// The general sections of the control file that every module shares: output
// interval and output switches, output list, coordinates, meteorological
// variables, model time, sub-step count and the radiation-correction value.
// The set-up object calls these readers on the substituted control-file copy
// and keeps the plain settings they fill until it hands them to the application.
#pragma once

#include "kernel/one_based_array.h"

#include <array>
#include <string>

namespace tavro {

class ControlFileReader;
class DiagnosticsLog;

// Start and end of the model period as read from "[model_time]" and corrected.
struct ModelTime {
  int StartHour = 0;
  int StartDay = 0;
  int StartMonth = 0;
  int StartYear = 0;
  int EndHour = 0;
  int EndDay = 0;
  int EndMonth = 0;
  int EndYear = 0;
  // Month lengths (index 1..12) for the end year; index 0 unused.
  std::array<int, 13> DaysPerMonth{0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
};

struct GeneralSettings {
  // "[output_interval]"
  int HourDivisor = 0;           // at least 1
  int InterpolationWarnings = 0; // 0 or 1
  int FurtherSwitch = 0;         // 0 or 1, handed on but unused
  double MinToIntEnd = 0.0;      // minutes from the data time stamp to the step end, >= 0
  int WriteAsciiGrids = 0;
  int WriteDoubleGrids = 0;
  std::string InitialStateDirectory; // empty when none is set
  std::string DefaultOutputDirectory;

  // "[output_list]": strictly ascending subbasin codes; Count() is the list's count.
  OneBasedArray<int> OutputListCodes;

  // "[coordinates]"
  double Latitude = 0.0;
  double Longitude = 0.0;
  double ReferenceMeridian = 0.0;
  double TimeShift = 0.0;

  // "[meteo_data_count]" and "[meteo_names]"
  int MeteoVariableCount = 0;
  OneBasedArray<std::string> MeteoNames;

  ModelTime Time;
  int SubstepCount = 1;
  int RadiationCorrection = 0;
};

// Module name of the set-up object, named in its control-file errors.
inline constexpr const char *kSetupModuleName = "defaults";

// Longest meteorological variable name.
inline constexpr std::size_t kMaxMeteoNameLength = 200;

// Opens the control file (the substituted copy), reads "[output_interval]",
// "[output_list]", "[coordinates]", "[meteo_data_count]" and "[meteo_names]"
// into settings and closes it. "Error opening" 28, "error closing" 11,
// control-file errors 17, output-list order 97.
void ReadOutputControl(DiagnosticsLog &log, const std::string &controlFileName,
                       GeneralSettings &settings);

// The single sections, on an open reader (each finds its own section).
void ReadOutputInterval(ControlFileReader &reader, GeneralSettings &settings);
void ReadOutputList(ControlFileReader &reader, GeneralSettings &settings);
void ReadCoordinates(ControlFileReader &reader, GeneralSettings &settings);
void ReadMeteoDataCount(ControlFileReader &reader, GeneralSettings &settings);
void ReadMeteoNames(ControlFileReader &reader, GeneralSettings &settings);

// Reads "[model_time]" from the open control file and corrects it.
void ReadModelTime(ControlFileReader &reader, ModelTime &time);

// Two-digit years, month range and day range (see the definition).
void CorrectModelTime(ModelTime &time);

// Gregorian leap rule: divisible by 4, and not by 100 unless by 400.
bool IsGregorianLeapYear(int year);
// Length of month 1..12 of the given year by the Gregorian rule.
int DaysInMonth(int month, int year);

// Opens the control file, reads the optional
// "[soil_surface_groundwater_substeps]" (1 when missing), closes the file and
// returns the count (also stored in settings). A count below 1 is refused (17).
int ReadSubsteps(DiagnosticsLog &log, const std::string &controlFileName,
                 GeneralSettings &settings);

// Finds "[radiation_correction]" (missing: 17) in the open control file and
// reads one integer into value; an unreadable value leaves value unchanged.
void ReadRadiationCorrection(ControlFileReader &reader, int &value);

} // namespace tavro
