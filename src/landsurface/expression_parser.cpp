// The expression parser: tokenizer, the nine levels, functions and errors.
#include "landsurface/expression_parser.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace tavro {
namespace {

constexpr double kEuler = 2.718281828459045;
constexpr double kPi = 3.141592653589793;
constexpr std::int32_t kSmallestInt = std::numeric_limits<std::int32_t>::min();

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool IsNameStart(char c) { return IsLetter(c) || c == '_'; }
constexpr bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }
constexpr bool IsNumberChar(char c) { return IsDigit(c) || c == '.'; }
// The characters of which operators are made.
constexpr std::array<bool, 256> kOperatorChars = [] {
  std::array<bool, 256> table{};
  for (const char c : std::string_view("&|<>=+/*%^!"))
    table[static_cast<unsigned char>(c)] = true;
  return table;
}();
bool IsOperatorChar(char c) { return kOperatorChars[static_cast<unsigned char>(c)]; }

constexpr std::string_view kAnswer = "Ans";
constexpr const char *kUnknownFailure = "Error: Unknown error (col -1)";

// Truncation toward zero; outside the 32-bit range (and NaN) the smallest
// 32-bit integer, never an undefined conversion.
std::int32_t ToInt32(double value) {
  const double truncated = std::trunc(value);
  if (!(truncated >= -2147483648.0 && truncated <= 2147483647.0))
    return kSmallestInt;
  return static_cast<std::int32_t>(truncated);
}

double Integer(std::int32_t value) { return static_cast<double>(value); }

double ShiftLeft(double a, double b) {
  const auto count = static_cast<unsigned>(ToInt32(b)) & 31U;
  // Through the unsigned type: the bits shifted out are dropped, as the
  // conversion back to 32 bits takes them modulo 2^32.
  return Integer(static_cast<std::int32_t>(static_cast<std::uint32_t>(ToInt32(a)) << count));
}

double ShiftRight(double a, double b) {
  const auto count = static_cast<unsigned>(ToInt32(b)) & 31U;
  return Integer(ToInt32(a) >> count); // arithmetic: the sign is kept
}

double BitAnd(double a, double b) { return Integer(ToInt32(a) & ToInt32(b)); }
double BitOr(double a, double b) { return Integer(ToInt32(a) | ToInt32(b)); }
double ExclusiveOr(double a, double b) { return Integer(ToInt32(a) ^ ToInt32(b)); }
double Truth(bool holds) { return holds ? 1.0 : 0.0; }
double Equal(double a, double b) { return Truth(a == b); }
double Unequal(double a, double b) { return Truth(!(a == b)); } // also for a NaN operand
double Less(double a, double b) { return Truth(a < b); }
double Greater(double a, double b) { return Truth(a > b); }
double LessEqual(double a, double b) { return Truth(a <= b); }
double GreaterEqual(double a, double b) { return Truth(a >= b); }
double Plus(double a, double b) { return a + b; }
double Minus(double a, double b) { return a - b; }
double Times(double a, double b) { return a * b; }
double Divide(double a, double b) { return a / b; }
double Power(double a, double b) { return std::pow(a, b); }

// Remainder of the truncated division, with the sign of a; the caller has
// refused a divisor that truncates to 0.
double Remainder(double a, double b) {
  const std::int32_t divisor = ToInt32(b);
  // The one quotient outside the 32-bit range (smallest integer by -1) has
  // the remainder 0, as every division by -1.
  return divisor == -1 ? 0.0 : Integer(ToInt32(a) % divisor);
}

using Function = double (*)(double);

double Sign(double x) { return x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : 0.0); }
double Abs(double x) { return std::fabs(x); }
double Exp(double x) { return std::exp(x); }
double Sqrt(double x) { return std::sqrt(x); }
double Log(double x) { return std::log(x); }
double Log10(double x) { return std::log10(x); }
double Sin(double x) { return std::sin(x); }
double Cos(double x) { return std::cos(x); }
double Tan(double x) { return std::tan(x); }
double Asin(double x) { return std::asin(x); }
double Acos(double x) { return std::acos(x); }
double Atan(double x) { return std::atan(x); }

