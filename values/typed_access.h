#pragma once
// Typed values over the control, for D, W and ZR devices. Every read is one batch read
// (Tarvane::Read, then the device image) and every write one block write
// (Tarvane::WriteBlock), so address limits, MelsecOut events, the error log and the result
// codes are the control's own: 0 done, 1 refused, port closed or time-out, else the PLC's
// end code. What the control cannot express is refused here first with ValueError, before
// anything is sent: a device text that cannot be read, a family other than D, W or ZR, a
// count below 1 or past 480 words, a value that does not fit its type, non-ASCII text.
//
// Layout (values/word_codec.h): 32-bit integers and floats take two devices, low word at
// the lower number; text two characters a word, the first in the low byte.
//
// Text contract: WriteText writes exactly the text's own words, with no terminating zero
// word (an odd length leaves the high byte of the last word 0). ReadText(device, n) reads
// the words that hold n characters and stops early at a zero byte, so ReadText with the
// written length gives the written text back.
//
// Thread affinity and blocking are the control's: one call at a time, on its thread.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kestova/tarvane.h"

namespace kestova {

class TypedAccess {
 public:
  explicit TypedAccess(Tarvane& control);

  // Result 0: `out` holds the values; otherwise `out` is left empty. count is in values
  // (an int32/uint32/float takes two words).
  std::int16_t ReadInt16(std::string_view device, int count, std::vector<std::int16_t>& out);
  std::int16_t ReadUInt16(std::string_view device, int count, std::vector<std::uint16_t>& out);
  std::int16_t ReadInt32(std::string_view device, int count, std::vector<std::int32_t>& out);
  std::int16_t ReadUInt32(std::string_view device, int count, std::vector<std::uint32_t>& out);
  std::int16_t ReadFloat(std::string_view device, int count, std::vector<float>& out);
  // length in characters; the text ends early at a zero byte.
  std::int16_t ReadText(std::string_view device, int length, std::string& out);
  // One bit of a word device: "D100.5", "W1A.F" (the bit is one hexadecimal digit).
  std::int16_t ReadBit(std::string_view device_with_bit, bool& out);
  // The raw words, for callers that pick their own layout; count is in words.
  std::int16_t ReadWords(std::string_view device, int count, std::vector<std::uint16_t>& out);

  // One block write each; an empty list is refused (ValueError).
  std::int16_t WriteInt16(std::string_view device, std::span<const std::int64_t> values);
  std::int16_t WriteUInt16(std::string_view device, std::span<const std::int64_t> values);
  std::int16_t WriteInt32(std::string_view device, std::span<const std::int64_t> values);
  std::int16_t WriteUInt32(std::string_view device, std::span<const std::int64_t> values);
  // NaN and infinities are written as such; a finite value beyond the float range is a
  // ValueError.
  std::int16_t WriteFloat(std::string_view device, std::span<const double> values);
  // Odd length: high byte of the last word 0. No terminator (see the text contract above).
  std::int16_t WriteText(std::string_view device, std::string_view text);
  std::int16_t WriteWords(std::string_view device, std::span<const std::uint16_t> words);

 private:
  Tarvane& control_;
};

}  // namespace kestova
