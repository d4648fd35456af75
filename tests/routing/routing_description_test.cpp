// The routing descriptions: the counting pass, the parsing pass with its
// quirks, the checks of codes and values with their messages, the network
// order and targets, and a mutation run in which every damaged description
// either parses or fails with a documented code.
#include "routing/channels/water_level_table.h"
#include "routing/description_scanner.h"
#include "routing/routing_description.h"
#include "routing/routing_network.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace tavro {
namespace {

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File TextFile(const std::string &text) {
  File file(std::tmpfile());
  std::fwrite(text.data(), 1, text.size(), file.get());
  std::rewind(file.get());
  return file;
}

// Subbasin codes 1, 2, 3, 12, 13, 14 with the zone indices 1..6.
class Codes {
public:
  Codes() : index_(14, 0) {
    int next = 1;
    for (const int code : {1, 2, 3, 12, 13, 14})
      index_[static_cast<std::size_t>(code)] = next++;
  }
  SubbasinCodes Get() const { return SubbasinCodes{&index_, 14, 6}; }

private:
  OneBasedArray<int> index_;
};

struct Parsed {
  DescriptionCountResult counts;
  DescriptionParseResult parse;
  RoutingOrder order;
  // The first failure of the passes and the network order, if any.
  const DescriptionFailure &Failure() const {
    if (counts.Failure.Failed())
      return counts.Failure;
    if (parse.Failure.Failed())
      return parse.Failure;
    return order.Failure;
  }
};

// Both passes over the same text, as the module reads them after the values.
Parsed Parse(const std::string &text, const SubbasinCodes &codes) {
  Parsed result;
  result.counts = CountRoutingDescriptions(TextFile(text).get());
  if (result.counts.Failure.Failed())
    return result;
  const DescriptionContext context{codes, result.counts.Totals.ZL, "routing_model"};
  result.parse = ParseRoutingDescriptions(TextFile(text).get(), context);
  if (!result.parse.Failure.Failed())
    result.order = UpstreamFirstOrder(result.parse.Descriptions);
  return result;
}

std::string Values(int first) {
  std::string text;
  const char *labels[] = {"kh", "kv", "Bm", "Bv", "Tm", "Mm", "Mv", "I", "L", "AE"};
  for (int v = 0; v < 10; ++v)
    text += std::string(" ") + labels[v] + "= " + std::to_string(first + v);
  return text;
}

const std::string kValid = "TG 3 (outlet) A= 114 F= 1\n"
                           "OL 2" +
                           Values(1) +
                           "\n"
                           "SUMTRIB 12&13&14" +
                           Values(11) +
                           "\n"
                           "ZL 2 Q= extern inflow.dat 3 5" +
                           Values(21) +
                           "\n"
                           "ZL 1 Q= constant 0.5" +
                           Values(31) +
                           "\n"
                           "AL 7 mode= extern abstraction.txt\n"
                           "SP 4 file= reservoir.txt\n"
                           "TG 2 A= 61 F= 1.5\n"
                           "OL 1" +
                           Values(41) +
                           "\n"
                           "\n"
                           "[next_section]\n";

ChannelValues Sequence(int first) {
  ChannelValues values{};
  for (int v = 0; v < 10; ++v)
    values[static_cast<std::size_t>(v)] = first + v;
  return values;
}

TEST(RoutingDescription, TokensCountOverlappingSubstrings) {
  EXPECT_EQ(CountToken("OLOL OL", "OL"), 3);
  EXPECT_EQ(CountToken("&&&", "&&"), 2);
  EXPECT_EQ(CountToken("TOTAL AL ALPS", "AL"), 3);
  EXPECT_EQ(CountToken("", "SP"), 0);
}

TEST(RoutingDescription, ScannerReadsValuesBehindTheirEquals) {
  DescriptionScanner scan("kh= 2.5e3 kv=-4 L= 37OL 2 x= 37e y= .5 z= abc");
  EXPECT_EQ(scan.NumberAfterNextEquals(), 2500.0);
  EXPECT_EQ(scan.NumberAfterNextEquals(), -4.0);
  EXPECT_EQ(scan.NumberAfterNextEquals(), 37.0); // a number stops at the first letter
  EXPECT_TRUE(scan.SkipPast("OL"));
  EXPECT_EQ(scan.ReadInteger(), 2);
  EXPECT_EQ(scan.NumberAfterNextEquals(), 37.0); // an exponent needs a digit
  EXPECT_EQ(scan.NumberAfterNextEquals(), 0.5);
  EXPECT_EQ(scan.NumberAfterNextEquals(), std::nullopt);
  EXPECT_EQ(scan.NumberAfterNextEquals(), std::nullopt); // no "=" left
  DescriptionScanner limits("n= nan m= 1e999 k= 99999999999");
  EXPECT_EQ(limits.NumberAfterNextEquals(), std::nullopt);
  EXPECT_EQ(limits.NumberAfterNextEquals(), std::nullopt);
  EXPECT_TRUE(limits.SkipPast("k="));
  EXPECT_EQ(limits.ReadInteger(), std::nullopt);
}

TEST(RoutingDescription, GoldenParse) {
  const Codes codes;
  const Parsed p = Parse(kValid, codes.Get());
  ASSERT_FALSE(p.Failure().Failed()) << p.Failure().Message;
  EXPECT_EQ(p.counts.Descriptions, 2);
  const TokenCounts &t = p.counts.Totals;
  EXPECT_EQ(std::vector<int>({t.OL, t.SUMTRIB, t.Amp, t.ZL, t.AL, t.SP}),
            std::vector<int>({2, 1, 2, 2, 1, 1}));

  ASSERT_EQ(p.parse.Descriptions.size(), 2u);
  const RoutingDescription &d = p.parse.Descriptions[0];
  EXPECT_EQ(d.Number, 1);
  EXPECT_EQ(d.TgCode, 3);
  EXPECT_EQ(d.TgArea, 114.0);
  EXPECT_EQ(d.TgFactor, 1.0);
  ASSERT_EQ(d.Ol.size(), 1u);
  EXPECT_EQ(d.Ol[0].ElementIndex, 1);
  EXPECT_EQ(d.Ol[0].Code, 2);
  EXPECT_EQ(d.Ol[0].Values, Sequence(1));
  ASSERT_EQ(d.Sumtrib.size(), 1u);
  EXPECT_EQ(d.Sumtrib[0].ElementIndex, 2);
  EXPECT_EQ(d.Sumtrib[0].Code, 12);
  EXPECT_EQ(d.Sumtrib[0].List, (std::vector<int>{13, 14}));
  EXPECT_EQ(d.Sumtrib[0].Values, Sequence(11));
  ASSERT_EQ(d.Inflows.size(), 2u);
  EXPECT_EQ(d.Inflows[0].Channel.ElementIndex, 3);
  EXPECT_EQ(d.Inflows[0].Channel.Code, 2);
  EXPECT_EQ(d.Inflows[0].Kind, InflowKind::External);
  EXPECT_EQ(d.Inflows[0].FileName, "inflow.dat");
  EXPECT_EQ(d.Inflows[0].StartRow, 3);
  EXPECT_EQ(d.Inflows[0].FirstTracerColumn, 5);
  EXPECT_EQ(d.Inflows[0].Channel.Values, Sequence(21));
  EXPECT_EQ(d.Inflows[1].Channel.ElementIndex, 4);
  EXPECT_EQ(d.Inflows[1].Channel.Code, 1);
  EXPECT_EQ(d.Inflows[1].Kind, InflowKind::Constant);
  EXPECT_EQ(d.Inflows[1].Constant, 0.5);
  EXPECT_EQ(d.Inflows[1].Channel.Values, Sequence(31));
  ASSERT_EQ(d.Abstractions.size(), 1u);
  EXPECT_EQ(d.Abstractions[0].ElementIndex, 5);
  EXPECT_EQ(d.Abstractions[0].Number, 7);
  ASSERT_EQ(d.Reservoirs.size(), 1u);
  EXPECT_EQ(d.Reservoirs[0].ElementIndex, 6);
  EXPECT_EQ(d.Reservoirs[0].Number, 4);
  EXPECT_EQ(d.Text.substr(0, 30), "TG 3 (outlet) A= 114 F= 1OL 2 ");

  const RoutingDescription &second = p.parse.Descriptions[1];
  EXPECT_EQ(second.TgCode, 2);
  EXPECT_EQ(second.TgFactor, 1.5);
  EXPECT_EQ(second.Ol[0].Code, 1);
  EXPECT_EQ(second.Ol[0].Values, Sequence(41));

  // Subbasin 2 (description 2) flows into 3 (description 1): it goes first.
  EXPECT_EQ(p.order.Order, (std::vector<int>{2, 1}));
  EXPECT_TRUE(p.order.Reordered);
  EXPECT_EQ(ReorderedWarning(p.parse.Descriptions, p.order),
            "routing descriptions are computed upstream first, in the order TG 2 (description "
            "2), TG 3 (description 1); a tributary described after its receiving subbasin is "
            "routed before it");

  RoutingTargets targets;
  FillRoutingTargets(p.parse.Descriptions, codes.Get(), targets);
  // Indices: code 1 -> 1, 2 -> 2, 3 -> 3, 12 -> 4, 13 -> 5, 14 -> 6.
  EXPECT_EQ(targets.Tributaries.Count(), 12u);
  const std::vector<int> tributaries(targets.Tributaries.begin(), targets.Tributaries.end());
  EXPECT_EQ(tributaries, (std::vector<int>{2, 4, 5, 6, 1, 0, 0, 0, 0, 0, 0, 0}));
  const std::vector<int> target(targets.Target.begin(), targets.Target.end());
  EXPECT_EQ(target, (std::vector<int>{2, 3, 0, 3, 3, 3}));
  const std::vector<int> number(targets.Description.begin(), targets.Description.end());
  EXPECT_EQ(number, (std::vector<int>{0, 2, 1, 0, 0, 0}));
}

TEST(RoutingDescription, SumtribListsEndAtABlankABracketOrK) {
  const Codes codes;
  struct Case {
    const char *list;
    std::vector<int> codes;
  };
  const std::vector<Case> cases = {
      {"12&13&14 ", {13, 14}}, {"12 &13&14 ", {}}, {"12&13(x)&14 ", {13}},
      {"12&13kh&14 ", {13}},   {"12 ", {}},        {"12&13\t&14 ", {13, 14}},
  };
  for (const Case &c : cases) {
    const std::string text = std::string("TG 3 A= 1 F= 1\nSUMTRIB ") + c.list + Values(1) + "\n\n";
    const Parsed p = Parse(text, codes.Get());
    ASSERT_FALSE(p.Failure().Failed()) << c.list << ": " << p.Failure().Message;
    EXPECT_EQ(p.parse.Descriptions[0].Sumtrib[0].List, c.codes) << c.list;
  }
}

TEST(RoutingDescription, JoinedLinesStillReadTheirValues) {
  // "AE= 37" at the end of a line and "OL 1" at the start of the next are
  // joined without a separator: the number stops at the letter.
  const Codes codes;
  const Parsed p =
      Parse("TG 3 A= 1 F= 2\nOL 2" + Values(1) + "\nOL 1" + Values(2) + "\n\n", codes.Get());
  ASSERT_FALSE(p.Failure().Failed()) << p.Failure().Message;
  const RoutingDescription &d = p.parse.Descriptions[0];
  EXPECT_EQ(d.Text, "TG 3 A= 1 F= 2OL 2" + Values(1) + "OL 1" + Values(2));
  EXPECT_EQ(d.TgFactor, 2.0);
  ASSERT_EQ(d.Ol.size(), 2u);
  EXPECT_EQ(d.Ol[0].Values[9], 10.0);
  EXPECT_EQ(d.Ol[1].Code, 1);
}

TEST(RoutingDescription, TokensInsideWordsCount) {
  const Codes codes;
  // "WASP" holds "SP": the line belongs to the description and, followed by
  // digits, names reservoir 2.
  const Parsed p = Parse("TG 3 A= 1 F= 1\nnear the WASP2 nest\n\n", codes.Get());
  ASSERT_FALSE(p.Failure().Failed()) << p.Failure().Message;
  EXPECT_EQ(p.counts.Totals.SP, 1);
  ASSERT_EQ(p.parse.Descriptions[0].Reservoirs.size(), 1u);
  EXPECT_EQ(p.parse.Descriptions[0].Reservoirs[0].Number, 2);
  // Without digits the element cannot be read.
  const Parsed bad = Parse("TG 3 A= 1 F= 1\nGASPIPE\n\n", codes.Get());
  EXPECT_EQ(bad.Failure().ExitCode, 35);
  EXPECT_EQ(bad.Failure().Message,
            "routing description 1 (TG 3): no reservoir number behind \"SP\" (element 1): \"IPE\"");
  // A description line ends pass 1 only when it holds no token at all.
  const Parsed none = Parse("plain words\nTG 3 A= 1 F= 1\n\n", codes.Get());
  EXPECT_EQ(none.counts.Descriptions, 0);
  EXPECT_TRUE(none.parse.Descriptions.empty());
}

TEST(RoutingDescription, FailuresNameTheirDescriptionAndValue) {
  const Codes codes;
  const std::string tg = "TG 3 A= 1 F= 1\n";
  struct Case {
    std::string text;
    int code;
    std::string message;
  };
  const std::string ol = Values(1);
  const std::vector<Case> cases = {
      {"", 38, "error reading a routing description from control file! (eof reached)."},
      {tg, 38, "error reading a routing description from control file! (eof reached)."},
      {"TG 9 A= 1 F= 1\n\n", 41, "there is no subbasin with code 9"},
      {"TG -1 A= 1 F= 1\n\n", 41, "there is no subbasin with code -1"},
      {"TG x A= 1 F= 1\n\n", 41,
       "routing description 1: no subbasin code behind \"TG\": \" x A= 1 F= 1\""},
      {tg + tg + "\n", 41,
       "routing descriptions 1 and 2 both describe subbasin 3: each subbasin has one routing "
       "description at most"},
      {"TG 3 A= 1 F= 0\n\n", 17,
       "routing description 1 (TG 3): the area factor (value 2 of TG) is 0; it must be above 0"},
      {"TG 3 A= x F= 1\n\n", 17,
       "routing description 1 (TG 3): the area (value 1 of TG) is missing or not a number "
       "behind its \"=\": \" x F= 1\""},
      {tg + "OL 9" + ol + "\n\n", 41,
       "there cant be a tributary with code 9 for no subbasin (according to zones)\n"},
      {tg + "OL 3" + ol + "\n\n", 41,
       "subbasin 3: code of tributary 1 (3) is equal to subbasin code!\nIt is not allowed to "
       "rout the outflow of a subbasin back into \nthe same subbasin. Use a reservoir "
       "instead.\n"},
      {tg + "SUMTRIB 9&1" + ol + "\n\n", 41,
       "there cant be a tributary with code 9 for no subbasin (according to zones)"},
      {tg + "SUMTRIB 1&9" + ol + "\n\n", 41,
       "routing description 1 (TG 3): \"&9\" of SUMTRIB element 1 names no subbasin (according "
       "to zones)"},
      {tg + "SUMTRIB 1&" + ol + "\n\n", 41,
       "routing description 1 (TG 3): \"&\" of SUMTRIB element 1 names no subbasin (according "
       "to zones)"},
      {tg + "SUMTRIB 1&3" + ol + "\n\n", 41,
       "routing description 1 (TG 3): code 3 behind \"&\" of SUMTRIB element 1 is equal to "
       "subbasin code; use a reservoir instead"},
      {tg + "SUMTRIB 1&2&2&2&2&2&2&2&2&2&2" + ol + "\n\n", 41,
       "routing description 1 (TG 3): SUMTRIB element 1 lists more than 9 codes behind \"&\""},
      {tg + "OL 1 kh= abc" + ol + "\n\n", 17,
       "routing description 1 (TG 3): value 1 of OL element 1 is missing or not a number behind "
       "its \"=\": \" abc kh= 1 kv= 2 Bm= 3 Bv= 4 Tm= 5 Mm= 6...\""},
      {tg + "OL 1 kh= 1 kv= 2\n\n", 17,
       "routing description 1 (TG 3): value 3 of OL element 1 is missing or not a number behind "
       "its \"=\": \"\""},
      {tg + "ZL 2 Q= constant 1" + ol + "\n\n", 42,
       "there is/are only 1 inflow(s) for the entire basin,\n but the codes ranges from 1 to at "
       "least 2! in routing_model"},
      {tg + "ZL 0 Q= constant 1" + ol + "\n\n", 42,
       "routing description 1 (TG 3): inflow number 0 is below 1"},
      {tg + "ZL 1 Q= constant 1" + ol + "\nTG 2 A= 1 F= 1\nZL 1 Q= intern" + ol + "\n\n", 42,
       "routing description 2 (TG 2): inflow number 1 is given twice (routing descriptions 1 "
       "and 2)"},
      {tg + "ZL 1 Q= constantly 1" + ol + "\n\n", 42,
       "the modus \"constantly\" is not supported for inflow 1"},
      {tg + "ZL 1 Q= constant Q1" + ol + "\n\n", 17,
       "routing description 1 (TG 3): the constant discharge of inflow 1 is missing or not a "
       "number behind its \"=\": \" Q1 kh= 1 kv= 2 Bm= 3 Bv= 4 Tm= 5 Mm= 6 ...\""},
      {tg + "ZL 1 Q= extern POOL.dat 1 5" + ol + "\n\n", 41,
       "routing description 1 (TG 3): no subbasin code behind \"OL\" (element 1): \".dat 1 5 "
       "kh= 1 kv= 2 Bm= 3 Bv= 4 Tm= 5 M...\""},
      {tg + "AL x\n\n", 44,
       "routing description 1 (TG 3): no abstraction number behind \"AL\" (element 1): \" x\""},
      {tg + "OL 1" + ol + " (OLD)\n\n", 41,
       "routing description 1 (TG 3): no subbasin code behind \"OL\" (element 2): \"D)\""},
      {"TG 3 (OLD) A= 1 F= 1\nOL 1" + ol + "\n\n", 41,
       "routing description 1 (TG 3): the text holds \"OL\" 2 times, but occurrence 2 is not "
       "found behind the elements read before it"},
      {tg + "OL 1" + std::string(1300, ' ') + ol + "\n\n", 40,
       "string is too long (max. 1200 chars):\nOL 1" + std::string(1195, ' ')},
      {"TG 1 A= 1 F= 1\nOL 2" + ol + "\nTG 2 A= 1 F= 1\nOL 1" + ol + "\n\n", 41,
       "the routing descriptions form a cycle: the subbasins 1 2 flow into each other or into a "
       "cycle; no order routes each of them after its tributaries"},
  };
  for (const Case &c : cases) {
    const Parsed p = Parse(c.text, codes.Get());
    EXPECT_EQ(p.Failure().ExitCode, c.code) << c.text;
    EXPECT_EQ(p.Failure().Message, c.message) << c.text;
  }
  // Pass 2 that finds the end of the file at once.
  const DescriptionParseResult empty =
      ParseRoutingDescriptions(TextFile("").get(), DescriptionContext{codes.Get(), 0, ""});
  EXPECT_EQ(empty.Failure.ExitCode, 38);
  EXPECT_EQ(empty.Failure.Message, "rerror reading routing description \n2nd run, (1st run: o.k.)");
}

TEST(RoutingDescription, ADescriptionWithoutElementsIsOne) {
  const Codes codes;
  const Parsed p = Parse("TG 3 A= 1 F= 1\n\n", codes.Get());
  ASSERT_FALSE(p.Failure().Failed());
  ASSERT_EQ(p.parse.Descriptions.size(), 1u);
  EXPECT_TRUE(p.parse.Descriptions[0].Ol.empty());
  EXPECT_EQ(p.order.Order, std::vector<int>{1});
  EXPECT_FALSE(p.order.Reordered);
}

// Every damaged description parses or fails with one of these codes; the
// tables of what parses are built too. Run under the sanitizers, nothing may
// read or write out of bounds.
TEST(RoutingDescription, MutatedDescriptionsParseOrFailWithADocumentedCode) {
  const Codes codes;
  const std::set<int> documented = {17, 35, 38, 40, 41, 42, 44};
  const std::string body = kValid.substr(0, kValid.find("\n\n") + 1);
  const std::string ending = "\n[next_section]\n";

  std::vector<std::string> mutations;
  for (std::size_t length = 0; length <= body.size(); ++length) {
    mutations.push_back(body.substr(0, length));
    mutations.push_back(body.substr(0, length) + ending);
  }
  for (const std::string token : {"=", "TG", "OL", "SUMTRIB", "ZL", "AL", "SP", "&", "\n", " "}) {
    for (std::size_t at = body.find(token); at != std::string::npos;
         at = body.find(token, at + 1)) {
      std::string removed = body;
      removed.erase(at, token.size());
      mutations.push_back(removed + ending);
      std::string doubled = body;
      doubled.insert(at, token);
      mutations.push_back(doubled + ending);
    }
  }
  for (std::size_t line = body.find('\n'); line != std::string::npos;
       line = body.find('\n', line + 1)) {
    std::string overlong = body;
    overlong.insert(line, std::string(1250, 'x'));
    mutations.push_back(overlong + ending);
    mutations.push_back(body.substr(0, line)); // unterminated last line
  }
  std::mt19937 random(20120101);
  const char bytes[] = {'\0', '\xff', '\r', '=', '&', '9', '-', '.', 'e', '(', 'k', '\t'};
  for (int i = 0; i < 1500; ++i) {
    std::string garbage = body;
    const int changes = 1 + static_cast<int>(random() % 4);
    for (int c = 0; c < changes; ++c) {
      const std::size_t at = random() % garbage.size();
      const char byte =
          random() % 3 == 0 ? static_cast<char>(random() % 256) : bytes[random() % sizeof bytes];
      if (random() % 2 == 0)
        garbage[at] = byte;
      else
        garbage.insert(at, 1, byte);
    }
    mutations.push_back(garbage + ending);
  }

  int parsed = 0;
  for (const std::string &text : mutations) {
    const Parsed p = Parse(text, codes.Get());
    if (p.Failure().Failed()) {
      EXPECT_EQ(documented.count(p.Failure().ExitCode), 1u) << p.Failure().ExitCode << "\n" << text;
      EXPECT_NE(p.Failure().Message, "");
      continue;
    }
    ++parsed;
    RoutingTargets targets;
    FillRoutingTargets(p.parse.Descriptions, codes.Get(), targets);
    for (const RoutingDescription &d : p.parse.Descriptions)
      for (const auto *channels : {&d.Ol, &d.Sumtrib})
        for (const ChannelElement &channel : *channels)
          BuildWaterLevelTable(ChannelParametersWithDefaults(channel.Values),
                               TableRange{1, 1000, 10, 60, 2});
  }
  EXPECT_GT(parsed, 100);
  EXPECT_GT(mutations.size(), 2500u);
}

} // namespace
} // namespace tavro
