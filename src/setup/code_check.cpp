// Check and renumbering of code grids and of multilayer layer codes.
#include "setup/code_check.h"

#include "kernel/fatal_error.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>

namespace tavro {
namespace {

const std::string kDashes(71, '-');

struct KindTexts {
  const char *firstLabel;
  const char *secondLabel;
  const char *what;  // in front of the value
  const char *where; // after the grid's names
  int exitCode;
};

KindTexts TextsOf(CodeGridKind kind) {
  switch (kind) {
  case CodeGridKind::Soil:
    return {"1.: checking soil type codes", "2.:replacing soil type codes ", "soil type ",
            "is not present in the control file \n", kMissingSoilCodeExitCode};
  case CodeGridKind::Irrigation:
    return {"1.: checking codes in irrigation grid", "2.:replacing codes in irrigation grid ",
            "irrigation type ", "is not present in the irrigation table in the control file \n",
            kMissingLanduseCodeExitCode};
  case CodeGridKind::Landuse:
    return {"1.: checking codes in land use grid", "2.:replacing codes in land use grid ",
            "land use ", "is not present in the land use table in the control file \n",
            kMissingLanduseCodeExitCode};
  case CodeGridKind::MultilayerLanduse:
    break;
  }
  return {"1.: checking codes in land use grid", "2.:replacing codes in land use grid ",
          "land use ", "is not present in the multilayer-landuse-table in the control file \n",
          kMissingMultilayerCodeExitCode};
}

} // namespace

std::optional<long long> CodeOf(double value) {
  if (!std::isfinite(value))
    return std::nullopt;
  const double rounded = std::floor(value + 0.5);
  if (rounded < static_cast<double>(INT32_MIN) || rounded > static_cast<double>(INT32_MAX))
    return std::nullopt;
  return static_cast<long long>(rounded);
}

CodeRenumbering::CodeRenumbering(std::span<const int> tableCodes) {
  // As if the records replaced their codes one after the other in a copy of
  // the grid: of several records with one code, the last whose code differs
  // from its number wins; a record whose code is its own number changes
  // nothing, but its cells still take that number exactly.
  std::map<long long, int> recordOf;
  std::map<long long, bool> replacedCode;
  for (std::size_t i = 0; i < tableCodes.size(); ++i) {
    const int code = tableCodes[i];
    const int record = static_cast<int>(i + 1);
    if (code != record) {
      replaced_.emplace_back(code, record);
      recordOf[code] = record;
      replacedCode[code] = true;
    } else if (!replacedCode[code]) {
      recordOf[code] = record;
    }
  }
  recordOfCode_.assign(recordOf.begin(), recordOf.end());
}

std::optional<int> CodeRenumbering::RecordOf(long long code) const {
  const auto at = std::lower_bound(
      recordOfCode_.begin(), recordOfCode_.end(), code,
      [](const std::pair<long long, int> &entry, long long c) { return entry.first < c; });
  if (at == recordOfCode_.end() || at->first != code)
    return std::nullopt;
  return at->second;
}

std::vector<std::string> CodeRenumbering::ReplacementLines() const {
  std::vector<std::string> lines;
  lines.reserve(replaced_.size());
  for (const auto &[code, record] : replaced_)
    lines.push_back(Concat(code, " replaced by ", record, " ..."));
  return lines;
}

void CodeRenumbering::Apply(Grid &grid, long ncols) const {
  const long first = grid.FirstRow();
  const long last = grid.LastRow();
#pragma omp parallel for schedule(runtime)
  for (long r = first; r <= last; ++r) {
    if (!grid.HasRow(r))
      continue;
    double *row = grid[r];
    for (long c = 1; c <= ncols; ++c) {
      const std::optional<long long> code = CodeOf(row[c]);
      if (!code)
        continue;
      if (const std::optional<int> record = RecordOf(*code))
        row[c] = static_cast<double>(*record);
    }
  }
}

CodeCheckResult CheckAndRenumberCodes(Grid codes, const Grid &zone, const RasterShape &shape,
                                      std::span<const int> tableCodes,
                                      const CodeGridSubject &subject) {
  const KindTexts texts = TextsOf(subject.kind);
  const CodeRenumbering renumbering(tableCodes);
  CodeCheckResult result;
  result.LogLines.emplace_back(texts.firstLabel);
  const long last = std::min(codes.LastRow(), shape.nrows);
  for (long r = std::max(codes.FirstRow(), 1L); r <= last; ++r) {
    if (!codes.HasRow(r) || !zone.HasRow(r))
      continue;
    const double *row = codes[r];
    const double *zoneRow = zone[r];
    for (long c = 1; c <= shape.ncols; ++c) {
      if (!(zoneRow[c] > shape.nodata))
        continue;
      const std::optional<long long> code = CodeOf(row[c]);
      if (subject.kind == CodeGridKind::Irrigation && code && *code <= 0)
        continue; // cells without irrigation
      if (code && renumbering.RecordOf(*code))
        continue;
      result.Failure = {texts.exitCode, Concat("\n", kDashes, "\n", texts.what, row[c], " in grid ",
                                               subject.fileName, " (", subject.identifier, ")\n",
                                               texts.where, kDashes, "\n\n")};
      result.Renumbered = std::move(codes);
      return result;
    }
  }
  result.LogLines.push_back(Concat(texts.secondLabel, subject.fileName));
  for (std::string &line : renumbering.ReplacementLines())
    result.LogLines.push_back(std::move(line));
  renumbering.Apply(codes, shape.ncols);
  result.Renumbered = std::move(codes);
  return result;
}

LayerCodeResult CheckAndRenumberLayerCodes(MultilayerLanduseTable &table,
                                           std::span<const int> landuseCodes, double noData) {
  LayerCodeResult result;
  const CodeRenumbering landuse(landuseCodes);
  const std::size_t types = table.Count();
  for (std::size_t l = 1; l <= types; ++l) {
    const multilayer_landuse_class &type = table[l];
    for (int m = 1; m <= type.LayerCount && static_cast<std::size_t>(m) <= type.LayerCodes.Count();
         ++m) {
      const int code = type.LayerCodes[static_cast<std::size_t>(m)];
      if (static_cast<double>(code) > noData) {
        if (landuse.RecordOf(code))
          continue;
        result.Failure = {
            kInvalidLayerCodeExitCode,
            Concat("\n", kDashes, "\nError: not all layer codes from landuse ", type.Code,
                   " from MultiLayer_Landuse-Table\nare present in the landuse-table in the "
                   "control file: Here, code ",
                   code, " is missing.\n", kDashes, "\n\n")};
        return result;
      }
      if (m == 1) {
        result.Failure = {
            kInvalidLayerCodeExitCode,
            Concat("\n\n", kDashes,
                   "\nError: the first Layer code of each MultiLayer-Landuse Entry \nmust be a "
                   "valid entry (not 9999 or larger):\nHere, line ",
                   l, " contains ", code, " as first layer code.\n", kDashes, "\n\n")};
        return result;
      }
    }
  }
  // Compared with the codes as read, so that one replacement never feeds another.
  for (std::size_t e = 1; e <= landuseCodes.size(); ++e) {
    const int from = landuseCodes[e - 1];
    if (from == static_cast<int>(e))
      continue;
    for (std::size_t g = 1; g <= types; ++g) {
      multilayer_landuse_class &type = table[g];
      const std::size_t layers = std::min(type.LayerCodes.Count(), type.LayerCodesAsRead.Count());
      for (std::size_t j = 1; j <= layers && static_cast<int>(j) <= type.LayerCount; ++j) {
        if (type.LayerCodesAsRead[j] != from)
          continue;
        type.LayerCodes[j] = static_cast<int>(e);
        result.LogLines.push_back(Concat("Code replacement in MultiLayer-Landuse ", g,
                                         ": changed Layer-Code #", j, " from ", from, " to ", e));
      }
    }
  }
  return result;
}

} // namespace tavro
