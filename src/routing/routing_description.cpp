// The two passes over the routing descriptions and the reading of their
// elements.
#include "routing/routing_description.h"

#include "kernel/fatal_error.h"
#include "routing/description_scanner.h"

#include <map>
#include <optional>
#include <string_view>
#include <utility>

namespace tavro {
namespace {

constexpr const char *kDescriptionTokens[] = {"TG", "OL", "SUMTRIB", "ZL", "AL", "SP"};
constexpr const char *kElementTokens[] = {"SUMTRIB", "OL", "AL", "ZL", "SP"};

bool Holds(const std::string &text, std::string_view token) {
  return text.find(token) != std::string::npos;
}

// One line as fgets reads it into 1200 characters: at most 1199 characters,
// up to and including the line break. Empty at the end of the file.
std::string ReadPiece(std::FILE *file) {
  std::string piece;
  int c = 0;
  while (piece.size() < kDescriptionLineLimit - 1 && (c = std::getc(file)) != EOF) {
    piece += static_cast<char>(c);
    if (c == '\n')
      break;
  }
  return piece;
}

DescriptionFailure Failure(int code, std::string message) { return {code, std::move(message)}; }

// Reads the elements of one joined description; the first failure stops it.
class DescriptionReader {
public:
  DescriptionReader(const DescriptionContext &context, RoutingDescription &description,
                    std::map<int, int> &tgOwners, std::map<int, int> &inflowOwners)
      : context_(context), d_(description), scan_(description.Text), tgOwners_(tgOwners),
        inflowOwners_(inflowOwners) {}

  DescriptionFailure Read() {
    d_.Counts = CountTokens(d_.Text);
    if (auto f = ReadHeader(); f.Failed())
      return f;
    for (int e = 1; e <= d_.Counts.OL; ++e)
      if (auto f = ReadTributary("OL", e, d_.Ol, "\n"); f.Failed())
        return f;
    scan_.Restart();
    for (int e = 1; e <= d_.Counts.SUMTRIB; ++e)
      if (auto f = ReadTributary("SUMTRIB", e, d_.Sumtrib, ""); f.Failed())
        return f;
    scan_.Restart();
    for (int e = 1; e <= d_.Counts.ZL; ++e)
      if (auto f = ReadInflow(e); f.Failed())
        return f;
    scan_.Restart();
    for (int e = 1; e <= d_.Counts.AL; ++e)
      if (auto f =
              ReadNumbered("AL", e, "abstraction", kRoutingAbstractionExitCode, d_.Abstractions);
          f.Failed())
        return f;
    scan_.Restart();
    for (int e = 1; e <= d_.Counts.SP; ++e)
      if (auto f = ReadNumbered("SP", e, "reservoir", kRoutingReservoirExitCode, d_.Reservoirs);
          f.Failed())
        return f;
    return {};
  }

private:
  std::string Where() const {
    return Concat("routing description ", d_.Number, " (TG ", d_.TgCode, ")");
  }

  // A token that the text holds but that is not found from the cursor stands
  // before the elements already read, inside a word or a file name.
  DescriptionFailure Missing(std::string_view token, int occurrence, int code) const {
    return Failure(code, Concat(Where(), ": the text holds \"", token, "\" ",
                                CountToken(d_.Text, token), " times, but occurrence ", occurrence,
                                " is not found behind the elements read before it"));
  }

  DescriptionFailure BadValue(std::string_view what) const {
    return Failure(kRoutingValueExitCode,
                   Concat(Where(), ": ", what, " is missing or not a number behind its \"=\": \"",
                          scan_.Excerpt(), "\""));
  }

