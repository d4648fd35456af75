// Looks up a log entry (or a fragment of one) in the diagnostics file that a
// test's DiagnosticsLog writes, where the level word is the level attribute
// and line breaks are written as ';'.
#pragma once

#include "kernel/diagnostics_log.h"
#include "support/test_support.h"

#include <string>
#include <utility>

namespace tavro::test {

inline bool Logged(const std::string &text, const std::string &file = "Tavro_Diag_0.xml") {
  const std::string xml = ReadWholeFile(file);
  const std::pair<const char *, const char *> levels[] = {
      {"FATAL: ", "0"}, {"WARNING: ", "2"}, {"INFO: ", "3"}, {"DEBUG: ", "4"}};
  for (const auto &[word, level] : levels) {
    const std::string prefix = word;
    if (text.rfind(prefix, 0) == 0)
      return xml.find(std::string("level=\"") + level + "\" description= \"" +
                      DiagnosticsLog::EscapeForXml(text.substr(prefix.size()))) !=
             std::string::npos;
  }
  return xml.find(DiagnosticsLog::EscapeForXml(text)) != std::string::npos;
}

} // namespace tavro::test
