// The POSIX port over a real pseudo-terminal: the far end is the pty master.

#include <gtest/gtest.h>
#include <pthread.h>

#include <csignal>
#include <functional>
#include <numeric>
#include <thread>

#include "link/platform_port.h"
#include "link/serial_posix.h"
#include "pty_pair.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using testing::PtyPair;
using testing::RaisedNumber;
using testing::ReadFromPort;

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kInvalidProperty = 380;
constexpr int kPortOpened = 8000;
constexpr int kInvalidPortNumber = 8002;
constexpr int kPortAlreadyOpen = 8005;
constexpr int kDeviceNotOpen = 8012;
constexpr int kCommStateFailed = 8015;
constexpr int kDeviceIo = 57;

Bytes Counting(std::size_t count) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return bytes;
}

bool SameTerminalState(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

class PosixSerialPortTest : public ::testing::Test {
 protected:
  void Open(const std::string& settings = "9600,n,8,1") {
    port_.SetSettings(settings);
    port_.SetPortOpen(true);
  }

  PtyPair pty_;
  PosixSerialPort port_{pty_.slave_path()};
};

TEST_F(PosixSerialPortTest, StartsClosedOnPortOneAt9600N81WithoutHandshaking) {
  EXPECT_FALSE(port_.PortOpen());
  EXPECT_EQ(port_.CommPort(), 1);
  EXPECT_EQ(port_.Settings(), "9600,n,8,1");
  EXPECT_EQ(port_.Handshaking(), 0);
}

TEST_F(PosixSerialPortTest, CarriesEveryByteValueBothWays) {
  Open();
  Bytes all_values(256);
  std::iota(all_values.begin(), all_values.end(), std::uint8_t{0});

  port_.Output(all_values);
  EXPECT_EQ(pty_.ReadFromMaster(all_values.size(), 5s), all_values);

  pty_.WriteToMaster(all_values);
  EXPECT_EQ(ReadFromPort(port_, all_values.size(), 5s), all_values);
}

TEST_F(PosixSerialPortTest, LongFramesArriveWhole) {
  Open();
  const Bytes frame = Counting(2000);
  Bytes received;
  std::jthread far_end([&] { received = pty_.ReadFromMaster(frame.size(), 5s); });
  port_.Output(frame);
  port_.Drain();
  far_end.join();
  EXPECT_EQ(received, frame);

  pty_.WriteToMaster(frame);
  EXPECT_EQ(ReadFromPort(port_, frame.size(), 5s), frame);
}

TEST_F(PosixSerialPortTest, InputLenBoundsEachTakeAndZeroTakesAll) {
  Open();
  const Bytes sent = Counting(10);
  pty_.WriteToMaster(sent);
  port_.SetInputLen(3);
  Bytes received;
  while (received.size() < sent.size() && port_.WaitForInput(5s)) {
    const Bytes taken = port_.Input();
    EXPECT_LE(taken.size(), 3u);
    received.insert(received.end(), taken.begin(), taken.end());
  }
  EXPECT_EQ(received, sent);

  port_.SetInputLen(0);
  pty_.WriteToMaster(sent);
  EXPECT_EQ(ReadFromPort(port_, sent.size(), 5s), sent);
  EXPECT_EQ(port_.InBufferCount(), 0);
  EXPECT_TRUE(port_.Input().empty());

  EXPECT_EQ(RaisedNumber([&] { port_.SetInputLen(-1); }), kInvalidProperty);
}

TEST_F(PosixSerialPortTest, InBufferCountIncludesBytesTheWaitAlreadyRead) {
  Open();
  pty_.WriteToMaster(Counting(5));
  ASSERT_TRUE(port_.WaitForInput(5s));
  EXPECT_GE(port_.InBufferCount(), 1);
  EXPECT_EQ(ReadFromPort(port_, 5, 5s), Counting(5));
}

struct LineRow {
  const char* settings;
  std::int32_t handshaking;
  speed_t speed;
  tcflag_t control;  // the CSTOPB, CMSPAR, PARODD and CRTSCTS bits the line must show
  tcflag_t input;    // the IXON and IXOFF bits
};

// A pseudo-terminal keeps these bits; it forces 8 bits without parity on every line.
constexpr tcflag_t kShownControl = CSTOPB | CMSPAR | PARODD | CRTSCTS;
constexpr LineRow kLines[] = {
    {"9600,n,8,1", 0, B9600, 0, 0},
    {"19200,o,8,2", 1, B19200, PARODD | CSTOPB, IXON | IXOFF},
    {"115200,M,7,1", 2, B115200, CMSPAR | PARODD, 0},
    {"1200,S,8,2", 3, B1200, CMSPAR | CSTOPB | CRTSCTS, IXON | IXOFF},
    {"4000000,e,8,1", 0, B4000000, 0, 0},
};

void ExpectLine(const termios& t, const LineRow& row) {
  EXPECT_EQ(cfgetospeed(&t), row.speed);
  EXPECT_EQ(cfgetispeed(&t), row.speed);
  EXPECT_EQ(t.c_cflag & kShownControl, row.control | (row.handshaking >= 2 ? CRTSCTS : 0));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), row.input);
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

