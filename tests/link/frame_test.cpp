#include "link/frame.h"

#include <gtest/gtest.h>

#include "link/automation_error.h"
#include "support/bytes.h"
#include "support/raised.h"

namespace kestova {
namespace {

using testing::Bytes;
using testing::Spaced;

Request Read(std::vector<std::uint8_t> data) { return {0x0000, 0x0401, 0x0000, std::move(data)}; }
Request Write(std::vector<std::uint8_t> data) { return {0x0000, 0x1401, 0x0000, std::move(data)}; }
Request BitWrite(std::vector<std::uint8_t> data) { return {0x0013, 0x1402, 0x0001, std::move(data)}; }
Request Remote(std::uint16_t command, std::vector<std::uint8_t> data) {
  return {0x0000, command, 0x0000, std::move(data)};
}

TEST(BuildFrame, SendsTheExactWireBytes) {
  const Routing kDefaults{};
  const struct {
    const char* name;
    Request request;
    Routing routing;
    bool sum_check;
    const char* wire;
  } cases[] = {
      {"read D100 x2, sum 0x40C: leading 0", Read(Bytes("64 00 00 A8 02 00")), kDefaults, true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 02 00 10 03 30 43"},
      {"read D100 x2, no sum", Read(Bytes("64 00 00 A8 02 00")), kDefaults, false,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 04 00 00 64 00 00 A8 02 00 10 03"},
      {"WriteD(100, 5), no sum", Write(Bytes("64 00 00 A8 01 00 05 00")), kDefaults, false,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 64 00 00 A8 01 00 05 00 10 03"},
      {"WriteD(16, 4096): both 0x10 doubled", Write(Bytes("10 00 00 A8 01 00 00 10")), kDefaults, false,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 10 10 00 00 A8 01 00 00 10 10 10 03"},
      {"ResetM(0), no sum", BitWrite(Bytes("01 00 00 00 90 00")), kDefaults, false,
       "10 02 13 00 F8 00 00 FF FF 03 00 00 02 14 01 00 01 00 00 00 90 00 10 03"},
      {"ResetM(0), sum 0x3B4", BitWrite(Bytes("01 00 00 00 90 00")), kDefaults, true,
       "10 02 13 00 F8 00 00 FF FF 03 00 00 02 14 01 00 01 00 00 00 90 00 10 03 42 34"},
      {"SetM(16): counted once in the sum", BitWrite(Bytes("01 10 00 00 90 01")), kDefaults, true,
       "10 02 13 00 F8 00 00 FF FF 03 00 00 02 14 01 00 01 10 10 00 00 90 01 10 03 43 35"},
      {"block ZR16 [0x1010]", Write(Bytes("10 00 00 B0 01 00 10 10")), kDefaults, true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 14 00 00 10 10 00 00 B0 01 00 10 10 10 10 10 03 45 46"},
      {"RemoteRun(1, 1)", Remote(0x1001, Bytes("01 00 01 00")), kDefaults, true,
       "10 02 00 00 F8 00 00 FF FF 03 00 00 01 10 10 00 00 01 00 01 00 10 03 30 43"},
      {"StationNo 16 doubled", Read(Bytes("00 00 00 A8 01 00")), Routing{16, 0, 0xFF, 0x3FF, 0}, false,
       "10 02 00 00 F8 10 10 00 FF FF 03 00 00 01 04 00 00 00 00 00 A8 01 00 10 03"},
      {"PC 0, I/O 0: sum 0xFD", Read(Bytes("00 00 00 00 00 00")), Routing{0, 0, 0, 0, 0}, true,
       "10 02 00 00 F8 00 00 00 00 00 00 00 01 04 00 00 00 00 00 00 00 00 10 03 46 44"},
  };
  for (const auto& c : cases) {
    const WireFrame frame = BuildFrame(c.request, c.routing, c.sum_check);
    EXPECT_EQ(Spaced(frame.bytes), c.wire) << c.name;
    std::string text(c.wire);
    std::erase(text, ' ');
    EXPECT_EQ(frame.text, text) << c.name;
  }
}

TEST(BuildFrame, RoutingOutsideItsByteRangeOverflowsBeforeAnything) {
  const std::pair<const char*, Routing> cases[] = {
      {"RqstDestMdIO 65536", Routing{0, 0, 0xFF, 65536, 0}},
      {"RqstDestMdIO -1", Routing{0, 0, 0xFF, -1, 0}},
      {"PCNumber 256", Routing{0, 0, 256, 0x3FF, 0}},
      {"StationNo -1", Routing{-1, 0, 0xFF, 0x3FF, 0}},
      {"RqstDestMdSta 300", Routing{0, 0, 0xFF, 0x3FF, 300}},
  };
  for (const auto& [name, routing] : cases) {
    EXPECT_EQ(testing::Raised([&] { BuildFrame(Read({}), routing, true); }), ErrorNumber::Overflow) << name;
  }
  EXPECT_NO_THROW(BuildFrame(Read({}), Routing{255, 255, 255, 65535, 255}, true));
}

TEST(DeviceNumberBytes, LowFirstAndRangeTested) {
  EXPECT_EQ(DeviceNumberBytes(100), (std::array<std::uint8_t, 3>{0x64, 0x00, 0x00}));
  EXPECT_EQ(DeviceNumberBytes(64000), (std::array<std::uint8_t, 3>{0x00, 0xFA, 0x00}));
  for (std::int32_t bad : {-1, 65536, INT32_MIN}) {
    EXPECT_THROW(DeviceNumberBytes(bad), AutomationError) << bad;
  }
}

// Two digits for a byte; a number without leading zeros, as a device code in a record.
TEST(HexText, RendersAsTheLogShowsIt) {
  EXPECT_EQ(HexByte(0x05), "05");
  EXPECT_EQ(HexNumber(0x05), "5");
  EXPECT_EQ(HexNumber(0x9C), "9C");
}

}  // namespace
}  // namespace kestova
