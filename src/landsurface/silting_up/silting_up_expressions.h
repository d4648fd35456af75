// The silting-up formulas of method 3, given by the user as text and
// evaluated for every cell in two passes around the energy update. The cell's
// values are defined as variables first: A to J the soil's silting-up
// parameters 1 to 10, K its texture value, L sand, M clay, N silt, O the time
// since tillage (days), P the rain intensity (mm/h), Q the kinetic energy
// before the step, R the step (minutes). The first pass runs up to the first
// formula that contains "V=" and yields the disposition Z and the energy per
// mm of rain W; the second, with Q the updated energy, runs from there to the
// end and yields the infiltration capacity V (mm per step). A variable that
// is not defined gives 0.
//
// One evaluator per thread: it owns its parser and variable list and clears
// the list after each cell, so results do not depend on which thread or row
// computes a cell.
#pragma once

#include "landsurface/expression_parser.h"
#include "landsurface/variable_list.h"

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::siltingup {

// The values of a cell the formulas see.
struct ExpressionInputs {
  const std::array<double, 11> *parameters = nullptr; // SU_PAR01..SU_PAR10 at 1..10
  double texture = 0.0;
  double sand = 0.0;
  double clay = 0.0;
  double silt = 0.0;
  double sinceTillage = 0.0; // days
  double intensity = 0.0;    // mm/h
  double energy = 0.0;       // before the step
  double dtMinutes = 0.0;
};

// Index of the first formula that contains "V=", or the count when none does.
std::size_t SecondPassStart(std::span<const std::string> formulas);

class ExpressionEvaluator {
public:
  // formulas: kept by reference; they outlive the evaluator.
  explicit ExpressionEvaluator(const std::vector<std::string> &formulas);
  ExpressionEvaluator(const ExpressionEvaluator &) = delete;
  ExpressionEvaluator &operator=(const ExpressionEvaluator &) = delete;

  // Defines the variables and runs the first pass: disposition := Z and
  // energyFactor := W. False when a formula failed (see Failure()).
  bool FirstPass(const ExpressionInputs &inputs, double &disposition, double &energyFactor);
  // Q := energy, then the second pass: capacity := V. False on failure.
  bool SecondPass(double energy, double &capacity);
  // Forgets the cell's variables.
  void Clear() { list_.Clear(); }

  // The formula that failed and the parser's result text.
  struct Failure {
    std::string formula;
    std::string message;
  };
  const Failure &LastFailure() const { return failure_; }

private:
  bool Run(std::size_t first, std::size_t last);
  double ValueOr0(std::string_view name) const;

  const std::vector<std::string> &formulas_;
  std::size_t secondPassStart_;
  VariableList list_;
  ExpressionParser parser_{&list_};
  Failure failure_;
};

} // namespace tavro::siltingup
