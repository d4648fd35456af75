// Entry state machine of the diagnostics log: console text, XML lines, levels.
#include "kernel/diagnostics_log.h"

#include <mpi.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <sstream>
#include <utility>

namespace tavro {
namespace {

constexpr std::string_view kXmlNamespace = "http://www.wldelft.nl/fews/PI";
constexpr std::string_view kXsiNamespace = "http://www.w3.org/2001/XMLSchema-instance";
constexpr std::string_view kSchemaLocation =
    "http://fews.wldelft.nl/schemas/version1.0/pi-schemas/pi_diag.xsd";

struct LevelWord {
  std::string_view word;
  int level;
};

// Order in which the console side strips a level word.
constexpr std::array<LevelWord, 6> kConsoleWords{{{"SKIP: ", 5},
                                                  {"DEBUG: ", 4},
                                                  {"INFO: ", 3},
                                                  {"WARNING: ", 2},
                                                  {"ERROR: ", 1},
                                                  {"FATAL: ", 0}}};

bool StartsWith(std::string_view text, std::string_view word) {
  return text.substr(0, word.size()) == word;
}

// Level word at the start of an item (SKIP gives 5), or -1.
int LeadingLevel(std::string_view text, std::size_t *wordLength) {
  for (const auto &lw : kConsoleWords) {
    if (StartsWith(text, lw.word)) {
      *wordLength = lw.word.size();
      return lw.level;
    }
  }
  *wordLength = 0;
  return -1;
}

// Length of a well-formed UTF-8 sequence starting at text[i], or 0.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  std::size_t length = 0;
  unsigned int minimum = 0;
  unsigned int code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1Fu, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0Fu, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07u, minimum = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size())
    return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0u) != 0x80u)
      return 0;
    code = (code << 6) | (byte(i + k) & 0x3Fu);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
    return 0;
  return length;
}

} // namespace

std::string LogTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::array<char, 64> buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return buffer.data();
}

DiagnosticsLog::DiagnosticsLog(const std::string &fileName, int levelThreshold)
    : Console_(&std::cout), FileName_(fileName), LevelThreshold_(levelThreshold) {
  if (FileName_.empty())
    FileName_ = DefaultFileName;
  MPI_Comm_rank(MPI_COMM_WORLD, &Rank_);
  MPI_Comm_size(MPI_COMM_WORLD, &ProcessCount_);

  const auto dot = FileName_.rfind('.');
  const std::string stem = dot == std::string::npos ? FileName_ : FileName_.substr(0, dot);
  FileName_ = stem + "_" + std::to_string(Rank_) + ".xml";
  if (Rank_ != 0)
    return;

  XmlFile_.open(FileName_, std::ios::out | std::ios::trunc);
  if (!XmlFile_.is_open()) {
    *Console_ << "(mpi-rank " << std::setw(2) << Rank_ << ") "
              << "\n ----- Warning -----\n error opening diagnostics output file " << FileName_
              << '\n';
    *Console_ << "(mpi-rank " << std::setw(2) << Rank_ << ") "
              << "\nusing default name Tavro_Diag.xml in actual working directory\n "
                 "-------------------\n\n"
              << '\n';
    FileName_ = DefaultFileName;
    XmlFile_.clear();
    XmlFile_.open(FileName_, std::ios::out | std::ios::trunc);
    if (!XmlFile_.is_open()) {
      *Console_ << "(mpi-rank " << std::setw(2) << Rank_ << ") "
                << "Error opening diagnostics output file " << FileName_ << '\n';
      Console_->flush();
      throw 320;
    }
  }
  XmlFile_ << "<?xml version='1.0' encoding='UTF-8'?>\n"
           << "<Diag version=\"1.2\" xmlns=\"" << kXmlNamespace << "\" \n"
           << "xmlns:xsi=\"" << kXsiNamespace << "\" \n"
           << "xsi:schemaLocation=\"" << kXmlNamespace << " " << kSchemaLocation << "\">\n";
  XmlFile_ << "\t<line level=\"3\" description= \"Tavro start at " << LogTimeStamp() << "\"/>\n";
  XmlFile_.flush();
}

DiagnosticsLog::~DiagnosticsLog() {
  if (Rank_ == 0)
    WritePendingConsole();
  if (Rank_ != 0 || !FileWritable())
    return;
  if (!EntryClosed_ && LineWritten_)
    XmlFile_ << "\"/>\n";
  XmlFile_ << "\t<line level=\"3\" description= \"Tavro finished at " << LogTimeStamp() << "\"/>\n";
  XmlFile_ << "</Diag>\n";
  XmlFile_.close();
}

