// Parsing of the grid definitions, their entry in the registry and the
// periodic re-reading schedule; then the set-up object's members that read the
// zone grid, divide the raster, set up, re-read and write the standard grids.
#include "setup/standard_grids.h"
#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/grid_registry.h"
#include "kernel/string_helpers.h"
#include "raster/files/grid_file_size.h"
#include "raster/files/grid_reader.h"
#include "raster/files/grid_writer.h"
#include "raster/parallel/collective_failure.h"
#include "raster/parallel/strip_exchange.h"
#include "setup/defaultini.h"

#include <mpi.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace tavro {
namespace {

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// An integer at the start of text as "%d" reads it (sign and digits, the rest
// ignored); length receives the characters taken.
std::optional<int> LeadingInteger(std::string_view text, std::size_t *length = nullptr) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    ++i;
  const std::size_t digitsStart = i;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) != 0)
    ++i;
  if (i == digitsStart)
    return std::nullopt;
  const std::string digits(text.substr(0, i));
  errno = 0;
  const long value = std::strtol(digits.c_str(), nullptr, 10);
  if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX)
    return std::nullopt;
  if (length != nullptr)
    *length = i;
  return static_cast<int>(value);
}

std::optional<double> LeadingReal(std::string_view text) {
  const std::string copy(text);
  char *end = nullptr;
  errno = 0;
  const double value = std::strtod(copy.c_str(), &end);
  if (end == copy.c_str() || errno == ERANGE || !std::isfinite(value))
    return std::nullopt;
  return value;
}

// The text after "key =" where key stands as a word of its own (start of the
// rest or after a blank, comma or semicolon), leading blanks skipped; nullopt
// when the key is not set. A key inside another word or value (such as
// "statfile" inside "outname=my_statfile") is not taken for the key.
std::optional<std::string_view> KeyValue(std::string_view rest, std::string_view key) {
  for (std::size_t at = rest.find(key); at != std::string_view::npos; at = rest.find(key, at + 1)) {
    if (at > 0 && !IsBlank(rest[at - 1]) && rest[at - 1] != ',' && rest[at - 1] != ';')
      continue;
    std::size_t pos = at + key.size();
    while (pos < rest.size() && IsBlank(rest[pos]))
      ++pos;
    if (pos >= rest.size() || rest[pos] != '=')
      continue;
    ++pos;
    while (pos < rest.size() && IsBlank(rest[pos]))
      ++pos;
    return rest.substr(pos);
  }
  return std::nullopt;
}

// Value words of a key: blanks and commas separate them.
std::vector<std::string> ValueWords(std::string_view value, std::size_t count) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  while (words.size() < count && pos < value.size()) {
    while (pos < value.size() && (IsBlank(value[pos]) || value[pos] == ','))
      ++pos;
    const std::size_t start = pos;
    while (pos < value.size() && !IsBlank(value[pos]) && value[pos] != ',')
      ++pos;
    if (pos > start)
      words.emplace_back(value.substr(start, pos - start));
  }
  return words;
}

struct KeyReader {
  std::string_view rest;
  DefinitionParse &parse;

  bool Failed() const { return parse.Status != DefinitionStatus::Ok; }
  void Fail(std::string detail) {
    if (!Failed()) {
      parse.Status = DefinitionStatus::BadValue;
      parse.Detail = std::move(detail);
    }
  }

