// Pattern position, in-place cut, tokenizer and directory prefix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/diagnostics_log.h"
#include "kernel/string_helpers.h"
#include "support/test_support.h"

namespace tavro {
namespace {

TEST(GetStringPosition, ZeroMeansNotFound) {
  const struct {
    const char *text, *pattern;
    int position;
  } cases[] = {
      {" [snow_model]", "[snow", 1}, // a control-file line with its blank in front
      {" [snow_model]", "model]", 7},
      {"no such letter", "x", 0},
      {"abc", "a", 0}, // a match at 0 reads as no match
      {"abcabc", "c", 2},
      {"short", "longer than the text", 0},
  };
  for (const auto &c : cases)
    EXPECT_EQ(GetStringPosition(c.text, c.pattern), c.position) << c.text << " / " << c.pattern;
}

TEST(CutSubstring, KeepsSpanPlusOneCharacters) {
  const struct {
    const char *text;
    int first, span;
    const char *result;
  } cases[] = {
      {"[zone_grid]", 1, 8, "zone_grid"}, // drops the first and last of 11
      {"abcdef", 0, 2, "abc"},            // the 3 characters before position 3
      {"abcdef", 3, 0, "d"},
      {"abcdef", 4, 10, "ef"}, // a span past the end keeps the rest
      {"abcdef", 6, 0, ""},    // first past the last character
      {"abcdef", 40, 2, ""},
      {"abcdef", 2, -1, "abcdef"}, // negative span: unchanged
      {"abcdef", -1, 2, "abcdef"}, // negative first: unchanged
  };
  for (const auto &c : cases) {
    std::string text = c.text;
    std::string &result = CutSubstring(text, c.first, c.span);
    EXPECT_EQ(&result, &text);
    EXPECT_EQ(text, c.result) << c.text << " " << c.first << " " << c.span;
  }
  std::string longText(5000, 'x');
  longText += "tail";
  EXPECT_EQ(CutSubstring(longText, 5000, 3), "tail");
}

struct TokenCase {
  const char *name;
  std::string text;
  const char *delimiters;
  bool keepEmpty;
  std::vector<std::string> tokens;
};

class TokenizeCases : public testing::TestWithParam<TokenCase> {};

TEST_P(TokenizeCases, Tokens) {
  const TokenCase &c = GetParam();
  std::vector<std::string> tokens{"kept"}; // tokens are appended to the list
  const int count = Tokenize(c.text, c.delimiters, tokens, c.keepEmpty);
  std::vector<std::string> expected{"kept"};
  expected.insert(expected.end(), c.tokens.begin(), c.tokens.end());
  EXPECT_EQ(tokens, expected);
  EXPECT_EQ(count, static_cast<int>(expected.size()));
}

const TokenCase kTokenCases[] = {
    {"RunsOfDelimitersGiveNoEmptyTokens", "a,,b", ",", false, {"a", "b"}},
    {"LeadingAndTrailingDelimiters", "  a b  ", " ", false, {"a", "b"}},
    {"SeveralDelimiterCharacters", "a \tb,c", " \t,", false, {"a", "b", "c"}},
    {"QuotedTokenKeptWhole", "\"x y\" z", " ", false, {"\"x y\"", "z"}},
    {"EscapedQuoteInsideQuotes", R"("a \" b" c)", " ", false, {R"("a \" b")", "c"}},
    {"TwoBackslashesDoNotEscape", R"("a\\" b)", " ", false, {R"("a\\")", "b"}},
    {"MissingClosingQuoteRunsToEnd", "x \"open token", " ", false, {"x", "\"open token"}},
    {"QuoteAsDelimiterSplits", "a\"b\"c", "\"", false, {"a", "b", "c"}},
    {"QuoteInsideTokenIsPlain", "ab\"c d", " ", false, {"ab\"c", "d"}},
    {"CharacterAfterQuotedTokenIsKept", "\"a\"b c", " ", false, {"\"a\"", "b", "c"}},
    {"EmptyText", "", ",", false, {}},
    {"OnlyDelimiters", ",,,", ",", false, {}},
    {"KeepEmptyTrailingDelimiter", "a,", ",", true, {"a", ""}},
    {"KeepEmptyNoTrailingDelimiter", "a,b", ",", true, {"a", "b"}},
    {"KeepEmptyRunsStillSkipped", "a,,b", ",", true, {"a", "b"}},
    {"KeepEmptyEmptyText", "", ",", true, {""}},
    {"KeepEmptyOnlyDelimiters", ",,", ",", true, {"", ""}},
};

INSTANTIATE_TEST_SUITE_P(Tokenize, TokenizeCases, testing::ValuesIn(kTokenCases),
                         [](const testing::TestParamInfo<TokenCase> &info) {
                           return std::string(info.param.name);
                         });

TEST(AddPathPrefix, DirectoryInFrontOfRelativeNames) {
  DiagnosticsLog log("", 4);
  const struct {
    const char *directory, *name, *result;
  } cases[] = {
      {"out/", "grid.asc", "out/grid.asc"},
      {"out/", "/data/grid.asc", "/data/grid.asc"},
      {"out/", "~/grid.asc", "~/grid.asc"},
      {"out/", "", "out/"},
      {"out/", "sub/~x", "out/sub/~x"},
      {"out", "grid.asc", "outgrid.asc"}, // no separator is added
      {"", "grid.asc", "grid.asc"},
  };
  for (const auto &c : cases) {
    std::string name = c.name;
    AddPathPrefix(c.directory, name, log);
    EXPECT_EQ(name, c.result) << c.directory << " + " << c.name;
  }
}

TEST(AddPathPrefix, ResultLongerThanLimitIsFatal) {
  const std::string directory(1000, 'd');
  std::string fits(kMaxPathLength - directory.size(), 'n');
  std::string tooLong = fits + "n";
  int code = -1;
  testing::internal::CaptureStdout();
  {
    DiagnosticsLog log("", 4);
    AddPathPrefix(directory, fits, log);
    EXPECT_EQ(fits.size(), kMaxPathLength);
    try {
      AddPathPrefix(directory, tooLong, log);
    } catch (int thrown) {
      code = thrown;
    }
  }
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(code, 17);
  EXPECT_EQ(tooLong.size(), 201u); // unchanged
  EXPECT_NE(test::ReadWholeFile("Tavro_Diag_0.xml")
                .find("<line level=\"0\" description= \"file name longer than 1200 characters: "),
            std::string::npos);
}

} // namespace
} // namespace tavro