bool DiagnosticsLog::FileWritable() const { return XmlFile_.is_open() && XmlFile_.good(); }

void DiagnosticsLog::WriteConsole(std::string_view text) {
  if (text.empty())
    return;
  if (Rank_ == 0) {
    ConsoleEntry_ << text;
  } else if (!EntryClosed_ && EntryLevel_ == 0) {
    // Only rank 0 logs, but a fatal error found elsewhere must not go unseen.
    FatalEcho_ += text;
  }
}

void DiagnosticsLog::WritePendingConsole() {
  const std::string text = ConsoleEntry_.str();
  if (!text.empty())
    *Console_ << text;
  Console_->flush();
  ConsoleEntry_.str({});
  ConsoleEntry_.clear();
}

void DiagnosticsLog::WriteFile(std::string_view text) {
  if (Rank_ == 0 && FileWritable() && !Suppressed_ && LineWritten_)
    XmlFile_ << text;
}

void DiagnosticsLog::CloseWrittenLine() {
  if (LineWritten_ && Rank_ == 0 && FileWritable()) {
    XmlFile_ << "\"/>\n";
    XmlFile_.flush();
  }
  LineWritten_ = false;
}

void DiagnosticsLog::BeginEntry(int level) {
  EntryLevel_ = level;
  Suppressed_ = EntryLevel_ > LevelThreshold_;
  LineWritten_ = false;
  if (!Suppressed_ && Rank_ == 0 && FileWritable()) {
    XmlFile_ << "\t<line level=\"" << EntryLevel_ << "\" description= \"";
    LineWritten_ = true;
  }
  EntryClosed_ = false;
}

std::string DiagnosticsLog::EscapeForXml(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
      const std::size_t length = Utf8SequenceLength(text, i);
      if (length > 0) {
        out.append(text.substr(i, length));
        i += length;
      } else {
        // A stray byte (often a Latin-1 umlaut) is taken as that code point.
        out += static_cast<char>(0xC0 | (byte >> 6));
        out += static_cast<char>(0x80 | (byte & 0x3F));
        ++i;
      }
      continue;
    }
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '\n':
      out += ';';
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '\'':
      out += "&apos;";
      break;
    case '"':
      out += "&quot;";
      break;
    default:
      // Control characters other than the tab are not allowed in XML 1.0.
      out += (byte < 0x20 && c != '\t') ? ' ' : c;
    }
    ++i;
  }
  // Every run of three or more dashes becomes two.
  std::string shortened;
  shortened.reserve(out.size());
  std::size_t run = 0;
  for (const char c : out) {
    run = (c == '-') ? run + 1 : 0;
    if (run <= 2)
      shortened += c;
  }
  return shortened;
}

void DiagnosticsLog::PrepareText(std::string_view text) {
  std::size_t wordLength = 0;
  const int level = LeadingLevel(text, &wordLength);
  if (level >= 0 && level <= 4) {
    if (!EntryClosed_)
      CloseWrittenLine();
    text.remove_prefix(wordLength);
    BeginEntry(level);
  } else if (level == 5) {
    text.remove_prefix(wordLength);
    // A SKIP word inside an entry whose line is written closes that line first.
    if (!EntryClosed_)
      CloseWrittenLine();
    EntryLevel_ = 5;
    Suppressed_ = true;
    EntryClosed_ = false;
  } else if (EntryClosed_) {
    BeginEntry(4);
  } else {
    Suppressed_ = EntryLevel_ > LevelThreshold_;
  }

  PreparedText_ = EscapeForXml(text);
  const auto token = PreparedText_.find(EndToken);
  if (token != std::string::npos)
    PreparedText_ = PreparedText_.substr(0, token) + "\"/>";
}

void DiagnosticsLog::PrepareValue() {
  if (EntryClosed_) {
    BeginEntry(4);
  } else {
    Suppressed_ = EntryLevel_ > LevelThreshold_;
  }
}