  // True when the key is set; its value then stands in target.
  bool Integer(std::string_view key, int &target) {
    const auto value = KeyValue(rest, key);
    if (!value)
      return false;
    if (const auto number = LeadingInteger(*value))
      target = *number;
    else
      Fail(Concat("no integer value for ", key));
    return true;
  }
  void Real(std::string_view key, double &target) {
    if (const auto value = KeyValue(rest, key)) {
      if (const auto number = LeadingReal(*value))
        target = *number;
      else
        Fail(Concat("no real value for ", key));
    }
  }
  void Word(std::string_view key, std::string &target) {
    if (const auto value = KeyValue(rest, key)) {
      std::size_t pos = 0;
      const std::string_view word = NextWord(*value, pos);
      if (word.empty())
        Fail(Concat("no value for ", key));
      else if (word.size() > GridRegistry::MaxFileNameLength)
        Fail(Concat("the value of ", key, " is longer than ", GridRegistry::MaxFileNameLength,
                    " characters"));
      else
        target = word;
    }
  }
  void Periodicity(StandardGridDefinition &definition) {
    const auto value = KeyValue(rest, "periodicity");
    if (!value)
      return;
    const auto words = ValueWords(*value, 3);
    const auto first = words.size() == 3 ? LeadingInteger(words[0]) : std::nullopt;
    const auto second = words.size() == 3 ? LeadingInteger(words[2]) : std::nullopt;
    if (!first || !second) {
      Fail("periodicity needs an integer, a unit and an integer");
      return;
    }
    if (WatchedFieldOf(words[1]) == WatchedField::None) {
      // Such a grid would silently never be re-read.
      Fail(Concat("periodicity unit ", words[1], " holds none of H, D, M, Y"));
      return;
    }
    definition.PeriodFirst = *first;
    definition.PeriodUnit = words[1];
    definition.PeriodSecond = *second;
  }
  void Persistent(StandardGridDefinition &definition) {
    const auto value = KeyValue(rest, "persistent");
    if (!value)
      return;
    const auto words = ValueWords(*value, 2);
    const auto flag = words.empty() ? std::nullopt : LeadingInteger(words[0]);
    if (!flag || (*flag != 0 && *flag != 1)) {
      Fail("persistent needs 0 or 1");
      return;
    }
    definition.persistent = *flag;
    if (*flag == 1)
      return;
    const auto count = words.size() == 2 ? LeadingInteger(words[1]) : std::nullopt;
    if (!count || *count < 0) {
      Fail("persistent 0 needs the number of steps after which the initial values return");
      return;
    }
    definition.PersistentCount = *count;
  }
};

std::string ReadDefinitionLine(ControlFileReader &reader, bool &atEnd) {
  std::string line;
  atEnd = false;
  std::FILE *file = reader.Handle();
  for (;;) {
    line.clear();
    int c = 0;
    while ((c = std::getc(file)) != EOF && c != '\n') {
      line += static_cast<char>(c);
      if (line.size() > ControlFileReader::MaxLineLength)
        ThrowFatal(reader.Log(), 17,
                   Concat("error in control file ", reader.FileName(), ", line longer than ",
                          ControlFileReader::MaxLineLength,
                          " characters in [standard_grids]: ", line.substr(0, 80), "..."));
    }
    bool blank = true;
    for (const char ch : line)
      blank = blank && IsBlank(ch);
    if (!blank)
      return line;
    if (c == EOF) {
      atEnd = true;
      return {};
    }
  }
}

} // namespace

