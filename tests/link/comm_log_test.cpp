#include "link/comm_log.h"

#include <gtest/gtest.h>

#include "link/automation_error.h"
#include "support/test_host.h"

namespace kestova {
namespace {

TEST(CommLog, NamesAndStampsFromTheLocalDate) {
  const LocalDateTime when{2010, 6, 1, 9, 5, 7, 0};
  EXPECT_EQ(TimestampText(when), "2010-06-01 09:05:07");
  EXPECT_EQ(LogFileName(when), "20100601.CEL");
}

TEST(CommLog, PadsToTheNextPrintZone) {
  EXPECT_EQ(PadToPrintZone("abc").size(), 14u);
  EXPECT_EQ(PadToPrintZone(std::string(14, 'x')).size(), 14u);
  EXPECT_EQ(PadToPrintZone(std::string(15, 'x')).size(), 28u);
  EXPECT_EQ(PadToPrintZone(""), "");
}

TEST(CommLog, AppendsCrLfLinesAndKeepsWhatWasThere) {
  testing::TestHost host;
  CommLog log(host.log_folder, host);
  log.Append({"first"});
  log.Append({"second", "third"});
  EXPECT_EQ(host.LogText("20100601.CEL"), "first\r\nsecond\r\nthird\r\n");
}

TEST(CommLog, AnUnwritableFolderRaisesAFileError) {
  testing::TestHost host;
  CommLog log(host.log_folder / "missing" / "deeper", host);
  try {
    log.Append({"x"});
    FAIL() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), ErrorNumber::PathNotFound);
  }
}

}  // namespace
}  // namespace kestova