TEST_F(PosixSerialPortTest, SettingsAppliedAtOpen) {
  for (const LineRow& row : kLines) {
    SCOPED_TRACE(row.settings);
    port_.SetSettings(row.settings);
    port_.SetHandshaking(row.handshaking);
    port_.SetPortOpen(true);
    ExpectLine(pty_.SlaveTermios(), row);
    port_.SetPortOpen(false);
  }
}

TEST_F(PosixSerialPortTest, SettingsAppliedWhileOpen) {
  Open();
  for (const LineRow& row : kLines) {
    SCOPED_TRACE(row.settings);
    port_.SetSettings(row.settings);
    port_.SetHandshaking(row.handshaking);
    EXPECT_EQ(port_.Settings(), row.settings);
    ExpectLine(pty_.SlaveTermios(), row);
  }
}

TEST_F(PosixSerialPortTest, RefusedLetsChangeNothing) {
  struct Row {
    const char* name;
    std::function<void(PosixSerialPort&)> let;
    int expected;
  };
  const Row rows[] = {
      {"malformed settings", [](PosixSerialPort& p) { p.SetSettings("9600,x,8,1"); },
       kInvalidProperty},
      {"three fields", [](PosixSerialPort& p) { p.SetSettings("9600,n,8"); }, kInvalidProperty},
      {"nine data bits", [](PosixSerialPort& p) { p.SetSettings("9600,n,9,1"); },
       kInvalidProperty},
      {"1.5 stop bits", [](PosixSerialPort& p) { p.SetSettings("9600,n,8,1.5"); },
       kCommStateFailed},
      {"baud without a speed", [](PosixSerialPort& p) { p.SetSettings("14000,n,8,1"); },
       kCommStateFailed},
      {"handshaking 4", [](PosixSerialPort& p) { p.SetHandshaking(4); }, kInvalidProperty},
      {"port number while open", [](PosixSerialPort& p) { p.SetCommPort(2); }, kPortOpened},
      {"open while open", [](PosixSerialPort& p) { p.SetPortOpen(true); }, kPortAlreadyOpen},
  };
  Open("19200,e,8,2");
  port_.SetHandshaking(1);
  const termios before = pty_.SlaveTermios();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(RaisedNumber([&] { row.let(port_); }), row.expected);
    EXPECT_TRUE(port_.PortOpen());
    EXPECT_EQ(port_.Settings(), "19200,e,8,2");
    EXPECT_EQ(port_.Handshaking(), 1);
    EXPECT_EQ(port_.CommPort(), 1);
    EXPECT_TRUE(SameTerminalState(pty_.SlaveTermios(), before));
  }
}