DefinitionParse ParseStandardGridDefinition(std::string_view line) {
  DefinitionParse parse;
  StandardGridDefinition &definition = parse.Definition;
  std::size_t pos = 0;
  const std::string_view fileName = NextWord(line, pos);
  const std::string_view identifier = NextWord(line, pos);
  if (identifier.empty()) {
    parse.Status = DefinitionStatus::MissingWords;
    return parse;
  }
  if (fileName.size() > GridRegistry::MaxFileNameLength ||
      identifier.size() > GridRegistry::MaxIdentifierLength) {
    parse.Status = DefinitionStatus::BadValue;
    parse.Detail =
        Concat("file name longer than ", GridRegistry::MaxFileNameLength,
               " or identifier longer than ", GridRegistry::MaxIdentifierLength, " characters");
    return parse;
  }
  definition.FileName = fileName;
  definition.Identifier = identifier;

  std::size_t afterWords = pos;
  while (afterWords < line.size() && IsBlank(line[afterWords]))
    ++afterWords;
  std::size_t integerLength = 0;
  const auto positional = LeadingInteger(line.substr(afterWords), &integerLength);
  parse.NewStyle = !positional.has_value();
  std::string_view rest = line.substr(pos);
  if (positional) {
    definition.fillcode = *positional;
    rest = line.substr(afterWords + integerLength);
  }

  KeyReader keys{rest, parse};
  const bool fillcodeKey = keys.Integer("fillcode", definition.fillcode);
  if (parse.NewStyle && !fillcodeKey) {
    parse.Status = DefinitionStatus::MissingFillcode;
    return parse;
  }
  keys.Integer("readcode", definition.readcode);
  keys.Real("defaultValue", definition.defaultValue);
  keys.Integer("writecode", definition.writecode);
  keys.Word("outname", definition.outname);
  keys.Word("statfile", definition.statfile);
  keys.Integer("statcode", definition.statcode);
  keys.Periodicity(definition);
  if (definition.PeriodFirst != -1 || !definition.PeriodUnit.empty())
    keys.Persistent(definition);
  if (!keys.Failed() && definition.writecode < 0)
    keys.Fail("writecode below 0");
  return parse;
}

GridSections ReadGridSections(ControlFileReader &reader) {
  GridSections sections;
  reader.FindControlKey(kZoneGridIdentifier, true);
  sections.ZoneGridFile = reader.ReadWord("Name for ");
  reader.FindControlKey(kElevationIdentifier, true);
  sections.ElevationFile = reader.ReadWord("Name for ");
  reader.FindControlKey("[standard_grids]", true);
  const int count = reader.ReadInt("couner/number of grids ");
  // Entries 3 to count + 2 of the registry: a count beyond it is refused at
  // once (the definitions are collected as read, never sized from the count).
  if (count > GridRegistry::LastIndex - 2)
    ThrowFatal(reader.Log(), 17,
               Concat("error in control file ", reader.FileName(),
                      ", number of standard grids in [standard_grids] is ", count,
                      ", but the grid registry holds at most ", GridRegistry::LastIndex - 2,
                      " standard grids"));
  for (int i = 1; i <= count; ++i) {
    bool atEnd = false;
    const std::string line = ReadDefinitionLine(reader, atEnd);
    const DefinitionParse parse = ParseStandardGridDefinition(line);
    switch (parse.Status) {
    case DefinitionStatus::Ok:
      break;
    case DefinitionStatus::MissingWords:
      reader.ControlFileError(Concat("\nerror reading a grid name or identifier ", i, " in\n"),
                              reader.ModuleName());
    case DefinitionStatus::MissingFillcode:
      reader.ControlFileError(
          Concat("\nerror reading the fillcode for standard grid ", i,
                 " (found neither in old nor in new style standard grid definition) in\n"),
          reader.ModuleName());
    case DefinitionStatus::BadValue:
      reader.ControlFileError(
          Concat("\nerror reading the settings of standard grid ", i, " (", parse.Detail, ") in\n"),
          reader.ModuleName());
    }
    sections.Standard.push_back(parse.Definition);
  }
  return sections;
}

void EnterGridSections(GridRegistry &registry, const GridSections &sections) {
  auto enterName = [&registry](int index, const std::string &fileName,
                               const std::string &identifier) {
    GridEntry &entry = registry[index];
    entry.FileName = fileName;
    entry.Identifier = identifier;
  };
  enterName(1, sections.ZoneGridFile, kZoneGridIdentifier);
  enterName(2, sections.ElevationFile, kElevationIdentifier);
  int index = 3;
  for (const StandardGridDefinition &definition : sections.Standard) {
    enterName(index, definition.FileName, definition.Identifier);
    GridEntry &entry = registry[index];
    entry.fillcode = definition.fillcode;
    entry.readcode = definition.readcode;
    entry.defaultValue = definition.defaultValue;
    entry.outname = definition.outname;
    entry.OwnsOutname = definition.outname.empty() ? 1 : 0;
    entry.statfile = definition.statfile;
    entry.statcode = definition.statcode;
    GridPeriodicState &periodic = entry.Periodic;
    periodic.First = definition.PeriodFirst;
    periodic.Unit = definition.PeriodUnit;
    periodic.Second = definition.PeriodSecond;
    periodic.Persistent = definition.persistent;
    periodic.RestoreAfter = definition.PersistentCount;
    ++index;
  }
}

