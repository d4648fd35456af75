// The parser against C++ itself: random expression trees of numbers (printed
// with 17 significant digits, so they read back exactly), variables, the
// operators + - * / ^, the prefix minus and the functions, several levels
// deep, each printed twice: fully parenthesised, and by the parser's
// precedence without a redundant parenthesis. Both texts must give exactly
// the value C++ computes from the tree (NaN where it gives NaN).
#include "landsurface/expression_parser.h"
#include "landsurface/variable_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace tavro {
namespace {

struct Variable {
  const char *name;
  double value;
};

// Names of several lengths and cases; the parser ignores case.
const Variable kVariables[] = {
    {"a", 0.5},    {"Beta", -3.25},
    {"x_1", 1e-7}, {"Kinetic_Energy_Since_The_Last_Rain_Pause", 123.456},
    {"_u", 7.0},
};

struct NamedFunction {
  const char *name;
  double (*function)(double);
};

const NamedFunction kFunctions[] = {
    {"ABS", [](double x) { return std::fabs(x); }},
    {"exp", [](double x) { return std::exp(x); }},
    {"Sign", [](double x) { return x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : 0.0); }},
    {"SQRT", [](double x) { return std::sqrt(x); }},
    {"log", [](double x) { return std::log(x); }},
    {"LOG10", [](double x) { return std::log10(x); }},
    {"sin", [](double x) { return std::sin(x); }},
    {"COS", [](double x) { return std::cos(x); }},
    {"Tan", [](double x) { return std::tan(x); }},
    {"asin", [](double x) { return std::asin(x); }},
    {"ACOS", [](double x) { return std::acos(x); }},
    {"atan", [](double x) { return std::atan(x); }},
};

enum class Kind { Number, Name, Negate, Function, Add, Subtract, Multiply, Divide, Power };

struct Node {
  Kind kind = Kind::Number;
  double number = 0.0;
  int index = 0; // variable or function
  std::unique_ptr<Node> left, right;
};

// Binding strength of a node's operator as the parser sees it.
int Level(const Node &n) {
  switch (n.kind) {
  case Kind::Number:
  case Kind::Name:
    return 9;
  case Kind::Negate:
  case Kind::Function:
    return 8;
  case Kind::Power:
    return 6;
  case Kind::Multiply:
  case Kind::Divide:
    return 5;
  default:
    return 4;
  }
}

const char *Symbol(Kind kind) {
  switch (kind) {
  case Kind::Add:
    return "+";
  case Kind::Subtract:
    return "-";
  case Kind::Multiply:
    return "*";
  case Kind::Divide:
    return "/";
  default:
    return "^";
  }
}

double Evaluate(const Node &n) {
  switch (n.kind) {
  case Kind::Number:
    return n.number;
  case Kind::Name:
    return kVariables[n.index].value;
  case Kind::Negate:
    return -Evaluate(*n.left);
  case Kind::Function:
    return kFunctions[n.index].function(Evaluate(*n.left));
  case Kind::Add:
    return Evaluate(*n.left) + Evaluate(*n.right);
  case Kind::Subtract:
    return Evaluate(*n.left) - Evaluate(*n.right);
  case Kind::Multiply:
    return Evaluate(*n.left) * Evaluate(*n.right);
  case Kind::Divide:
    return Evaluate(*n.left) / Evaluate(*n.right);
  case Kind::Power:
    return std::pow(Evaluate(*n.left), Evaluate(*n.right));
  }
  return 0.0;
}