struct NamedFunction {
  std::string_view name;
  Function function;
};

// FACTORIAL is handled apart: it can raise an error.
constexpr NamedFunction kFunctions[] = {
    {"ABS", Abs}, {"EXP", Exp}, {"SIGN", Sign}, {"SQRT", Sqrt}, {"LOG", Log},   {"LOG10", Log10},
    {"SIN", Sin}, {"COS", Cos}, {"TAN", Tan},   {"ASIN", Asin}, {"ACOS", Acos}, {"ATAN", Atan},
};

} // namespace

struct ExpressionParser::BinaryOperator {
  std::string_view symbol;
  double (*apply)(double, double);
};

namespace {

// The two-operand operators of levels 2 to 6.
constexpr ExpressionParser::BinaryOperator kBitwise[] = {
    {"&", BitAnd}, {"|", BitOr}, {"<<", ShiftLeft}, {">>", ShiftRight}};
constexpr ExpressionParser::BinaryOperator kComparison[] = {
    {"=", Equal},   {"<>", Unequal},   {"<", Less},
    {">", Greater}, {"<=", LessEqual}, {">=", GreaterEqual}};
constexpr ExpressionParser::BinaryOperator kSum[] = {{"+", Plus}, {"-", Minus}};
constexpr ExpressionParser::BinaryOperator kProduct[] = {
    {"*", Times}, {"/", Divide}, {"%", Remainder}, {"||", ExclusiveOr}};
constexpr ExpressionParser::BinaryOperator kPower[] = {{"^", Power}};

} // namespace

const char *ExpressionParser::MessageOf(int code) {
  switch (code) {
  case SyntaxErrorInPart:
    return "Syntax error in part: ";
  case SyntaxError:
    return "Syntax error";
  case MissingParenthesis:
    return "Parentesis ) missing";
  case EmptyExpression:
    return "Empty expression";
  case UnexpectedPart:
    return "Unexpected part: ";
  case UnexpectedEnd:
    return "Unexpected end of expression";
  case ValueExpected:
    return "Value expected";
  case RemainderByZero:
    return "Division by zero in remainder";
  case UnknownOperator:
    return "Unknown operator ";
  case UnknownFunction:
    return "Unknown function ";
  case UnknownVariable:
    return "Unknown variable ";
  case TooLongExpression:
    return "Too long expression, maximum number of characters exceeded";
  case DefiningVariableFailed:
    return "Defining variable failed";
  case IntegerExpected:
    return "Integer value expected in function ";
  default:
    return "Unknown error";
  }
}

ExpressionParser::ExpressionParser(VariableList *list)
    : ownList_(list == nullptr ? std::make_unique<VariableList>() : nullptr),
      list_(list == nullptr ? ownList_.get() : list) {
  expression_.reserve(MaxExpressionLength);
  result_.reserve(64);
}

const char *ExpressionParser::Evaluate(const char *text) noexcept {
  if (text == nullptr)
    return Evaluate(std::string_view());
  // Never scans further than one character past the limit.
  return Evaluate(std::string_view(text, strnlen(text, MaxExpressionLength + 1)));
}

const char *ExpressionParser::Evaluate(std::string_view text) noexcept {
  if (!Run(text))
    return ResultText();
  char number[40];
  std::snprintf(number, sizeof number, "Ans = %g", lastResult_);
  result_ = number; // fits the reserved storage
  return result_.c_str();
}

bool ExpressionParser::Run(std::string_view text) noexcept {
  try {
    EvaluateText(text);
    return true;
  } catch (const Error &error) {
    try {
      result_ = "Error: ";
      result_ += error.message;
      result_ += " (col ";
      result_ += std::to_string(error.column);
      result_ += ')';
    } catch (...) {
      result_.clear();
    }
  } catch (...) {
    // Only a failed allocation gets here.
    result_.clear();
  }
  if (result_.empty())
    result_.assign(kUnknownFailure); // within the reserved storage
  return false;
}