WatchedField WatchedFieldOf(std::string_view unit) {
  if (unit.find('H') != std::string_view::npos || unit.find('D') != std::string_view::npos)
    return WatchedField::Hour;
  if (unit.find('M') != std::string_view::npos)
    return WatchedField::Day;
  if (unit.find('Y') != std::string_view::npos)
    return WatchedField::Month;
  return WatchedField::None;
}

PeriodicAction AdvancePeriodicState(GridPeriodicState &state, const ModelDate &date) {
  if (state.First <= 0)
    return PeriodicAction::None;
  const WatchedField field = WatchedFieldOf(state.Unit);
  if (field == WatchedField::None)
    return PeriodicAction::None;
  const long watched = field == WatchedField::Hour  ? date.Hour
                       : field == WatchedField::Day ? date.Day
                                                    : date.Month;
  constexpr long NothingWatchedYet = 9999;
  if (state.LastWatchedDate == NothingWatchedYet) {
    // The run starts inside a period: count the steps that a run from the
    // period's beginning would have counted by now (one per month or day;
    // steps within a day cannot be told from the date alone).
    state.StepCounter = field == WatchedField::Month ? static_cast<int>(date.Month)
                        : field == WatchedField::Day ? static_cast<int>(date.Day)
                                                     : 1;
    // The current period counts as the first only while its re-reading
    // position is still ahead.
    state.PeriodCounter = state.StepCounter <= state.Second ? 1 : 0;
  } else if (watched < state.LastWatchedDate) {
    ++state.PeriodCounter;
    // A period that passed its position without a re-read (a skipped day,
    // a 30-day month for position 31) starts the count again instead of
    // leaving the grid never re-read for the rest of the run.
    if (state.PeriodCounter > state.First)
      state.PeriodCounter = 1;
    state.StepCounter = 1;
  } else if (watched > state.LastWatchedDate) {
    ++state.StepCounter;
  }
  state.LastWatchedDate = watched;

  if (state.PeriodCounter == state.First && state.StepCounter == state.Second) {
    state.PeriodCounter = 0;
    state.StepCounter = 0;
    if (state.Persistent == 0) {
      state.RestoreCountdown = 0;
      state.RestorePending = true;
    }
    return PeriodicAction::Reread;
  }
  if (state.RestorePending) {
    ++state.RestoreCountdown;
    if (state.RestoreCountdown >= state.RestoreAfter) {
      state.RestorePending = false;
      return PeriodicAction::Restore;
    }
  }
  return PeriodicAction::None;
}

std::string DatedGridFileName(std::string_view fileName, const ModelDate &date) {
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "_%04ld%02ld%02ld%02ld", date.Year, date.Month, date.Day,
                date.Hour);
  return std::string(fileName) + stamp;
}

// --- The set-up object's zone grid, decomposition and standard grids -------

namespace {

Grid CopyOfGrid(const Grid &source, long ncols, long nrows, DiagnosticsLog &log) {
  Grid copy(source.FirstRow(), source.LastRow(), ncols, nrows, log);
  for (long r = source.FirstRow(); r <= source.LastRow(); ++r)
    if (source.HasRow(r))
      std::memcpy(copy[r], source[r], sizeof(double) * static_cast<std::size_t>(ncols + 1));
  return copy;
}

bool ValidHeaderSize(double value) {
  return std::isfinite(value) && value >= 1.0 && value < 2147483648.0;
}

} // namespace

