// A device path that vanishes, with the control on the POSIX port and the virtual PLC on
// a pseudo-terminal: the loss must reach the host as a run-time error and the control
// must work again once its port is reopened. A hang-up during a wait is the port's and
// the exchange's own suites' business.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "control/plain_host.h"
#include "kestova/tarvane.h"
#include "link/automation_error.h"
#include "link/serial_posix.h"
#include "sim/virtual_plc.h"
#include "support/raised.h"
#include "support/test_host.h"

namespace kestova {
namespace {

using namespace std::chrono_literals;
using sim::VirtualPlc;
using testing::RaisedNumber;

constexpr int kDeviceIo = static_cast<int>(ErrorNumber::DeviceIo);
constexpr int kNoSuchPort = static_cast<int>(ErrorNumber::InvalidPortNumber);

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
  EXPECT_EQ(RaisedNumber([&] { control_.SetPortOpen(true); }), kNoSuchPort);
  std::filesystem::create_symlink(target, link_);
  control_.SetPortOpen(true);
  ExpectWorking(*plc, 12);

  // The device goes, and with it its path.
  plc->Stop();
  ASSERT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link_)));
  EXPECT_EQ(RaisedNumber([&] { control_.WriteD(100, 6); }), kDeviceIo);
  control_.SetPortOpen(false);
  EXPECT_EQ(RaisedNumber([&] { control_.SetPortOpen(true); }), kNoSuchPort);
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