  DescriptionFailure ReadHeader() {
    scan_.SkipPast("TG");
    const std::optional<int> code = scan_.ReadInteger();
    if (!code)
      return Failure(kRoutingCodeExitCode,
                     Concat("routing description ", d_.Number,
                            ": no subbasin code behind \"TG\": \"", scan_.Excerpt(), "\""));
    if (context_.Codes.IndexOf(*code) == 0)
      return Failure(kRoutingCodeExitCode, Concat("there is no subbasin with code ", *code));
    d_.TgCode = *code;
    if (const auto [owner, inserted] = tgOwners_.emplace(*code, d_.Number); !inserted)
      return Failure(kRoutingCodeExitCode,
                     Concat("routing descriptions ", owner->second, " and ", d_.Number,
                            " both describe subbasin ", *code,
                            ": each subbasin has one routing description at most"));
    const std::optional<double> area = scan_.NumberAfterNextEquals();
    if (!area)
      return BadValue("the area (value 1 of TG)");
    const std::optional<double> factor = scan_.NumberAfterNextEquals();
    if (!factor)
      return BadValue("the area factor (value 2 of TG)");
    if (!(*factor > 0.0))
      return Failure(kRoutingValueExitCode, Concat(Where(), ": the area factor (value 2 of TG) is ",
                                                   *factor, "; it must be above 0"));
    d_.TgArea = *area;
    d_.TgFactor = *factor;
    return {};
  }

  DescriptionFailure ReadValues(std::string_view token, ChannelValues &values) {
    for (std::size_t v = 0; v < values.size(); ++v) {
      const std::optional<double> value = scan_.NumberAfterNextEquals();
      if (!value)
        return BadValue(Concat("value ", v + 1, " of ", token, " element ", element_));
      values[v] = *value;
    }
    return {};
  }

  // The checks of a tributary code; ending is the documented messages' end.
  DescriptionFailure CheckTributary(int code, std::string_view ending) const {
    if (context_.Codes.IndexOf(code) == 0)
      return Failure(kRoutingCodeExitCode, Concat("there cant be a tributary with code ", code,
                                                  " for no subbasin (according to zones)", ending));
    if (code == d_.TgCode)
      return Failure(kRoutingCodeExitCode,
                     Concat("subbasin ", d_.TgCode, ": code of tributary ", element_, " (", code,
                            ") is equal to subbasin code!\nIt is not allowed to rout the outflow "
                            "of a subbasin back into \nthe same subbasin. Use a reservoir instead.",
                            ending));
    return {};
  }

  DescriptionFailure ReadTributary(std::string_view token, int occurrence,
                                   std::vector<ChannelElement> &into, std::string_view ending) {
    if (!scan_.SkipPast(token))
      return Missing(token, occurrence, kRoutingCodeExitCode);
    ++element_;
    ChannelElement channel;
    channel.ElementIndex = element_;
    const std::optional<int> code = scan_.ReadInteger();
    if (!code)
      return Failure(kRoutingCodeExitCode,
                     Concat(Where(), ": no subbasin code behind \"", token, "\" (element ",
                            element_, "): \"", scan_.Excerpt(), "\""));
    if (auto f = CheckTributary(*code, ending); f.Failed())
      return f;
    channel.Code = *code;
    if (token == "SUMTRIB")
      if (auto f = ReadList(channel.List); f.Failed())
        return f;
    if (auto f = ReadValues(token, channel.Values); f.Failed())
      return f;
    into.push_back(std::move(channel));
    return {};
  }

  // The "&" list: from the cursor up to the first blank, "(" or "k".
  DescriptionFailure ReadList(std::vector<int> &list) {
    const std::string_view text = scan_.ReadUntilAny(" (k");
    std::size_t amp = text.find('&');
    while (amp != std::string_view::npos) {
      const std::size_t next = text.find('&', amp + 1);
      const std::string_view part = text.substr(
          amp + 1, next == std::string_view::npos ? std::string_view::npos : next - amp - 1);
      if (list.size() == static_cast<std::size_t>(kMaxSumtribCodes))
        return Failure(kRoutingCodeExitCode,
                       Concat(Where(), ": SUMTRIB element ", element_, " lists more than ",
                              kMaxSumtribCodes, " codes behind \"&\""));
      DescriptionScanner partScan(part);
      const std::optional<int> code = partScan.ReadInteger();
      if (!code || context_.Codes.IndexOf(*code) == 0)
        return Failure(kRoutingCodeExitCode,
                       Concat(Where(), ": \"&", part, "\" of SUMTRIB element ", element_,
                              " names no subbasin (according to zones)"));
      if (*code == d_.TgCode)
        return Failure(kRoutingCodeExitCode,
                       Concat(Where(), ": code ", *code, " behind \"&\" of SUMTRIB element ",
                              element_, " is equal to subbasin code; use a reservoir instead"));
      list.push_back(*code);
      amp = next;
    }
    return {};
  }