GridFileContext defaultini::FileContext() {
  GridFileContext context(*Log);
  context.geometry = {NCols, NRows, XllCorner, YllCorner, CellSize, NoData};
  context.firstRow = decomposed_ ? static_cast<int>(decomposition_.strip.first) : 1;
  context.lastRow = decomposed_ ? static_cast<int>(decomposition_.strip.last) : NRows;
  context.rank = MPIRank;
  context.processCount = MPIProcessCount;
  context.moduleName = ModuleName;
  context.inputDirectory = InitialStateDirectory;
  context.outputDirectory = DefaultOutputDirectory;
  const GridEntry &zone = (*Registry)[1];
  context.zoneGridName = zone.FileName;
  context.zoneGrid = zone.Data;
  context.cellWeights = CellWeights;
  context.statistics = &Statistics;
  if (decomposed_) {
    context.mpiRegions = &decomposition_.regions;
    context.scatterGrid = [this](Grid &grid) { ScatterGrid(decomposition_, grid, *Log); };
    context.exchangeHalo = [this](Grid &grid) { ExchangeHalo(decomposition_, grid, *Log); };
    context.scatterStack = [this](Stack &stack, int) { ScatterStack(decomposition_, stack, *Log); };
  }
  if (!rowRanges_.Empty()) {
    context.rowRange = [this](int row) -> std::pair<int, int> {
      if (row < 0 || static_cast<std::size_t>(row) > rowRanges_.Count())
        return {0, -1};
      const RowColumnRange range = rowRanges_[static_cast<std::size_t>(row)];
      return {range.first, range.last};
    };
  }
  return context;
}

StripRows defaultini::HeldRows() const {
  if (!decomposed_)
    return {1, NRows};
  return decomposition_.HeldRows();
}

Grid &defaultini::NewGrid(long firstRow, long lastRow) {
  auto grid = std::make_unique<Grid>(firstRow, lastRow, NCols, NRows, *Log);
  grid->Fill(NoData);
  ownedGrids_.push_back(std::move(grid));
  return *ownedGrids_.back();
}

bool defaultini::OwnsCell(long row, long column) const {
  if (!decomposed_)
    return true;
  return decomposition_.regions.HasRow(row) &&
         decomposition_.regions[row][column] == static_cast<double>(MPIRank);
}

int defaultini::WritecodeOfStandardGrid(int registryIndex) const {
  const int position = registryIndex - 3;
  if (position < 0 || position >= static_cast<int>(sections_.Standard.size()))
    return 0;
  return sections_.Standard[static_cast<std::size_t>(position)].writecode;
}

void defaultini::CreateGrid(Grid &grid, double value, bool validAboveNodata) {
  const Grid &zone = *(*Registry)[1].Data;
  for (long r = grid.FirstRow(); r <= grid.LastRow(); ++r) {
    if (!grid.HasRow(r) || !zone.HasRow(r))
      continue;
    double *row = grid[r];
    const double *zoneRow = zone[r];
    for (long c = 1; c <= NCols; ++c) {
      const bool valid = validAboveNodata ? zoneRow[c] > NoData : zoneRow[c] != NoData;
      row[c] = valid ? value : NoData;
    }
  }
}

void defaultini::ReadStandardGrids() {
  sections_ = ReadGridSections(ControlFile());
  EnterGridSections(*Registry, sections_);
}

