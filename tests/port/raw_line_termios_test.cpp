// The line settings handed to the driver, field by field. A pseudo-terminal forces 8 bits
// without parity, so character size and parity can only be seen here.

#include <gtest/gtest.h>

#include "link/serial_posix.h"

namespace kestova {
namespace {

// A terminal in its interactive state: everything raw mode must undo.
termios CookedTerminal() {
  termios t{};
  t.c_iflag = ICRNL | IXON | IXANY | BRKINT | ISTRIP;
  t.c_oflag = OPOST | ONLCR;
  t.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
  t.c_cflag = CS7 | PARENB | CRTSCTS;
  return t;
}

TEST(RawLineTermios, AppliesSpeedFormatAndHandshakingOnARawLine) {
  struct Row {
    const char* settings;
    std::int32_t handshaking;
    speed_t speed;
    tcflag_t control;  // CSIZE, parity, CSTOPB and CRTSCTS bits
    tcflag_t input;    // IXON, IXOFF and the parity check
  };
  const Row rows[] = {
      {"9600,n,8,1", 0, B9600, CS8, 0},
      {"19200,E,7,1", 1, B19200, CS7 | PARENB, INPCK | IGNPAR | IXON | IXOFF},
      {"38400,o,8,2", 2, B38400, CS8 | PARENB | PARODD | CSTOPB | CRTSCTS, INPCK | IGNPAR},
      {"115200,M,6,1", 3, B115200, CS6 | PARENB | CMSPAR | PARODD | CRTSCTS,
       INPCK | IGNPAR | IXON | IXOFF},
      {"50,s,5,2", 0, B50, CS5 | PARENB | CMSPAR | CSTOPB, INPCK | IGNPAR},
      {"4000000,N,8,1", 0, B4000000, CS8, 0},
  };
  constexpr tcflag_t kControl = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
  constexpr tcflag_t kInput = INPCK | IGNPAR | PARMRK | IXON | IXOFF | IXANY | ICRNL | ISTRIP;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.settings);
    const termios t =
        RawLineTermios(CookedTerminal(), ParseLineSettings(row.settings), row.handshaking);
    EXPECT_EQ(cfgetispeed(&t), row.speed);
    EXPECT_EQ(cfgetospeed(&t), row.speed);
    EXPECT_EQ(t.c_cflag & (kControl | CLOCAL | CREAD), row.control | CLOCAL | CREAD);
    EXPECT_EQ(t.c_iflag & kInput, row.input);
    EXPECT_EQ(t.c_iflag & (IGNBRK | BRKINT), IGNBRK);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    // VMIN 0 would make an empty non-blocking read look like a hang-up.
    EXPECT_EQ(t.c_cc[VMIN], 1);
  }
}

}  // namespace
}  // namespace kestova