  DescriptionFailure ReadInflow(int occurrence) {
    if (!scan_.SkipPast("ZL"))
      return Missing("ZL", occurrence, kRoutingInflowExitCode);
    ++element_;
    InflowElement inflow;
    inflow.Channel.ElementIndex = element_;
    const std::optional<int> number = scan_.ReadInteger();
    if (!number)
      return Failure(kRoutingInflowExitCode,
                     Concat(Where(), ": no inflow number behind \"ZL\" (element ", element_,
                            "): \"", scan_.Excerpt(), "\""));
    if (*number > context_.InflowTotal)
      return Failure(kRoutingInflowExitCode,
                     Concat("there is/are only ", context_.InflowTotal,
                            " inflow(s) for the entire basin,\n but the codes ranges from 1 to at "
                            "least ",
                            *number, "! in ", context_.ModuleName));
    if (*number < 1)
      return Failure(kRoutingInflowExitCode,
                     Concat(Where(), ": inflow number ", *number, " is below 1"));
    if (const auto [owner, inserted] = inflowOwners_.emplace(*number, d_.Number); !inserted)
      return Failure(kRoutingInflowExitCode, Concat(Where(), ": inflow number ", *number,
                                                    " is given twice (routing descriptions ",
                                                    owner->second, " and ", d_.Number, ")"));
    inflow.Channel.Code = *number;
    if (!scan_.SkipPast("="))
      return BadValue(Concat("the mode of inflow ", *number));
    const std::string mode = scan_.ReadWord();
    if (mode == "constant") {
      inflow.Kind = InflowKind::Constant;
      const std::optional<double> value = scan_.ReadNumber();
      if (!value)
        return BadValue(Concat("the constant discharge of inflow ", *number));
      inflow.Constant = *value;
    } else if (mode == "extern") {
      inflow.Kind = InflowKind::External;
      inflow.FileName = scan_.ReadWord();
      const std::optional<int> row = scan_.ReadInteger();
      const std::optional<int> column = row ? scan_.ReadInteger() : std::nullopt;
      if (inflow.FileName.empty() || !row || !column)
        return BadValue(Concat("the file name, start row or column of inflow ", *number));
      inflow.StartRow = *row;
      inflow.FirstTracerColumn = *column;
    } else if (mode == "intern") {
      inflow.Kind = InflowKind::Internal;
    } else {
      return Failure(kRoutingInflowExitCode,
                     Concat("the modus \"", mode, "\" is not supported for inflow ", *number));
    }
    if (auto f = ReadValues("ZL", inflow.Channel.Values); f.Failed())
      return f;
    d_.Inflows.push_back(std::move(inflow));
    return {};
  }

  DescriptionFailure ReadNumbered(std::string_view token, int occurrence, std::string_view kind,
                                  int exitCode, std::vector<NumberedElement> &into) {
    if (!scan_.SkipPast(token))
      return Missing(token, occurrence, exitCode);
    ++element_;
    const std::optional<int> number = scan_.ReadInteger();
    if (!number)
      return Failure(exitCode, Concat(Where(), ": no ", kind, " number behind \"", token,
                                      "\" (element ", element_, "): \"", scan_.Excerpt(), "\""));
    into.push_back({element_, *number, scan_.Position()});
    return {};
  }

