// Control-point files: the header of every file, the value counts and record
// capacities of the buffers, and the entry of a file that cannot be created.
#include "soil/control_point_files.h"

#include "kernel/diagnostics_log.h"
#include "support/diagnostics_entries.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavro {
namespace {

TEST(ControlPointFiles, HeadersOfEveryFile) {
  struct Case {
    ControlPointFile file;
    std::string header;
  };
  const std::vector<Case> cases = {
      {ControlPointFile::Hhyd, "YY\tMM\tDD\tHH\thhyd[4][7][1]\t[2]\t[3]\t\n"},
      {ControlPointFile::Theta, "YY\tMM\tDD\tHH\ttheta[4][7][1]\t[2]\t[3]\t\n"},
      {ControlPointFile::Qbottom, "YY\tMM\tDD\tHH\tq_bottom[4][7][1]\t[2]\t[3]\t\n"},
      {ControlPointFile::EtrDetail, "YY\tMM\tDD\tHH\tetr[4][7](etr[0] is evaporation from first "
                                    "layer)[0]\t[1]\t[2]\t[3]\t\n"},
      {ControlPointFile::Interflow, "YY\tMM\tDD\tHH\tinterflow_per_layer[4][7][1]\t[2]\t[3]\t\n"},
      {ControlPointFile::Temperature, "YY\tMM\tDD\tHH\ttemper[4][7][1]\t[2]\t[3]\t\n"},
      {ControlPointFile::Otherdata,
       "YY\tMM\tDD\tHH\totherdata[4][7]QD\tQI\tDELTAGW/QB\tQINF\tGWIN\tGWEX\tGWN\tUPRISE\tPERCOL\t"
       "MACR\tQDRAIN\tACT_POND\tINFEX\tGWST\tGWLEVEL\tROOT\tAlbedo\tRSE\tLAI_1\tVCF_1\tRSC_1\tRSI_"
       "1\tROOT_1\tZ0_1\tLAI_2\tVCF_2\tRSC_2\tRSI_2\tROOT_2\tZ0_2\n"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ControlPointHeader(c.file, 4, 7, 3, 2), c.header);
}

TEST(ControlPointFiles, BuffersHoldAboutTwoMebibytes) {
  EXPECT_EQ(ControlPointValueCount(ControlPointFile::Theta, 10, 2), 11);
  EXPECT_EQ(ControlPointValueCount(ControlPointFile::Otherdata, 10, 2), 31);
  EXPECT_EQ(ControlPointRecordCapacity(11), 2097152u / 120u);
  EXPECT_EQ(ControlPointRecordCapacity(31), 2097152u / 280u);
  EXPECT_EQ(ControlPointRecordCapacity(1000000), 1u); // at least one record
}

TEST(ControlPointFiles, CreatedWithTheHeaderOrRefused) {
  DiagnosticsLog log("Tavro_Diag.xml", 4);
  const ControlPointBuffer buffer =
      CreateControlPointFile(log, ControlPointFile::Theta, "theta.cp", 2, 3, 2, 1);
  EXPECT_EQ(test::ReadWholeFile("theta.cp"), "YY\tMM\tDD\tHH\ttheta[2][3][1]\t[2]\t\n");
  EXPECT_EQ(buffer.ValueCount, 3);
  EXPECT_EQ(buffer.Capacity, 2097152u / 56u);
  EXPECT_EQ(buffer.Values.size(), buffer.Capacity * 3);

  for (ControlPointFile file : {ControlPointFile::Qbottom, ControlPointFile::Hhyd}) {
    EXPECT_EQ(test::ExitCodeOf(
                  [&] { CreateControlPointFile(log, file, "missing/dir/file.cp", 2, 3, 2, 1); }),
              62);
  }
  EXPECT_TRUE(test::Logged("FATAL: error opening file for q_bottom (single point) \n-> check disk "
                           "space or user rights"));
  EXPECT_TRUE(test::Logged("FATAL: error opening file for hydraulic head (single point) \n-> "
                           "check disk space or user rights"));
}

} // namespace
} // namespace tavro