RasterGeometry defaultini::ReadGridHeader() {
  InterruptPause pause(InterruptPause::After::DefaultAction, nullptr);
  const std::string path = PrefixedPath(InitialStateDirectory, (*Registry)[1].FileName);
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr)
    ThrowFatal(*Log, 21, Concat("error opening ", path));
  struct Closer {
    std::FILE *&file;
    ~Closer() {
      if (file != nullptr)
        std::fclose(file);
    }
  } closer{file};

  std::array<double, 6> values{};
  const std::optional<std::uint64_t> fileBytes = OpenFileBytes(file);
  char start[4] = {};
  const bool ascii = std::fread(start, 1, 4, file) == 4 && std::memcmp(start, "ncol", 4) == 0;
  GridFileFormat format = GridFileFormat::Ascii;
  std::rewind(file);
  if (ascii) {
    char label[256];
    for (double &value : values)
      if (std::fscanf(file, "%255s %lf", label, &value) != 2)
        ThrowFatal(*Log, 22, Concat("error reading ", path));
  } else {
    std::array<double, 12> doubles{};
    const std::size_t gotDoubles = std::fread(doubles.data(), sizeof(double), 12, file);
    if (gotDoubles >= 6 && doubles[5] == BinaryMarkerNodata) {
      if (gotDoubles < 12)
        ThrowFatal(*Log, 22, Concat("error reading double value from the header of ", path));
      std::copy(doubles.begin(), doubles.begin() + 6, values.begin());
      format = GridFileFormat::BinaryDouble;
    } else {
      std::rewind(file);
      std::array<float, 12> floats{};
      const std::size_t gotFloats = std::fread(floats.data(), sizeof(float), 12, file);
      if (gotFloats < 6 || static_cast<double>(floats[5]) != BinaryMarkerNodata)
        ThrowFatal(*Log, 22,
                   Concat("could not recognise file format (ascii, double or double) for ", path));
      if (gotFloats < 12)
        ThrowFatal(
            *Log, 22,
            Concat("error reading double value #", gotFloats + 1, " from the header of ", path));
      for (std::size_t i = 0; i < 6; ++i)
        values[i] = static_cast<double>(floats[i]);
      format = GridFileFormat::BinaryFloat;
    }
  }
  std::FILE *open = file;
  file = nullptr;
  if (std::fclose(open) != 0)
    ThrowFatal(*Log, 23, Concat("error closing grid ", path));
  // A raster the model cannot hold is refused here rather than later.
  if (!ValidHeaderSize(values[0]) || !ValidHeaderSize(values[1]) || !std::isfinite(values[2]) ||
      !std::isfinite(values[3]) || !std::isfinite(values[4]) || values[4] <= 0.0 ||
      !std::isfinite(values[5]))
    ThrowFatal(*Log, 22, Concat("error reading ", path, ": invalid header values"));
  GridFileHeader header;
  header.ncols = values[0];
  header.nrows = values[1];
  CheckHeaderFitsFile(*Log, path, format, header, 0, fileBytes);
  RasterGeometry geometry;
  geometry.ncols = static_cast<int>(std::floor(values[0]));
  geometry.nrows = static_cast<int>(std::floor(values[1]));
  geometry.xllcorner = values[2];
  geometry.yllcorner = values[3];
  geometry.cellsize = values[4];
  geometry.nodata = values[5];
  return geometry;
}

