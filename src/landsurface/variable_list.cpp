// Variables of the expression parser.
#include "landsurface/variable_list.h"

#include <utility>

namespace tavro {
namespace {

constexpr char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

} // namespace

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i]))
      return false;
  return true;
}

int VariableList::IndexOf(std::string_view name) const {
  for (std::size_t i = 0; i < count_; ++i)
    if (EqualIgnoringCase(entries_[i].name, name))
      return static_cast<int>(i);
  return -1;
}

bool VariableList::Set(std::string_view name, double value) {
  const int index = IndexOf(name);
  if (index >= 0) {
    Variable &entry = entries_[static_cast<std::size_t>(index)];
    entry.name.assign(name);
    entry.value = value;
    return true;
  }
  if (count_ == entries_.size())
    entries_.emplace_back();
  Variable &entry = entries_[count_++];
  entry.name.assign(name);
  entry.value = value;
  return true;
}

bool VariableList::Get(std::string_view name, double &value) const {
  const int index = IndexOf(name);
  if (index < 0)
    return false;
  value = entries_[static_cast<std::size_t>(index)].value;
  return true;
}

bool VariableList::GetByIndex(int index, double &value) const {
  if (index < 0 || index >= Count())
    return false;
  value = entries_[static_cast<std::size_t>(index)].value;
  return true;
}

bool VariableList::Delete(std::string_view name) {
  const int index = IndexOf(name);
  if (index < 0)
    return false;
  const auto position = static_cast<std::size_t>(index);
  --count_;
  if (position != count_)
    std::swap(entries_[position], entries_[count_]);
  return true;
}

std::string_view VariableList::NameAt(int index) const {
  if (index < 0 || index >= Count())
    return {};
  return entries_[static_cast<std::size_t>(index)].name;
}

} // namespace tavro
