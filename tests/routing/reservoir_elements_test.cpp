// Reservoir and abstraction elements: their description keys, rule
// sections, time series and tables, and a reservoir's balance over steps.
#include "routing/abstraction.h"
#include "routing/reservoir.h"
#include "routing/routing_flow_arrays.h"

#include "kernel/diagnostics_log.h"
#include "support/diagnostics_entries.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

namespace tavro {
namespace {
using test::ExitCodeOf;
using test::ReadWholeFile;
using test::WriteFixture;

struct Elements : ::testing::Test {
  DiagnosticsLog log{"", 4};
  ComponentTable input;
  void SetUp() override { input.Resize(2, 4); }
  SP_class Reservoir(const std::string &text, std::size_t position = 0) {
    SP_class sp;
    sp.Setup(log, {"tr1"}, {1.0, 1.0}, 30, "");
    sp.ReadParameters(text, position, 3);
    return sp;
  }
  AL_class Abstraction(const std::string &text, int year = 2024, int month = 1, int day = 1,
                       int hour = 1) {
    AL_class al;
    al.Setup(log, {"tr1"}, 3.6, 60.0, "");
    al.ReadParameters(text, 0, 5, year, month, day, hour);
    return al;
  }
};

TEST_F(Elements, ReservoirKeysAfterTheElementOnly) {
  const std::string text = "TG 3 (AREA=1) SP 3 (file = sp3.txt) V0 = 5000 C0 = 2 0 0 0 0 0 0 0 0";
  SP_class sp = Reservoir(text, text.find("SP 3") + 4);
  EXPECT_EQ(sp.outputFile, "sp3.txt");
  EXPECT_EQ(sp.state[0], 5000.0);
  EXPECT_EQ(sp.state[1], 2.0);
  EXPECT_EQ(sp.dTmin, 60.0);
  const struct {
    std::string text;
    const char *message;
  } cases[] = {
      {"SP 3 V0 = 1 C0 = 1 2 3 4 5 6 7 8 9", "for reservoir 3: no \"file =\" found!"},
      {"SP 3 file = a C0 = 1 2 3 4 5 6 7 8 9", "for reservoir 3: no \"V0 =\" found!"},
      {"SP 3 file = a V0 = 1 C0 = 1 2", "for reservoir 3: no \"C0 =\" found!"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(ExitCodeOf([&] { Reservoir(c.text); }), 35) << c.text;
    EXPECT_TRUE(test::Logged(c.message)) << c.message;
  }
  // A key found only before the element's position counts as absent.
  const std::string before = "file = a V0 = 1 C0 = 1 2 3 4 5 6 7 8 9 SP 3 dTmin = 30";
  EXPECT_EQ(ExitCodeOf([&] { Reservoir(before, before.find("SP 3")); }), 35);
  EXPECT_EQ(Reservoir("SP 3 file = a V0 = 1 dTmin = 30 C0 = 1 2 3 4 5 6 7 8 9").dTmin, 30.0);
}

TEST_F(Elements, RuleSectionsAreFoundAndChecked) {
  WriteFixture("control.txt", "[abstraction_rule_reservoir_3]\n2\n0 0\n100 1\n\n"
                              "[abstraction_rule_reservoir_4]\n2\n0 0\n0 1\n");
  std::FILE *file = std::fopen("control.txt", "r");
  SP_class sp = Reservoir("SP 3 file = a V0 = 1 C0 = 1 2 3 4 5 6 7 8 9");
  sp.ReadRules(file);
  EXPECT_EQ(sp.rule.rowCount, 2);
  sp.number = 4;
  EXPECT_EQ(ExitCodeOf([&] { sp.ReadRules(file); }), 34);
  EXPECT_TRUE(test::Logged("section [abstraction_rule_reservoir_4]: the keys must ascend"));
  sp.number = 5;
  EXPECT_EQ(ExitCodeOf([&] { sp.ReadRules(file); }), 34);
  EXPECT_TRUE(test::Logged("section [abstraction_rule_reservoir_5] not found in control file"));
  // A lake's rule may not reach past its level table.
  sp.number = 3;
  sp.SetLakeTable(LakeTable{{101.0, 100.0}, {100.0, 0.0}});
  EXPECT_EQ(ExitCodeOf([&] { sp.ReadRules(file); }), 34);
  std::fclose(file);
}

TEST_F(Elements, AbstractionModesFromTheDescription) {
  const AL_class share = Abstraction("AL 5 (modus = intern 2 0.5 10 mm)");
  EXPECT_EQ(share.mode, 3);
  EXPECT_EQ(share.share.threshold, 2.0);
  // m3/s over 3.6 km2 and 60 minutes: 1 m3/s = 1 mm per step.
  const AL_class converted = Abstraction("AL 5 (modus = extern) out.txt 2 0.5 10 m3/s)");
  EXPECT_EQ(converted.mode, 4);
  EXPECT_EQ(converted.outputFile, "out.txt");
  EXPECT_NEAR(converted.share.maximum, 10.0, 1e-6);
  EXPECT_EQ(converted.share.fraction, 0.5);
  EXPECT_EQ(ReadWholeFile("out.txt"), "YY\tMM\tDD\tHH\tm^3/s\ttr1\nabstraction_5\n"
                                      "YY\tMM\tDD\tHH\tm^3/s\ttr1\n");
  EXPECT_EQ(ExitCodeOf([&] { Abstraction("AL 5 (modus = pumping)"); }), 44);
  EXPECT_TRUE(test::Logged("the modus \"pumping\" is not supported for abstraction 5"));
}

TEST_F(Elements, TheSeriesOfModeFiveIsDateCheckedAndBounded) {
  WriteFixture("series.dat", "YY MM DD HH Q\n2024 1 1 0 9 5\n2024 1 1 1 -9999 5\n"
                             "2024 1 1 2 0.5 5\n2024 1 1 3 9 5\n");
  AL_class al = Abstraction("AL 5 (modus = from_file input_file = series.dat = 0 = ab5.txt)");
  EXPECT_EQ(al.column, 0);
  double taken = 0.0;
  EXPECT_EQ(al.ComputeAbstraction(input, taken, 4.0, 2024, 1, 1, 1), 0.0); // missing
  EXPECT_DOUBLE_EQ(al.ComputeAbstraction(input, taken, 4.0, 2024, 1, 1, 2), 0.5);
  EXPECT_DOUBLE_EQ(al.ComputeAbstraction(input, taken, 4.0, 2024, 1, 1, 3), 3.5); // A - S
  EXPECT_DOUBLE_EQ(taken, 4.0);
  EXPECT_EQ(ExitCodeOf([&] { al.ComputeAbstraction(input, taken, 4.0, 2024, 1, 1, 4); }), 39);
  AL_class late = Abstraction("AL 5 (modus = from_file input_file = series.dat = 0 = ab5.txt)");
  EXPECT_EQ(ExitCodeOf([&] { late.ComputeAbstraction(input, taken, 4.0, 2024, 1, 1, 2); }), 36);
  EXPECT_EQ(ExitCodeOf([&] {
              Abstraction("AL 5 (modus = from_file input_file = series.dat = 0 = x)", 2025);
            }),
            38);
  EXPECT_EQ(
      ExitCodeOf([&] { Abstraction("AL 5 (modus = from_file input_file = none.dat = 0 = x)"); }),
      37);
}

TEST_F(Elements, AReservoirStepClosesItsBalanceAndWritesItsRow) {
  WriteFixture("rules.txt", "[abstraction_rule_reservoir_3]\n3\n0 0\n50000 2\n200000 30\n\n"
                            "[abstraction_rule_abstraction_5]\n2\n0 0\n100000 3\n"
                            "WeekDays = 1234567\nstart_hour = 0\nstop_hour = 24\n");
  std::FILE *file = std::fopen("rules.txt", "r");
  SP_class sp = Reservoir("SP 3 file = sp3.txt V0 = 80000 C0 = 1 0 0 0 0 0 0 0 0");
  sp.WriteHeader();
  sp.ReadRules(file);
  AL_class direct = Abstraction("AL 5 (modus = intern_with_rule_from_reservoir)");
  direct.ReadRules(file);
  std::fclose(file);
  std::vector<AL_class *> directs = {&direct};
  std::mt19937 random(3);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double concentration[] = {0.0, 3.0};
  for (int step = 0; step < 100; ++step) {
    const double v = sp.state[0];
    const double inflow = 10.0 * unit(random);
    sp.ComputeBalance(60.0, 30000.0 * unit(random), 10000.0 * unit(random), input, inflow,
                      concentration, directs, nullptr, 2024, 1 + step % 12, 1 + step % 28,
                      step % 24);
    const auto &m = sp.report.m3;
    EXPECT_NEAR(sp.state[0],
                v + m[ReservoirReport::Qin] - m[ReservoirReport::Qout] - m[ReservoirReport::Irrig] -
                    m[ReservoirReport::Abstr],
                1e-9 * std::max(1.0, v));
    EXPECT_GE(sp.state[0], 0.0);
    EXPECT_GE(sp.outflow, 0.0);
    EXPECT_GE(direct.rate[0], 0.0);
    EXPECT_LE(sp.state[1], 3.0 + 1e-12);
    sp.BufferRow(2024, 1, 1, step % 24);
  }
  sp.FlushBuffer(1);
  const std::string table = ReadWholeFile("sp3.txt");
  EXPECT_EQ(table.rfind("YY\tMM\tDD\tHH\tW[m]\tA[m2]\tV[m3]", 0), 0u);
  EXPECT_NE(table.find("\tErr[m3s]\ttr1\nreservoir_3\nYY"), std::string::npos);
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 103);
}

} // namespace
} // namespace tavro