std::string NumberText(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string Wrapped(const char *before, const std::string &text, const char *after) {
  std::string result = before;
  result += text;
  result += after;
  return result;
}

std::string Parenthesised(const Node &n) {
  switch (n.kind) {
  case Kind::Number:
    return NumberText(n.number);
  case Kind::Name:
    return kVariables[n.index].name;
  case Kind::Negate:
    return Wrapped("(-", Parenthesised(*n.left), ")");
  case Kind::Function:
    return std::string(kFunctions[n.index].name) + "(" + Parenthesised(*n.left) + ")";
  default:
    return Wrapped("(", Parenthesised(*n.left) + Symbol(n.kind) + Parenthesised(*n.right), ")");
  }
}

std::string Minimal(const Node &n) {
  switch (n.kind) {
  case Kind::Number:
    return NumberText(n.number);
  case Kind::Name:
    return kVariables[n.index].name;
  case Kind::Negate: {
    // The prefix minus takes one operand or one function call.
    const Kind child = n.left->kind;
    const bool bare = child == Kind::Number || child == Kind::Name || child == Kind::Function;
    return Wrapped(bare ? "-" : "-(", Minimal(*n.left), bare ? "" : ")");
  }
  case Kind::Function:
    return std::string(kFunctions[n.index].name) + "(" + Minimal(*n.left) + ")";
  default: {
    // Left-associative: the left operand may bind as strongly as the
    // operator, the right one must bind more strongly.
    const int level = Level(n);
    std::string left = Minimal(*n.left);
    std::string right = Minimal(*n.right);
    if (Level(*n.left) < level)
      left = Wrapped("(", left, ")");
    if (Level(*n.right) <= level)
      right = Wrapped("(", right, ")");
    return left + Symbol(n.kind) + right;
  }
  }
}

class TreeMaker {
public:
  explicit TreeMaker(unsigned seed) : random_(seed) {}

  std::unique_ptr<Node> Make(int depth) {
    auto node = std::make_unique<Node>();
    const int choice = depth <= 0 ? Pick(0, 1) : Pick(0, 9);
    if (choice == 0) {
      node->kind = Kind::Number;
      node->number = RandomNumber();
    } else if (choice == 1) {
      node->kind = Kind::Name;
      node->index = Pick(0, static_cast<int>(std::size(kVariables)) - 1);
    } else if (choice == 2) {
      node->kind = Kind::Negate;
      node->left = Make(depth - 1);
    } else if (choice == 3) {
      node->kind = Kind::Function;
      node->index = Pick(0, static_cast<int>(std::size(kFunctions)) - 1);
      node->left = Make(depth - 1);
    } else {
      const Kind binary[] = {Kind::Add, Kind::Subtract, Kind::Multiply, Kind::Divide, Kind::Power};
      node->kind = binary[Pick(0, 4)];
      node->left = Make(depth - 1);
      node->right = Make(depth - 1);
    }
    return node;
  }

private:
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  double RandomNumber() {
    switch (Pick(0, 3)) {
    case 0:
      return Pick(0, 12); // small whole numbers, also 0
    case 1:
      return std::uniform_real_distribution<double>(0.0, 10.0)(random_);
    default:
      // Any magnitude, written with an exponent.
      return std::ldexp(std::uniform_real_distribution<double>(0.5, 1.0)(random_), Pick(-60, 60));
    }
  }

  std::mt19937 random_;
};

bool SameValue(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
}

TEST(ExpressionParserDifferentialTest, RandomTreesEqualTheirCppValue) {
  VariableList list;
  ExpressionParser parser(&list);
  TreeMaker maker(20240611);
  int compared = 0;
  int nonFinite = 0;
  int deep = 0;
  for (int i = 0; i < 20000; ++i) {
    const auto tree = maker.Make(1 + i % 4);
    const std::string texts[] = {Parenthesised(*tree), Minimal(*tree)};
    if (texts[0].size() > ExpressionParser::MaxExpressionLength)
      continue; // too long for one line; the minimal text is never longer
    list.Clear();
    for (const Variable &v : kVariables)
      list.Set(v.name, v.value);
    const double expected = Evaluate(*tree);
    for (const std::string &text : texts) {
      const std::string result = parser.Evaluate(text.c_str());
      ASSERT_EQ(result.rfind("Ans = ", 0), 0U) << text << " -> " << result;
      double value = 0.0;
      ASSERT_TRUE(list.Get("Ans", value));
      ASSERT_TRUE(SameValue(value, expected))
          << text << " gives " << NumberText(value) << ", C++ " << NumberText(expected);
    }
    ++compared;
    if (!std::isfinite(expected))
      ++nonFinite;
    if (i % 4 >= 2)
      ++deep;
  }
  // The trees cover the cases that matter, not only a few short ones.
  EXPECT_GT(compared, 15000);
  EXPECT_GT(nonFinite, 100);
  EXPECT_GT(deep, 5000);
}

} // namespace
} // namespace tavro
