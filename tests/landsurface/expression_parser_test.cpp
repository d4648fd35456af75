// The expression parser against one table of texts with their value or their
// error (code, message, column), then the variable list and the assignments
// that carry over from one evaluation to the next.
#include "landsurface/expression_parser.h"
#include "landsurface/variable_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Case {
  const char *text;
  double value = 0.0; // when code is 0
  int code = 0;       // error code, 0 for a value
  const char *detail = "";
  int column = 0;
};

Case Value(const char *text, double value) { return {text, value}; }
Case Failure(const char *text, int code, const char *detail, int column) {
  return {text, 0.0, code, detail, column};
}

std::string ExpectedText(const Case &c) {
  if (c.code != 0)
    return std::string("Error: ") + ExpressionParser::MessageOf(c.code) + c.detail + " (col " +
           std::to_string(c.column) + ")";
  char number[40];
  std::snprintf(number, sizeof number, "%g", c.value);
  return std::string("Ans = ") + number;
}

bool SameValue(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
}

double ProductUpTo(int n) {
  double product = 1.0;
  for (int i = 2; i <= n; ++i)
    product *= i;
  return product;
}

TEST(ExpressionParserTest, ConformanceTable) {
  const std::vector<Case> cases = {
      // The four arithmetic levels and their associativity.
      Value("2+3*4", 14),
      Value("(2+3)*4", 20),
      Value("7-2-1", 4),
      Value("8/4/2", 1),
      Value("7%3", 1),
      Value("-7%3", -1),
      Value("7%-3", 1),
      Value("7.9%3.9", 1),
      Value("2^3^2", 64),
      Value("-2^2", 4),
      Value("2^-1", 0.5),
      Value("3--2", 5),
      Value("2*-3", -6),
      Value("1/0", kInf),
      Value("0/0", kNaN),
      // Factorials.
      Value("0!", 1),
      Value("5!", 120),
      Value("3! !", 720),
      Value("3! +2", 8),
      Value("-3!", -3),
      Value("(-3)!", -3),
      Value("FACTORIAL(5)", 120),
      Value("170!", ProductUpTo(170)),
      Failure("2.5!", 400, "factorial", -1),
      Failure("FACTORIAL(2.5)", 400, "factorial", 15),
      Failure("3!+2", 101, "!+", 2),
      Failure("3!!", 101, "!!", 2),
      // Comparisons give 1 or 0; a chain compares the left result.
      Value("2<>2", 0),
      Value("3=3", 1),
      Value("1<2<3", 1),
      Value("3>2>1", 0),
      Value("2<=2", 1),
      Value("2>=3", 0),
      Value("SQRT(-1)<>SQRT(-1)", 1),
      Value("SQRT(-1)=SQRT(-1)", 0),
      Value("SQRT(-1)<1", 0),
      Value("SQRT(-1)>=1", 0),
      // Bitwise operators on 32-bit integers.
      Value("6&3", 2),
      Value("6|3", 7),
      Value("5||3", 6),
      Value("1<<4", 16),
      Value("1<<33", 2),
      Value("-8>>1", -4),
      Value("1<<31", -2147483648.0),
      Value("1<<-1", -2147483648.0),
      Value("-1<<31", -2147483648.0),
      Value("7.9&3.9", 3),
      Value("-7.9|0", -7),
      // Numbers.
      Value("1e3", 1000),
      Value("1.5E-2", 0.015),
      Value("1.2.3", 1.2),
      Value(".", 0),
      Value("1e", 1),
      Value("1e+", 1),
      Value("2.5e-3*2", 0.005),
      Value("1e999", kInf),
      Value("99999999999", 99999999999.0),
      // Names, constants and functions; names ignore case.
      Value("pi", 3.141592653589793),
      Value("Euler", 2.718281828459045),
      Value("ABS(-2)", 2),
      Value("abs(-2)", 2),
      Value("EXP(0)", 1),
      Value("SIGN(-2)", -1),
      Value("SIGN(0)", 0),
      Value("SIGN(3)", 1),
      Value("SIGN(SQRT(-1))", 0),
      Value("SQRT(16)", 4),
      Value("LOG(1)", 0),
      Value("LOG10(1000)", 3),
      Value("SIN(0)", 0),
      Value("COS(0)", 1),
      Value("TAN(0)", 0),
      Value("ASIN(1)", std::asin(1.0)),
      Value("ACOS(1)", 0),
      Value("ATAN(1)", std::atan(1.0)),
      Value("SQRT(-1)", kNaN),
      Value("LOG(0)", -kInf),
      Value("-SIN(PI/2)", -1),
      Value("SIN (0)", 0),
      Value("  2 +\t3 ", 5),
      // Errors with their columns.
      Failure("", 4, "", 1),
      Failure("  \t", 4, "", 4),
      Failure("2+", 6, "", 3),
      Failure("2+#1", 1, "#1", 3),
      Failure("FOO(1)", 102, "FOO", 7),
      Failure("2!=3", 101, "!=", 2),
      Failure("--2", 7, "", 2),
      Failure("2*)", 7, "", 3),
      Failure("SIN 1", 103, "SIN", 1),
      Failure("SIN(1,2)", 1, ",2)", 6),
      Failure("(2+3", 3, "", 5),
      Failure("2 3", 5, "3", 3),
      Failure("2X", 5, "X", 2),
      Failure("2**3", 101, "**", 2),
      Failure("2)", 101, ")", 2),
      Failure("2==2", 101, "==", 2),
      Failure("X=Y", 103, "Y", 3),
      Failure("X=", 6, "", 3),
      Failure("1+2\n", 1, "\n", 4),
      Failure("2+3%", 6, "", 5),
      Failure("Q%2", 103, "Q", 1),
      Failure("2+3 $ 4", 1, "$ 4", 5),
      // The 32-bit integer operators never trap.
      Failure("10%0", 8, "", 5),
      Failure("10 % 0.5 + 1", 8, "", 10),
      Value("-2147483648%-1", 0),
      Value("1e10%7", -2),
      Value("SQRT(-1)&1", 0),
      Value("SQRT(-1)|0", -2147483648.0),
      Value("99999999999|0", -2147483648.0),
      Value("-2147483649|0", -2147483648.0),
      Value("2147483647.9|0", 2147483647),
      Value("1e999>>1", -1073741824.0),
      // An overflowing factorial is +inf at once.
      Value("FACTORIAL(2147483647)", kInf),
      Value("171!", kInf),
      Value("-2147483648!", -2147483648.0),
      Failure("2147483648!", 400, "factorial", -1),
      Failure("SQRT(-1)!", 400, "factorial", -1),
  };
  ExpressionParser parser;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    const std::string text = parser.Evaluate(c.text);
    if (c.code == 0) {
      double ans = 0.0;
      ASSERT_TRUE(parser.Variables().Get("Ans", ans));
      EXPECT_TRUE(SameValue(ans, c.value)) << ans << " expected " << c.value;
    }
    if (c.code == 0 && std::isnan(c.value))
      EXPECT_TRUE(text == "Ans = nan" || text == "Ans = -nan") << text;
    else
      EXPECT_EQ(text, ExpectedText(c));
  }
}

