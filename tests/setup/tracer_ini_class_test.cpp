// The tracer description read from "[substance_transport]": the count (a
// decimal number, at most nine, checked before any line is read), one line
// per tracer in order, the entries logged per tracer, and the failures that
// stop the run with their exit code in the error out-parameter.
#include "setup/tracer_ini_class.h"

#include "kernel/diagnostics_log.h"
#include "kernel/module_settings.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

constexpr const char *kControl = "tracers.ctl_0.$$$";

std::string Line(const std::string &name) {
  return name +
         " non_radioactive evaporating min_conc = 0 max_conc = 1 kg/kg soilini = 0 gwini = 0 "
         "statcode = 0 gridcode = 0 path = ./ statext = sta gridext = asc\n";
}

std::string Lines(const std::vector<std::string> &names) {
  std::string text;
  for (const std::string &name : names)
    text += Line(name);
  return text;
}

struct SectionCase {
  std::string what;
  std::string section; // the text after "[substance_transport]\n"
  int code = 0;
  std::vector<std::string> names = {}; // of the table read (code 0)
  std::string entry = "";              // logged FATAL text (code above 0)
  int linesLogged = 0;                 // "reading parameters for tracer <i> ..." entries
};

class TracerIniClassTest : public testing::Test {
protected:
  TracerIniClassTest() {
    settings_.Log = &log_;
    settings_.ControlFileName = kControl;
  }

  std::string Diagnostics() const { return test::ReadWholeFile("Tavro_Diag_0.xml"); }
  bool Logged(const std::string &description) const {
    return Diagnostics().find("description= \"" + DiagnosticsLog::EscapeForXml(description)) !=
           std::string::npos;
  }

  DiagnosticsLog log_{"Tavro_Diag.xml", 4};
  ModuleSettings settings_;
};

TEST_F(TracerIniClassTest, SectionsGiveTheirTableOrStop) {
  const std::string names[] = {"Chloride", "Nitrate", "Sulfate", "Oxygen", "Tritium",
                               "Bromide",  "Uranine", "Eosin",   "Helium", "Argon"};
  const std::vector<std::string> all(std::begin(names), std::end(names));
  const std::vector<std::string> eight(all.begin(), all.begin() + 8);
  const std::vector<SectionCase> cases = {
      {"no tracers", "0 number of tracers\n", 0, {}},
      {"a count below 0", "-2\n", 0, {}},
      {"two tracers in order", "2\n" + Lines({"Chloride", "N"}), 0, {"chl", "n__"}, "", 2},
      {"08 is eight",
       "08\n" + Lines(eight),
       0,
       {"chl", "nit", "sul", "oxy", "tri", "bro", "ura", "eos"},
       "",
       8},
      {"ten tracers",
       "10\n" + Lines(all),
       58,
       {},
       "FATAL: not more than 9 tracer species are allowed at one time (they need a very lot of "
       "memory!)",
       0},
      {"010 is ten",
       "010\n" + Lines(all),
       58,
       {},
       "FATAL: not more than 9 tracer species are allowed at one time (they need a very lot of "
       "memory!)",
       0},
      {"a line short",
       "2 tracers\n" + Line("Chloride"),
       56,
       {},
       "FATAL: error reading parameters for tracer 2:\n need a key word \"radioactive\" or "
       "\"non_radioactive\"\n(may be, the number of tracers (2) is wrong?\n",
       2},
      {"Chloride and chlorine",
       "2\n" + Lines({"Chloride", "chlorine"}),
       59,
       {},
       "FATAL: \n----------- ERROR in substance_transport ---------\n\nsubstance #2 and "
       "substance #1 have the same\nfirst 3 chars (lowercase) in its name (chl <-> chl)\n\n"
       "--------------------------------------------------\n",
       2},
      {"a line longer than 1199 characters",
       "1\n" + Line("Chloride").insert(9, std::string(1200, ' ')),
       56,
       {},
       "FATAL: error reading parameters for tracer 1: line longer than 1199 characters",
       1},
      {"no count", "tracers\n", 17, {}, "FATAL: error in control file,  number of tracers in ", 0},
  };
  for (const SectionCase &c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteFixture(kControl, "[other]\n1\n[substance_transport]\n" + c.section + "[next]\n");
    testing::internal::CaptureStdout();
    int error = -1;
    int thrown = 0;
    try {
      tracer_ini_class tracers(error, settings_);
      EXPECT_EQ(tracers.GetTracerCount(), static_cast<int>(c.names.size()));
      OneBasedArray<TracerInfo> *table = tracers.GetTracerInfo();
      if (c.names.empty()) {
        EXPECT_EQ(table, nullptr);
      } else {
        ASSERT_NE(table, nullptr);
        ASSERT_EQ(table->Count(), c.names.size());
        for (std::size_t i = 1; i <= c.names.size(); ++i)
          EXPECT_EQ((*table)[i].name, c.names[i - 1]);
      }
      EXPECT_FALSE(tracers.ControlFile().IsOpen());
    } catch (int code) {
      thrown = code;
    }
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(error, c.code);
    EXPECT_EQ(thrown, c.code);
    if (!c.entry.empty()) {
      EXPECT_TRUE(Logged(c.entry.substr(std::string("FATAL: ").size()))) << c.entry;
    }
    for (int i = 1; i <= 10; ++i) {
      const std::string reading = "reading parameters for tracer " + std::to_string(i) + " ...";
      EXPECT_EQ(console.find(reading) != std::string::npos, i <= c.linesLogged) << reading;
    }
    const int done = c.code == 0 ? c.linesLogged : c.linesLogged - 1;
    std::size_t count = 0;
    for (std::size_t at = console.find("done."); at != std::string::npos;
         at = console.find("done.", at + 1))
      ++count;
    EXPECT_EQ(count, static_cast<std::size_t>(done > 0 ? done : 0));
  }
}

TEST_F(TracerIniClassTest, TheTableHoldsEveryEntryOfALine) {
  test::WriteFixture(kControl, "[substance_transport]\n1\n"
                               "Cs137 radioactive half_time = 11012 d non_evaporating min_conc = 0 "
                               "max_conc = 1.5 g/l soilini = 0.25 gwini = 0.125 statcode = 2001 "
                               "gridcode = 3 path = out/ statext = sta gridext = asc\n");
  int error = -1;
  tracer_ini_class tracers(error, settings_);
  ASSERT_EQ(error, 0);
  ASSERT_EQ(tracers.GetTracerCount(), 1);
  const TracerInfo &cs = (*tracers.GetTracerInfo())[1];
  EXPECT_EQ(cs.name, "cs1");
  EXPECT_EQ(cs.radioactive, 1);
  EXPECT_EQ(cs.half_time, 11012.0);
  EXPECT_EQ(cs.evaporating, 0);
  EXPECT_EQ(cs.min_conc, 0.0);
  EXPECT_EQ(cs.max_conc, 1.5);
  EXPECT_EQ(cs.soilini, 0.25);
  EXPECT_EQ(cs.gwini, 0.125);
  EXPECT_EQ(cs.statcode, 2001);
  EXPECT_EQ(cs.gridcode, 3);
  EXPECT_EQ(cs.path, "out/");
  EXPECT_EQ(cs.statext, "sta");
  EXPECT_EQ(cs.gridext, "asc");
  tracers.ReleaseMemory();
  EXPECT_EQ(tracers.GetTracerCount(), 0);
  EXPECT_EQ(tracers.GetTracerInfo(), nullptr);
}

} // namespace
} // namespace tavro
