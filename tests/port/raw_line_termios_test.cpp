// The line settings the port hands to the terminal driver, checked field by field. Over a
// pseudo-terminal the driver forces 8 bits without parity, so character size and parity
// can only be seen here, before the driver gets them.

#include <gtest/gtest.h>

#include "link/automation_error.h"
#include "link/line_settings.h"
#include "link/serial_posix.h"

namespace kestova {
namespace {

constexpr tcflag_t kFormatFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

// Starts from a terminal in its usual interactive state: everything raw mode must undo.
termios CookedTerminal() {
  termios t{};
  t.c_iflag = ICRNL | IXON | IXANY | BRKINT | ISTRIP;
  t.c_oflag = OPOST | ONLCR;
  t.c_lflag = ECHO | ECHOE | ICANON | ISIG | IEXTEN;
  t.c_cflag = CS7 | PARENB | CRTSCTS | HUPCL;
  cfsetispeed(&t, B300);
  cfsetospeed(&t, B300);
  return t;
}

struct FormatRow {
  const char* settings;
  speed_t speed;
  tcflag_t format;  // the kFormatFlags bits expected
};

TEST(RawLineTermios, SpeedAndCharacterFormat) {
  const FormatRow rows[] = {
      {"9600,n,8,1", B9600, CS8},
      {"19200,E,7,1", B19200, CS7 | PARENB},
      {"38400,o,8,2", B38400, CS8 | PARENB | PARODD | CSTOPB},
      {"115200,M,8,1", B115200, CS8 | PARENB | CMSPAR | PARODD},
      {"4800,s,5,2", B4800, CS5 | PARENB | CMSPAR | CSTOPB},
      {"300,N,6,1", B300, CS6},
      {"50,n,8,1", B50, CS8},
      {"4000000,e,8,1", B4000000, CS8 | PARENB},
  };
  for (const FormatRow& row : rows) {
    SCOPED_TRACE(row.settings);
    const termios t = RawLineTermios(CookedTerminal(), ParseLineSettings(row.settings), 0);
    EXPECT_EQ(cfgetispeed(&t), row.speed);
    EXPECT_EQ(cfgetospeed(&t), row.speed);
    EXPECT_EQ(t.c_cflag & kFormatFlags, row.format);
    // Parity errors are checked and the damaged character dropped.
    const tcflag_t parity_check = (row.format & PARENB) != 0 ? INPCK | IGNPAR : 0;
    EXPECT_EQ(t.c_iflag & (INPCK | IGNPAR | PARMRK), parity_check);
  }
}

TEST(RawLineTermios, RawBinaryLine) {
  const termios t = RawLineTermios(CookedTerminal(), ParseLineSettings("9600,n,8,1"), 0);
  EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | IXANY | BRKINT), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  // VMIN 0 would make an empty non-blocking read look like a hang-up.
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST(RawLineTermios, Handshaking) {
  struct Row {
    std::int32_t handshaking;
    tcflag_t input;    // IXON | IXOFF bits
    tcflag_t control;  // CRTSCTS bit
  };
  const Row rows[] = {
      {0, 0, 0},
      {1, IXON | IXOFF, 0},
      {2, 0, CRTSCTS},
      {3, IXON | IXOFF, CRTSCTS},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.handshaking);
    const termios t =
        RawLineTermios(CookedTerminal(), ParseLineSettings("9600,n,8,1"), row.handshaking);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), row.input);
    EXPECT_EQ(t.c_cflag & CRTSCTS, row.control);
  }
}

TEST(RawLineTermios, RefusesWhatThePlatformCannotApply) {
  struct Row {
    const char* settings;
    std::int32_t handshaking;
    ErrorNumber expected;
  };
  const Row rows[] = {
      {"9600,n,8,1.5", 0, ErrorNumber::CommStateFailed},
      {"12345,n,8,1", 0, ErrorNumber::CommStateFailed},
      {"4000001,n,8,1", 0, ErrorNumber::CommStateFailed},
      {"7,n,8,1", 0, ErrorNumber::CommStateFailed},
      {"9600,n,8,1", 4, ErrorNumber::InvalidPropertyValue},
      {"9600,n,8,1", -1, ErrorNumber::InvalidPropertyValue},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.settings << " handshaking " << row.handshaking);
    try {
      RawLineTermios(CookedTerminal(), ParseLineSettings(row.settings), row.handshaking);
      ADD_FAILURE() << "accepted";
    } catch (const AutomationError& error) {
      EXPECT_EQ(error.number(), row.expected);
    }
  }
}

}  // namespace
}  // namespace kestova
