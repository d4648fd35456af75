// Parsing of one tracer line of "[substance_transport]" with the documented
// failure texts. Numbers are read as "%lf" reads them (leading blanks
// skipped, the longest number at that place); a number that is not finite is
// no readable number.
#include "setup/tracer_line.h"

#include "kernel/fatal_error.h"
#include "kernel/string_helpers.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <system_error>

namespace tavro {
namespace {

constexpr std::size_t npos = std::string_view::npos;

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

struct Number {
  double value = 0.0;
  std::size_t end = 0; // position after the number
};

std::optional<Number> ReadNumber(std::string_view line, std::size_t pos) {
  const std::string rest(line.substr(std::min(pos, line.size())));
  char *end = nullptr;
  const double value = std::strtod(rest.c_str(), &end);
  if (end == rest.c_str() || !std::isfinite(value))
    return std::nullopt;
  return Number{value, pos + static_cast<std::size_t>(end - rest.c_str())};
}

// An integer as "%d" reads it: blanks skipped, an optional sign, digits.
std::optional<int> ReadInteger(std::string_view line, std::size_t pos) {
  while (pos < line.size() && IsBlank(line[pos]))
    ++pos;
  if (pos < line.size() && line[pos] == '+')
    ++pos;
  int value = 0;
  const char *first = line.data() + pos;
  const auto [end, error] = std::from_chars(first, line.data() + line.size(), value);
  if (error != std::errc() || end == first)
    return std::nullopt;
  return value;
}

// Reads the entries of one line in the documented order; a failure is thrown
// as a TracerLineFailure and returned by ParseTracerLine.
class TracerLineParser {
public:
  TracerLineParser(std::string_view line, int tracer, int tracerCount)
      : line_(line), tracer_(tracer), count_(tracerCount) {}

  [[noreturn]] void Fail(std::string text, int code = kTracerLineExitCode) const {
    throw TracerLineFailure{code, std::move(text)};
  }

  bool Has(std::string_view word) const { return line_.find(word) != npos; }

  void ReadDecay(TracerInfo &info) const {
    if (!Has("radioactive"))
      Fail(Concat("error reading parameters for tracer ", tracer_,
                  ":\n need a key word \"radioactive\" or \"non_radioactive\"\n(may be, the "
                  "number of tracers (",
                  count_, ") is wrong?\n"));
    if (Has("non_radioactive")) {
      info.radioactive = 0;
      info.half_time = -9999.0;
      return;
    }
    info.radioactive = 1;
    const std::size_t key = line_.find("half_time");
    if (key == npos)
      Fail(Concat("error in tracer_info_table tracer ", tracer_,
                  ": need a \"half_time = xxxx d\" sequence!"));
    const std::size_t equals = line_.find('=', key);
    if (equals == npos)
      Fail(Concat("error reading half_time for tracer ", tracer_, ": no \"half_time =\" found!"));
    const std::optional<Number> number = ReadNumber(line_, equals + 1);
    std::size_t pos = number ? number->end : 0;
    const std::string_view unit = number ? NextWord(line_, pos) : std::string_view();
    if (unit.empty())
      Fail(Concat("error reading half_time for tracer ", tracer_));
    if (unit != "d")
      Fail(Concat("error reading half_time for tracer ", tracer_, ": no \"d\" for measure found!"));
    // A half-life of 0 would divide the decay by zero.
    if (!(number->value > 0.0))
      Fail(Concat("error in half_time for tracer ", tracer_, ": must be greater than 0!"));
    info.half_time = number->value;
  }

  void ReadEvaporation(TracerInfo &info) const {
    if (!Has("evaporating"))
      Fail(Concat("error reading parameters for tracer ", tracer_,
                  ":\n need a key word \"evaporating\" or \"non_evaporating\"\n(may be, the "
                  "number of tracers (",
                  count_, ") is wrong?"));
    info.evaporating = Has("non_evaporating") ? 0 : 1;
  }

