// The POSIX port over a real pseudo-terminal; the far end is the pty master.

#include <gtest/gtest.h>
#include <pthread.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <numeric>
#include <thread>

#include "control/plain_host.h"
#include "kestova/tarvane.h"
#include "link/platform_port.h"
#include "link/serial_posix.h"
#include "support/pty_pair.h"
#include "sim/virtual_plc.h"
#include "support/test_host.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using testing::RaisedNumber;
using Clock = std::chrono::steady_clock;
using sim::VirtualPlc;

Bytes Counting(std::size_t count) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return bytes;
}

bool SameLine(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && cfgetospeed(&a) == cfgetospeed(&b);
}

class PosixSerialPortTest : public ::testing::Test {
 protected:
  void Open(const std::string& settings = "9600,n,8,1") {
    port_->SetSettings(settings);
    port_->SetPortOpen(true);
  }

  // Runs `far_end` on its own thread `after` the wait below has started (usually).
  template <typename Action>
  std::jthread Later(std::chrono::milliseconds after, Action far_end) {
    return std::jthread([after, far_end] {
      std::this_thread::sleep_for(after);
      far_end();
    });
  }

  // "open port handshaking settings", e.g. "1 1 0 9600,n,8,1".
  std::string State() const {
    return std::to_string(port_->PortOpen()) + " " + std::to_string(port_->CommPort()) + " " +
           std::to_string(port_->Handshaking()) + " " + port_->Settings();
  }

  testing::PtyPair pty_;
  std::unique_ptr<SerialPort> port_ = MakePlatformSerialPort(pty_.slave_path());
};

TEST_F(PosixSerialPortTest, CarriesEveryByteBothWays) {
  Open();
  Bytes every_value(256);  // DLE, NUL, XON and XOFF included
  std::iota(every_value.begin(), every_value.end(), std::uint8_t{0});
  for (const Bytes& bytes : {every_value, Counting(2000)}) {
    SCOPED_TRACE(bytes.size());
    Bytes at_far_end;
    {
      std::jthread far_end([&] { at_far_end = pty_.Read(bytes.size(), 5s); });
      port_->Output(bytes);
      EXPECT_TRUE(port_->Drain(5s));
    }
    EXPECT_EQ(at_far_end, bytes);
    pty_.Send(bytes);
    EXPECT_EQ(testing::ReadFromPort(*port_, bytes.size(), 5s), bytes);
  }
}

