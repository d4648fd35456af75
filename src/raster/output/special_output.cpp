// Special output: the section's file blocks, the sampling calls and the flushes.
#include "raster/output/special_output.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/module_construction.h"
#include "kernel/string_helpers.h"
#include "raster/parallel/collective_failure.h"
#include "raster/parallel/mpi_decomposition.h"

#include <variant>

namespace tavro {

namespace {

constexpr const char *kSectionError = "Error in section [special_output]: ";

// The section is optional: without it the base is given no zone table, so it
// reads nothing and the module stays off without a FATAL entry in the log of a
// successful run. A copy that does not open is left to the base (28).
ModuleSettings SettingsOf(int &error, const ModuleSettings &settings, int substepCount) {
  ModuleSettings named =
      BeginModuleConstruction(error, settings, SpecialOutputClass::FixedName, substepCount);
  if (named.Log == nullptr)
    return named;
  ControlFileReader reader(*named.Log, named.ModuleName);
  if (reader.Open(named.ControlFileName) &&
      !reader.FindControlKey("[" + named.ModuleName + "]", false)) {
    named.Log->Entry(Concat("INFO: no section [", named.ModuleName, "]: special output is off",
                            DiagnosticsLog::EndToken));
    named.ZoneIndex = nullptr;
  }
  return named;
}

bool IsBlankLine(std::string_view line) {
  std::size_t pos = 0;
  return NextWord(line, pos).empty();
}

} // namespace

SpecialOutputClass::SpecialOutputClass(int &error, const ModuleSettings &settings,
                                       int substepCount) try
    : teilmodellklasse(SettingsOf(error, settings, substepCount), /*sectionMandatory=*/false) {
  if (FlowControl != 0) {
    LinkDecompositionGrids(*this);
    ReadFileBlocks();
  }
  CloseModuleSection(*this);
} catch (...) {
  StoreConstructionFailure(error, settings.Log, FixedName, OtherFailureExitCode);
}

std::optional<std::string> SpecialOutputClass::ReadLine() {
  WholeLine line = ReadWholeLine(ControlFile().Handle(), ControlFileReader::MaxLineLength);
  if (line.tooLong)
    ThrowFatal(*Log, ControlFileExitCode,
               Concat(kSectionError, "line longer than ", ControlFileReader::MaxLineLength,
                      " characters: ", line.text.substr(0, 80), "..."));
  if (line.atEnd)
    return std::nullopt;
  return std::move(line.text);
}

void SpecialOutputClass::MissingKey(std::string_view key, int blockNumber) {
  ThrowFatal(*Log, OtherFailureExitCode,
             Concat(kSectionError, "key ", key, " missing in file block ", blockNumber));
}

void SpecialOutputClass::ReadFileCount() {
  std::optional<std::string> line;
  do
    line = ReadLine();
  while (line && IsBlankLine(*line));
  const std::optional<std::string> value = line ? WordValue(*line, "numfiles") : std::nullopt;
  if (!value)
    ThrowFatal(*Log, OtherFailureExitCode, Concat(kSectionError, "key numfiles missing"));
  const std::optional<int> count = ParseInteger(*value);
  if (!count || *count < 0)
    ThrowFatal(*Log, OtherFailureExitCode,
               Concat(kSectionError, "numfiles = ", *value, " is no count of file blocks"));
  fileCount_ = *count;
}

std::string SpecialOutputClass::ReadBlockText(int block) {
  FileBlockCollector collector;
  while (!collector.Complete()) {
    const std::optional<std::string> line = ReadLine();
    if (!line)
      ThrowFatal(*Log, ControlFileExitCode,
                 Concat(kSectionError, "file block ", block, " of ", fileCount_,
                        " is not closed before the end of the control file"));
    collector.Add(*line);
  }
  return collector.Text();
}

SpecialOutputEntity SpecialOutputClass::MakeEntity(std::string_view group, int blockNumber) {
  auto parsed = ParseEntity(group);
  if (const KeyProblem *problem = std::get_if<KeyProblem>(&parsed)) {
    if (problem->token.empty())
      MissingKey(problem->key, blockNumber);
    ThrowFatal(*Log, OtherFailureExitCode,
               Concat(kSectionError, "value ", problem->token, " of key ", problem->key,
                      " in file block ", blockNumber, " is not ",
                      problem->key == "Level" ? "an integer" : "a number"));
  }
  EntityDefinition entity = std::get<EntityDefinition>(std::move(parsed));
  const PointRaster raster{XllCorner, YllCorner, CellSize, NCols, NRows};
  auto cells = PointCells(entity, raster);
  if (const PointProblem *problem = std::get_if<PointProblem>(&cells))
    ThrowFatal(*Log, problem->exitCode, problem->message);
  const int index = Registry != nullptr ? Registry->Find(entity.ID) : 0;
  const bool flux = SubstepCount > 1 && IsFluxIdentifier(entity.ID);
  return SpecialOutputEntity(std::move(entity), std::get<std::vector<PointCell>>(std::move(cells)),
                             index, flux);
}

SpecialOutputFile SpecialOutputClass::MakeFile(std::string_view block, int blockNumber) {
  std::optional<std::string> header = WordValue(block, "header");
  if (!header)
    MissingKey("header", blockNumber);
  std::optional<std::string> fileName = WordValue(block, "filename");
  if (!fileName)
    MissingKey("filename", blockNumber);
  AddPathPrefix(DefaultOutputDirectory, *fileName, *Log);
  std::vector<SpecialOutputEntity> entities;
  for (const std::string_view group : EntityGroups(block))
    entities.push_back(MakeEntity(group, blockNumber));
  return SpecialOutputFile(*Log, std::move(*header), std::move(*fileName), std::move(entities));
}

void SpecialOutputClass::ReadFileBlocks() {
  ReadFileCount();
  for (int block = 1; block <= fileCount_; ++block) {
    files_.push_back(MakeFile(ReadBlockText(block), block));
    // Every process reaches this point with the same files, so a file that
    // rank 0 cannot create ends every process alike.
    const int failure = CaptureExitCode([&] {
      if (MPIRank == 0)
        files_.back().WriteHeader();
    });
    ThrowIfAnyFailed(*Log, failure);
  }
}

SamplingContext SpecialOutputClass::Context() const {
  SamplingContext context;
  context.registry = Registry;
  context.owners = MPIRegions;
  context.rank = MPIRank;
  context.firstRow = FirstRow;
  context.lastRow = LastRow;
  context.ncols = NCols;
  return context;
}

void SpecialOutputClass::SampleStep(long hour, long day, long month, long year, bool substepCall,
                                    int substepIndex) {
  if (FlowControl == 0)
    return;
  const SamplingContext context = Context();
  for (SpecialOutputFile &file : files_)
    file.Sample(context, year, month, day, hour, substepCall, substepIndex);
}

void SpecialOutputClass::FlushFiles() {
  if (FlowControl == 0)
    return;
  for (SpecialOutputFile &file : files_)
    file.Flush();
}

void SpecialOutputClass::ReleaseMemory() {
  files_.clear();
  fileCount_ = 0;
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
