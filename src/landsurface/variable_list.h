// The named double variables an ExpressionParser reads and assigns: an
// ordered, growable list whose names compare without regard to ASCII case.
// An entry keeps its name as written at the last Set of that name. Names are
// kept whole at any length. A hash index over the upper-cased names finds an
// entry without scanning the list. Clear keeps the entries' storage for
// reuse, so a list that is cleared and refilled for every grid cell
// allocates nothing once it has grown.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tavro {

// True when a and b are equal after converting ASCII letters to upper case.
bool EqualIgnoringCase(std::string_view a, std::string_view b);

class VariableList {
public:
  // Replaces the entry whose name matches (name as now written and value) or
  // appends a new one. Always true.
  bool Set(std::string_view name, double value);
  // The value of the matching entry; false, value untouched, when none.
  bool Get(std::string_view name, double &value) const;
  void Clear();

  bool Exists(std::string_view name) const { return IndexOf(name) >= 0; }
  // 0-based index of the matching entry, -1 when absent.
  int IndexOf(std::string_view name) const;
  // False for an index below 0 or past the end.
  bool GetByIndex(int index, double &value) const;
  // False when absent; otherwise the last entry moves into the deleted
  // entry's place, so the order of the remaining entries changes.
  bool Delete(std::string_view name);

  int Count() const { return static_cast<int>(count_); }
  // Name of entry index (0-based) as last written; empty past the end.
  std::string_view NameAt(int index) const;

private:
  struct Variable {
    std::string name;
    double value = 0.0;
  };
  // The slot of the name's entry, or the empty slot where it would go.
  std::size_t SlotOf(std::string_view name) const;
  void Rebuild(std::size_t slotCount);

  // Entries 0..count_-1 are the list; those after them are kept for reuse.
  std::vector<Variable> entries_;
  std::size_t count_ = 0;
  // Open addressing, a power of two long: entry index or -1.
  std::vector<int> slots_;
};

} // namespace tavro
