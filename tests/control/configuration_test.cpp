// The configuration properties: their three starting states, the change notification of
// every let, what the serial port object refuses, and the property bag round trip.

#include <gtest/gtest.h>

#include <functional>

#include "kestova/tarvane.h"
#include "support/control_fixture.h"
#include "support/raised.h"

namespace kestova {
namespace {

using ConfigurationTest = testing::ControlFixture;

const std::vector<std::string> kKeys = {"Enabled",   "CommPort",  "Settings", "Handshaking",  "Timeout",
                                        "StationNo", "NetworkNo", "PCNumber", "RqstDestMdIO", "RqstDestMdSta",
                                        "PLCType",   "SumCheck",  "PortOpen"};

// What a new control holds: zeros until InitProperties; the defaults after it or after
// loading an empty bag. The port keeps its own initial state throughout.
void ExpectStartingState(const Tarvane& c, bool defaults) {
  EXPECT_EQ(c.Enabled(), defaults);
  EXPECT_EQ(c.CommPort(), 1);
  EXPECT_EQ(c.Settings(), "9600,n,8,1");
  EXPECT_EQ(c.Handshaking(), 0);
  EXPECT_EQ(c.Timeout(), defaults ? 3 : 0);
  EXPECT_EQ(c.StationNo(), 0);
  EXPECT_EQ(c.NetworkNo(), 0);
  EXPECT_EQ(c.PCNumber(), defaults ? 255 : 0);
  EXPECT_EQ(c.RqstDestMdIO(), defaults ? 1023 : 0);
  EXPECT_EQ(c.RqstDestMdSta(), 0);
  EXPECT_EQ(c.PLCType(), Q_Fundmental);
  EXPECT_FALSE(c.SumCheck());
  EXPECT_FALSE(c.PortOpen());
}

TEST_F(ConfigurationTest, CreationInitPropertiesAndAnEmptyBagStartSilently) {
  ExpectStartingState(*control_, false);
  control_->InitProperties();
  ExpectStartingState(*control_, true);

  MemoryPropertyBag empty;
  testing::TestHost other_host;
  Tarvane loaded(other_host, std::make_unique<testing::MemoryPort>(other_host));
  loaded.ReadProperties(empty);
  ExpectStartingState(loaded, true);
  EXPECT_EQ(empty.reads(), std::vector<std::string>(kKeys.begin(), kKeys.end() - 1));
  EXPECT_TRUE(host_.changed.empty());
  EXPECT_TRUE(other_host.changed.empty());
}

// Every let stores any value unchecked and notifies under the property's name; saving
// and loading keep every value but the port's state.
TEST_F(ConfigurationTest, EveryLetNotifiesAndSurvivesSaveAndLoad) {
  struct Row {
    const char* name;
    std::function<void(Tarvane&)> let;
    std::function<bool(const Tarvane&)> holds;
  };
  const Row rows[] = {
      {"Enabled", [](Tarvane& c) { c.SetEnabled(false); }, [](const Tarvane& c) { return !c.Enabled(); }},
      {"CommPort", [](Tarvane& c) { c.SetCommPort(5); }, [](const Tarvane& c) { return c.CommPort() == 5; }},
      {"Settings", [](Tarvane& c) { c.SetSettings("115200,o,8,1"); },
       [](const Tarvane& c) { return c.Settings() == "115200,o,8,1"; }},
      {"Handshaking", [](Tarvane& c) { c.SetHandshaking(3); }, [](const Tarvane& c) { return c.Handshaking() == 3; }},
      {"Timeout", [](Tarvane& c) { c.SetTimeout(-5); }, [](const Tarvane& c) { return c.Timeout() == -5; }},
      {"StationNo", [](Tarvane& c) { c.SetStationNo(-1); }, [](const Tarvane& c) { return c.StationNo() == -1; }},
      {"NetworkNo", [](Tarvane& c) { c.SetNetworkNo(300); }, [](const Tarvane& c) { return c.NetworkNo() == 300; }},
      {"PCNumber", [](Tarvane& c) { c.SetPCNumber(256); }, [](const Tarvane& c) { return c.PCNumber() == 256; }},
      {"RqstDestMdIO", [](Tarvane& c) { c.SetRqstDestMdIO(65536); },
       [](const Tarvane& c) { return c.RqstDestMdIO() == 65536; }},
      {"RqstDestMdSta", [](Tarvane& c) { c.SetRqstDestMdSta(7); },
       [](const Tarvane& c) { return c.RqstDestMdSta() == 7; }},
      {"PLCType", [](Tarvane& c) { c.SetPLCType(static_cast<MELSECPLCType>(7)); },
       [](const Tarvane& c) { return c.PLCType() == 7; }},
      {"SumCheck", [](Tarvane& c) { c.SetSumCheck(true); }, [](const Tarvane& c) { return c.SumCheck(); }},
      {"PortOpen", [](Tarvane& c) { c.SetPortOpen(true); }, [](const Tarvane& c) { return c.PortOpen(); }},
  };
  control_->InitProperties();
  for (const Row& row : rows) {
    host_.changed.clear();
    row.let(*control_);
    EXPECT_EQ(host_.changed, std::vector<std::string>{row.name});
  }
  MemoryPropertyBag bag;
  control_->WriteProperties(bag);
  EXPECT_EQ(bag.writes(), kKeys);
  EXPECT_EQ(*bag.Find("PortOpen"), Variant(true));
  // The value types the host's bag stores.
  EXPECT_EQ(*bag.Find("Handshaking"), Variant(std::int32_t{3}));
  EXPECT_EQ(*bag.Find("RqstDestMdIO"), Variant(std::int32_t{65536}));
  EXPECT_EQ(*bag.Find("PLCType"), Variant(std::int32_t{7}));
  EXPECT_EQ(*bag.Find("Timeout"), Variant(std::int16_t{-5}));

  testing::TestHost other_host;
  Tarvane loaded(other_host, std::make_unique<testing::MemoryPort>(other_host));
  loaded.ReadProperties(bag);
  for (const Row& row : rows) {
    EXPECT_EQ(row.holds(loaded), std::string(row.name) != "PortOpen") << row.name;
  }

  // The pass-through properties live in the port object, both ways.
  EXPECT_EQ(port_->Settings(), "115200,o,8,1");
  port_->SetSettings("2400,e,7,2");
  EXPECT_EQ(control_->Settings(), "2400,e,7,2");
}

TEST_F(ConfigurationTest, ALetThePortRefusesRaisesAndNotifiesNothing) {
  control_->SetPortOpen(true);
  host_.changed.clear();
  struct Row {
    const char* name;
    std::function<void()> let;
    ErrorNumber error;
  } rows[] = {
      {"CommPort while open", [&] { control_->SetCommPort(2); }, ErrorNumber::PortOpened},
      {"Settings malformed", [&] { control_->SetSettings("fast"); }, ErrorNumber::InvalidPropertyValue},
      {"Handshaking 4", [&] { control_->SetHandshaking(4); }, ErrorNumber::InvalidPropertyValue},
      {"PortOpen twice", [&] { control_->SetPortOpen(true); }, ErrorNumber::PortAlreadyOpen},
  };
  for (const Row& row : rows) EXPECT_EQ(testing::Raised(row.let), row.error) << row.name;
  EXPECT_TRUE(host_.changed.empty());
  EXPECT_EQ(control_->CommPort(), 1);
  EXPECT_EQ(control_->Settings(), "9600,n,8,1");
}

TEST_F(ConfigurationTest, SettingsWithoutCommPortLoadPortOne) {
  MemoryPropertyBag bag;
  bag.Put("Settings", std::string("19200,e,8,1"));
  control_->ReadProperties(bag);
  EXPECT_EQ(control_->CommPort(), 1);
  EXPECT_EQ(control_->Settings(), "19200,e,8,1");
}

TEST_F(ConfigurationTest, AnUnreadableValueStopsTheLoadAtItsKey) {
  MemoryPropertyBag bag;
  bag.Put("Enabled", false);
  bag.Put("CommPort", std::int16_t{4});
  bag.Put("Settings", std::string("4800,n,8,1"));
  bag.Put("Handshaking", std::int32_t{1});
  bag.Put("Timeout", std::string("soon"));
  bag.Put("PCNumber", std::int16_t{7});
  EXPECT_EQ(testing::Raised([&] { control_->ReadProperties(bag); }), ErrorNumber::TypeMismatch);
  EXPECT_FALSE(control_->Enabled());
  EXPECT_EQ(control_->CommPort(), 4);
  EXPECT_EQ(control_->Settings(), "4800,n,8,1");
  EXPECT_EQ(control_->Handshaking(), 1);
  EXPECT_EQ(control_->Timeout(), 0);
  EXPECT_EQ(control_->PCNumber(), 0);
}

TEST_F(ConfigurationTest, ResizeEndsAtTheFixedExtentAndTheAboutBoxIsShownEachTime) {
  for (auto [w, h] : {std::pair{100, 100}, std::pair{5000, 20}}) {
    control_->Resize(w, h);
    EXPECT_EQ(control_->ExtentWidth(), 880);
    EXPECT_EQ(control_->ExtentHeight(), 850);
  }
  control_->ShowAboutBox();
  control_->ShowAboutBox();
  ASSERT_EQ(host_.about_boxes.size(), 2u);
  EXPECT_EQ(host_.about_boxes[1].rfind("Version 19.0.", 0), 0u);
}

}  // namespace
}  // namespace kestova
