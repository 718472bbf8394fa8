#pragma once
// The fourteen device families and every fact the control knows of each: its name and
// notation, bit or word, its MC protocol device code, its address limit, which operations
// take it and the texts they raise when an address is refused. The operations, the device
// image and the command-line tool read them here; nothing else spells them out.
//
// The limits are the control's own fixed limits, one set for every PLC: PLCType is stored
// and saved but changes no behaviour, so no limit depends on it.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace kestova {

enum class DeviceFamily { X, Y, M, B, SM, SB, L, F, S, D, W, ZR, SD, SW };
inline constexpr int kDeviceFamilyCount = 14;

struct DeviceFamilyFacts {
  DeviceFamily family;
  std::string_view name;  // upper case, as the PLC writes it: "X", "SB", "ZR"
  int notation_radix;     // the PLC numbers X, Y, B, W, SB and SW in hexadecimal
  bool bits;              // a bit family: 16 devices per word in a batch read
  std::uint8_t device_code;
  // The highest address the operations accept, and the highest element of the family's
  // image array.
  std::int32_t limit;
  // Whether the family's image getter returns False / 0 above the limit. SB, SW and ZR
  // have no guard of their own: there the array's bounds test raises error 9.
  bool getter_guarded;
  // The event text of a refused address, per operation; nullptr where the family has no
  // such method (only D, W and ZR are written as words, only M, Y, B, L, F and S switched).
  const char* read_refused;
  const char* word_write_refused;
  const char* set_refused;
  const char* reset_refused;
  const char* block_write_refused;
};

// Every family, in DeviceFamily order.
std::span<const DeviceFamilyFacts, kDeviceFamilyCount> AllDeviceFamilies();
const DeviceFamilyFacts& FactsOf(DeviceFamily family);

inline bool IsBitFamily(DeviceFamily family) { return FactsOf(family).bits; }
inline std::int32_t LastImageIndex(DeviceFamily family) { return FactsOf(family).limit; }
inline bool TakesWordWrite(DeviceFamily family) { return FactsOf(family).word_write_refused != nullptr; }
inline bool TakesBitWrite(DeviceFamily family) { return FactsOf(family).set_refused != nullptr; }
inline bool TakesBlockWrite(DeviceFamily family) { return FactsOf(family).block_write_refused != nullptr; }

}  // namespace kestova