void DiagnosticsLog::EndEntry() {
  if (Rank_ == 0) {
    ConsoleEntry_ << '\n';
    WritePendingConsole();
    ConsoleEntry_ << "(mpi-rank " << std::setw(2) << Rank_ << ") ";
    if (!Suppressed_ && LineWritten_ && FileWritable()) {
      XmlFile_ << '\n';
      XmlFile_.flush();
    }
  } else if (!FatalEcho_.empty()) {
    // One write of the whole line: the lines of several processes that reach
    // the same standard error through mpiexec do not cut into each other.
    std::ostringstream line;
    line << "(mpi-rank " << std::setw(2) << Rank_ << ") " << FatalEcho_ << '\n';
    std::cerr << line.str() << std::flush;
    if (PendingFatal_.size() == PendingFatalLimit)
      PendingFatal_.erase(PendingFatal_.begin());
    PendingFatal_.push_back(std::move(FatalEcho_));
    FatalEcho_.clear();
  }
  EntryClosed_ = true;
  Suppressed_ = false;
  LineWritten_ = false;
}

void DiagnosticsLog::TextItem(std::string_view text) {
  const auto token = text.find(EndToken);
  const bool ends = token != std::string_view::npos;
  std::string_view console = ends ? text.substr(0, token) : text;
  std::size_t wordLength = 0;
  LeadingLevel(console, &wordLength);
  console.remove_prefix(wordLength);

  PrepareText(text);
  WriteConsole(console);
  WriteFile(PreparedText_);
  if (ends)
    EndEntry();
}

DiagnosticsLog &DiagnosticsLog::operator<<(const char *text) {
  std::lock_guard lock(mutex_);
  TextItem(text ? std::string_view(text) : std::string_view("(null)"));
  return *this;
}

DiagnosticsLog &DiagnosticsLog::operator<<(const std::string &text) {
  std::lock_guard lock(mutex_);
  if (text.find(EndToken) != std::string::npos) {
    // An end token must end the entry whatever form the item has.
    TextItem(text);
    return *this;
  }
  PrepareText(text);
  WriteConsole(text);
  WriteFile(PreparedText_);
  return *this;
}

template <class T> DiagnosticsLog &DiagnosticsLog::ValueItem(const T &value) {
  std::lock_guard lock(mutex_);
  PrepareValue();
  std::ostringstream text;
  text << value;
  WriteConsole(text.str());
  WriteFile(text.str());
  return *this;
}

DiagnosticsLog &DiagnosticsLog::operator<<(char value) {
  std::lock_guard lock(mutex_);
  PrepareValue();
  const std::string text(1, value);
  WriteConsole(text);
  WriteFile(EscapeForXml(text));
  return *this;
}

DiagnosticsLog &DiagnosticsLog::operator<<(int value) { return ValueItem(value); }
DiagnosticsLog &DiagnosticsLog::operator<<(unsigned int value) { return ValueItem(value); }
DiagnosticsLog &DiagnosticsLog::operator<<(long value) { return ValueItem(value); }
DiagnosticsLog &DiagnosticsLog::operator<<(unsigned long value) { return ValueItem(value); }
DiagnosticsLog &DiagnosticsLog::operator<<(long long value) { return ValueItem(value); }
DiagnosticsLog &DiagnosticsLog::operator<<(unsigned long long value) { return ValueItem(value); }
DiagnosticsLog &DiagnosticsLog::operator<<(float value) { return ValueItem(value); }
DiagnosticsLog &DiagnosticsLog::operator<<(double value) { return ValueItem(value); }
DiagnosticsLog &DiagnosticsLog::operator<<(const void *value) { return ValueItem(value); }
DiagnosticsLog &DiagnosticsLog::operator<<(void *value) {
  return ValueItem(static_cast<const void *>(value));
}

DiagnosticsLog &DiagnosticsLog::operator<<(decltype(std::setw(0)) width) {
  std::lock_guard lock(mutex_);
  // The field width applies to the next item on both streams; values are
  // formatted through a string, so keep it on the real streams.
  if (Rank_ == 0)
    ConsoleEntry_ << width;
  PrepareValue();
  if (Rank_ == 0 && FileWritable() && !Suppressed_)
    XmlFile_ << width;
  return *this;
}

void DiagnosticsLog::Entry(std::string_view text) {
  std::lock_guard lock(mutex_);
  TextItem(text);
}

std::vector<std::string> DiagnosticsLog::TakeFatalTexts() {
  std::lock_guard lock(mutex_);
  return std::exchange(PendingFatal_, {});
}

void DiagnosticsLog::FlushConsole() {
  std::lock_guard lock(mutex_);
  WritePendingConsole();
}

} // namespace tavro
