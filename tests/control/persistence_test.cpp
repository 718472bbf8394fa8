#include <gtest/gtest.h>

#include "kestova/tarvane.h"
#include "link/automation_error.h"
#include "support/control_fixture.h"

namespace kestova {
namespace {

const std::vector<std::string> kKeys = {"Enabled",   "CommPort",      "Settings",  "Handshaking", "Timeout",
                                        "StationNo", "NetworkNo",     "PCNumber",  "RqstDestMdIO",
                                        "RqstDestMdSta", "PLCType", "SumCheck", "PortOpen"};

using PersistenceTest = testing::ControlFixture;

TEST_F(PersistenceTest, AnEmptyBagLoadsTheDefaultsAndAClosedPort) {
  MemoryPropertyBag bag;
  control_->ReadProperties(bag);
  EXPECT_TRUE(control_->Enabled());
  EXPECT_EQ(control_->CommPort(), 1);
  EXPECT_EQ(control_->Settings(), "9600,n,8,1");
  EXPECT_EQ(control_->Handshaking(), 0);
  EXPECT_EQ(control_->Timeout(), 3);
  EXPECT_EQ(control_->PCNumber(), 255);
  EXPECT_EQ(control_->RqstDestMdIO(), 1023);
  EXPECT_EQ(control_->PLCType(), Q_Fundmental);
  EXPECT_FALSE(control_->SumCheck());
  EXPECT_FALSE(control_->PortOpen());
  EXPECT_EQ(bag.reads(), std::vector<std::string>(kKeys.begin(), kKeys.end() - 1));
  EXPECT_TRUE(host_.changed.empty());
}

TEST_F(PersistenceTest, SavesThirteenKeysInOrderWithTheirTypes) {
  control_->InitProperties();
  control_->SetPortOpen(true);
  MemoryPropertyBag bag;
  control_->WriteProperties(bag);
  EXPECT_EQ(bag.writes(), kKeys);
  EXPECT_EQ(*bag.Find("PortOpen"), Variant(true));
  EXPECT_EQ(*bag.Find("Handshaking"), Variant(std::int32_t{0}));
  EXPECT_EQ(*bag.Find("RqstDestMdIO"), Variant(std::int32_t{1023}));
  EXPECT_EQ(*bag.Find("PLCType"), Variant(std::int32_t{0}));
  EXPECT_EQ(*bag.Find("Timeout"), Variant(std::int16_t{3}));

  // Loading that bag leaves the port closed.
  testing::TestHost other_host;
  Tarvane reloaded(other_host, std::make_unique<testing::MemoryPort>(other_host));
  reloaded.ReadProperties(bag);
  EXPECT_FALSE(reloaded.PortOpen());
  EXPECT_EQ(reloaded.PCNumber(), 255);
}

TEST_F(PersistenceTest, ARoundTripKeepsEveryValue) {
  control_->InitProperties();
  control_->SetCommPort(5);
  control_->SetSettings("115200,o,8,1");
  control_->SetHandshaking(3);
  control_->SetTimeout(9);
  control_->SetStationNo(-1);
  control_->SetRqstDestMdIO(0x3E0);
  control_->SetPLCType(Q_HighPerformance);
  control_->SetSumCheck(true);
  control_->SetEnabled(false);
  MemoryPropertyBag bag;
  control_->WriteProperties(bag);
  testing::TestHost other_host;
  Tarvane reloaded(other_host, std::make_unique<testing::MemoryPort>(other_host));
  reloaded.ReadProperties(bag);
  EXPECT_EQ(reloaded.CommPort(), 5);
  EXPECT_EQ(reloaded.Settings(), "115200,o,8,1");
  EXPECT_EQ(reloaded.Handshaking(), 3);
  EXPECT_EQ(reloaded.Timeout(), 9);
  EXPECT_EQ(reloaded.StationNo(), -1);
  EXPECT_EQ(reloaded.RqstDestMdIO(), 0x3E0);
  EXPECT_EQ(reloaded.PLCType(), Q_HighPerformance);
  EXPECT_TRUE(reloaded.SumCheck());
  EXPECT_FALSE(reloaded.Enabled());
}

TEST_F(PersistenceTest, SettingsWithoutCommPortLoadPortOne) {
  MemoryPropertyBag bag;
  bag.Put("Settings", std::string("19200,e,8,1"));
  control_->ReadProperties(bag);
  EXPECT_EQ(control_->CommPort(), 1);
  EXPECT_EQ(control_->Settings(), "19200,e,8,1");
}

TEST_F(PersistenceTest, AnUnreadableValueStopsTheLoadAtItsKey) {
  MemoryPropertyBag bag;
  bag.Put("Enabled", false);
  bag.Put("CommPort", std::int16_t{4});
  bag.Put("Settings", std::string("4800,n,8,1"));
  bag.Put("Handshaking", std::int32_t{1});
  bag.Put("Timeout", std::string("soon"));
  bag.Put("PCNumber", std::int16_t{7});
  try {
    control_->ReadProperties(bag);
    FAIL() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), ErrorNumber::TypeMismatch);
  }
  EXPECT_FALSE(control_->Enabled());
  EXPECT_EQ(control_->CommPort(), 4);
  EXPECT_EQ(control_->Settings(), "4800,n,8,1");
  EXPECT_EQ(control_->Handshaking(), 1);
  EXPECT_EQ(control_->Timeout(), 0);
  EXPECT_EQ(control_->PCNumber(), 0);
  EXPECT_FALSE(control_->SumCheck());
}

}  // namespace
}  // namespace kestova
