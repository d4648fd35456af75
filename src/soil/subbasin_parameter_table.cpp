// Reading of the subbasin table: the code row with its group marks, the six
// value rows in rank order with copies, and the entries of its failures.
#include "soil/subbasin_parameter_table.h"

#include "kernel/control_file_reader.h"
#include "kernel/fatal_error.h"

#include <cmath>
#include <optional>
#include <vector>

namespace tavro {
namespace {

constexpr const char *kErrorHead = "\n-----------------error------------\n";

// How to write a group of subbasins; after the row "QB-Red.Faktor" it ends
// with one more line break.
constexpr const char *kGroupHelp =
    "\npossible error by using the same parameters\nfor groups of subbasins:\nat least the first "
    "AND the last subbasin code have\nto be specified with all their parameters like this:\n(if "
    "the smallest code is 1 and the largest code is 8)\n1\t8\n3\t3\n8\t8\n14\t14\n0.4\t0.4\n0.01\t"
    "0.01\n0.1\t0.1\n..\t..\nThen, to all subcatchments with zone-codes ranging from 1 to 7 the "
    "\nparameters of subbasin 1 will be assigned!";

enum class Mark { None, Listed, Copy };

// The six value rows in the order they are read.
enum class Row { Kelsqd, Kelsqi, DrainageDensity, Kelsqlat, MaxBaseflow, SnowRunoff };
constexpr const char *kRowNames[] = {"kelsqd",   "kelsqi",        "channel network density",
                                     "kelsqlat", "QB-Red.Faktor", "SnowRunoff_fraction"};

std::string Help(Row row) {
  return row == Row::MaxBaseflow ? std::string(kGroupHelp) + "\n" : std::string(kGroupHelp);
}

// Skips the rest of the current line.
void SkipRestOfLine(std::FILE *file) {
  int c = 0;
  while ((c = std::getc(file)) != EOF && c != '\n') {
  }
}

// The marks of ranks 1..n from the code row.
std::vector<Mark> ReadCodeRow(std::FILE *file, DiagnosticsLog &log, const SubbasinRanks &codes,
                              const std::string &moduleName, const std::string &controlFileName) {
  const int n = codes.Count;
  std::vector<Mark> marks(static_cast<std::size_t>(n) + 1, Mark::None);
  const int smallest = codes.CodeOf(1);
  int previous = smallest;
  long lastRead = 0; // no code read yet
  bool largestRead = false;
  while (!largestRead) {
    const std::optional<int> code = ScanInt(file);
    if (!code)
      ThrowFatal(
          log, kSubbasinTableExitCode,
          Concat(kErrorHead, "error reading code[", lastRead, "] for ", moduleName, kGroupHelp));
    lastRead = *code;
    const int rank = *code >= 1 && *code <= codes.MaxCode ? codes.RankOf(*code) : 0;
    if (rank == 0)
      ThrowFatal(log, kSubbasinTableExitCode,
                 Concat(kErrorHead, "error! there is no code ", *code, " (from ", controlFileName,
                        ") for a subbasin in ", moduleName, kGroupHelp));
    const int previousRank = codes.RankOf(previous);
    // A first code above the smallest gives the smallest code its own values.
    if (previous == smallest && marks[static_cast<std::size_t>(previousRank)] != Mark::Listed)
      marks[static_cast<std::size_t>(previousRank)] = Mark::Listed;
    marks[static_cast<std::size_t>(rank)] = Mark::Listed;
    for (int between = previousRank + 1; between < rank; ++between)
      marks[static_cast<std::size_t>(between)] = Mark::Copy;
    previous = *code;
    largestRead = *code == codes.MaxCode;
  }
  SkipRestOfLine(file);
  return marks;
}

} // namespace

int SubbasinRanks::RankOf(long code) const {
  if (Index == nullptr || code < 0 || static_cast<std::size_t>(code) > Index->Count())
    return 0;
  return (*Index)[static_cast<std::size_t>(code)];
}

int SubbasinRanks::CodeOf(int rank) const {
  if (Table == nullptr || rank < 0 || static_cast<std::size_t>(rank) > Table->Count())
    return 0;
  return static_cast<int>(std::lround((*Table)[static_cast<std::size_t>(rank)].zonenwert));
}

double StorageConstantMinutes(double hours) { return hours < 0.001 ? 0.06 : hours * 60.0; }

SubbasinParameters ReadSubbasinParameterTable(std::FILE *file, DiagnosticsLog &log,
                                              const SubbasinRanks &codes,
                                              const std::string &moduleName,
                                              const std::string &controlFileName) {
  const int n = codes.Count;
  const std::vector<Mark> marks = ReadCodeRow(file, log, codes, moduleName, controlFileName);

  SubbasinParameters p;
  const auto size = static_cast<std::size_t>(n);
  p.code = OneBasedArray<int>(size, 0);
  OneBasedArray<double> *rows[] = {&p.kelsqd,      &p.kelsqi,      &p.DrainageDensity,
                                   &p.InvKelsqlat, &p.MaxBaseflow, &p.SnowRunoff_fraction};
  for (int r = 0; r < 6; ++r) {
    const Row row = static_cast<Row>(r);
    OneBasedArray<double> &values = *rows[r];
    values = OneBasedArray<double>(size, 0.0);
    for (int i = 1; i <= n; ++i) {
      const auto at = static_cast<std::size_t>(i);
      if (marks[at] != Mark::Listed) {
        values[at] = values[at - 1];
        continue;
      }
      const std::optional<double> value = ScanDouble(file);
      if (!value)
        ThrowFatal(log, kSubbasinTableExitCode,
                   Concat(kErrorHead, "error reading ", kRowNames[r], "[", codes.CodeOf(i),
                          "] for ", moduleName, Help(row)));
      switch (row) {
      case Row::Kelsqd:
      case Row::Kelsqi:
        values[at] = StorageConstantMinutes(*value);
        break;
      case Row::Kelsqlat:
        // Its inverse would be unbounded and make the baseflow NaN.
        if (*value == 0.0)
          ThrowFatal(log, kSubbasinTableExitCode,
                     Concat(kErrorHead, "error! kelsqlat[", codes.CodeOf(i), "] is 0 for ",
                            moduleName,
                            ": the recession constant of baseflow must not be 0 (a negative "
                            "value switches the recession off)",
                            Help(row)));
        values[at] = *value > 0.0 ? 1.0 / *value : 0.0;
        break;
      default:
        values[at] = *value;
        break;
      }
    }
    SkipRestOfLine(file);
  }
  for (int i = 1; i <= n; ++i)
    p.code[static_cast<std::size_t>(i)] = codes.CodeOf(i);
  return p;
}

} // namespace tavro