TEST_F(PosixSerialPortTest, SettingsTheLineCannotTakeAreKeptWhileClosedAndRefusedAtOpen) {
  for (const char* settings : {"9600,n,8,1.5", "14000,n,8,1"}) {
    SCOPED_TRACE(settings);
    const termios before = pty_.SlaveTermios();
    port_.SetSettings(settings);
    EXPECT_EQ(port_.Settings(), settings);
    EXPECT_EQ(RaisedNumber([&] { port_.SetPortOpen(true); }), kCommStateFailed);
    EXPECT_FALSE(port_.PortOpen());
    EXPECT_TRUE(SameTerminalState(pty_.SlaveTermios(), before));
  }
  // Nothing was left holding the device.
  Open();
  EXPECT_TRUE(port_.PortOpen());
}

TEST_F(PosixSerialPortTest, PortNumberLets) {
  EXPECT_EQ(RaisedNumber([&] { port_.SetCommPort(0); }), kInvalidPortNumber);
  EXPECT_EQ(RaisedNumber([&] { port_.SetCommPort(-3); }), kInvalidPortNumber);
  EXPECT_EQ(port_.CommPort(), 1);
  // With a device path the number is stored and reported, but the path is what opens.
  port_.SetCommPort(32000);
  EXPECT_EQ(port_.CommPort(), 32000);
  Open();
  EXPECT_TRUE(port_.PortOpen());
}

TEST_F(PosixSerialPortTest, ClosedPortRefusesTraffic) {
  const std::pair<const char*, std::function<void()>> rows[] = {
      {"Output", [&] { port_.Output(Counting(1)); }},
      {"InBufferCount", [&] { port_.InBufferCount(); }},
      {"Input", [&] { port_.Input(); }},
      {"WaitForInput", [&] { port_.WaitForInput(1ms); }},
      {"Drain", [&] { port_.Drain(); }},
  };
  for (const auto& [name, action] : rows) {
    SCOPED_TRACE(name);
    EXPECT_EQ(RaisedNumber(action), kDeviceNotOpen);
  }
  port_.SetPortOpen(false);  // closing a closed port is harmless
  EXPECT_FALSE(port_.PortOpen());
}

TEST_F(PosixSerialPortTest, OpenIsExclusive) {
  Open();
  PosixSerialPort second(pty_.slave_path());
  EXPECT_EQ(RaisedNumber([&] { second.SetPortOpen(true); }), kPortAlreadyOpen);
  EXPECT_FALSE(second.PortOpen());

  // The refused open took nothing from the holder.
  port_.Output(Counting(4));
  EXPECT_EQ(pty_.ReadFromMaster(4, 5s), Counting(4));

  port_.SetPortOpen(false);
  second.SetPortOpen(true);
  EXPECT_TRUE(second.PortOpen());
}

TEST(PosixSerialPort, MissingDeviceIsAnInvalidPortNumber) {
  PosixSerialPort port("/dev/kestova-no-such-device");
  EXPECT_EQ(RaisedNumber([&] { port.SetPortOpen(true); }), kInvalidPortNumber);
  EXPECT_FALSE(port.PortOpen());
}

TEST(PosixSerialPort, NonTerminalIsAnInvalidPortNumber) {
  PosixSerialPort port("/dev/null");
  EXPECT_EQ(RaisedNumber([&] { port.SetPortOpen(true); }), kInvalidPortNumber);
  EXPECT_FALSE(port.PortOpen());
}

TEST(PosixSerialPort, PlatformFactoryOpensTheGivenPath) {
  PtyPair pty;
  std::unique_ptr<SerialPort> port = MakePlatformSerialPort(pty.slave_path());
  port->SetPortOpen(true);
  port->Output(Counting(3));
  EXPECT_EQ(pty.ReadFromMaster(3, 5s), Counting(3));
  EXPECT_EQ(MakePlatformSerialPort()->CommPort(), 1);
}