  // "key", then the first "=" after it, then the number; returns the number.
  Number ReadKeyedNumber(std::string_view key, std::string_view noNumberEnd) const {
    const std::size_t at = line_.find(key);
    if (at == npos)
      Fail(Concat("error reading parameters for tracer ", tracer_, ":\nneed a key word \"", key,
                  " = xxxx\""));
    const std::size_t equals = line_.find('=', at + key.size());
    if (equals == npos)
      Fail(Concat("error reading ", key, " for tracer ", tracer_, ": no \"", key, " =\" found!"));
    const std::optional<Number> number = ReadNumber(line_, equals + 1);
    if (!number)
      Fail(Concat("error reading ", key, " for tracer ", tracer_, noNumberEnd));
    return *number;
  }

  double ReadMaxConc() const {
    const Number number = ReadKeyedNumber("max_conc", "");
    std::size_t pos = number.end;
    const std::string_view unit = NextWord(line_, pos);
    // The unit is checked, not stored: without one the value is in kg/kg.
    if (!unit.empty() && unit != "mg/l" && unit != "g/l" && unit != "kg/kg" && unit != "Kg/Kg")
      Fail(Concat("error reading max_conc for tracer ", tracer_,
                  ":\nwrong measure (only mg/l, g/l or kg/kg resp. no measure are "
                  "allowed!)\nread here: ",
                  unit));
    return number.value;
  }

  // Position right after "key =", the key word missing being a failure.
  std::size_t AfterKey(std::string_view key) const {
    const std::string keyed = std::string(key) + " =";
    const std::size_t at = line_.find(keyed);
    if (at == npos)
      Fail(Concat("error reading ", key, " for tracer ", tracer_, ":\nneed a key word \"", key,
                  " = xxxx\""));
    return at + keyed.size();
  }

  int ReadCode(std::string_view key) const {
    const std::optional<int> value = ReadInteger(line_, AfterKey(key));
    if (!value)
      Fail(Concat("error reading ", key, " for tracer ", tracer_, "!"));
    return *value;
  }

  std::string ReadText(std::string_view key) const {
    std::size_t pos = AfterKey(key);
    const std::string_view word = NextWord(line_, pos);
    if (word.empty())
      Fail(Concat("error reading ", key, " for tracer ", tracer_, "!"));
    if (word.size() > kMaxTracerWordLength)
      Fail(Concat("error reading ", key, " for tracer ", tracer_, ": longer than ",
                  kMaxTracerWordLength, " characters"));
    return std::string(word);
  }

private:
  std::string_view line_;
  int tracer_;
  int count_;
};

} // namespace

std::string TracerShortName(std::string_view line) {
  std::size_t pos = 0;
  std::string name(NextWord(line, pos).substr(0, 3));
  for (char &c : name)
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  name.resize(3, '_');
  return name;
}

std::variant<TracerInfo, TracerLineFailure> ParseTracerLine(std::string_view line, int tracer,
                                                            int tracerCount,
                                                            std::span<const TracerInfo> earlier) {
  const TracerLineParser parser(line, tracer, tracerCount);
  try {
    TracerInfo info;
    info.name = TracerShortName(line);
    for (std::size_t k = 0; k < earlier.size(); ++k)
      if (earlier[k].name == info.name)
        parser.Fail(Concat("\n----------- ERROR in substance_transport ---------\n\nsubstance #",
                           tracer, " and substance #", k + 1,
                           " have the same\nfirst 3 chars (lowercase) in its name (", info.name,
                           " <-> ", earlier[k].name,
                           ")\n\n--------------------------------------------------\n"),
                    kTracerNameExitCode);
    parser.ReadDecay(info);
    parser.ReadEvaporation(info);
    info.min_conc = parser.ReadKeyedNumber("min_conc", "").value;
    info.max_conc = parser.ReadMaxConc();
    info.soilini = parser.ReadKeyedNumber("soilini", "!").value;
    info.gwini = parser.ReadKeyedNumber("gwini", "!").value;
    info.statcode = parser.ReadCode("statcode");
    info.gridcode = parser.ReadCode("gridcode");
    info.path = parser.ReadText("path");
    info.statext = parser.ReadText("statext");
    info.gridext = parser.ReadText("gridext");
    return info;
  } catch (TracerLineFailure &failure) {
    return std::move(failure);
  }
}

} // namespace tavro
