#include "bench/wire_time.h"

#include <gtest/gtest.h>

#include "link/automation_error.h"

namespace kestova::bench {
namespace {

using std::chrono::nanoseconds;

struct WireTimeRow {
  const char* what;
  std::size_t characters;
  const char* settings;
  nanoseconds expected;
};

TEST(WireTime, CountsEveryBitOfEveryCharacter) {
  const WireTimeRow rows[] = {
      // 26 request and 980 answer bytes of 11 bits: 11066 bits at 115200 baud.
      {"480-word read, 8-o-1", 26 + 980, "115200,o,8,1", nanoseconds(96'059'027)},
      {"480-word read, 8-n-1", 26 + 980, "115200,n,8,1", nanoseconds(87'326'388)},
      {"480-word read at 9600", 26 + 980, "9600,o,8,1", nanoseconds(1'152'708'333)},
      {"7 data bits, even parity, 2 stop bits", 1, "9600,e,7,2", nanoseconds(1'145'833)},
      {"nothing to send", 0, "9600,n,8,1", nanoseconds(0)},
  };
  for (const WireTimeRow& row : rows) {
    EXPECT_EQ(WireTime(row.characters, row.settings), row.expected) << row.what;
  }
}

TEST(WireTime, RefusesSettingsItCannotRead) {
  EXPECT_THROW(WireTime(1, "fast,n,8,1"), AutomationError);
}

}  // namespace
}  // namespace kestova::bench
