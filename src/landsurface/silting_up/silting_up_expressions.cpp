// Evaluation of the silting-up formulas of method 3.
#include "landsurface/silting_up/silting_up_expressions.h"

namespace tavro::siltingup {
namespace {

constexpr std::string_view kParameterNames[] = {"",  "A", "B", "C", "D", "E",
                                                "F", "G", "H", "I", "J"};

} // namespace

std::size_t SecondPassStart(std::span<const std::string> formulas) {
  for (std::size_t i = 0; i < formulas.size(); ++i)
    if (formulas[i].find("V=") != std::string::npos)
      return i;
  return formulas.size();
}

ExpressionEvaluator::ExpressionEvaluator(const std::vector<std::string> &formulas)
    : formulas_(formulas), secondPassStart_(SecondPassStart(formulas)) {}

bool ExpressionEvaluator::FirstPass(const ExpressionInputs &in, double &disposition,
                                    double &energyFactor) {
  // A cell starts from an empty list, also after a cell that failed.
  list_.Clear();
  for (std::size_t i = 1; i <= 10; ++i)
    list_.Set(kParameterNames[i], (*in.parameters)[i]);
  list_.Set("K", in.texture);
  list_.Set("L", in.sand);
  list_.Set("M", in.clay);
  list_.Set("N", in.silt);
  list_.Set("O", in.sinceTillage);
  list_.Set("P", in.intensity);
  list_.Set("Q", in.energy);
  list_.Set("R", in.dtMinutes);
  if (!Run(0, secondPassStart_))
    return false;
  disposition = ValueOr0("Z");
  energyFactor = ValueOr0("W");
  return true;
}

bool ExpressionEvaluator::SecondPass(double energy, double &capacity) {
  list_.Set("Q", energy);
  if (!Run(secondPassStart_, formulas_.size()))
    return false;
  capacity = ValueOr0("V");
  return true;
}

bool ExpressionEvaluator::Run(std::size_t first, std::size_t last) {
  for (std::size_t i = first; i < last; ++i) {
    // The formulas are checked cell by cell; only a failure needs its text.
    if (!parser_.Run(formulas_[i])) {
      failure_.formula = formulas_[i];
      failure_.message = parser_.ResultText();
      return false;
    }
  }
  return true;
}

double ExpressionEvaluator::ValueOr0(std::string_view name) const {
  double value = 0.0;
  return list_.Get(name, value) ? value : 0.0;
}

} // namespace tavro::siltingup
