// Faults of the line itself, with the control on the POSIX port and the virtual PLC on a
// pseudo-terminal: the far end closing while a call waits, a device path that vanishes,
// a port opened twice. Each must reach the host as a run-time error, promptly, and the
// control must work again once its port is reopened.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "control/plain_host.h"
#include "kestova/tarvane.h"
#include "link/automation_error.h"
#include "link/serial_posix.h"
#include "sim/virtual_plc.h"
#include "support/raised.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using sim::Fault;
using sim::VirtualPlc;

// A folder of its own for the link and the log.
class ScratchFolder {
 public:
  ScratchFolder() {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("kestova-port-faults-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class PortFaults : public ::testing::Test {
 protected:
  PortFaults() : link_((folder_.path() / "plc").string()) {
    host_.SetLogFolder(folder_.path() / "log");
    host_.AddMelsecOutHandler([this](std::string& text) { events_.push_back(text); });
  }

  // A virtual PLC whose pseudo-terminal is reached through link_, the path the controls
  // open, so a new PLC can take the old one's place.
  std::unique_ptr<VirtualPlc> StartPlc() {
    VirtualPlc::Options options;
    options.link_path = link_;
    auto plc = std::make_unique<VirtualPlc>(options);
    plc->Start();
    return plc;
  }

  std::unique_ptr<Tarvane> MakeControl(std::int16_t timeout) {
    auto control = std::make_unique<Tarvane>(host_, std::make_unique<PosixSerialPort>(link_));
    control->InitProperties();
    control->SetTimeout(timeout);
    return control;
  }

  // The control works end to end: a write lands in the PLC and reads back.
  void ExpectWorking(Tarvane& control, VirtualPlc& plc, std::int16_t value) {
    EXPECT_EQ(control.WriteD(100, value), 0);
    EXPECT_EQ(plc.memory().Word(sim::Family::D, 100), static_cast<std::uint16_t>(value));
    EXPECT_EQ(control.ReadD(100, 1), 0);
    EXPECT_EQ(control.PLCD(100), value);
  }

  ScratchFolder folder_;
  std::string link_;
  PlainHost host_;
  std::vector<std::string> events_;
};

using testing::RaisedNumber;

constexpr int kDeviceIo = static_cast<int>(ErrorNumber::DeviceIo);
constexpr int kNoSuchPort = static_cast<int>(ErrorNumber::InvalidPortNumber);
constexpr int kAlreadyOpen = static_cast<int>(ErrorNumber::PortAlreadyOpen);

TEST_F(PortFaults, PeerClosingWhileTheControlWaitsIsADeviceErrorNotAHang) {
  auto plc = StartPlc();
  auto control = MakeControl(/*timeout=*/10);
  control->SetPortOpen(true);
  ExpectWorking(*control, *plc, 1);

  // The PLC takes the request, says nothing, and its line goes away while the control
  // waits out a 10-second time-out.
  plc->InjectFault(Fault::NoAnswer(), 1);
  const std::size_t before = plc->request_count();
  auto closer = std::async(std::launch::async, [&] {
    if (plc->WaitForRequests(before + 1, 5s)) plc->Stop();
  });
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(RaisedNumber([&] { control->WriteD(100, 2); }), kDeviceIo);
  const auto took = std::chrono::steady_clock::now() - started;
  closer.get();
  EXPECT_LT(took, 5s) << "the hang-up must end the wait, not the time-out";
  EXPECT_TRUE(events_.empty());

  // The host closes the port, a new PLC comes up at the same path, the port is reopened.
  control->SetPortOpen(false);
  plc = StartPlc();
  control->SetPortOpen(true);
  ExpectWorking(*control, *plc, 3);
}

TEST_F(PortFaults, EveryOperationAfterTheLineWentAwayRaisesTheDeviceError) {
  auto plc = StartPlc();
  auto control = MakeControl(/*timeout=*/1);
  control->SetPortOpen(true);
  ExpectWorking(*control, *plc, 4);
  plc->Stop();

  const std::vector<int16_t> data{1, 2};
  struct Row {
    const char* name;
    std::function<void()> call;
  };
  const std::vector<Row> rows = {
      {"ReadD", [&] { control->ReadD(0, 1); }},
      {"WriteW", [&] { control->WriteW(0, 1); }},
      {"SetM", [&] { control->SetM(0); }},
      {"WriteBlock", [&] { control->WriteBlock("D0", 2, IntegerArray::ZeroBased(data)); }},
      {"RemoteRun", [&] { control->RemoteRun(); }},
      {"RemoteStop", [&] { control->RemoteStop(); }},
  };
  for (const auto& row : rows) {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RaisedNumber(row.call), kDeviceIo) << row.name;
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s) << row.name;
  }
  EXPECT_TRUE(events_.empty());
}

