#pragma once
// Typed values to and from PLC words (16 bits each), as the PLC's own instructions lay
// them out: a 32-bit integer or IEEE 754 single float takes two consecutive devices, low
// word at the lower device number; text takes two ASCII characters a word, the first in
// the low byte. Pure conversions, no I/O. The encoders throw ValueError for a value that
// does not fit, naming it ("70000 does not fit int16"); the decoders accept any words.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestova {

using Word = std::uint16_t;

std::vector<Word> EncodeInt16(std::span<const std::int64_t> values);   // -32768..32767
std::vector<Word> EncodeUInt16(std::span<const std::int64_t> values);  // 0..65535
std::vector<Word> EncodeInt32(std::span<const std::int64_t> values);   // two words each
std::vector<Word> EncodeUInt32(std::span<const std::int64_t> values);  // two words each
// NaN and the infinities pass; a finite value beyond the float range does not. Other
// values are rounded to the nearest float.
std::vector<Word> EncodeFloat(std::span<const double> values);
// ASCII only (0..127); an odd length leaves the high byte of the last word 0. No
// terminating word is added.
std::vector<Word> EncodeText(std::string_view text);

std::vector<std::int16_t> DecodeInt16(std::span<const Word> words);
std::vector<std::uint16_t> DecodeUInt16(std::span<const Word> words);
// The 32-bit decoders take words in pairs; an odd last word is ignored.
std::vector<std::int32_t> DecodeInt32(std::span<const Word> words);
std::vector<std::uint32_t> DecodeUInt32(std::span<const Word> words);
std::vector<float> DecodeFloat(std::span<const Word> words);
// At most `length` characters, ending early at the first zero byte.
std::string DecodeText(std::span<const Word> words, std::size_t length);

}  // namespace kestova