void defaultini::StepZoneGridAndDecomposition() {
  decomposition_ = MpiDecomposition{};
  decomposed_ = false;
  RasterGeometry geometry;
  int failure = MPIRank == 0 ? CaptureExitCode([&] { geometry = ReadGridHeader(); }) : 0;
  ThrowIfAnyFailed(*Log, failure);
  int sizes[2] = {geometry.ncols, geometry.nrows};
  MPI_Bcast(sizes, 2, MPI_INT, 0, MPI_COMM_WORLD);
  double header[4] = {geometry.xllcorner, geometry.yllcorner, geometry.cellsize, geometry.nodata};
  MPI_Bcast(header, 4, MPI_DOUBLE, 0, MPI_COMM_WORLD);
  NCols = sizes[0];
  NRows = sizes[1];
  XllCorner = header[0];
  YllCorner = header[1];
  CellSize = header[2];
  NoData = header[3];
  FirstRow = 1;
  LastRow = NRows;

  // Rank 0 reads the zone grid and "river_links" whole.
  failure = 0;
  if (MPIRank == 0) {
    failure = CaptureExitCode([&] {
      const GridReadOptions whole{0, true, true, 0.0, false, true, true, false};
      Grid &zone = NewGrid(1, NRows);
      tavro::ReadGrid(FileContext(), (*Registry)[1].FileName, zone, whole);
      AddGrid(1, (*Registry)[1].FileName, &zone, nullptr, 1, kZoneGridIdentifier, 0, 1, NRows);
      if (const int links = FindGrid(kRiverLinksIdentifier, true); links > 0) {
        Grid &grid = NewGrid(1, NRows);
        tavro::ReadGrid(FileContext(), (*Registry)[links].FileName, grid, whole);
        AddGrid(links, (*Registry)[links].FileName, &grid, nullptr, 1, kRiverLinksIdentifier,
                WritecodeOfStandardGrid(links), 1, NRows);
      }
    });
  }
  ThrowIfAnyFailed(*Log, failure);

  const RasterShape shape{NCols, NRows, NoData};
  decomposition_ = DistributeMpiRegions(MPIRank == 0 ? (*Registry)[1].Data : nullptr, shape, *Log);
  decomposed_ = true;
  FirstRow = static_cast<int>(decomposition_.strip.first);
  LastRow = static_cast<int>(decomposition_.strip.last);
  MPIRegions = &decomposition_.regions;
  MPIHelper = &decomposition_.helper;
  Halo = {&decomposition_.haloSend, &decomposition_.haloReceive, &decomposition_};
  RegisterDecompositionGrids();
}

void defaultini::RegisterDecompositionGrids() {
  const StripRows held = decomposition_.HeldRows();
  const std::pair<Grid *, const char *> grids[] = {{&decomposition_.regions, kRegionsGridName},
                                                   {&decomposition_.helper, kHelperGridName},
                                                   {&decomposition_.halo, kHaloGridName}};
  for (const auto &[grid, name] : grids) {
    const int index = Registry->FirstFreeIndex();
    if (index == 0)
      ThrowFatal(*Log, GridRegistry::RegistryExitCode,
                 Concat("when trying to create MPI-Regions: no free grid found in memory (at "
                        "position ",
                        GridRegistry::LastIndex + 1, ")"));
    AddGrid(index, name, grid, nullptr, 1, name, 0, held.first, held.last);
    decompositionGrids_.push_back(index);
  }
}

void defaultini::StepDistributeZoneGrid() {
  RankZones(*Registry, nullptr, NCols, NRows, NoData);

  int failure = 0;
  if (MPIRank == 0)
    failure = CaptureExitCode([&] {
      WriteRegionsGrid(
          decomposition_,
          [this](const Grid &grid, const std::string &fileName) {
            tavro::WriteGrid(FileContext(), fileName, grid, WriteAsciiGrids, WriteDoubleGrids);
          },
          *Log);
    });
  ThrowIfAnyFailed(*Log, failure);

  std::vector<int> distributed{1};
  if (const int links = FindGrid(kRiverLinksIdentifier, true); links > 0)
    distributed.push_back(links);
  const StripRows held = decomposition_.HeldRows();
  for (const int index : distributed) {
    GridEntry &entry = (*Registry)[index];
    if (MPIRank != 0) {
      Grid &grid = NewGrid(held.first, held.last);
      AddGrid(index, entry.FileName, &grid, nullptr, 1, entry.Identifier,
              index == 1 ? 0 : WritecodeOfStandardGrid(index), held.first, held.last);
    }
    ScatterGrid(decomposition_, *entry.Data, *Log);
    ExchangeHalo(decomposition_, *entry.Data, *Log);
  }
}

