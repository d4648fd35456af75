// Regional superposition: the section with its entity blocks and the step
// hooks over the entities.
#include "meteo/regional_superposition.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"
#include "kernel/module_construction.h"
#include "meteo/superposition/superposition_block.h"

#include <cerrno>
#include <cstdlib>

namespace tavro {

namespace {
ModuleSettings Named(const ModuleSettings &settings) {
  int unused = 0;
  return BeginModuleConstruction(unused, settings, RegionalSuperposition::FixedName);
}
} // namespace

RegionalSuperposition::RegionalSuperposition(const ModuleSettings &settings,
                                             const RegionTableRef &regions)
    : teilmodellklasse(Named(settings)), Regions(regions) {
  try {
    if (FlowControl != 0)
      ReadEntities();
    CloseModuleSection(*this);
  } catch (...) {
    // No registry entry may outlive the entity that owns its grid.
    for (auto &entity : entities_)
      entity->ReleaseMemory();
    entities_.clear();
    throw;
  }
}

RegionalSuperposition::~RegionalSuperposition() = default;

void RegionalSuperposition::ReadEntities() {
  const WholeLine line = ReadWholeLine(ControlFile().Handle(), ControlFileReader::MaxLineLength);
  if (line.text.find("NumberOfEntities") == std::string::npos)
    ThrowFatal(
        *Log, EntityCountExitCode,
        Concat("could not read \"NumberOfEntities\" keyword in section [", ModuleName, "]\n\n"));
  const std::size_t equals = line.text.find('=');
  const std::size_t semicolon = line.text.find(';', equals == std::string::npos ? 0 : equals);
  long count = -1;
  if (equals != std::string::npos && semicolon != std::string::npos) {
    const std::string value = line.text.substr(equals + 1, semicolon - equals - 1);
    char *end = nullptr;
    errno = 0;
    count = std::strtol(value.c_str(), &end, 10);
    if (end == value.c_str() || errno != 0)
      count = -1;
  }
  if (count < 0 || count > 100000)
    ThrowFatal(*Log, ControlFileExitCode,
               Concat("error in control file, section [", ModuleName,
                      "]: no number of entities in \"NumberOfEntities = N;\""));
  NumberOfEntities = static_cast<int>(count);
  for (int entity = 1; entity <= NumberOfEntities; ++entity)
    // Constructed (and its grid registered) before the next block is read.
    entities_.push_back(std::make_unique<cSuperposition>(*this, ReadBlock(entity)));
}

std::string RegionalSuperposition::ReadBlock(int entity) {
  std::string block;
  for (;;) {
    const WholeLine line = ReadWholeLine(ControlFile().Handle(), ControlFileReader::MaxLineLength);
    if (line.tooLong)
      ThrowFatal(*Log, ControlFileExitCode,
                 Concat("error in control file, section [", ModuleName, "]: a line of entity ",
                        entity, " is longer than ", ControlFileReader::MaxLineLength,
                        " characters"));
    block += line.text;
    if (line.text.find('}') != std::string::npos)
      return block;
    if (line.atEnd)
      ThrowFatal(*Log, ControlFileExitCode,
                 Concat("error in control file, section [", ModuleName, "], entity ",
                        superposition::EntityName(block), " (number ", entity,
                        "): missing \"}\" before the end of the file"));
  }
}

void RegionalSuperposition::ComputeTimeStep(long hour, long day, long month, long year) {
  // The date is stored also when the module is off.
  SetActualStep(hour, day, month, year);
  if (FlowControl == 0)
    return;
  for (auto &entity : entities_)
    entity->ComputeTimeStep(hour, day, month, year);
}

void RegionalSuperposition::WriteStepOutput() {
  if (FlowControl == 0)
    return;
  for (auto &entity : entities_)
    entity->WriteStepOutput();
}

void RegionalSuperposition::FlushStatistics() {
  if (FlowControl == 0)
    return;
  for (auto &entity : entities_)
    entity->FlushStatistics();
}

bool RegionalSuperposition::ComputesGrid(int registryIndex) const {
  for (const auto &entity : entities_)
    if (entity->OutputGridIndex() == registryIndex)
      return true;
  return false;
}

void RegionalSuperposition::ReleaseMemory() {
  for (auto &entity : entities_)
    entity->ReleaseMemory();
  entities_.clear();
  teilmodellklasse::ReleaseMemory();
}

} // namespace tavro
