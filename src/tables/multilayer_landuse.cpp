// Reading of "[multilayer_landuse]": the lines of each type, the parsing of a
// type's text and the check that all types have the same number of layers.
#include "tables/multilayer_landuse.h"

#include "kernel/control_file_reader.h"
#include "kernel/diagnostics_log.h"
#include "kernel/fatal_error.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

namespace tavro {
namespace {

constexpr std::string_view kLayersKey = "Landuse_Layers";
constexpr std::string_view kExtinctionKey = "k_extinct";
constexpr std::string_view kLaiScaleKey = "LAI_scale";
constexpr std::string_view kWhiteSpace = " \t\n\r\v\f";

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string_view::npos)
    return {};
  const std::size_t last = text.find_last_not_of(kWhiteSpace);
  return text.substr(first, last - first + 1);
}

std::optional<int> ParseInt(std::string_view text) {
  if (!text.empty() && text.front() == '+')
    text.remove_prefix(1);
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return value;
}

std::optional<double> ParseReal(std::string_view text) {
  const std::string copy(text);
  char *end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (copy.empty() || end != copy.c_str() + copy.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

// The documented entry of a type that cannot be read, with what went wrong.
[[noreturn]] void TypeError(DiagnosticsLog &log, const multilayer_landuse_class &record,
                            std::string_view detail) {
  ThrowFatal(log, multilayer::ReadFailure,
             Concat("multilayer_landuse_table code ", record.Code,
                    ": some parameters could not be read\n", record.Name, "\n", detail));
}

// The next word from pos on; its end is stored in pos. Empty at the end.
std::string_view NextWord(std::string_view text, std::size_t &pos) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace, pos);
  if (first == std::string_view::npos) {
    pos = text.size();
    return {};
  }
  const std::size_t last = std::min(text.find_first_of(kWhiteSpace, first), text.size());
  pos = last;
  return text.substr(first, last - first);
}

// The text between the first "=" after key and the next ";"; nullopt when
// the key is absent. A key without "=" or ";" is an error of the type.
std::optional<std::string_view> KeyValue(DiagnosticsLog &log,
                                         const multilayer_landuse_class &record,
                                         std::string_view text, std::string_view key,
                                         std::size_t from) {
  const std::size_t found = text.find(key, from);
  if (found == std::string_view::npos)
    return std::nullopt;
  const std::size_t equals = text.find('=', found + key.size());
  const std::size_t semicolon =
      equals == std::string_view::npos ? equals : text.find(';', equals + 1);
  if (semicolon == std::string_view::npos)
    TypeError(log, record, Concat(key, " needs a value between \"=\" and \";\""));
  return text.substr(equals + 1, semicolon - equals - 1);
}

double RealOrDefault(DiagnosticsLog &log, const multilayer_landuse_class &record,
                     std::string_view text, std::string_view key, std::size_t from,
                     double fallback) {
  const auto value = KeyValue(log, record, text, key, from);
  if (!value)
    return fallback;
  const auto real = ParseReal(Trim(*value));
  if (!real)
    TypeError(log, record, Concat(key, " \"", Trim(*value), "\" is not a number"));
  return *real;
}

void ReadLayerCodes(DiagnosticsLog &log, std::string_view text, std::size_t from,
                    multilayer_landuse_class &record) {
  const auto list = KeyValue(log, record, text, kLayersKey, from);
  if (!list)
    ThrowFatal(log, multilayer::LayersKeyMissing,
               Concat("multiple landuse table: parameter Landuse_Layers not found ", text));
  std::vector<int> codes;
  std::size_t begin = 0;
  while (begin <= list->size()) {
    const std::size_t comma = std::min(list->find(',', begin), list->size());
    const std::string_view piece = Trim(list->substr(begin, comma - begin));
    begin = comma + 1;
    if (piece.empty())
      continue; // "3, 5," has two codes
    const auto code = ParseInt(piece);
    // A piece that is no integer would silently drop a layer.
    if (!code)
      TypeError(log, record, Concat("layer code \"", piece, "\" is not an integer"));
    codes.push_back(*code);
  }
  if (codes.empty())
    TypeError(log, record, "Landuse_Layers names no land-use code");
  const std::size_t count = codes.size();
  record.LayerCount = static_cast<int>(count);
  record.LayerCodes = OneBasedArray<int>(count);
  record.LayerCodes[0] = record.LayerCount;
  for (std::size_t k = 1; k <= count; ++k)
    record.LayerCodes[k] = codes[k - 1];
  record.LayerCodesAsRead = record.LayerCodes;
  record.CodeAsRead = record.Code;
}