void defaultini::SetUpStandardGrids() {
  const StripRows held = HeldRows();
  const int last = static_cast<int>(sections_.Standard.size()) + 2;
  for (int index = 2; index <= last; ++index) {
    GridEntry &entry = (*Registry)[index];
    setupGrids_.push_back(index);
    if (entry.Data != nullptr || entry.Identifier == kRiverLinksIdentifier)
      continue;
    auto owned = std::make_unique<Grid>();
    Grid &grid = *owned;
    ownedGrids_.push_back(std::move(owned));
    if (entry.readcode > 0) {
      const GridReadOptions options{entry.fillcode, true, true,  entry.defaultValue,
                                    true,           true, false, true};
      tavro::ReadGrid(FileContext(), entry.FileName, grid, options);
    } else {
      grid = Grid(held.first, held.last, NCols, NRows, *Log);
      grid.Fill(NoData);
      CreateGrid(grid, entry.defaultValue, false);
      ExchangeHalo(decomposition_, grid, *Log);
    }
    AddGrid(index, entry.FileName, &grid, nullptr, 1, entry.Identifier,
            WritecodeOfStandardGrid(index), held.first, held.last);
    if (entry.Periodic.First > 0 && entry.Periodic.Persistent == 0)
      entry.Periodic.InitialValues = std::make_unique<Grid>(CopyOfGrid(grid, NCols, NRows, *Log));
  }
}

void defaultini::StepStandardAndVariableGrids() {
  MPI_Barrier(MPI_COMM_WORLD);
  SetUpStandardGrids();
  Log->Entry(Concat("before reading variable grids ", MPIRank, DiagnosticsLog::EndToken));
  MPI_Barrier(MPI_COMM_WORLD);
  ReadVariableGrids();
}

void defaultini::RestoreInitialValues(GridEntry &entry) {
  const Grid *initial = entry.Periodic.InitialValues.get();
  if (initial == nullptr || entry.Data == nullptr)
    return;
  Grid &grid = *entry.Data;
  // Every held row returns to its initial values, so that rank 0's whole
  // raster and the strips agree again.
  for (long r = grid.FirstRow(); r <= grid.LastRow(); ++r)
    if (grid.HasRow(r) && initial->HasRow(r))
      std::memcpy(grid[r], (*initial)[r], sizeof(double) * static_cast<std::size_t>(NCols + 1));
  ExchangeHalo(decomposition_, grid, *Log);
}

void defaultini::ReadPeriodicGrids(long hour, long day, long month, long year) {
  const ModelDate date{hour, day, month, year};
  for (const int index : setupGrids_) {
    GridEntry &entry = (*Registry)[index];
    if (entry.Periodic.First <= 0 || entry.Data == nullptr)
      continue;
    switch (AdvancePeriodicState(entry.Periodic, date)) {
    case PeriodicAction::None:
      break;
    case PeriodicAction::Reread: {
      entry.Periodic.DatedFileName = DatedGridFileName(entry.FileName, date);
      const GridReadOptions options{entry.fillcode, false, true,  entry.defaultValue,
                                    true,           true,  false, true};
      tavro::ReadGrid(FileContext(), entry.Periodic.DatedFileName, *entry.Data, options);
      // Raw codes would be taken for record numbers: a re-read code grid is
      // checked and renumbered before anything uses it.
      RenumberRereadCodeGrid(index);
      break;
    }
    case PeriodicAction::Restore:
      RestoreInitialValues(entry);
      FollowRestoredCodeGrid(index);
      break;
    }
  }
}

void defaultini::WriteOneGridOutput(int registryIndex) { WriteGridOutput(registryIndex); }

void defaultini::WriteStandardGrids(long hour, long day, long month, long year) {
  SetActualStep(hour, day, month, year);
  for (const int index : setupGrids_)
    if (std::find(variableGrids_.begin(), variableGrids_.end(), index) == variableGrids_.end())
      WriteOneGridOutput(index);
}

void defaultini::WriteVariableGrids(long hour, long day, long month, long year) {
  SetActualStep(hour, day, month, year);
  for (const int index : variableGrids_)
    WriteOneGridOutput(index);
}

} // namespace tavro