TEST_F(PosixSerialPortTest, AStalledLineNeverBlocksOutputAndDrainGivesUpAtItsDeadline) {
  Open();
  // Nobody reads the master: the line's buffers fill and then take nothing.
  const Bytes frame = Counting(2000);
  for (int k = 0; k < 64; ++k) port_->Output(frame);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(port_->Drain(200ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  port_->DiscardOutput();
  EXPECT_TRUE(port_->Drain(1s));
}

TEST_F(PosixSerialPortTest, InputLenBoundsEachTakeAndCountsIncludeBytesAlreadyRead) {
  Open();
  pty_.Send(Counting(10));
  port_->SetInputLen(3);
  ASSERT_TRUE(port_->WaitForInput(5s));
  EXPECT_GE(port_->InBufferCount(), 1);  // the wait itself read them off the device
  Bytes received;
  while (received.size() < 10 && port_->WaitForInput(5s)) {
    const Bytes taken = port_->Input();
    EXPECT_LE(taken.size(), 3u);
    received.insert(received.end(), taken.begin(), taken.end());
  }
  EXPECT_EQ(received, Counting(10));
  EXPECT_EQ(port_->InBufferCount(), 0);
  EXPECT_TRUE(port_->Input().empty());
  EXPECT_EQ(RaisedNumber([&] { port_->SetInputLen(-1); }), 380);
}

TEST_F(PosixSerialPortTest, SettingsReachTheLineWhileOpenAndAtOpen) {
  struct Row {
    const char* settings;
    std::int32_t handshaking;
    speed_t speed;
    tcflag_t control;  // a pty keeps these bits; it forces 8 bits without parity
    tcflag_t input;
  };
  const Row rows[] = {
      {"19200,o,8,2", 1, B19200, PARODD | CSTOPB, IXON | IXOFF},
      {"115200,M,7,1", 2, B115200, CMSPAR | PARODD | CRTSCTS, 0},
      {"1200,S,8,2", 3, B1200, CMSPAR | CSTOPB | CRTSCTS, IXON | IXOFF},
      {"4000000,e,8,1", 0, B4000000, 0, 0},
  };
  Open();
  for (const Row& row : rows) {
    for (const bool reopen : {false, true}) {
      SCOPED_TRACE(::testing::Message() << row.settings << (reopen ? " at open" : " while open"));
      if (reopen) port_->SetPortOpen(false);
      port_->SetSettings(row.settings);
      port_->SetHandshaking(row.handshaking);
      if (reopen) port_->SetPortOpen(true);
      const termios t = pty_.SlaveTermios();
      EXPECT_EQ(cfgetospeed(&t), row.speed);
      EXPECT_EQ(t.c_cflag & (CSTOPB | CMSPAR | PARODD | CRTSCTS), row.control);
      EXPECT_EQ(t.c_iflag & (IXON | IXOFF), row.input);
      EXPECT_EQ(t.c_lflag & (ECHO | ICANON), 0u);
    }
  }
}

TEST_F(PosixSerialPortTest, RefusedLetsChangeNothing) {
  const std::tuple<const char*, int, std::function<void(SerialPort&)>> lets[] = {
      {"9600,x,8,1", 380, [](SerialPort& p) { p.SetSettings("9600,x,8,1"); }},
      {"9600,n,9", 380, [](SerialPort& p) { p.SetSettings("9600,n,9"); }},
      {"9600,n,8,1.5", 8015, [](SerialPort& p) { p.SetSettings("9600,n,8,1.5"); }},
      {"14000,n,8,1", 8015, [](SerialPort& p) { p.SetSettings("14000,n,8,1"); }},
      {"handshaking 4", 380, [](SerialPort& p) { p.SetHandshaking(4); }},
      {"port 2 while open", 8000, [](SerialPort& p) { p.SetCommPort(2); }},
      {"open while open", 8005, [](SerialPort& p) { p.SetPortOpen(true); }},
  };
  Open("19200,e,8,2");
  port_->SetHandshaking(1);
  const termios before = pty_.SlaveTermios();
  for (const auto& [name, error, let] : lets) {
    SCOPED_TRACE(name);
    EXPECT_EQ(RaisedNumber([&] { let(*port_); }), error);
    EXPECT_EQ(State(), "1 1 1 19200,e,8,2");
    EXPECT_TRUE(SameLine(pty_.SlaveTermios(), before));
  }
}

TEST_F(PosixSerialPortTest, ClosedPort) {
  EXPECT_EQ(State(), "0 1 0 9600,n,8,1");
  const std::pair<const char*, std::function<void()>> traffic[] = {
      {"Output", [&] { port_->Output(Counting(1)); }},
      {"InBufferCount", [&] { port_->InBufferCount(); }},
      {"Input", [&] { port_->Input(); }},
      {"WaitForInput", [&] { port_->WaitForInput(1ms); }},
      {"Drain", [&] { port_->Drain(1ms); }},
      {"DiscardOutput", [&] { port_->DiscardOutput(); }},
  };
  for (const auto& [name, action] : traffic) {
    EXPECT_EQ(RaisedNumber(action), 8012) << name;
  }
  EXPECT_EQ(RaisedNumber([&] { port_->SetCommPort(0); }), 8002);
  // With a device path the number is only stored: 32000 still opens the pty.
  port_->SetCommPort(32000);
  // Kept while closed, refused at open, which leaves the port closed and the device free.
  const termios before = pty_.SlaveTermios();
  port_->SetSettings("9600,n,8,1.5");
  EXPECT_EQ(State(), "0 32000 0 9600,n,8,1.5");
  EXPECT_EQ(RaisedNumber([&] { port_->SetPortOpen(true); }), 8015);
  EXPECT_EQ(State(), "0 32000 0 9600,n,8,1.5");
  EXPECT_TRUE(SameLine(pty_.SlaveTermios(), before));
  Open();
  EXPECT_EQ(State(), "1 32000 0 9600,n,8,1");

  for (const char* path : {"/dev/kestova-no-such-device", "/dev/null"}) {
    PosixSerialPort elsewhere(path);
    EXPECT_EQ(RaisedNumber([&] { elsewhere.SetPortOpen(true); }), 8002) << path;
  }
}

TEST_F(PosixSerialPortTest, OpenIsExclusiveAndRestoresTheLineOnClose) {
  const termios original = pty_.SlaveTermios();
  Open("38400,o,8,2");
  EXPECT_FALSE(SameLine(pty_.SlaveTermios(), original));
  {
    PosixSerialPort second(pty_.slave_path());
    EXPECT_EQ(RaisedNumber([&] { second.SetPortOpen(true); }), 8005);
    EXPECT_FALSE(second.PortOpen());
  }
  // The refused open took nothing from the holder.
  port_->Output(Counting(4));
  EXPECT_EQ(pty_.Read(4, 5s), Counting(4));
  port_->SetPortOpen(false);
  EXPECT_TRUE(SameLine(pty_.SlaveTermios(), original));
  {
    PosixSerialPort second(pty_.slave_path());
    second.SetPortOpen(true);
    EXPECT_FALSE(SameLine(pty_.SlaveTermios(), original));
  }
  EXPECT_TRUE(SameLine(pty_.SlaveTermios(), original));  // the destructor restored it
}

TEST_F(PosixSerialPortTest, ABurstWaitLetsTheBurstInButNeverWaitsForBytesThatDoNotCome) {
  Open("9600,n,8,1");  // about 1 ms a character
  Bytes received;
  {
    auto far_end = Later(20ms, [this] {
      pty_.Send(Counting(5));
      std::this_thread::sleep_for(3ms);
      pty_.Send(Counting(5));
    });
    // 100 characters take about 104 ms: only 10 come, and the wait ends after the
    // burst's wire time, not at its 5-second budget.
    const auto start = Clock::now();
    received = port_->ReadArriving(100, 5s);
    EXPECT_LT(Clock::now() - start, 2s);
  }
  const Bytes rest = port_->Input();
  received.insert(received.end(), rest.begin(), rest.end());
  EXPECT_EQ(received.size(), 10u);
  EXPECT_TRUE(port_->ReadArriving(10, 50ms).empty());
}

void IgnoreSignal(int) {}

TEST_F(PosixSerialPortTest, WaitWakesOnArrivalAndOtherwiseHonoursItsDeadlineThroughSignals) {
  struct sigaction action {};
  action.sa_handler = IgnoreSignal;  // no SA_RESTART: poll fails with EINTR
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  Open();
  for (const char* far_end : {"quiet", "interrupted", "sends"}) {
    SCOPED_TRACE(far_end);
    const bool sends = far_end[0] == 's';
    const pthread_t waiter = pthread_self();
    const auto start = Clock::now();
    bool arrived = !sends;
    {
      auto later = Later(30ms, [=, this] {
        if (far_end[0] == 'i') pthread_kill(waiter, SIGUSR1);
        if (sends) pty_.Send(Counting(1));
      });
      arrived = port_->WaitForInput(sends ? 5s : 150ms);
    }
    const auto waited = Clock::now() - start;
    EXPECT_EQ(arrived, sends);
    EXPECT_GE(waited, sends ? 0ms : 150ms);
    EXPECT_LT(waited, 2s);
  }
  EXPECT_EQ(port_->Input(), Counting(1));
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_FALSE(port_->WaitForInput(0ns));
}

TEST_F(PosixSerialPortTest, HangUpDuringWaitRaisesDeviceIoError) {
  Open();
  const auto start = Clock::now();
  std::string description;
  {
    auto far_end = Later(50ms, [this] { pty_.CloseMaster(); });
    try {
      port_->WaitForInput(5s);
    } catch (const AutomationError& error) {
      description = std::to_string(error.code()) + " " + error.description();
    }
  }
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_EQ(description.rfind("57 Device I/O error", 0), 0u) << description;
  EXPECT_NE(description.find(pty_.slave_path()), std::string::npos) << description;

  // Every later use reports the same, and closing still works.
  const std::pair<const char*, std::function<void()>> uses[] = {
      {"WaitForInput", [&] { port_->WaitForInput(5s); }},
      {"Input", [&] { port_->Input(); }},
      {"InBufferCount", [&] { port_->InBufferCount(); }},
      {"Output", [&] { port_->Output(Counting(8)); }},
  };
  for (const auto& [name, action] : uses) {
    EXPECT_EQ(RaisedNumber(action), 57) << name;
  }
  port_->SetPortOpen(false);
  EXPECT_FALSE(port_->PortOpen());
}

// A device path that vanishes, with the control on this port and the virtual PLC on a
// pseudo-terminal: the loss reaches the host as a run-time error and the control works again
// once its port is reopened.
class PortFaults : public ::testing::Test {
 protected:
  // Real time and a real port; the test host only lends its scratch folder.
  PortFaults()
      : link_((scratch_.log_folder / "plc").string()), control_(host_, std::make_unique<PosixSerialPort>(link_)) {
    host_.SetLogFolder(scratch_.log_folder);
    host_.AddMelsecOutHandler([this](std::string& text) { events_.push_back(text); });
    control_.InitProperties();
    control_.SetTimeout(1);
  }

  // A virtual PLC whose pseudo-terminal is reached through link_, the path the control
  // opens, so a new PLC can take the old one's place.
  std::unique_ptr<VirtualPlc> StartPlc() {
    VirtualPlc::Options options;
    options.link_path = link_;
    auto plc = std::make_unique<VirtualPlc>(options);
    plc->Start();
    return plc;
  }

  // The control works end to end: a write lands in the PLC and reads back.
  void ExpectWorking(VirtualPlc& plc, std::int16_t value) {
    EXPECT_EQ(control_.WriteD(100, value), 0);
    EXPECT_EQ(plc.memory().Word(sim::Family::D, 100), static_cast<std::uint16_t>(value));
    EXPECT_EQ(control_.ReadD(100, 1), 0);
    EXPECT_EQ(control_.PLCD(100), value);
  }

  testing::TestHost scratch_;
  std::string link_;
  PlainHost host_;
  std::vector<std::string> events_;
  Tarvane control_;
};

TEST_F(PortFaults, APathThatVanishesCannotBeOpenedUntilItIsBack) {
  auto plc = StartPlc();
  control_.SetPortOpen(true);

  // Only the name goes (a udev rule, a cleanup script): the open device stays usable.
  const std::filesystem::path target = std::filesystem::read_symlink(link_);
  std::filesystem::remove(link_);
  ExpectWorking(*plc, 11);
  control_.SetPortOpen(false);
  EXPECT_EQ(RaisedNumber([&] { control_.SetPortOpen(true); }), 8002);
  std::filesystem::create_symlink(target, link_);
  control_.SetPortOpen(true);
  ExpectWorking(*plc, 12);

  // The device goes, and with it its path.
  plc->Stop();
  ASSERT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link_)));
  EXPECT_EQ(RaisedNumber([&] { control_.WriteD(100, 6); }), 57);
  control_.SetPortOpen(false);
  EXPECT_EQ(RaisedNumber([&] { control_.SetPortOpen(true); }), 8002);
  EXPECT_FALSE(control_.PortOpen());
  // A closed port is refused by the operation itself, as ever.
  EXPECT_EQ(control_.WriteD(100, 6), 1);
  EXPECT_EQ(events_, std::vector<std::string>{"Port not Open"});

  plc = StartPlc();
  control_.SetPortOpen(true);
  ExpectWorking(*plc, 7);
}

}  // namespace
}  // namespace kestova
