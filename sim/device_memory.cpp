#include "sim/device_memory.h"

#include <array>
#include <stdexcept>
#include <string>

namespace kestova::sim {
namespace {

struct FamilyInfo {
  Family family;
  const char* name;
  std::uint8_t code;
  bool bits;
  std::int32_t size;
};

constexpr std::array<FamilyInfo, kFamilyCount> kFamilies{{
    {Family::X, "X", 0x9C, true, 8192},
    {Family::Y, "Y", 0x9D, true, 8192},
    {Family::M, "M", 0x90, true, 20480},
    {Family::B, "B", 0xA0, true, 12288},
    {Family::SM, "SM", 0x91, true, 2048},
    {Family::SB, "SB", 0xA1, true, 2048},
    {Family::L, "L", 0x92, true, 8192},
    {Family::F, "F", 0x93, true, 8192},
    {Family::S, "S", 0x98, true, 8192},
    {Family::D, "D", 0xA8, false, 20480},
    {Family::W, "W", 0xB4, false, 20480},
    {Family::ZR, "ZR", 0xB0, false, 65536},
    {Family::SD, "SD", 0xA9, false, 2048},
    {Family::SW, "SW", 0xB5, false, 2048},
}};

// Devices from this number up are latched in M and D.
constexpr std::int32_t kLatchStart = 10000;

const FamilyInfo& Info(Family family) {
  const auto slot = static_cast<std::size_t>(family);
  if (slot >= kFamilies.size()) throw std::out_of_range("unknown device family");
  return kFamilies[slot];
}

std::size_t Slot(Family family) { return static_cast<std::size_t>(family); }

[[noreturn]] void ThrowRange(Family family, std::int64_t index) {
  throw std::out_of_range(std::string(Info(family).name) + std::to_string(index) +
                          " is outside device memory");
}

}  // namespace

bool IsBitFamily(Family family) { return Info(family).bits; }
std::int32_t FamilySize(Family family) { return Info(family).size; }
std::uint8_t DeviceCode(Family family) { return Info(family).code; }
const char* FamilyName(Family family) { return Info(family).name; }

std::optional<Family> FamilyFromCode(std::uint8_t code) {
  for (const auto& info : kFamilies)
    if (info.code == code) return info.family;
  return std::nullopt;
}

std::optional<Family> FamilyFromName(std::string_view name) {
  for (const auto& info : kFamilies) {
    const std::string_view known(info.name);
    if (known.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < known.size(); ++i) {
      const char c =
          name[i] >= 'a' && name[i] <= 'z' ? static_cast<char>(name[i] - 'a' + 'A') : name[i];
      if (c != known[i]) same = false;
    }
    if (same) return info.family;
  }
  return std::nullopt;
}

DeviceMemory::DeviceMemory() : stores_(kFamilies.size()) {
  for (const auto& info : kFamilies) {
    const auto elements = info.bits ? (info.size + 15) / 16 : info.size;
    stores_[Slot(info.family)].words.assign(static_cast<std::size_t>(elements), 0);
  }
}

bool DeviceMemory::InRange(Family family, std::int64_t head, std::int64_t count) {
  return head >= 0 && count >= 0 && head + count <= FamilySize(family);
}

bool DeviceMemory::Bit(Family family, std::int32_t index) const {
  std::scoped_lock lock(mutex_);
  return BitLocked(family, index);
}

void DeviceMemory::SetBit(Family family, std::int32_t index, bool on) {
  std::scoped_lock lock(mutex_);
  SetBitLocked(family, index, on);
}

std::uint16_t DeviceMemory::Word(Family family, std::int32_t index) const {
  std::scoped_lock lock(mutex_);
  return WordLocked(family, index);
}

void DeviceMemory::SetWord(Family family, std::int32_t index, std::uint16_t value) {
  std::scoped_lock lock(mutex_);
  SetWordLocked(family, index, value);
}

std::vector<std::uint16_t> DeviceMemory::ReadWords(Family family, std::int32_t head,
                                                   std::int32_t count) const {
  const std::int64_t devices = IsBitFamily(family) ? std::int64_t{count} * 16 : count;
  if (!InRange(family, head, devices)) ThrowRange(family, head);
  std::scoped_lock lock(mutex_);
  std::vector<std::uint16_t> words;
  words.reserve(static_cast<std::size_t>(count));
  const std::int32_t step = IsBitFamily(family) ? 16 : 1;
  for (std::int32_t k = 0; k < count; ++k) words.push_back(WordLocked(family, head + k * step));
  return words;
}

void DeviceMemory::WriteWords(Family family, std::int32_t head,
                              std::span<const std::uint16_t> words) {
  const auto count = static_cast<std::int64_t>(words.size());
  const std::int64_t devices = IsBitFamily(family) ? count * 16 : count;
  if (!InRange(family, head, devices)) ThrowRange(family, head);
  std::scoped_lock lock(mutex_);
  const std::int32_t step = IsBitFamily(family) ? 16 : 1;
  for (std::size_t k = 0; k < words.size(); ++k)
    SetWordLocked(family, head + static_cast<std::int32_t>(k) * step, words[k]);
}

bool DeviceMemory::IsLatched(Family family, std::int32_t index) {
  switch (family) {
    case Family::L:
      return true;
    case Family::M:
    case Family::D:
      return index >= kLatchStart;
    default:
      return false;
  }
}

bool DeviceMemory::IsClearable(Family family) {
  switch (family) {
    case Family::X:
    case Family::SM:
    case Family::SB:
    case Family::SD:
    case Family::SW:
    case Family::ZR:
      return false;
    default:
      return true;
  }
}

void DeviceMemory::Clear(bool including_latched) {
  std::scoped_lock lock(mutex_);
  for (const auto& info : kFamilies) {
    if (!IsClearable(info.family)) continue;
    for (std::int32_t i = 0; i < info.size; ++i) {
      if (!including_latched && IsLatched(info.family, i)) continue;
      if (info.bits)
        SetBitLocked(info.family, i, false);
      else
        SetWordLocked(info.family, i, 0);
    }
  }
}

void DeviceMemory::Reset() {
  std::scoped_lock lock(mutex_);
  for (auto& store : stores_) std::fill(store.words.begin(), store.words.end(), 0);
}

bool DeviceMemory::BitLocked(Family family, std::int32_t index) const {
  if (!IsBitFamily(family) || !InRange(family, index, 1)) ThrowRange(family, index);
  const auto& words = stores_[Slot(family)].words;
  return (words[static_cast<std::size_t>(index / 16)] >> (index % 16)) & 1U;
}

void DeviceMemory::SetBitLocked(Family family, std::int32_t index, bool on) {
  if (!IsBitFamily(family) || !InRange(family, index, 1)) ThrowRange(family, index);
  auto& word = stores_[Slot(family)].words[static_cast<std::size_t>(index / 16)];
  const auto mask = static_cast<std::uint16_t>(1U << (index % 16));
  word = on ? static_cast<std::uint16_t>(word | mask) : static_cast<std::uint16_t>(word & ~mask);
}

std::uint16_t DeviceMemory::WordLocked(Family family, std::int32_t index) const {
  if (!IsBitFamily(family)) {
    if (!InRange(family, index, 1)) ThrowRange(family, index);
    return stores_[Slot(family)].words[static_cast<std::size_t>(index)];
  }
  if (!InRange(family, index, 16)) ThrowRange(family, index);
  std::uint16_t value = 0;
  for (std::int32_t b = 0; b < 16; ++b)
    if (BitLocked(family, index + b)) value = static_cast<std::uint16_t>(value | (1U << b));
  return value;
}

void DeviceMemory::SetWordLocked(Family family, std::int32_t index, std::uint16_t value) {
  if (!IsBitFamily(family)) {
    if (!InRange(family, index, 1)) ThrowRange(family, index);
    stores_[Slot(family)].words[static_cast<std::size_t>(index)] = value;
    return;
  }
  if (!InRange(family, index, 16)) ThrowRange(family, index);
  for (std::int32_t b = 0; b < 16; ++b) SetBitLocked(family, index + b, (value >> b) & 1U);
}

}  // namespace kestova::sim
