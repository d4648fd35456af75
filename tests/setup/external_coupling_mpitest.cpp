// External coupling needs a single process: any coupling mode other than 0
// stops every process of a larger job with 1009 in set-up step 22, and a
// single process accepts it.
#include "setup/setup_catchment.h"

#include <gtest/gtest.h>

#include <string>

namespace tavro {
namespace {

TEST(ExternalCouplingProcesses, OnlyOneProcessMayCouple) {
  for (const char *mode : {"1", "2"}) {
    SCOPED_TRACE(mode);
    test::WriteCatchment({{"[model_time]", std::string("[ExternalCoupling]\n") + mode +
                                               "\npartner.sem\n100\nD\n60\n0\n0\n0\n"
                                               "tavro.sem\ndone\n\n[model_time]"}});
    test::CatchmentSetup run;
    const test::SetupOutcome outcome = run.Run();
    if (test::ProcessCount() == 1) {
      EXPECT_EQ(outcome.code, 0) << outcome.console;
      EXPECT_EQ(run.setup->IsCouplingActive(), std::string(mode) == "1");
      continue;
    }
    EXPECT_EQ(outcome.code, 1009);
    EXPECT_EQ(outcome.calls, 23); // step 22
    if (test::Rank() == 0) {
      EXPECT_NE(outcome.console.find("external coupling does not work when running in MPI mode "
                                     "with more than 1 instance (i.e. you should use the "
                                     "non-MPI-version)"),
                std::string::npos)
          << outcome.console;
    }
  }
}

} // namespace
} // namespace tavro