TEST(ExpressionParserTest, ResultTexts) {
  ExpressionParser parser;
  EXPECT_STREQ(parser.Evaluate("pi"), "Ans = 3.14159");
  EXPECT_STREQ(parser.Evaluate("2+3*4"), "Ans = 14");
  EXPECT_STREQ(parser.Evaluate("3!+2"), "Error: Unknown operator !+ (col 2)");
  EXPECT_STREQ(parser.Evaluate("2.5!"),
               "Error: Integer value expected in function factorial (col -1)");
  EXPECT_STREQ(parser.Evaluate("10%0"), "Error: Division by zero in remainder (col 5)");
  // A percent sign in a detail is an ordinary character.
  EXPECT_STREQ(parser.Evaluate("2%%s"), "Error: Unknown operator %% (col 2)");
  EXPECT_STREQ(parser.Evaluate("%d"), "Error: Value expected (col 1)");
  EXPECT_STREQ(parser.Evaluate("2 %s"), "Error: Unknown variable s (col 4)");
  EXPECT_STREQ(ExpressionParser::MessageOf(2), "Syntax error");
  EXPECT_STREQ(ExpressionParser::MessageOf(9), "Unknown error");
}

TEST(ExpressionParserTest, LengthLimit) {
  ExpressionParser parser;
  // 255 characters: 1+1+...+1 (128 ones and 127 plus signs).
  std::string sum = "1";
  while (sum.size() + 2 <= ExpressionParser::MaxExpressionLength)
    sum += "+1";
  ASSERT_EQ(sum.size(), 255U);
  EXPECT_STREQ(parser.Evaluate(sum.c_str()), "Ans = 128");
  const std::string tooLong = sum + " ";
  EXPECT_STREQ(parser.Evaluate(tooLong.c_str()),
               "Error: Too long expression, maximum number of characters exceeded (col 256)");
  EXPECT_STREQ(parser.Evaluate(std::string(100000, '1').c_str()),
               "Error: Too long expression, maximum number of characters exceeded (col 256)");
  // The earlier result stays in Ans.
  double ans = 0.0;
  ASSERT_TRUE(parser.Variables().Get("Ans", ans));
  EXPECT_EQ(ans, 128.0);
  // Nesting up to the limit.
  const std::string nested = std::string(127, '(') + "1" + std::string(127, ')');
  EXPECT_STREQ(parser.Evaluate(nested.c_str()), "Ans = 1");
  EXPECT_STREQ(parser.Evaluate(std::string(255, '(').c_str()),
               "Error: Unexpected end of expression (col 256)");
}

