// Whatever it is given, the parser answers "Ans = ..." or "Error: ..." and
// returns: random strings over the characters of its tokens, random bytes,
// nesting up to the length limit, huge and malformed numbers, unknown names.
// The sanitizer build runs the same cases under AddressSanitizer and UBSan.
#include "landsurface/expression_parser.h"
#include "landsurface/variable_list.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

namespace tavro {
namespace {

bool Answered(std::string_view result) {
  return result.rfind("Ans = ", 0) == 0 || result.rfind("Error: ", 0) == 0;
}

class ExpressionParserRobustnessTest : public testing::Test {
protected:
  ExpressionParserRobustnessTest() {
    list_.Set("A", 1.5);
    list_.Set("z", -2.0);
  }

  void ExpectAnswered(std::string_view text) {
    const std::string result = parser_.Evaluate(text);
    ASSERT_TRUE(Answered(result)) << "[" << text << "] -> [" << result << "]";
  }

  VariableList list_;
  ExpressionParser parser_{&list_};
  std::mt19937 random_{4711};
};

TEST_F(ExpressionParserRobustnessTest, RandomStringsOverTheTokenAlphabet) {
  const std::string alphabet = "0123456789.eE+-*/%^!&|<>=()  \tAzxPIpiSINsinFACTORIALabs_,#;";
  std::uniform_int_distribution<std::size_t> letter(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> shortLength(0, 8);
  std::uniform_int_distribution<int> length(0, 300);
  int values = 0;
  for (int i = 0; i < 30000; ++i) {
    std::string text;
    for (int n = i % 2 == 0 ? shortLength(random_) : length(random_); n > 0; --n)
      text += alphabet[letter(random_)];
    const std::string result = parser_.Evaluate(text.c_str());
    ASSERT_TRUE(Answered(result)) << text;
    values += result[0] == 'A';
  }
  // Short texts often are valid expressions: both branches are exercised.
  EXPECT_GT(values, 1000);
}

TEST_F(ExpressionParserRobustnessTest, RandomBytes) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 260);
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    for (int n = length(random_); n > 0; --n)
      text += static_cast<char>(byte(random_));
    ExpectAnswered(text);         // with any NUL inside
    ExpectAnswered(text.c_str()); // up to the first NUL
  }
}

TEST_F(ExpressionParserRobustnessTest, NestingUpToTheLimit) {
  for (int depth = 1; depth <= 130; ++depth) {
    const std::string open(static_cast<std::size_t>(depth), '(');
    const std::string close(static_cast<std::size_t>(depth), ')');
    ExpectAnswered(open + "1" + close);
    ExpectAnswered(open + "1");
    ExpectAnswered(open);
    std::string functions, minus;
    for (int d = 0; d < depth; ++d) {
      functions += "SIN(";
      minus += "-(";
    }
    ExpectAnswered(functions + "1" + close);
    ExpectAnswered(minus + "2" + close);
    ExpectAnswered(std::string(static_cast<std::size_t>(depth), '!'));
    std::string factorials = "3";
    for (int d = 0; d < depth; ++d)
      factorials += "! ";
    ExpectAnswered(factorials);
  }
}

TEST_F(ExpressionParserRobustnessTest, HugeAndMalformedNumbersAndUnknownNames) {
  for (const char *text : {"1e999",
                           "-1e999",
                           "1e-999",
                           "99999999999",
                           "99999999999%3",
                           "3%99999999999",
                           "1e999%1e999",
                           "1e999<<1e999",
                           "-1e999>>99999999999",
                           "1e999&1",
                           "1e999||1",
                           "0.0.0.0",
                           "1e+e-",
                           "..e5",
                           "1e99999999999999999999",
                           "FACTORIAL(1e999)",
                           "FACTORIAL(-1e999)",
                           "FACTORIAL(2147483647)",
                           "2147483647!",
                           "NOSUCHNAME",
                           "nosuch(1)",
                           "x=nosuch",
                           "_",
                           "__(",
                           "e",
                           "E1",
                           "(",
                           ")",
                           "=",
                           "==",
                           "X==",
                           "-",
                           "!",
                           "A!",
                           "z!",
                           "2^1e999",
                           "0^-1",
                           "-8^(1/3)"}) {
    ExpectAnswered(text);
  }
}

} // namespace
} // namespace tavro
