#pragma once
// The control's saved configuration as bytes, for hosts that save controls into streams
// rather than property bags. Layout (all integers little-endian):
//
//   header   "KSTV"  u16 format (1)  u16 zero  u32 payload length
//   payload  u16 entry count, then per entry:
//            u8 key length, key bytes, u8 type (1 Boolean, 2 Integer, 3 Long, 4 String),
//            value: Boolean u8 (0 or 1), Integer 2 bytes, Long 4 bytes,
//                   String u16 length + UTF-8 bytes
//
// Nothing in the layout is trusted: every length is checked against what is left, and a
// payload longer than kMaxStreamPayload is refused before anything is read.
// Portable code (no Windows types), so it is tested on every platform.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "control/property_bag.h"

namespace kestova::server {

inline constexpr std::size_t kStreamHeaderSize = 12;
inline constexpr std::uint16_t kStreamFormat = 1;
inline constexpr std::uint32_t kMaxStreamPayload = 64 * 1024;

class StreamFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using SavedEntries = std::vector<std::pair<std::string, Variant>>;

// Header and payload together. Raises StreamFormatError for a key or string too long for
// its length field.
std::vector<std::uint8_t> EncodeSavedProperties(const SavedEntries& entries);

// The payload length a header announces; raises StreamFormatError for a wrong magic, an
// unknown format or a length above kMaxStreamPayload.
std::uint32_t PayloadLength(std::span<const std::uint8_t, kStreamHeaderSize> header);

// The entries of a payload, in their saved order; raises StreamFormatError for anything
// malformed (truncation, unknown type, trailing bytes).
SavedEntries DecodeSavedProperties(std::span<const std::uint8_t> payload);

// A bag that answers reads from decoded entries (the default when a key is missing).
class SavedPropertyBag : public PropertyBag {
 public:
  explicit SavedPropertyBag(SavedEntries entries) : entries_(std::move(entries)) {}
  Variant ReadProperty(const std::string& key, const Variant& default_value) override;
  void WriteProperty(const std::string& key, const Variant& value,
                     const Variant& default_value) override;
  const SavedEntries& entries() const { return entries_; }

 private:
  SavedEntries entries_;
};

}  // namespace kestova::server