TEST(ExpressionParserTest, AssignmentsAndAnsCarryOver) {
  VariableList list;
  ExpressionParser parser(&list);
  EXPECT_STREQ(parser.Evaluate("X=2"), "Ans = 2");
  EXPECT_STREQ(parser.Evaluate("x*3"), "Ans = 6");
  EXPECT_STREQ(parser.Evaluate("Ans+1"), "Ans = 7");
  double value = 0.0;
  ASSERT_TRUE(list.Get("X", value));
  EXPECT_EQ(value, 2.0);
  EXPECT_EQ(list.NameAt(list.IndexOf("x")), "X");

  // X=3=3 stores the comparison; "=" inside parentheses compares.
  EXPECT_STREQ(parser.Evaluate("X=3=3"), "Ans = 1");
  ASSERT_TRUE(list.Get("x", value));
  EXPECT_EQ(value, 1.0);
  EXPECT_STREQ(parser.Evaluate("(X=1)"), "Ans = 1");
  EXPECT_STREQ(parser.Evaluate("(X=2)"), "Ans = 0");

  // A failed assignment stores nothing, and Ans keeps its value.
  EXPECT_STREQ(parser.Evaluate("Z=Y"), "Error: Unknown variable Y (col 3)");
  EXPECT_FALSE(list.Exists("Z"));
  ASSERT_TRUE(list.Get("Ans", value));
  EXPECT_EQ(value, 0.0); // (X=2) compared 1 with 2
  // An assignment made before a later error stays.
  EXPECT_STREQ(parser.Evaluate("W=4 5"), "Error: Unexpected part: 5 (col 5)");
  ASSERT_TRUE(list.Get("W", value));
  EXPECT_EQ(value, 4.0);

  // A variable named PI can be set but the constant wins.
  EXPECT_STREQ(parser.Evaluate("pi=3"), "Ans = 3");
  EXPECT_STREQ(parser.Evaluate("PI"), "Ans = 3.14159");
  EXPECT_TRUE(list.Exists("Pi"));
}

TEST(ExpressionParserTest, LongNamesAreKeptWhole) {
  VariableList list;
  ExpressionParser parser(&list);
  const std::string name = "Infiltration_capacity_of_the_surface_after_rain"; // 47 characters
  const std::string other = "Infiltration_capacity_of_the_surface_after_snow";
  EXPECT_STREQ(parser.Evaluate((name + "=5").c_str()), "Ans = 5");
  EXPECT_STREQ(parser.Evaluate((name + "*2").c_str()), "Ans = 10");
  EXPECT_EQ(parser.Evaluate(other.c_str()), "Error: Unknown variable " + other + " (col 1)");
  EXPECT_EQ(parser.Evaluate((other + "_function(1)").c_str()),
            "Error: Unknown function " + other + "_function (col " +
                std::to_string(other.size() + 13) + ")");
  // A number token of 40 digits is read whole.
  EXPECT_STREQ(parser.Evaluate("1234567890123456789012345678901234567890"), "Ans = 1.23457e+39");
}

TEST(ExpressionParserTest, ParserWithoutListKeepsItsOwn) {
  ExpressionParser parser;
  EXPECT_STREQ(parser.Evaluate("A=1.5"), "Ans = 1.5");
  EXPECT_STREQ(parser.Evaluate("A*2"), "Ans = 3");
  EXPECT_STREQ(parser.Evaluate(static_cast<const char *>(nullptr)),
               "Error: Empty expression (col 1)");
}

TEST(VariableListTest, OperationsOfTheList) {
  VariableList list;
  EXPECT_TRUE(list.Set("alpha", 1.0));
  EXPECT_TRUE(list.Set("Beta", 2.0));
  EXPECT_TRUE(list.Set("gamma", 3.0));
  EXPECT_TRUE(list.Set("ALPHA", 4.0)); // replaces the entry and its name
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.IndexOf("Alpha"), 0);
  EXPECT_EQ(list.NameAt(0), "ALPHA");
  EXPECT_EQ(list.IndexOf("delta"), -1);
  double value = -1.0;
  EXPECT_FALSE(list.Get("delta", value));
  EXPECT_EQ(value, -1.0); // untouched
  EXPECT_TRUE(list.GetByIndex(1, value));
  EXPECT_EQ(value, 2.0);
  EXPECT_FALSE(list.GetByIndex(-1, value));
  EXPECT_FALSE(list.GetByIndex(3, value));

  // Deleting moves the last entry into the gap.
  EXPECT_TRUE(list.Delete("alpha"));
  EXPECT_FALSE(list.Delete("alpha"));
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.IndexOf("gamma"), 0);
  EXPECT_EQ(list.IndexOf("beta"), 1);

  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_FALSE(list.Exists("beta"));
  EXPECT_TRUE(list.Set("x", 7.0));
  EXPECT_TRUE(list.Get("X", value));
  EXPECT_EQ(value, 7.0);
  EXPECT_EQ(list.Count(), 1);
}

} // namespace
} // namespace tavro
