// The routing descriptions of "[routing_model]": the lines after the fit
// offset, each description one "TG" line and the lines after it that hold
// "OL", "SUMTRIB", "ZL", "AL" or "SP". Pass 1 counts them (and their tokens,
// overlapping substrings anywhere in a line); pass 2 joins each description's
// lines and reads its elements into plain records. No MPI and no log: a
// failure comes back as its exit code and the text of its FATAL entry.
#pragma once

#include "kernel/one_based_array.h"
#include "routing/channels/water_level_table.h"

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tavro {

inline constexpr int kRoutingValueExitCode = 17;
inline constexpr int kRoutingEndOfFileExitCode = 38;
inline constexpr int kRoutingLineExitCode = 40;
inline constexpr int kRoutingCodeExitCode = 41;
inline constexpr int kRoutingInflowExitCode = 42;
inline constexpr int kRoutingReservoirExitCode = 35;
inline constexpr int kRoutingAbstractionExitCode = 44;

// Longest description line with its line break is one less than this.
inline constexpr std::size_t kDescriptionLineLimit = 1200;
// Most codes behind "&" in one SUMTRIB list.
inline constexpr int kMaxSumtribCodes = 9;

struct DescriptionFailure {
  int ExitCode = 0;
  std::string Message; // the FATAL entry without "FATAL: " and "[end-entry]"
  bool Failed() const { return ExitCode != 0; }
};

// Occurrences of each token (overlapping substrings).
struct TokenCounts {
  int OL = 0;
  int SUMTRIB = 0;
  int Amp = 0; // "&"
  int ZL = 0;
  int AL = 0;
  int SP = 0;

  TokenCounts &operator+=(const TokenCounts &other);
};

TokenCounts CountTokens(const std::string &text);
// True when the text holds "TG", "OL", "SUMTRIB", "ZL", "AL" or "SP".
bool IsDescriptionLine(const std::string &text);

// The zone table of the subbasins, as the descriptions' codes are checked against it.
struct SubbasinCodes {
  const OneBasedArray<int> *CodeIndex = nullptr; // zone index of codes 0..MaxCode
  int MaxCode = 0;
  int Count = 0; // nsub
  // The zone index 1..Count of a code, 0 when the code is no subbasin.
  int IndexOf(long code) const;
};

// An "OL", "SUMTRIB" or "ZL" element's channel.
struct ChannelElement {
  int ElementIndex = 0;   // 1.. within its description, in element order
  int Code = 0;           // the tributary's subbasin code, or the inflow number
  std::vector<int> List;  // SUMTRIB: the codes behind "&"
  ChannelValues Values{}; // the ten values, each behind its "="
};

enum class InflowKind : int { Constant = 1, Internal = 3, External = 4 };

struct InflowElement {
  ChannelElement Channel; // Code: the inflow number
  InflowKind Kind = InflowKind::Constant;
  double Constant = 0.0; // m3/s (constant inflows)
  std::string FileName;  // external inflows
  int StartRow = 0;      // line of the file where the search for the start date begins
  int FirstTracerColumn = 0;
};

// An "AL" or "SP" element: its number; its keys are read from Position on.
struct NumberedElement {
  int ElementIndex = 0;
  int Number = 0;
  std::size_t Position = 0; // in the description text, behind the number
};

struct RoutingDescription {
  int Number = 0; // 1.. in the order of the section
  int TgCode = 0;
  double TgArea = 0.0;   // km2, as the description states it
  double TgFactor = 1.0; // area factor
  TokenCounts Counts;
  std::string Text; // the joined lines
  std::vector<ChannelElement> Ol;
  std::vector<ChannelElement> Sumtrib;
  std::vector<InflowElement> Inflows;
  std::vector<NumberedElement> Abstractions;
  std::vector<NumberedElement> Reservoirs;
};

struct DescriptionCountResult {
  int Descriptions = 0; // lines holding "TG"
  TokenCounts Totals;
  DescriptionFailure Failure;
};

// Pass 1, from the file's position: lines in pieces of at most 1199
// characters, up to the first line that holds none of the tokens. The end of
// the file before that line is a failure (38).
DescriptionCountResult CountRoutingDescriptions(std::FILE *file);

struct DescriptionContext {
  SubbasinCodes Codes;
  int InflowTotal = 0;    // ZL total of pass 1
  std::string ModuleName; // named in the inflow-number message
};

struct DescriptionParseResult {
  std::vector<RoutingDescription> Descriptions; // those read completely
  int Begun = 0;                                // descriptions begun, the failing one included
  DescriptionFailure Failure;
};

// Pass 2, from the file's position (the line after the skipped ones).
DescriptionParseResult ParseRoutingDescriptions(std::FILE *file, const DescriptionContext &context);

// The state a reservoir element starts with, [0..tracerCount]: the volume in
// m3 behind the "=" after "V0" and the first tracerCount of the nine
// concentrations behind the "=" after "C0", each key searched from position
// (behind the element's number) on; 0 for what the element does not state.
std::vector<double> InitialReservoirState(std::string_view text, std::size_t position,
                                          int tracerCount);

} // namespace tavro
