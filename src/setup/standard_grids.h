// The input grids every run rests on: the zone grid, the elevation model and
// the standard grids that modules find by identifier. This unit parses their
// definitions ("[zone_grid]", "[elevation_model]", "[standard_grids]" in the
// old positional and the new key = value style), enters them in the grid
// registry, and decides the periodic re-reading of a standard grid from the
// dates of the steps. The set-up object (defaultini) reads, creates, re-reads
// and writes the grids themselves; those members are defined in
// standard_grids.cpp too.
#pragma once

#include "kernel/model_date.h"

#include <string>
#include <string_view>
#include <vector>

namespace tavro {

class ControlFileReader;
class GridRegistry;
struct GridPeriodicState;

inline constexpr const char *kZoneGridIdentifier = "[zone_grid]";
inline constexpr const char *kElevationIdentifier = "[elevation_model]";
inline constexpr const char *kRiverLinksIdentifier = "river_links";

// One line of "[standard_grids]" as read.
struct StandardGridDefinition {
  std::string FileName;
  std::string Identifier;
  int fillcode = 0;
  int readcode = 1; // above 0: read from the file; otherwise created
  double defaultValue = 0.0;
  int writecode = 0;
  std::string outname;  // empty: the output takes the file name
  std::string statfile; // empty: no statistic
  int statcode = 0;
  int PeriodFirst = -1; // above 0: the grid is re-read during the run
  std::string PeriodUnit;
  int PeriodSecond = -1;
  int persistent = 1;      // 0: restore the initial values PersistentCount steps after a re-read
  int PersistentCount = 0; // only with persistent 0
};

enum class DefinitionStatus {
  Ok,
  MissingWords,    // fewer than two words
  MissingFillcode, // new style without "fillcode"
  BadValue,        // a key whose value cannot be read, or a word that is too long
};

struct DefinitionParse {
  StandardGridDefinition Definition;
  DefinitionStatus Status = DefinitionStatus::Ok;
  bool NewStyle = false;
  std::string Detail; // what was wrong, for BadValue
};

// Parses one definition line. Old style: file name, identifier and an integer
// fillcode as the first three words. Otherwise new style: file name and
// identifier, then keys. In both styles the rest of the line after those words
// is searched for "key = value" settings (a key counts where it stands as a
// word of its own); a fillcode key overrides the positional one.
DefinitionParse ParseStandardGridDefinition(std::string_view line);

// The three sections as read from the control file.
struct GridSections {
  std::string ZoneGridFile;
  std::string ElevationFile;
  std::vector<StandardGridDefinition> Standard;
};

// Reads the three sections from the open control-file copy. Missing sections
// or unreadable values are control-file errors (exit code 17), as are the
// definition-line errors.
GridSections ReadGridSections(ControlFileReader &reader);

// Enters the definitions into registry entries 1 (zone grid), 2 (elevation
// model) and 3..n+2 (standard grids): names and settings, no data.
void EnterGridSections(GridRegistry &registry, const GridSections &sections);

// --- Periodic re-reading -----------------------------------------------------

enum class WatchedField { None, Hour, Day, Month };

// The date field a periodicity unit watches: the first of the letters "H",
// "D", "M", "Y" found in the unit decides (H and D the hour, M the day, Y the
// month); None when it holds none of them.
WatchedField WatchedFieldOf(std::string_view unit);

enum class PeriodicAction { None, Reread, Restore };

// Advances a grid's periodic state by one step with the step's date and says
// what the step does with the grid. A period begins when the watched value
// falls; the step counter counts the steps in which it rose. The first step of
// a run takes its position in the period from the date (the month for "Y",
// the day for "M"; the current period counts only while that position has not
// passed the re-reading position), so that a schedule holds whatever date the
// run starts on; a period counter that passes the first number without a
// re-read starts again at 1. After a re-read both counters return to 0 and,
// for persistent 0, a restore follows PersistentCount steps later.
PeriodicAction AdvancePeriodicState(GridPeriodicState &state, const ModelDate &date);

// "<file name>_YYYYMMDDHH" (format "%s_%04ld%02ld%02ld%02ld").
std::string DatedGridFileName(std::string_view fileName, const ModelDate &date);

} // namespace tavro