TEST_F(PosixSerialPortTest, TerminalStateRestoredOnCloseAndDestruction) {
  const termios original = pty_.SlaveTermios();
  ASSERT_NE(original.c_lflag & ECHO, 0u);  // a fresh pty starts cooked

  Open("38400,o,8,2");
  EXPECT_FALSE(SameTerminalState(pty_.SlaveTermios(), original));
  port_.SetPortOpen(false);
  EXPECT_TRUE(SameTerminalState(pty_.SlaveTermios(), original));

  {
    PosixSerialPort scoped(pty_.slave_path());
    scoped.SetPortOpen(true);
    EXPECT_FALSE(SameTerminalState(pty_.SlaveTermios(), original));
  }
  EXPECT_TRUE(SameTerminalState(pty_.SlaveTermios(), original));
}

TEST_F(PosixSerialPortTest, WaitWakesOnArrival) {
  Open();
  std::jthread far_end([&] {
    std::this_thread::sleep_for(50ms);
    pty_.WriteToMaster(Counting(1));
  });
  const auto start = Clock::now();
  const bool arrived = port_.WaitForInput(5s);
  const auto waited = Clock::now() - start;
  far_end.join();
  EXPECT_TRUE(arrived);
  EXPECT_LT(waited, 2s);
  EXPECT_EQ(port_.Input(), Counting(1));
}

TEST_F(PosixSerialPortTest, WaitHonoursItsDeadline) {
  Open();
  const auto start = Clock::now();
  EXPECT_FALSE(port_.WaitForInput(100ms));
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, 100ms);
  EXPECT_LT(waited, 2s);
  EXPECT_FALSE(port_.WaitForInput(0ns));
  EXPECT_FALSE(port_.WaitForInput(-5ms));
}

void IgnoreSignal(int) {}

TEST_F(PosixSerialPortTest, InterruptedWaitKeepsItsDeadline) {
  struct sigaction action {};
  action.sa_handler = IgnoreSignal;  // no SA_RESTART: poll returns EINTR
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  Open();
  const pthread_t waiter = pthread_self();
  std::jthread interrupter([waiter] {
    std::this_thread::sleep_for(30ms);
    pthread_kill(waiter, SIGUSR1);
  });
  const auto start = Clock::now();
  const bool arrived = port_.WaitForInput(150ms);
  const auto waited = Clock::now() - start;
  interrupter.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_FALSE(arrived);
  EXPECT_GE(waited, 150ms);
  EXPECT_LT(waited, 2s);
}

TEST_F(PosixSerialPortTest, HangUpDuringWaitRaisesDeviceIoError) {
  Open();
  std::jthread far_end([&] {
    std::this_thread::sleep_for(50ms);
    pty_.CloseMaster();
  });
  const auto start = Clock::now();
  std::string description;
  int raised = 0;
  try {
    port_.WaitForInput(5s);
  } catch (const AutomationError& error) {
    raised = error.code();
    description = error.description();
  }
  const auto waited = Clock::now() - start;
  far_end.join();
  EXPECT_EQ(raised, kDeviceIo);
  EXPECT_NE(description.find(pty_.slave_path()), std::string::npos) << description;
  EXPECT_LT(waited, 2s);
}

TEST_F(PosixSerialPortTest, HungUpLineRaisesDeviceIoError) {
  Open();
  pty_.CloseMaster();
  const std::pair<const char*, std::function<void()>> rows[] = {
      {"WaitForInput", [&] { port_.WaitForInput(5s); }},
      {"Input", [&] { port_.Input(); }},
      {"InBufferCount", [&] { port_.InBufferCount(); }},
      {"Output", [&] { port_.Output(Counting(8)); }},
  };
  for (const auto& [name, action] : rows) {
    SCOPED_TRACE(name);
    EXPECT_EQ(RaisedNumber(action), kDeviceIo);
  }
  port_.SetPortOpen(false);  // closing a hung-up line does not raise
  EXPECT_FALSE(port_.PortOpen());
}

}  // namespace
}  // namespace kestova