  const DescriptionContext &context_;
  RoutingDescription &d_;
  DescriptionScanner scan_;
  std::map<int, int> &tgOwners_;
  std::map<int, int> &inflowOwners_;
  int element_ = 0;
};

} // namespace

TokenCounts &TokenCounts::operator+=(const TokenCounts &other) {
  OL += other.OL;
  SUMTRIB += other.SUMTRIB;
  Amp += other.Amp;
  ZL += other.ZL;
  AL += other.AL;
  SP += other.SP;
  return *this;
}

TokenCounts CountTokens(const std::string &text) {
  TokenCounts counts;
  counts.OL = CountToken(text, "OL");
  counts.SUMTRIB = CountToken(text, "SUMTRIB");
  counts.Amp = CountToken(text, "&");
  counts.ZL = CountToken(text, "ZL");
  counts.AL = CountToken(text, "AL");
  counts.SP = CountToken(text, "SP");
  return counts;
}

bool IsDescriptionLine(const std::string &text) {
  for (const char *token : kDescriptionTokens)
    if (Holds(text, token))
      return true;
  return false;
}

int SubbasinCodes::IndexOf(long code) const {
  if (CodeIndex == nullptr || code < 0 || code > MaxCode ||
      static_cast<std::size_t>(code) > CodeIndex->Count())
    return 0;
  const int index = (*CodeIndex)[static_cast<std::size_t>(code)];
  return index >= 1 && index <= Count ? index : 0;
}

DescriptionCountResult CountRoutingDescriptions(std::FILE *file) {
  DescriptionCountResult result;
  for (;;) {
    const std::string line = ReadPiece(file);
    if (line.empty()) {
      result.Failure = Failure(kRoutingEndOfFileExitCode,
                               "error reading a routing description from control file! (eof "
                               "reached).");
      return result;
    }
    if (Holds(line, "TG"))
      ++result.Descriptions;
    if (!IsDescriptionLine(line))
      return result;
    result.Totals += CountTokens(line);
  }
}

DescriptionParseResult ParseRoutingDescriptions(std::FILE *file,
                                                const DescriptionContext &context) {
  DescriptionParseResult result;
  std::string current = ReadPiece(file);
  if (current.empty()) {
    result.Failure = Failure(kRoutingEndOfFileExitCode,
                             "rerror reading routing description \n2nd run, (1st run: o.k.)");
    return result;
  }
  std::map<int, int> tgOwners;
  std::map<int, int> inflowOwners;
  while (Holds(current, "TG")) {
    RoutingDescription description;
    description.Number = ++result.Begun;
    std::string line = std::move(current);
    for (;;) {
      if (line.empty() || line.back() != '\n') {
        result.Failure =
            Failure(kRoutingLineExitCode,
                    Concat("string is too long (max. ", kDescriptionLineLimit, " chars):\n", line));
        return result;
      }
      line.pop_back();
      description.Text += line;
      std::string next = ReadPiece(file);
      if (next.empty()) {
        result.Failure = Failure(kRoutingEndOfFileExitCode,
                                 "unexpected end of control file reached reading routing "
                                 "descriptions");
        return result;
      }
      bool element = false;
      for (const char *token : kElementTokens)
        element = element || Holds(next, token);
      if (Holds(next, "TG") || !element) {
        current = std::move(next);
        break;
      }
      line = std::move(next);
    }
    DescriptionReader reader(context, description, tgOwners, inflowOwners);
    if (DescriptionFailure failure = reader.Read(); failure.Failed()) {
      result.Failure = std::move(failure);
      return result;
    }
    result.Descriptions.push_back(std::move(description));
  }
  return result;
}

std::vector<double> InitialReservoirState(std::string_view text, std::size_t position,
                                          int tracerCount) {
  constexpr int kStatedConcentrations = 9;
  std::vector<double> state(static_cast<std::size_t>(tracerCount < 0 ? 0 : tracerCount) + 1, 0.0);
  DescriptionScanner scanner(position < text.size() ? text.substr(position) : std::string_view{});
  if (scanner.SkipPast("V0"))
    state[0] = scanner.NumberAfterNextEquals().value_or(0.0);
  if (!scanner.SkipPast("C0"))
    return state;
  for (int k = 1; k <= kStatedConcentrations; ++k) {
    const std::optional<double> value =
        k == 1 ? scanner.NumberAfterNextEquals() : scanner.ReadNumber();
    if (!value)
      break;
    if (k <= tracerCount)
      state[static_cast<std::size_t>(k)] = *value;
  }
  return state;
}

} // namespace tavro
