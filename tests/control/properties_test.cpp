#include <gtest/gtest.h>

#include <memory>

#include "kestova/tarvane.h"
#include "link/automation_error.h"
#include "support/control_fixture.h"

namespace kestova {
namespace {

using PropertiesTest = testing::ControlFixture;

TEST_F(PropertiesTest, CreationHoldsZerosAndAClosedPort) {
  EXPECT_FALSE(control_->Enabled());
  EXPECT_EQ(control_->Timeout(), 0);
  EXPECT_EQ(control_->PCNumber(), 0);
  EXPECT_EQ(control_->RqstDestMdIO(), 0);
  EXPECT_FALSE(control_->SumCheck());
  EXPECT_FALSE(control_->PortOpen());
}

TEST_F(PropertiesTest, InitPropertiesSetsTheDefaultsSilently) {
  control_->InitProperties();
  EXPECT_TRUE(control_->Enabled());
  EXPECT_EQ(control_->CommPort(), 1);
  EXPECT_EQ(control_->Settings(), "9600,n,8,1");
  EXPECT_EQ(control_->Handshaking(), 0);
  EXPECT_EQ(control_->Timeout(), 3);
  EXPECT_EQ(control_->StationNo(), 0);
  EXPECT_EQ(control_->NetworkNo(), 0);
  EXPECT_EQ(control_->PCNumber(), 255);
  EXPECT_EQ(control_->RqstDestMdIO(), 1023);
  EXPECT_EQ(control_->RqstDestMdSta(), 0);
  EXPECT_EQ(control_->PLCType(), Q_Fundmental);
  EXPECT_FALSE(control_->SumCheck());
  EXPECT_FALSE(control_->PortOpen());
  EXPECT_TRUE(host_.changed.empty());
}

TEST_F(PropertiesTest, LetsStoreAnyValueAndNotifyUnderTheirName) {
  control_->InitProperties();
  control_->SetEnabled(false);
  control_->SetTimeout(-5);
  control_->SetStationNo(-1);
  control_->SetNetworkNo(300);
  control_->SetPCNumber(256);
  control_->SetRqstDestMdIO(65536);
  control_->SetRqstDestMdSta(7);
  control_->SetPLCType(static_cast<MELSECPLCType>(7));
  control_->SetSumCheck(true);
  control_->SetCommPort(4);
  control_->SetSettings("19200,e,7,2");
  control_->SetHandshaking(2);
  control_->SetPortOpen(true);
  EXPECT_FALSE(control_->Enabled());
  EXPECT_EQ(control_->Timeout(), -5);
  EXPECT_EQ(control_->StationNo(), -1);
  EXPECT_EQ(control_->NetworkNo(), 300);
  EXPECT_EQ(control_->PCNumber(), 256);
  EXPECT_EQ(control_->RqstDestMdIO(), 65536);
  EXPECT_EQ(control_->RqstDestMdSta(), 7);
  EXPECT_EQ(control_->PLCType(), 7);
  EXPECT_TRUE(control_->SumCheck());
  EXPECT_EQ((std::vector<std::string>{"Enabled", "Timeout", "StationNo", "NetworkNo", "PCNumber",
                                      "RqstDestMdIO", "RqstDestMdSta", "PLCType", "SumCheck", "CommPort",
                                      "Settings", "Handshaking", "PortOpen"}),
            host_.changed);
}

TEST_F(PropertiesTest, PassThroughPropertiesReadThePort) {
  control_->SetCommPort(3);
  port_->SetSettings("2400,o,8,1");
  port_->SetPortOpen(true);
  EXPECT_EQ(control_->CommPort(), 3);
  EXPECT_EQ(control_->Settings(), "2400,o,8,1");
  EXPECT_TRUE(control_->PortOpen());
}

TEST_F(PropertiesTest, ALetThePortRefusesRaisesAndNotifiesNothing) {
  control_->SetPortOpen(true);
  host_.changed.clear();
  struct Case {
    const char* name;
    std::function<void()> let;
    ErrorNumber error;
  } cases[] = {
      {"CommPort while open", [&] { control_->SetCommPort(2); }, ErrorNumber::PortOpened},
      {"Settings malformed", [&] { control_->SetSettings("fast"); }, ErrorNumber::InvalidPropertyValue},
      {"Handshaking 4", [&] { control_->SetHandshaking(4); }, ErrorNumber::InvalidPropertyValue},
      {"PortOpen twice", [&] { control_->SetPortOpen(true); }, ErrorNumber::PortAlreadyOpen},
  };
  for (const Case& c : cases) {
    try {
      c.let();
      ADD_FAILURE() << c.name << ": no error";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), c.error) << c.name;
    }
  }
  EXPECT_TRUE(host_.changed.empty());
  EXPECT_EQ(control_->CommPort(), 1);
  EXPECT_EQ(control_->Settings(), "9600,n,8,1");
}

TEST_F(PropertiesTest, EveryResizeEndsAtTheFixedExtent) {
  for (auto [w, h] : {std::pair{100, 100}, std::pair{5000, 20}, std::pair{880, 850}}) {
    control_->Resize(w, h);
    EXPECT_EQ(control_->ExtentWidth(), 880);
    EXPECT_EQ(control_->ExtentHeight(), 850);
  }
}

TEST_F(PropertiesTest, TheAboutBoxShowsTheVersionEachTime) {
  control_->ShowAboutBox();
  control_->ShowAboutBox();
  ASSERT_EQ(host_.about_boxes.size(), 2u);
  EXPECT_EQ(host_.about_boxes[0].rfind("Version 19.0.", 0), 0u);
}

}  // namespace
}  // namespace kestova
