// Variables of the expression parser.
#include "landsurface/variable_list.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace tavro {
namespace {

constexpr char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// FNV-1a of the upper-cased name: equal for names that differ only in case.
std::uint32_t HashIgnoringCase(std::string_view name) {
  std::uint32_t hash = 2166136261U;
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(UpperAscii(c));
    hash *= 16777619U;
  }
  return hash;
}

constexpr std::size_t kMinimumSlots = 64;

} // namespace

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i]))
      return false;
  return true;
}

std::size_t VariableList::SlotOf(std::string_view name) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = HashIgnoringCase(name) & mask;
  while (slots_[slot] >= 0 &&
         !EqualIgnoringCase(entries_[static_cast<std::size_t>(slots_[slot])].name, name))
    slot = (slot + 1) & mask;
  return slot;
}

void VariableList::Rebuild(std::size_t slotCount) {
  slots_.assign(std::max(slotCount, kMinimumSlots), -1);
  for (std::size_t i = 0; i < count_; ++i)
    slots_[SlotOf(entries_[i].name)] = static_cast<int>(i);
}

int VariableList::IndexOf(std::string_view name) const {
  if (count_ == 0)
    return -1;
  return slots_[SlotOf(name)];
}

bool VariableList::Set(std::string_view name, double value) {
  if (slots_.empty())
    Rebuild(kMinimumSlots);
  const std::size_t slot = SlotOf(name);
  if (slots_[slot] >= 0) {
    Variable &entry = entries_[static_cast<std::size_t>(slots_[slot])];
    entry.name.assign(name);
    entry.value = value;
    return true;
  }
  if (count_ == entries_.size())
    entries_.emplace_back();
  Variable &entry = entries_[count_];
  entry.name.assign(name);
  entry.value = value;
  slots_[slot] = static_cast<int>(count_++);
  // At most half of the slots in use keeps the probes short.
  if (2 * count_ > slots_.size())
    Rebuild(2 * slots_.size());
  return true;
}

bool VariableList::Get(std::string_view name, double &value) const {
  const int index = IndexOf(name);
  if (index < 0)
    return false;
  value = entries_[static_cast<std::size_t>(index)].value;
  return true;
}

void VariableList::Clear() {
  count_ = 0;
  std::fill(slots_.begin(), slots_.end(), -1);
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
  Rebuild(slots_.size());
  return true;
}

std::string_view VariableList::NameAt(int index) const {
  if (index < 0 || index >= Count())
    return {};
  return entries_[static_cast<std::size_t>(index)].name;
}

} // namespace tavro
