// A cursor over the joined text of one routing description, with the reading
// rules of the descriptions: tokens are plain substrings found anywhere from
// the cursor, a value is the number right behind the next "=", integers and
// numbers end at the first character that cannot continue them, and words at
// white space.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tavro {

// Occurrences of token in text, overlapping ones included (the search goes
// on one character after the start of each match).
int CountToken(std::string_view text, std::string_view token);

class DescriptionScanner {
public:
  explicit DescriptionScanner(std::string_view text) : text_(text) {}

  void Restart() { position_ = 0; }
  std::size_t Position() const { return position_; }

  // Moves behind the next occurrence of token; false (cursor unchanged) when
  // there is none.
  bool SkipPast(std::string_view token);
  // An integer after optional white space ("%d"); none when there are no
  // digits or the value does not fit an int (the cursor then stays).
  std::optional<int> ReadInteger();
  // A finite real after optional white space: sign, digits, point, exponent;
  // none when there is no digit or the value is not finite.
  std::optional<double> ReadNumber();
  // The number right behind the next "=" (white space allowed between).
  std::optional<double> NumberAfterNextEquals();
  // The next word after optional white space; empty at the end of the text.
  std::string ReadWord();
  // The text from the cursor up to (not including) the first of stops, or to
  // the end; the cursor moves behind it.
  std::string_view ReadUntilAny(std::string_view stops);

  // Up to 40 characters from the cursor, for messages.
  std::string Excerpt() const;

private:
  void SkipWhiteSpace();

  std::string_view text_;
  std::size_t position_ = 0;
};

} // namespace tavro
