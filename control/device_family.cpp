#include "control/device_family.h"

namespace kestova {
namespace {

using F = DeviceFamily;
constexpr int kHex = 16;
constexpr int kDecimal = 10;
constexpr bool kBits = true;
constexpr bool kWords = false;
constexpr bool kGuarded = true;
constexpr bool kUnguarded = false;

// The texts are the control's own, blanks included: SetY's text starts with a blank and
// ResetY's does not, SD reports with the D text, and only the ZR block-write text has a
// comma after "limit".
constexpr std::array<DeviceFamilyFacts, kDeviceFamilyCount> kFamilies{{
    // family name radix  kind    code  limit  getter      read                  word write              set                              reset                            block write
    {F::X,  "X",  kHex,     kBits,  0x9C, 8191,  kGuarded,   "XAddress Invalid",   nullptr,                nullptr,                         nullptr,                         nullptr},
    {F::Y,  "Y",  kHex,     kBits,  0x9D, 8191,  kGuarded,   "YAddress Invalid",   nullptr,                " Y Address OverLimit",          "Y Address OverLimit",           nullptr},
    {F::M,  "M",  kDecimal, kBits,  0x90, 20000, kGuarded,   "M Address Invalid",  nullptr,                "M Address OverLimit",           "M Address OverLimit",           nullptr},
    {F::B,  "B",  kHex,     kBits,  0xA0, 12287, kGuarded,   "B Address Invalid",  nullptr,                "B Address OverLimit",           "B Address OverLimit",           nullptr},
    {F::SM, "SM", kDecimal, kBits,  0x91, 2047,  kGuarded,   "SM Address Invalid", nullptr,                nullptr,                         nullptr,                         nullptr},
    {F::SB, "SB", kHex,     kBits,  0xA1, 2047,  kUnguarded, "SB Address Invalid", nullptr,                nullptr,                         nullptr,                         nullptr},
    {F::L,  "L",  kDecimal, kBits,  0x92, 8191,  kGuarded,   "L Address Invalid",  nullptr,                "L Address OverLimit, max 8191", "L Address OverLimit, max 8191", nullptr},
    {F::F,  "F",  kDecimal, kBits,  0x93, 8191,  kGuarded,   "F Address Invalid",  nullptr,                "F Address OverLimit, max 8191", "F Address OverLimit, max 8191", nullptr},
    {F::S,  "S",  kDecimal, kBits,  0x98, 8191,  kGuarded,   "S Address Invalid",  nullptr,                "S Address OverLimit, max 8191", "S Address OverLimit, max 8191", nullptr},
    {F::D,  "D",  kDecimal, kWords, 0xA8, 20000, kGuarded,   "D Address Invalid",  "D Address OverLimit",  nullptr,                         nullptr,                         "D Address over limit 0 - 20000"},
    {F::W,  "W",  kHex,     kWords, 0xB4, 20000, kGuarded,   "W Address Invalid",  "W Address OverLimit",  nullptr,                         nullptr,                         "W Address over limit 0 - 20000"},
    {F::ZR, "ZR", kDecimal, kWords, 0xB0, 64000, kUnguarded, "ZR Address Invalid", "ZR Address OverLimit", nullptr,                         nullptr,                         "ZR Address over limit, 0 - 64000"},
    {F::SD, "SD", kDecimal, kWords, 0xA9, 2047,  kGuarded,   "D Address Invalid",  nullptr,                nullptr,                         nullptr,                         nullptr},
    {F::SW, "SW", kHex,     kWords, 0xB5, 2047,  kUnguarded, "SW Address Invalid", nullptr,                nullptr,                         nullptr,                         nullptr},
}};

// The table is indexed by the enumeration; a row out of place would hand one family
// another's facts.
constexpr bool InEnumerationOrder() {
  for (int k = 0; k < kDeviceFamilyCount; ++k) {
    if (static_cast<int>(kFamilies[static_cast<std::size_t>(k)].family) != k) return false;
  }
  return true;
}
static_assert(InEnumerationOrder());

}  // namespace

std::span<const DeviceFamilyFacts, kDeviceFamilyCount> AllDeviceFamilies() { return kFamilies; }

const DeviceFamilyFacts& FactsOf(DeviceFamily family) {
  return kFamilies[static_cast<std::size_t>(family)];
}

}  // namespace kestova
