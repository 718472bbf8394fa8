// The configuration properties: their three starting states, the change notification of
// every let, what the serial port object refuses, and the property bag round trip, each
// seen through what the control saves.

#include <gtest/gtest.h>

#include <functional>

#include "kestova/tarvane.h"
#include "support/control_fixture.h"
#include "support/raised.h"

namespace kestova {
namespace {

using ConfigurationTest = testing::ControlFixture;

// What a control saves, one key=value per property in the order written, each value
// tagged with the type the host's bag stores: b Boolean, i Integer, l Long, s String.
std::string Saved(const Tarvane& control) {
  MemoryPropertyBag bag;
  control.WriteProperties(bag);
  std::string out;
  for (const auto& [key, value] : bag.entries()) {
    out += (out.empty() ? "" : " ") + key + "=" + "bils"[value.index()] + VariantToString(value);
  }
  return out;
}

// Zeros until InitProperties; the defaults after it or after loading an empty bag (which
// is asked for every key but PortOpen). The port keeps its own initial state throughout.
TEST_F(ConfigurationTest, CreationInitPropertiesAndAnEmptyBagStartSilently) {
  EXPECT_EQ(Saved(*control_),
            "Enabled=bFalse CommPort=i1 Settings=s9600,n,8,1 Handshaking=l0 Timeout=i0 StationNo=i0 NetworkNo=i0 "
            "PCNumber=i0 RqstDestMdIO=l0 RqstDestMdSta=i0 PLCType=l0 SumCheck=bFalse PortOpen=bFalse");
  const std::string defaults =
      "Enabled=bTrue CommPort=i1 Settings=s9600,n,8,1 Handshaking=l0 Timeout=i3 StationNo=i0 NetworkNo=i0 "
      "PCNumber=i255 RqstDestMdIO=l1023 RqstDestMdSta=i0 PLCType=l0 SumCheck=bFalse PortOpen=bFalse";
  control_->InitProperties();
  EXPECT_EQ(Saved(*control_), defaults);

  MemoryPropertyBag empty;
  testing::TestHost other_host;
  Tarvane loaded(other_host, std::make_unique<testing::MemoryPort>(other_host));
  loaded.ReadProperties(empty);
  EXPECT_EQ(Saved(loaded), defaults);
  EXPECT_EQ(empty.reads(), (std::vector<std::string>{"Enabled", "CommPort", "Settings", "Handshaking", "Timeout",
                                                     "StationNo", "NetworkNo", "PCNumber", "RqstDestMdIO",
                                                     "RqstDestMdSta", "PLCType", "SumCheck"}));
  EXPECT_TRUE(host_.changed.empty());
  EXPECT_TRUE(other_host.changed.empty());
}

// Every let stores any value unchecked and notifies under the property's name; saving
// and loading keep every value but the port's state.
TEST_F(ConfigurationTest, EveryLetNotifiesAndSurvivesSaveAndLoad) {
  const std::pair<const char*, std::function<void(Tarvane&)>> lets[] = {
      {"Enabled", [](Tarvane& c) { c.SetEnabled(false); }},
      {"CommPort", [](Tarvane& c) { c.SetCommPort(5); }},
      {"Settings", [](Tarvane& c) { c.SetSettings("115200,o,8,1"); }},
      {"Handshaking", [](Tarvane& c) { c.SetHandshaking(3); }},
      {"Timeout", [](Tarvane& c) { c.SetTimeout(-5); }},
      {"StationNo", [](Tarvane& c) { c.SetStationNo(-1); }},
      {"NetworkNo", [](Tarvane& c) { c.SetNetworkNo(300); }},
      {"PCNumber", [](Tarvane& c) { c.SetPCNumber(256); }},
      {"RqstDestMdIO", [](Tarvane& c) { c.SetRqstDestMdIO(65536); }},
      {"RqstDestMdSta", [](Tarvane& c) { c.SetRqstDestMdSta(7); }},
      {"PLCType", [](Tarvane& c) { c.SetPLCType(static_cast<MELSECPLCType>(7)); }},
      {"SumCheck", [](Tarvane& c) { c.SetSumCheck(true); }},
      {"PortOpen", [](Tarvane& c) { c.SetPortOpen(true); }},
  };
  control_->InitProperties();
  for (const auto& [name, let] : lets) {
    host_.changed.clear();
    let(*control_);
    EXPECT_EQ(host_.changed, std::vector<std::string>{name});
  }
  const std::string saved =
      "Enabled=bFalse CommPort=i5 Settings=s115200,o,8,1 Handshaking=l3 Timeout=i-5 StationNo=i-1 NetworkNo=i300 "
      "PCNumber=i256 RqstDestMdIO=l65536 RqstDestMdSta=i7 PLCType=l7 SumCheck=bTrue PortOpen=b";
  EXPECT_EQ(Saved(*control_), saved + "True");
  MemoryPropertyBag bag;
  control_->WriteProperties(bag);
  testing::TestHost other_host;
  Tarvane loaded(other_host, std::make_unique<testing::MemoryPort>(other_host));
  loaded.ReadProperties(bag);
  EXPECT_EQ(Saved(loaded), saved + "False");

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

// A load stops at a value it cannot read, keeping what came before; a Settings saved
// without a CommPort loads with port 1.
TEST_F(ConfigurationTest, AnUnreadableValueStopsTheLoadAtItsKey) {
  MemoryPropertyBag bag;
  bag.Put("Enabled", false);
  bag.Put("Settings", std::string("4800,n,8,1"));
  bag.Put("Handshaking", std::int32_t{1});
  bag.Put("Timeout", std::string("soon"));
  bag.Put("PCNumber", std::int16_t{7});
  EXPECT_EQ(testing::Raised([&] { control_->ReadProperties(bag); }), ErrorNumber::TypeMismatch);
  const std::string loaded = "Enabled=bFalse CommPort=i1 Settings=s4800,n,8,1 Handshaking=l1 Timeout=i0 ";
  EXPECT_EQ(Saved(*control_).substr(0, loaded.size()), loaded);
  EXPECT_NE(Saved(*control_).find(" PCNumber=i0 "), std::string::npos);
}

TEST_F(ConfigurationTest, TheAboutBoxIsShownEachTime) {
  control_->ShowAboutBox();
  control_->ShowAboutBox();
  ASSERT_EQ(host_.about_boxes.size(), 2u);
  EXPECT_EQ(host_.about_boxes[1].rfind("Version 19.0.", 0), 0u);
}

}  // namespace
}  // namespace kestova
