#include "link/comm_log.h"

#include <gtest/gtest.h>

#include "support/raised.h"
#include "support/test_host.h"

namespace kestova {
namespace {

TEST(CommLog, NamesStampsAndPadsFromTheLocalDate) {
  const LocalDateTime when{2010, 6, 1, 9, 5, 7, 0};
  EXPECT_EQ(TimestampText(when), "2010-06-01 09:05:07");
  EXPECT_EQ(LogFileName(when), "20100601.CEL");
  // To the next print zone of 14 characters; a full zone stays as it is.
  EXPECT_EQ(PadToPrintZone("abc"), "abc           ");
  EXPECT_EQ(PadToPrintZone(std::string(14, 'x')).size(), 14u);
  EXPECT_EQ(PadToPrintZone(std::string(15, 'x')).size(), 28u);
  EXPECT_EQ(PadToPrintZone(""), "");
}

TEST(CommLog, AppendsCrLfLinesAndRaisesAFileErrorWhereItCannotWrite) {
  testing::TestHost host;
  CommLog log(host.log_folder, host);
  log.Append({"first"});
  log.Append({"second", "third"});
  EXPECT_EQ(host.LogText("20100601.CEL"), "first\r\nsecond\r\nthird\r\n");
  CommLog nowhere(host.log_folder / "missing" / "deeper", host);
  EXPECT_EQ(testing::Raised([&] { nowhere.Append({"x"}); }), ErrorNumber::PathNotFound);
}

}  // namespace
}  // namespace kestova