const char *ExpressionParser::ResultText() const { return result_.c_str(); }

void ExpressionParser::EvaluateText(std::string_view text) {
  if (text.size() > MaxExpressionLength)
    Raise(TooLongExpression, TooLongColumn);
  expression_.assign(text);
  position_ = 0;
  lastResult_ = 0.0;
  ReadToken();
  if (kind_ == TokenKind::Delimiter && token_.empty())
    Raise(EmptyExpression, TokenColumn());
  const double value = ParseStatement();
  lastResult_ = value;
  if (kind_ != TokenKind::Delimiter)
    Raise(UnexpectedPart, TokenColumn(), token_);
  if (!token_.empty())
    Raise(UnknownOperator, TokenColumn(), token_);
  list_->Set(kAnswer, value);
}

void ExpressionParser::Raise(int code, int column, std::string_view detail) const {
  Error error{column, code, MessageOf(code)};
  error.message += detail;
  throw error;
}

bool ExpressionParser::TokenIs(std::string_view delimiter) const {
  return kind_ == TokenKind::Delimiter && token_ == delimiter;
}

void ExpressionParser::ReadToken() {
  token_ = {};
  kind_ = TokenKind::NoToken;
  const std::size_t end = expression_.size();
  while (position_ < end && IsBlank(expression_[position_]))
    ++position_;
  tokenStart_ = position_;
  if (position_ >= end) {
    kind_ = TokenKind::Delimiter;
    return;
  }
  const auto take = [&](auto belongs) {
    while (position_ < end && belongs(expression_[position_]))
      ++position_;
  };
  const char c = expression_[position_];
  if (c == '-' || c == '(' || c == ')') {
    ++position_;
    kind_ = TokenKind::Delimiter;
  } else if (IsOperatorChar(c)) {
    take(IsOperatorChar);
    kind_ = TokenKind::Delimiter;
  } else if (IsNumberChar(c)) {
    take(IsNumberChar);
    if (position_ < end && (expression_[position_] == 'e' || expression_[position_] == 'E')) {
      ++position_;
      if (position_ < end && (expression_[position_] == '+' || expression_[position_] == '-'))
        ++position_;
      take(IsDigit);
    }
    kind_ = TokenKind::Number;
  } else if (IsNameStart(c)) {
    take(IsNameChar);
    std::size_t next = position_;
    while (next < end && IsBlank(expression_[next]))
      ++next;
    kind_ =
        next < end && expression_[next] == '(' ? TokenKind::FunctionName : TokenKind::VariableName;
  } else {
    kind_ = TokenKind::Invalid;
    position_ = end;
    token_ = std::string_view(expression_).substr(tokenStart_);
    Raise(SyntaxErrorInPart, TokenColumn(), token_);
  }
  token_ = std::string_view(expression_).substr(tokenStart_, position_ - tokenStart_);
}

double ExpressionParser::ParseStatement() {
  if (kind_ != TokenKind::VariableName)
    return ParseBitwise();
  const std::string_view name = token_;
  const std::size_t savedPosition = position_;
  const std::size_t savedStart = tokenStart_;
  ReadToken();
  if (TokenIs("=")) {
    ReadToken();
    const double value = ParseBitwise();
    if (!list_->Set(name, value))
      Raise(DefiningVariableFailed, TokenColumn());
    return value;
  }
  // Not an assignment: back to the name.
  token_ = name;
  kind_ = TokenKind::VariableName;
  position_ = savedPosition;
  tokenStart_ = savedStart;
  return ParseBitwise();
}

double ExpressionParser::ParseBitwise() {
  return ParseLevel(kBitwise, &ExpressionParser::ParseComparison);
}

double ExpressionParser::ParseComparison() {
  return ParseLevel(kComparison, &ExpressionParser::ParseSum);
}

double ExpressionParser::ParseSum() { return ParseLevel(kSum, &ExpressionParser::ParseProduct); }