TEST_F(PortFaults, VanishedDevicePathCannotBeOpenedUntilItIsBack) {
  auto plc = StartPlc();
  auto control = MakeControl(/*timeout=*/1);
  control->SetPortOpen(true);
  ExpectWorking(*control, *plc, 5);

  // The device goes, and with it its path.
  plc->Stop();
  ASSERT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link_)));
  EXPECT_EQ(RaisedNumber([&] { control->WriteD(100, 6); }), kDeviceIo);
  control->SetPortOpen(false);
  EXPECT_EQ(RaisedNumber([&] { control->SetPortOpen(true); }), kNoSuchPort);
  EXPECT_FALSE(control->PortOpen());
  // A closed port is refused by the operation itself, as ever.
  EXPECT_EQ(control->WriteD(100, 6), 1);
  EXPECT_EQ(events_, std::vector<std::string>{"Port not Open"});

  plc = StartPlc();
  control->SetPortOpen(true);
  ExpectWorking(*control, *plc, 7);
}

TEST_F(PortFaults, PathRemovedUnderAnOpenPortLeavesThatPortWorking) {
  auto plc = StartPlc();
  auto control = MakeControl(/*timeout=*/1);
  control->SetPortOpen(true);

  // Only the name goes (a udev rule, a cleanup script): the open device stays usable.
  const std::filesystem::path target = std::filesystem::read_symlink(link_);
  std::filesystem::remove(link_);
  ExpectWorking(*control, *plc, 11);

  control->SetPortOpen(false);
  EXPECT_EQ(RaisedNumber([&] { control->SetPortOpen(true); }), kNoSuchPort);
  std::filesystem::create_symlink(target, link_);
  control->SetPortOpen(true);
  ExpectWorking(*control, *plc, 12);
}

TEST_F(PortFaults, SecondOpenOfTheSameDeviceIsRefusedAndTheFirstKeepsWorking) {
  auto plc = StartPlc();
  auto first = MakeControl(/*timeout=*/1);
  auto second = MakeControl(/*timeout=*/1);
  first->SetPortOpen(true);

  EXPECT_EQ(RaisedNumber([&] { second->SetPortOpen(true); }), kAlreadyOpen);
  EXPECT_FALSE(second->PortOpen());
  ExpectWorking(*first, *plc, 8);

  // Opening an open port again is refused too, and changes nothing.
  EXPECT_EQ(RaisedNumber([&] { first->SetPortOpen(true); }), kAlreadyOpen);
  EXPECT_TRUE(first->PortOpen());
  ExpectWorking(*first, *plc, 9);

  // Once the first lets go, the second may have it.
  first->SetPortOpen(false);
  second->SetPortOpen(true);
  ExpectWorking(*second, *plc, 10);
}

// A far end that takes nothing off the line: a pseudo-terminal whose master is never read.
class DeafPeer {
 public:
  DeafPeer() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) slave_path_ = ::ptsname(master_);
  }
  ~DeafPeer() { HangUp(); }
  const std::string& slave_path() const { return slave_path_; }
  void HangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string slave_path_;
};

// A line that takes nothing (on a real port, flow control held; here a pseudo-terminal
// whose far end never reads, its buffers filled first) may use the call's whole budget:
// the call ends with its time-out no earlier than Timeout seconds and no later than
// Timeout + 1 s plus its request's wire time.
TEST(StalledLine, AHeldLineKeepsTheCallsBudget) {
  DeafPeer peer;
  ASSERT_FALSE(peer.slave_path().empty());
  ScratchFolder folder;
  PlainHost host;
  host.SetLogFolder(folder.path());
  std::vector<std::string> events;
  host.AddMelsecOutHandler([&](std::string& text) { events.push_back(text); });
  auto port = std::make_unique<PosixSerialPort>(peer.slave_path());
  PosixSerialPort& line = *port;
  Tarvane control(host, std::move(port));
  control.InitProperties();
  control.SetSettings("115200,n,8,1");
  control.SetTimeout(2);
  control.SetPortOpen(true);
  const std::vector<std::uint8_t> filler(2000, 0);
  for (int k = 0; k < 64; ++k) line.Output(filler);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(control.WriteD(0, 1), 1);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 2s);
  EXPECT_LE(took, 3s + 300ms);
  EXPECT_EQ(events, std::vector<std::string>{"TimeOut"});
}

}  // namespace
}  // namespace kestova
