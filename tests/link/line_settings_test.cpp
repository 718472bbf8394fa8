// A refused line settings text says which field is wrong and what it should be; the
// parser raises 380 for exactly the texts it explains.

#include <gtest/gtest.h>

#include "link/automation_error.h"
#include "link/line_settings.h"

namespace kestova {
namespace {

TEST(LineSettings, EachRefusalNamesItsField) {
  const std::pair<const char*, const char*> rows[] = {
      {"9600,n,8,1", ""},
      {" 19200 , E , 7 , 1.5 ", ""},
      {"9600,x,8,1", "parity x: expected n, o, e, m or s"},
      {"9600,,8,1", "parity : expected n, o, e, m or s"},
      {"fast,n,8,1", "baud fast: expected a positive whole number"},
      {"0,n,8,1", "baud 0: expected a positive whole number"},
      {"9600,n,9,1", "data bits 9: expected 5, 6, 7 or 8"},
      {"9600,n,8,3", "stop bits 3: expected 1, 1.5 or 2"},
      {"9600,n,8", "3 fields: expected 4, baud,parity,data bits,stop bits"},
  };
  for (const auto& [text, fault] : rows) {
    SCOPED_TRACE(text);
    EXPECT_EQ(LineSettingsFault(text), fault);
    if (*fault == '\0') {
      EXPECT_NO_THROW(ParseLineSettings(text));
    } else {
      EXPECT_THROW(ParseLineSettings(text), AutomationError);
    }
  }
}

}  // namespace
}  // namespace kestova