double ExpressionParser::ParseProduct() {
  return ParseLevel(kProduct, &ExpressionParser::ParsePower);
}

double ExpressionParser::ParsePower() {
  return ParseLevel(kPower, &ExpressionParser::ParseFactorial);
}

double ExpressionParser::ParseLevel(std::span<const BinaryOperator> operators,
                                    double (ExpressionParser::*operand)()) {
  double left = (this->*operand)();
  for (;;) {
    const BinaryOperator *op = nullptr;
    for (const BinaryOperator &candidate : operators)
      if (TokenIs(candidate.symbol))
        op = &candidate;
    if (op == nullptr)
      return left;
    ReadToken();
    const double right = (this->*operand)();
    if (op->apply == Remainder && ToInt32(right) == 0)
      Raise(RemainderByZero, TokenColumn());
    left = op->apply(left, right);
  }
}

double ExpressionParser::ParseFactorial() {
  double value = ParseSigned();
  while (TokenIs("!")) {
    ReadToken();
    value = Factorial(value, -1);
  }
  return value;
}

double ExpressionParser::ParseSigned() {
  const bool negate = TokenIs("-");
  if (negate)
    ReadToken();
  if (kind_ == TokenKind::FunctionName) {
    const std::string_view name = token_;
    ReadToken();
    const double argument = ParseOperand();
    const double value = CallFunction(name, argument);
    return negate ? -value : value;
  }
  const double value = ParseOperand();
  return negate ? -value : value;
}

double ExpressionParser::ParseOperand() {
  if (TokenIs("(")) {
    ReadToken();
    const double value = ParseBitwise();
    if (!TokenIs(")"))
      Raise(MissingParenthesis, TokenColumn());
    ReadToken();
    return value;
  }
  double value = 0.0;
  if (kind_ == TokenKind::Number)
    value = NumberValue();
  else if (kind_ == TokenKind::VariableName)
    value = LookUpName();
  else if (token_.empty())
    Raise(UnexpectedEnd, TokenColumn());
  else
    Raise(ValueExpected, TokenColumn());
  ReadToken();
  return value;
}

double ExpressionParser::NumberValue() const {
  // The longest prefix that reads as a number: 1.2.3 is 1.2, a lone point 0,
  // 1e is 1. The token holds only digits, points, one exponent letter and
  // its sign, so nothing but a decimal number can be read from it.
  double value = 0.0;
  const char *first = token_.data();
  const auto [end, failure] = std::from_chars(first, first + token_.size(), value);
  if (failure == std::errc::invalid_argument)
    return 0.0; // a lone point
  if (failure == std::errc::result_out_of_range)
    return std::strtod(std::string(token_).c_str(), nullptr); // an infinity, or 0 after underflow
  return value;
}

double ExpressionParser::LookUpName() {
  if (EqualIgnoringCase(token_, std::string_view("EULER")))
    return kEuler;
  if (EqualIgnoringCase(token_, std::string_view("PI")))
    return kPi;
  double value = 0.0;
  if (!list_->Get(token_, value))
    Raise(UnknownVariable, TokenColumn(), token_);
  return value;
}

double ExpressionParser::CallFunction(std::string_view name, double argument) {
  for (const NamedFunction &f : kFunctions)
    if (EqualIgnoringCase(name, f.name))
      return f.function(argument);
  if (EqualIgnoringCase(name, std::string_view("FACTORIAL")))
    return Factorial(argument, TokenColumn());
  Raise(UnknownFunction, TokenColumn(), name);
}

double ExpressionParser::Factorial(double value, int column) const {
  const std::int32_t n = ToInt32(value);
  if (Integer(n) != value)
    Raise(IntegerExpected, column, "factorial");
  if (n < 0)
    return value; // (-3)! is -3
  double product = 1.0;
  for (std::int32_t i = 2; i <= n; ++i) {
    product *= static_cast<double>(i);
    if (std::isinf(product))
      return product; // 171! and beyond: no need to go on
  }
  return product;
}

} // namespace tavro
