// Reading rules of the routing descriptions.
#include "routing/description_scanner.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <string>

namespace tavro {
namespace {

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

} // namespace

int CountToken(std::string_view text, std::string_view token) {
  if (token.empty())
    return 0;
  int count = 0;
  for (std::size_t at = text.find(token); at != std::string_view::npos;
       at = text.find(token, at + 1))
    ++count;
  return count;
}

void DescriptionScanner::SkipWhiteSpace() {
  while (position_ < text_.size() && IsSpace(text_[position_]))
    ++position_;
}

bool DescriptionScanner::SkipPast(std::string_view token) {
  const std::size_t at = text_.find(token, position_);
  if (at == std::string_view::npos)
    return false;
  position_ = at + token.size();
  return true;
}

std::optional<int> DescriptionScanner::ReadInteger() {
  const std::size_t start = position_;
  SkipWhiteSpace();
  std::size_t end = position_;
  if (end < text_.size() && (text_[end] == '+' || text_[end] == '-'))
    ++end;
  const std::size_t digits = end;
  while (end < text_.size() && IsDigit(text_[end]))
    ++end;
  if (end == digits) {
    position_ = start;
    return std::nullopt;
  }
  std::size_t first = position_;
  if (text_[first] == '+')
    ++first;
  int value = 0;
  const auto [stop, error] = std::from_chars(text_.data() + first, text_.data() + end, value);
  if (error != std::errc() || stop != text_.data() + end) {
    position_ = start;
    return std::nullopt;
  }
  position_ = end;
  return value;
}

std::optional<double> DescriptionScanner::ReadNumber() {
  const std::size_t start = position_;
  SkipWhiteSpace();
  std::size_t end = position_;
  if (end < text_.size() && (text_[end] == '+' || text_[end] == '-'))
    ++end;
  std::size_t digits = 0;
  while (end < text_.size() && IsDigit(text_[end])) {
    ++end;
    ++digits;
  }
  if (end < text_.size() && text_[end] == '.') {
    ++end;
    while (end < text_.size() && IsDigit(text_[end])) {
      ++end;
      ++digits;
    }
  }
  if (digits == 0) {
    position_ = start;
    return std::nullopt;
  }
  // An exponent counts only with at least one digit ("37e" reads 37).
  if (end < text_.size() && (text_[end] == 'e' || text_[end] == 'E')) {
    std::size_t exponent = end + 1;
    if (exponent < text_.size() && (text_[exponent] == '+' || text_[exponent] == '-'))
      ++exponent;
    if (exponent < text_.size() && IsDigit(text_[exponent])) {
      while (exponent < text_.size() && IsDigit(text_[exponent]))
        ++exponent;
      end = exponent;
    }
  }
  std::size_t first = position_;
  if (text_[first] == '+')
    ++first;
  double value = 0.0;
  const auto [stop, error] = std::from_chars(text_.data() + first, text_.data() + end, value);
  if (error != std::errc() || stop != text_.data() + end || !std::isfinite(value)) {
    position_ = start;
    return std::nullopt;
  }
  position_ = end;
  return value;
}

std::optional<double> DescriptionScanner::NumberAfterNextEquals() {
  if (!SkipPast("="))
    return std::nullopt;
  return ReadNumber();
}

std::string DescriptionScanner::ReadWord() {
  SkipWhiteSpace();
  const std::size_t start = position_;
  while (position_ < text_.size() && !IsSpace(text_[position_]))
    ++position_;
  return std::string(text_.substr(start, position_ - start));
}

std::string_view DescriptionScanner::ReadUntilAny(std::string_view stops) {
  std::size_t end = text_.find_first_of(stops, position_);
  if (end == std::string_view::npos)
    end = text_.size();
  const std::string_view part = text_.substr(position_, end - position_);
  position_ = end;
  return part;
}

std::string DescriptionScanner::Excerpt() const {
  constexpr std::size_t kLength = 40;
  std::string part(text_.substr(position_, kLength));
  if (position_ + kLength < text_.size())
    part += "...";
  return part;
}

} // namespace tavro
