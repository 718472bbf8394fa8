#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kestova::sim {

// The fourteen device families the station holds.
enum class Family { X, Y, M, B, SM, SB, L, F, S, D, W, ZR, SD, SW };

inline constexpr int kFamilyCount = 14;

// True for the families numbered per bit (X to S); the rest hold 16-bit words.
bool IsBitFamily(Family family);

// Number of devices of a family: bits for a bit family, words for a word family.
// X, Y, L, F, S 8192; M 20480; B 12288; SM, SB 2048; D, W 20480; SD, SW 2048; ZR 65536.
std::int32_t FamilySize(Family family);

// One-byte binary device code of the family on the wire (X 0x9C ... ZR 0xB0).
std::uint8_t DeviceCode(Family family);
std::optional<Family> FamilyFromCode(std::uint8_t code);

// Short name used in texts and on the command line ("X", "ZR").
const char* FamilyName(Family family);
std::optional<Family> FamilyFromName(std::string_view name);

// Device memory of the station. Every accessor locks, so a test thread may arrange and
// inspect memory while the server thread answers requests; the multi-word calls are
// atomic as a whole.
//
// Indexes are device numbers. For a bit family, Word(f, i) packs the 16 bits from device
// i upwards, bit 0 = device i, so i need not be a multiple of 16 (the wire allows any head).
// Any index outside the family (for Word on a bit family: any of its 16 bits) throws
// std::out_of_range and changes nothing.
class DeviceMemory {
 public:
  DeviceMemory();
  DeviceMemory(const DeviceMemory&) = delete;
  DeviceMemory& operator=(const DeviceMemory&) = delete;

  bool Bit(Family family, std::int32_t index) const;
  void SetBit(Family family, std::int32_t index, bool on);

  std::uint16_t Word(Family family, std::int32_t index) const;
  void SetWord(Family family, std::int32_t index, std::uint16_t value);

  // `count` words from `head` (for a bit family: 16 * count bits), all or nothing.
  std::vector<std::uint16_t> ReadWords(Family family, std::int32_t head, std::int32_t count) const;
  void WriteWords(Family family, std::int32_t head, std::span<const std::uint16_t> words);

  // True when [head, head + count) devices lie inside the family (count in devices).
  static bool InRange(Family family, std::int64_t head, std::int64_t count);

  // Latch range: kept by a remote RUN with clear mode 1, cleared with clear mode 2.
  // All of L, M10000 and up, D10000 and up. X (inputs from the field), SM, SD, SB, SW
  // (system areas) and ZR (file memory) are never cleared by a remote operation.
  static bool IsLatched(Family family, std::int32_t index);
  static bool IsClearable(Family family);

  // Clears clearable memory; the latch range too when `including_latched`.
  void Clear(bool including_latched);

  // Everything to zero, as at power-on.
  void Reset();

 private:
  struct Store {
    std::vector<std::uint16_t> words;  // bit families packed 16 bits per element
  };

  bool BitLocked(Family family, std::int32_t index) const;
  void SetBitLocked(Family family, std::int32_t index, bool on);
  std::uint16_t WordLocked(Family family, std::int32_t index) const;
  void SetWordLocked(Family family, std::int32_t index, std::uint16_t value);

  mutable std::mutex mutex_;
  std::vector<Store> stores_;
};

}  // namespace kestova::sim
