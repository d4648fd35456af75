// Parser of one regional superposition entity block.
#include "meteo/superposition/superposition_block.h"

#include "kernel/string_helpers.h"

#include <array>
#include <cerrno>
#include <cstdlib>

namespace tavro::superposition {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";
constexpr std::string_view kListSeparators = "\n\t ;,";
constexpr std::array<std::string_view, 4> kOutputKeys{"outputgrid", "writecode", "outputtable",
                                                      "statcode"};

std::string FirstWord(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(kBlanks);
  if (begin == std::string_view::npos)
    return {};
  const std::size_t end = text.find_first_of(kBlanks, begin);
  return std::string(text.substr(begin, end == std::string_view::npos ? end : end - begin));
}

long ToLong(const std::string &token, std::string_view key) {
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(token.c_str(), &end, 10);
  if (token.empty() || *end != '\0' || errno != 0)
    throw BlockSyntaxError("\"" + token + "\" in \"" + std::string(key) + "\" is no integer");
  return value;
}

double ToDouble(const std::string &token, std::string_view key) {
  char *end = nullptr;
  errno = 0;
  const double value = std::strtod(token.c_str(), &end);
  if (token.empty() || *end != '\0' || errno != 0)
    throw BlockSyntaxError("\"" + token + "\" in \"" + std::string(key) + "\" is no number");
  return value;
}

std::vector<std::string> ListOf(std::string_view value) {
  std::vector<std::string> tokens;
  Tokenize(value, kListSeparators, tokens);
  return tokens;
}

// Reads "key = value ;" pairs from the text after "{" up to "}".
class Reader {
public:
  explicit Reader(std::string_view text) : text_(text) {}

  // False at "}"; throws at the end of the text.
  bool Next(std::string &key, std::string &value) {
    Skip();
    if (pos_ >= text_.size())
      throw BlockSyntaxError("missing \"}\"");
    if (text_[pos_] == '}')
      return false;
    const std::size_t keyEnd = text_.find_first_of(" \t\r\n=;{}", pos_);
    key = std::string(text_.substr(pos_, keyEnd - pos_));
    pos_ = keyEnd;
    Skip();
    if (pos_ >= text_.size() || text_[pos_] != '=')
      throw BlockSyntaxError("missing \"=\" after \"" + key + "\"");
    const std::size_t end = text_.find(';', ++pos_);
    if (end == std::string_view::npos)
      throw BlockSyntaxError("missing \";\" after the value of \"" + key + "\"");
    const std::string_view raw = text_.substr(pos_, end - pos_);
    if (raw.find('}') != std::string_view::npos)
      throw BlockSyntaxError("missing \";\" after the value of \"" + key + "\"");
    value = std::string(raw);
    pos_ = end + 1;
    return true;
  }

private:
  void Skip() {
    while (pos_ < text_.size() && kBlanks.find(text_[pos_]) != std::string_view::npos)
      ++pos_;
  }
  std::string_view text_;
  std::size_t pos_ = 0;
};

} // namespace

std::string EntityName(std::string_view block) {
  const std::size_t brace = block.find('{');
  return FirstWord(block.substr(0, brace));
}

EntityBlock ParseEntityBlock(std::string_view block) {
  EntityBlock entity;
  entity.Name = EntityName(block);
  const std::size_t brace = block.find('{');
  if (brace == std::string_view::npos)
    throw BlockSyntaxError("missing \"{\"");
  if (entity.Name.empty())
    throw BlockSyntaxError("missing name before \"{\"");

  Reader reader(block.substr(brace + 1));
  std::string key, value;
  std::string_view expected; // the keyword a group still needs
  std::array<bool, kOutputKeys.size()> seen{};
  bool outputs = false;
  while (reader.Next(key, value)) {
    if (!expected.empty() && key != expected)
      throw BlockSyntaxError("\"" + std::string(expected) + "\" expected instead of \"" + key +
                             "\"");
    if (key == "entityinputgrid" && !outputs) {
      entity.Inputs.push_back({FirstWord(value), {}, {}});
      if (entity.Inputs.back().Grid.empty())
        throw BlockSyntaxError("no grid name in \"entityinputgrid\"");
      expected = "regions";
    } else if (key == "regions" && expected == key) {
      for (const std::string &token : ListOf(value))
        entity.Inputs.back().Regions.push_back(ToLong(token, key));
      expected = "weights";
    } else if (key == "weights" && expected == key) {
      for (const std::string &token : ListOf(value))
        entity.Inputs.back().Weights.push_back(ToDouble(token, key));
      expected = {};
    } else {
      std::size_t k = 0;
      while (k < kOutputKeys.size() && kOutputKeys[k] != key)
        ++k;
      if (k == kOutputKeys.size() || seen[k])
        throw BlockSyntaxError("unexpected keyword \"" + key + "\"");
      seen[k] = true;
      outputs = true;
      const std::string word = FirstWord(value);
      if (k == 0)
        entity.OutputGrid = word;
      else if (k == 1)
        entity.Writecode = static_cast<int>(ToLong(word, key));
      else if (k == 2)
        entity.OutputTable = word;
      else
        entity.Statcode = static_cast<int>(ToLong(word, key));
      if (word.empty())
        throw BlockSyntaxError("no value for \"" + key + "\"");
    }
  }
  if (!expected.empty())
    throw BlockSyntaxError("missing keyword \"" + std::string(expected) + "\"");
  for (std::size_t k = 0; k < kOutputKeys.size(); ++k)
    if (!seen[k])
      throw BlockSyntaxError("missing keyword \"" + std::string(kOutputKeys[k]) + "\"");
  return entity;
}

} // namespace tavro::superposition
