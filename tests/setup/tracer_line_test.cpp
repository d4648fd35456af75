// One tracer line of "[substance_transport]": a table of lines, each a valid
// line with one entry changed, against the description read or the exact
// failure text and exit code.
#include "setup/tracer_line.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <variant>
#include <vector>

namespace tavro {
namespace {

const std::string kValid = "Chloride radioactive half_time = 12.3 d evaporating min_conc = 0.1 "
                           "max_conc = 250 mg/l soilini = 5 gwini = 2.5 statcode = 2001 "
                           "gridcode = 3 path = out/ statext = sta gridext = asc\n";

// kValid with its first occurrence of from replaced by to.
std::string Changed(const std::string &from, const std::string &to, std::string line = kValid) {
  const std::size_t at = line.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos)
    line.replace(at, from.size(), to);
  return line;
}

TracerInfo ValidInfo() {
  TracerInfo info;
  info.name = "chl";
  info.radioactive = 1;
  info.half_time = 12.3;
  info.evaporating = 1;
  info.min_conc = 0.1;
  info.max_conc = 250.0;
  info.soilini = 5.0;
  info.gwini = 2.5;
  info.statcode = 2001;
  info.gridcode = 3;
  info.path = "out/";
  info.statext = "sta";
  info.gridext = "asc";
  return info;
}

void ExpectSame(const TracerInfo &read, const TracerInfo &expected) {
  EXPECT_EQ(read.name, expected.name);
  EXPECT_EQ(read.radioactive, expected.radioactive);
  EXPECT_EQ(read.half_time, expected.half_time);
  EXPECT_EQ(read.evaporating, expected.evaporating);
  EXPECT_EQ(read.min_conc, expected.min_conc);
  EXPECT_EQ(read.max_conc, expected.max_conc);
  EXPECT_EQ(read.soilini, expected.soilini);
  EXPECT_EQ(read.gwini, expected.gwini);
  EXPECT_EQ(read.statcode, expected.statcode);
  EXPECT_EQ(read.gridcode, expected.gridcode);
  EXPECT_EQ(read.path, expected.path);
  EXPECT_EQ(read.statext, expected.statext);
  EXPECT_EQ(read.gridext, expected.gridext);
}

struct LineCase {
  std::string what;
  std::string line;
  int code = 0; // 0: the line is read
  // The FATAL entry of a failure; for a line that is read, the changes to
  // the valid line's description.
  std::string message;
  std::function<void(TracerInfo &)> expect = [](TracerInfo &) {};
  std::vector<std::string> earlier = {}; // names of the tracers before
  int count = 3;                         // number of tracers of the section
};

std::vector<LineCase> Cases() {
  const std::string need = "FATAL: error reading parameters for tracer 2:\nneed a key word \"";
  return {
      {"a valid line", kValid, 0, ""},
      {"Chloride then chlorine",
       Changed("Chloride", "chlorine"),
       59,
       "FATAL: \n----------- ERROR in substance_transport ---------\n\nsubstance #2 and "
       "substance #1 have the same\nfirst 3 chars (lowercase) in its name (chl <-> chl)\n\n"
       "--------------------------------------------------\n",
       {},
       {"chl"}},
      {"upper case folds to the same name",
       Changed("Chloride", "CHLORINE"),
       59,
       "FATAL: \n----------- ERROR in substance_transport ---------\n\nsubstance #2 and "
       "substance #1 have the same\nfirst 3 chars (lowercase) in its name (chl <-> chl)\n\n"
       "--------------------------------------------------\n",
       {},
       {"chl"}},
      {"N becomes n__", Changed("Chloride", "  N"), 0, "", [](TracerInfo &i) { i.name = "n__"; }},
      {"a name of two letters",
       Changed("Chloride", "Sr"),
       0,
       "",
       [](TracerInfo &i) { i.name = "sr_"; },
       {"chl"}},
      {"non_radioactive ignores the half time", Changed("radioactive", "non_radioactive"), 0, "",
       [](TracerInfo &i) {
         i.radioactive = 0;
         i.half_time = -9999.0;
       }},
      {"a half time in days", Changed("12.3 d", "11012 d"), 0, "",
       [](TracerInfo &i) { i.half_time = 11012.0; }},
      {"12.3 days", Changed("12.3 d", "12.3 days"), 56,
       "FATAL: error reading half_time for tracer 2: no \"d\" for measure found!"},
      {"0 d", Changed("12.3 d", "0 d"), 56,
       "FATAL: error in half_time for tracer 2: must be greater than 0!"},
      {"a negative half time", Changed("12.3 d", "-1 d"), 56,
       "FATAL: error in half_time for tracer 2: must be greater than 0!"},
      {"no decay key word", Changed("radioactive ", ""), 56,
       "FATAL: error reading parameters for tracer 2:\n need a key word \"radioactive\" or "
       "\"non_radioactive\"\n(may be, the number of tracers (3) is wrong?\n"},
      {"an empty line", "\n", 56,
       "FATAL: error reading parameters for tracer 2:\n need a key word \"radioactive\" or "
       "\"non_radioactive\"\n(may be, the number of tracers (3) is wrong?\n"},
      {"radioactive without half_time", Changed("half_time = 12.3 d ", ""), 56,
       "FATAL: error in tracer_info_table tracer 2: need a \"half_time = xxxx d\" sequence!"},
      {"no = after half_time", Changed("half_time = 12.3 d ", "", kValid + " half_time 12 d"), 56,
       "FATAL: error reading half_time for tracer 2: no \"half_time =\" found!"},
      {"no number after half_time =", Changed("12.3 d", "d"), 56,
       "FATAL: error reading half_time for tracer 2"},
      {"no unit after the half time", "Chloride radioactive gridext = asc half_time = 2", 56,
       "FATAL: error reading half_time for tracer 2"},
      {"no evaporation key word", Changed("evaporating ", ""), 56,
       "FATAL: error reading parameters for tracer 2:\n need a key word \"evaporating\" or "
       "\"non_evaporating\"\n(may be, the number of tracers (3) is wrong?"},
      {"non_evaporating", Changed("evaporating", "non_evaporating"), 0, "",
       [](TracerInfo &i) { i.evaporating = 0; }},
      {"no min_conc", Changed("min_conc = 0.1 ", ""), 56, need + "min_conc = xxxx\""},
      {"no number after min_conc =", Changed("min_conc = 0.1", "min_conc = none"), 56,
       "FATAL: error reading min_conc for tracer 2"},
      {"max_conc at the line's end is in kg/kg",
       Changed("max_conc = 250 mg/l ", "", kValid.substr(0, kValid.size() - 1) + " max_conc = 5.0"),
       0, "", [](TracerInfo &i) { i.max_conc = 5.0; }},
      {"max_conc in g/l", Changed("mg/l", "g/l"), 0, ""},
      {"max_conc in Kg/Kg", Changed("mg/l", "Kg/Kg"), 0, ""},
      {"max_conc = 5.0 soilini = 1",
       Changed("max_conc = 250 mg/l soilini = 5", "max_conc = 5.0 soilini = 1"), 56,
       "FATAL: error reading max_conc for tracer 2:\nwrong measure (only mg/l, g/l or kg/kg resp. "
       "no measure are allowed!)\nread here: soilini"},
      {"no number after max_conc =", Changed("max_conc = 250", "max_conc = mg/l"), 56,
       "FATAL: error reading max_conc for tracer 2"},
      {"no = after max_conc", "Chloride non_radioactive evaporating min_conc = 1 max_conc 2", 56,
       "FATAL: error reading max_conc for tracer 2: no \"max_conc =\" found!"},
      {"no number after soilini =", Changed("soilini = 5", "soilini = x"), 56,
       "FATAL: error reading soilini for tracer 2!"},
      {"no gwini", Changed("gwini = 2.5 ", ""), 56, need + "gwini = xxxx\""},
      {"no = after gwini", Changed("gwini = 2.5 ", "", kValid + " gwini"), 56,
       "FATAL: error reading gwini for tracer 2: no \"gwini =\" found!"},
      {"statcode= without the blank", Changed("statcode =", "statcode="), 56,
       "FATAL: error reading statcode for tracer 2:\nneed a key word \"statcode = xxxx\""},
      {"no integer after statcode =", Changed("statcode = 2001", "statcode = x"), 56,
       "FATAL: error reading statcode for tracer 2!"},
      {"gridcode out of range", Changed("gridcode = 3", "gridcode = 99999999999"), 56,
       "FATAL: error reading gridcode for tracer 2!"},
      {"no path =", Changed("path = out/ ", ""), 56,
       "FATAL: error reading path for tracer 2:\nneed a key word \"path = xxxx\""},
      {"nothing after statext =", Changed("statext = sta gridext = asc", "gridext = asc statext ="),
       56, "FATAL: error reading statext for tracer 2!"},
      {"a path of 300 characters", Changed("out/", std::string(300, 'p')), 56,
       "FATAL: error reading path for tracer 2: longer than 299 characters"},
      {"a path of 299 characters", Changed("out/", std::string(299, 'p')), 0, "",
       [](TracerInfo &i) { i.path = std::string(299, 'p'); }},
      {"no gridext = after every other entry", Changed("gridext = asc", "grid ext = asc"), 56,
       "FATAL: error reading gridext for tracer 2:\nneed a key word \"gridext = xxxx\""},
  };
}

TEST(TracerLineTest, LinesGiveTheirDescriptionOrTheExactFailure) {
  for (const LineCase &c : Cases()) {
    SCOPED_TRACE(c.what + ": " + c.line);
    std::vector<TracerInfo> earlier;
    for (const std::string &name : c.earlier)
      earlier.emplace_back().name = name;
    const auto result = ParseTracerLine(c.line, 2, c.count, earlier);
    if (c.code == 0) {
      ASSERT_TRUE(std::holds_alternative<TracerInfo>(result))
          << std::get<TracerLineFailure>(result).text;
      TracerInfo expected = ValidInfo();
      c.expect(expected);
      ExpectSame(std::get<TracerInfo>(result), expected);
    } else {
      ASSERT_TRUE(std::holds_alternative<TracerLineFailure>(result));
      const TracerLineFailure &failure = std::get<TracerLineFailure>(result);
      EXPECT_EQ(failure.code, c.code);
      EXPECT_EQ("FATAL: " + failure.text, c.message);
    }
  }
}

TEST(TracerLineTest, ShortNamesAreThreeLowerCaseCharacters) {
  EXPECT_EQ(TracerShortName("Chloride radioactive"), "chl");
  EXPECT_EQ(TracerShortName("\tN non_radioactive"), "n__");
  EXPECT_EQ(TracerShortName("O2 x"), "o2_");
  EXPECT_EQ(TracerShortName("CS-137"), "cs-");
  EXPECT_EQ(TracerShortName(""), "___");
}

} // namespace
} // namespace tavro
