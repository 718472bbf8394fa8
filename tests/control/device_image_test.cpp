#include <gtest/gtest.h>

#include <functional>

#include "kestova/tarvane.h"
#include "support/raised.h"
#include "support/memory_port.h"

namespace kestova {
namespace {

struct GetterCase {
  const char* name;
  std::function<int(const Tarvane&, std::int32_t)> get;
  std::int32_t last_element;  // highest index inside the array
  std::int32_t guard;         // above it: False / 0 without an error; -1: no guard
};

std::vector<GetterCase> Getters() {
  return {
      {"PLCX", [](const Tarvane& t, std::int32_t i) { return int(t.PLCX(i)); }, 8191, 8191},
      {"PLCY", [](const Tarvane& t, std::int32_t i) { return int(t.PLCY(i)); }, 8191, 8191},
      {"PLCM", [](const Tarvane& t, std::int32_t i) { return int(t.PLCM(i)); }, 20000, 20000},
      {"PLCB", [](const Tarvane& t, std::int32_t i) { return int(t.PLCB(i)); }, 12287, 12287},
      {"PLCD", [](const Tarvane& t, std::int32_t i) { return int(t.PLCD(i)); }, 20000, 20000},
      {"PLCW", [](const Tarvane& t, std::int32_t i) { return int(t.PLCW(i)); }, 20000, 20000},
      {"PLCZR", [](const Tarvane& t, std::int32_t i) { return int(t.PLCZR(i)); }, 64000, -1},
      {"PLCSM", [](const Tarvane& t, std::int32_t i) { return int(t.PLCSM(i)); }, 2047, 2047},
      {"PLCSD", [](const Tarvane& t, std::int32_t i) { return int(t.PLCSD(i)); }, 2047, 2047},
      {"PLCSB", [](const Tarvane& t, std::int32_t i) { return int(t.PLCSB(i)); }, 2047, -1},
      {"PLCSW", [](const Tarvane& t, std::int32_t i) { return int(t.PLCSW(i)); }, 2047, -1},
      {"PLCL", [](const Tarvane& t, std::int32_t i) { return int(t.PLCL(i)); }, 8191, 8191},
      {"PLCF", [](const Tarvane& t, std::int32_t i) { return int(t.PLCF(i)); }, 8191, 8191},
      {"PLCS", [](const Tarvane& t, std::int32_t i) { return int(t.PLCS(i)); }, 8191, 8191},
  };
}

bool RaisesSubscript(const std::function<void()>& f) {
  return testing::Raised(f) == ErrorNumber::SubscriptOutOfRange;
}

TEST(DeviceImage, GettersGuardTheirIndexes) {
  testing::TestHost host;
  Tarvane control(host, std::make_unique<testing::MemoryPort>(host));
  for (const GetterCase& c : Getters()) {
    EXPECT_EQ(c.get(control, 0), 0) << c.name;
    EXPECT_EQ(c.get(control, c.last_element), 0) << c.name;
    EXPECT_TRUE(RaisesSubscript([&] { c.get(control, -1); })) << c.name;
    if (c.guard >= 0) {
      EXPECT_EQ(c.get(control, c.guard + 1), 0) << c.name << " above the guard";
    } else {
      EXPECT_TRUE(RaisesSubscript([&] { c.get(control, c.last_element + 1); })) << c.name;
    }
  }
}

TEST(DeviceImage, WritersStayInsideTheArrays) {
  DeviceImage image;
  image.SetWord(DeviceFamily::ZR, 64000, -7);
  EXPECT_EQ(image.Word(DeviceFamily::ZR, 64000), -7);
  EXPECT_TRUE(RaisesSubscript([&] { image.SetBit(DeviceFamily::X, 8192, true); }));
  EXPECT_TRUE(RaisesSubscript([&] { image.SetWord(DeviceFamily::SD, -1, 1); }));
}

}  // namespace
}  // namespace kestova
