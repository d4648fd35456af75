// Evaluates one line of arithmetic at a time against a VariableList, such as
// the silting-up formulas that users write in the control file. A
// recursive-descent evaluator that computes while it parses: no syntax tree,
// nothing kept between calls but the variables. Evaluate never throws; it
// returns "Ans = <value>" or "Error: <message> (col <column>)".
//
// Levels, loosest first (every two-operand level is left-associative):
//   1 assignment NAME = ..., only at the very start of the text
//   2 &  |  <<  >>            bitwise on 32-bit integers
//   3 =  <>  <  >  <=  >=     1 or 0
//   4 +  -
//   5 *  /  %  ||             % remainder and || exclusive or on 32-bit integers
//   6 ^                       power (2^3^2 is 64)
//   7 !                       factorial after its operand, repeatable "3! !"
//   8 prefix minus, function calls (-2^2 is 4)
//   9 numbers, names, parenthesised expressions
// Functions of one argument: ABS EXP SIGN SQRT LOG LOG10 SIN COS TAN ASIN ACOS
// ATAN FACTORIAL; constants PI and EULER (they win over variables of that
// name). Names ignore case.
//
// Operands of the integer operators are truncated toward zero; one outside
// the 32-bit range, or NaN, becomes the smallest 32-bit integer. Shift counts
// use their lowest 5 bits. A remainder by 0 is error 8, and the smallest
// 32-bit integer % -1 gives 0. A factorial whose product overflows is +inf.
//
// A parser is not shared between threads; it holds no static state.
#pragma once

#include "landsurface/variable_list.h"

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace tavro {

class ExpressionParser {
public:
  // Longest text Evaluate accepts.
  static constexpr std::size_t MaxExpressionLength = 255;
  // Column reported with error 200: the first character past the limit.
  static constexpr int TooLongColumn = 256;

  // Error codes and their message texts.
  enum ErrorCode : int {
    SyntaxErrorInPart = 1,
    SyntaxError = 2,
    MissingParenthesis = 3,
    EmptyExpression = 4,
    UnexpectedPart = 5,
    UnexpectedEnd = 6,
    ValueExpected = 7,
    RemainderByZero = 8,
    UnknownOperator = 101,
    UnknownFunction = 102,
    UnknownVariable = 103,
    TooLongExpression = 200,
    DefiningVariableFailed = 300,
    IntegerExpected = 400,
  };
  static const char *MessageOf(int code);

  enum class TokenKind { NoToken, Delimiter, Number, VariableName, FunctionName, Invalid };

  // Binds list (not owned), or an empty list of the parser's own when null.
  explicit ExpressionParser(VariableList *list = nullptr);
  ExpressionParser(const ExpressionParser &) = delete;
  ExpressionParser &operator=(const ExpressionParser &) = delete;

  // The result text, valid until the next call. After success the variable
  // "Ans" holds the value; an assignment made before an error stays.
  const char *Evaluate(const char *text) noexcept;
  const char *Evaluate(std::string_view text) noexcept;
  // Evaluate without writing the result text of a success (the value is
  // LastResult() and "Ans"): true on success; after a failure ResultText()
  // holds the "Error: ..." text. For callers that evaluate per grid cell.
  bool Run(std::string_view text) noexcept;
  // The text of the last Evaluate, or the error text of the last failed Run.
  const char *ResultText() const;

  VariableList &Variables() { return *list_; }
  // The value of the last evaluation; 0 when it failed before a value.
  double LastResult() const { return lastResult_; }

  // A two-operand operator: its token and its operation.
  struct BinaryOperator;

  // The error the parser throws internally and Evaluate catches.
  struct Error {
    int column; // 1-based, -1 when none is known
    int code;
    std::string message;
  };

private:
  void EvaluateText(std::string_view text);
  void ReadToken();
  bool TokenIs(std::string_view delimiter) const;
  int TokenColumn() const { return static_cast<int>(tokenStart_) + 1; }
  [[noreturn]] void Raise(int code, int column, std::string_view detail = {}) const;

  double ParseStatement();
  double ParseBitwise();
  double ParseComparison();
  double ParseSum();
  double ParseProduct();
  double ParsePower();
  // One level of two-operand operators over operands of the next level.
  double ParseLevel(std::span<const BinaryOperator> operators,
                    double (ExpressionParser::*operand)());
  double ParseFactorial();
  double ParseSigned();
  double ParseOperand();
  double LookUpName();
  double CallFunction(std::string_view name, double argument);
  double Factorial(double value, int column) const;
  double NumberValue() const;

  std::unique_ptr<VariableList> ownList_;
  VariableList *list_;
  std::string expression_;
  std::size_t position_ = 0;
  std::string_view token_;     // within expression_
  std::size_t tokenStart_ = 0; // 0-based position of the token's first character
  TokenKind kind_ = TokenKind::NoToken;
  double lastResult_ = 0.0;
  std::string result_;
};

} // namespace tavro