// One line, line break included; nullopt at the end of the file.
std::optional<std::string> ReadLine(std::FILE *file, DiagnosticsLog &log,
                                    const multilayer_landuse_class &record) {
  WholeLine line = ReadWholeLine(file, ControlFileReader::MaxLineLength);
  if (line.tooLong)
    TypeError(log, record,
              Concat("line longer than ", ControlFileReader::MaxLineLength,
                     " characters: ", line.text.substr(0, 80), "..."));
  if (line.atEnd)
    return std::nullopt;
  return std::move(line.text);
}

// The text of type `index` of `count`: its first line (blank lines before it
// are skipped), then, unless it holds "}", the lines up to the one with "}".
std::string ReadTypeText(std::FILE *file, DiagnosticsLog &log, int index, int count) {
  const multilayer_landuse_class position(index);
  std::optional<std::string> line;
  do {
    line = ReadLine(file, log, position);
  } while (line && Trim(*line).empty());
  if (!line)
    TypeError(log, position,
              Concat("the control file ends before multilayer type ", index, " of ", count));
  if (!Contains(*line, kLayersKey))
    ThrowFatal(log, multilayer::LayersKeyMissing,
               Concat("multiple landuse table: parameter Landuse_Layers not found ", *line));
  std::string text = *line;
  while (!Contains(*line, "}")) {
    line = ReadLine(file, log, position);
    if (!line)
      TypeError(log, position,
                Concat("the control file ends before the \"}\" that closes multilayer type ", index,
                       ":\n", text));
    // Only a type's first line names its layers: this one starts the next
    // type, so the "}" of this type is missing.
    if (Contains(*line, kLayersKey))
      TypeError(log, position,
                Concat("the next type begins before the \"}\" that closes multilayer type ", index,
                       ":\n", text, *line));
    text += *line;
  }
  return text;
}

} // namespace

void ParseMultilayerType(DiagnosticsLog &log, std::string_view text,
                         multilayer_landuse_class &record) {
  std::size_t pos = 0;
  const auto code = ParseInt(NextWord(text, pos));
  if (!code)
    TypeError(log, record, Concat("the code could not be read: ", text));
  record.Code = *code;
  const std::string_view name = NextWord(text, pos);
  if (name.empty())
    TypeError(log, record, Concat("the name could not be read: ", text));
  if (name.size() > multilayer_landuse_class::MaxNameLength)
    TypeError(log, record,
              Concat("the name is longer than ", multilayer_landuse_class::MaxNameLength,
                     " characters: ", name.substr(0, 80), "..."));
  record.Name = std::string(name);
  // Keys are looked for after the name, so that a name cannot pose as one.
  ReadLayerCodes(log, text, pos, record);
  record.k_extinct =
      RealOrDefault(log, record, text, kExtinctionKey, pos, multilayer::DefaultExtinction);
  record.LAI_scale =
      RealOrDefault(log, record, text, kLaiScaleKey, pos, multilayer::DefaultLaiScale);
}

std::optional<MultilayerLanduseTable>
ReadMultilayerLanduseTable(ControlFileReader &reader, DiagnosticsLog &log,
                           [[maybe_unused]] int soilModelVariant) {
  if (!reader.FindControlKey("[multilayer_landuse]", false))
    return std::nullopt;
  const int count = reader.ReadInt("number of multilayer landuse types");
  MultilayerLanduseTable table(0);
  table[0].Code = count;
  for (int i = 1; i <= count; ++i) {
    multilayer_landuse_class record(i);
    ParseMultilayerType(log, ReadTypeText(reader.Handle(), log, i, count), record);
    const multilayer_landuse_class *previous = i > 1 ? &table[i - 1] : nullptr;
    if (previous != nullptr && record.LayerCount != previous->LayerCount)
      ThrowFatal(log, multilayer::LayerCountMismatch,
                 Concat("\nThe numbers of landuse layers has to be equal for all "
                        "multilayer-landuse types\n(here: multilayer-landuse type ",
                        record.Code, ": ", record.LayerCount,
                        " layers, but multilayer-landuse type ", previous->Code, ": ",
                        previous->LayerCount, " layers)\n\n"));
    table.Resize(static_cast<std::size_t>(i));
    table[static_cast<std::size_t>(i)] = std::move(record);
  }
  return table;
}

} // namespace tavro
