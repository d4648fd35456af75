// Checks of the entries a test's run wrote into its diagnostics file.
#pragma once

#include "kernel/diagnostics_log.h"
#include "support/test_support.h"

#include <string>
#include <utility>

namespace tavro::test {

// True when "Tavro_Diag_0.xml" holds the entry or a fragment of one. A
// leading level word ("FATAL: " .. "DEBUG: ") must be the entry's level and
// the text must start its description; line breaks are written as ';'.
inline bool Logged(const std::string &text) {
  const std::string xml = ReadWholeFile("Tavro_Diag_0.xml");
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
