#include "values/typed_access.h"

#include "values/device_name.h"
#include "values/value_error.h"
#include "values/word_codec.h"

namespace kestova {
namespace {

constexpr std::int64_t kMaxWords = 480;

DeviceAddress WordDevice(std::string_view text, bool with_bit) {
  const DeviceAddress device = ParseDevice(text);
  if (device.family != DeviceFamily::D && device.family != DeviceFamily::W && device.family != DeviceFamily::ZR) {
    throw ValueError("'" + std::string(text) + "': typed values live in D, W or ZR devices");
  }
  if (with_bit != device.bit.has_value()) {
    throw ValueError(with_bit ? "'" + std::string(text) + "' names no bit (write it as D100.5)"
                              : "'" + std::string(text) + "' names a bit; a bit is read with ReadBit");
  }
  return device;
}

void RequireWordCount(std::int64_t values, std::int64_t words_each) {
  if (values < 1) throw ValueError("count " + std::to_string(values) + " is below 1");
  if (values * words_each > kMaxWords) {
    throw ValueError(words_each == 1 ? std::to_string(values) + " words are past 480"
                                     : "count " + std::to_string(values) + " needs " +
                                           std::to_string(values * words_each) + " words, past 480");
  }
}

}  // namespace

TypedAccess::TypedAccess(Tarvane& control) : control_(control) {}

std::int16_t TypedAccess::ReadWords(std::string_view device, int count, std::vector<std::uint16_t>& out) {
  out.clear();
  const DeviceAddress address = WordDevice(device, false);
  RequireWordCount(count, 1);
  const auto start = static_cast<std::int32_t>(address.number);
  const std::int16_t result = control_.Read(address.family, start, static_cast<std::int16_t>(count));
  if (result != 0) return result;
  for (int k = 0; k < count; ++k) {
    out.push_back(static_cast<std::uint16_t>(control_.Image(address.family, start + k)));
  }
  return 0;
}

namespace {

// A read of `count` values of `words_each` words, decoded on success.
template <typename T, typename Decode>
std::int16_t ReadTyped(TypedAccess& access, std::string_view device, int count, int words_each,
                       std::vector<T>& out, Decode decode) {
  out.clear();
  RequireWordCount(count, words_each);
  std::vector<std::uint16_t> words;
  const std::int16_t result = access.ReadWords(device, count * words_each, words);
  if (result == 0) out = decode(words);
  return result;
}

}  // namespace

std::int16_t TypedAccess::ReadInt16(std::string_view device, int count, std::vector<std::int16_t>& out) {
  return ReadTyped(*this, device, count, 1, out, [](const auto& w) { return DecodeInt16(w); });
}

std::int16_t TypedAccess::ReadUInt16(std::string_view device, int count, std::vector<std::uint16_t>& out) {
  return ReadTyped(*this, device, count, 1, out, [](const auto& w) { return DecodeUInt16(w); });
}

std::int16_t TypedAccess::ReadInt32(std::string_view device, int count, std::vector<std::int32_t>& out) {
  return ReadTyped(*this, device, count, 2, out, [](const auto& w) { return DecodeInt32(w); });
}

std::int16_t TypedAccess::ReadUInt32(std::string_view device, int count, std::vector<std::uint32_t>& out) {
  return ReadTyped(*this, device, count, 2, out, [](const auto& w) { return DecodeUInt32(w); });
}

std::int16_t TypedAccess::ReadFloat(std::string_view device, int count, std::vector<float>& out) {
  return ReadTyped(*this, device, count, 2, out, [](const auto& w) { return DecodeFloat(w); });
}

std::int16_t TypedAccess::ReadText(std::string_view device, int length, std::string& out) {
  out.clear();
  if (length < 1 || length > 2 * kMaxWords) {
    throw ValueError("text length " + std::to_string(length) + " is outside 1..960 characters");
  }
  std::vector<std::uint16_t> words;
  const std::int16_t result = ReadWords(device, (length + 1) / 2, words);
  if (result == 0) out = DecodeText(words, static_cast<std::size_t>(length));
  return result;
}

std::int16_t TypedAccess::ReadBit(std::string_view device_with_bit, bool& out) {
  out = false;
  const DeviceAddress address = WordDevice(device_with_bit, true);
  std::vector<std::uint16_t> words;
  const std::int16_t result = ReadWords(DeviceLabel(address), 1, words);
  if (result == 0) out = (words[0] >> *address.bit & 1) != 0;
  return result;
}

std::int16_t TypedAccess::WriteWords(std::string_view device, std::span<const std::uint16_t> words) {
  const DeviceAddress address = WordDevice(device, false);
  RequireWordCount(static_cast<std::int64_t>(words.size()), 1);
  std::vector<std::int16_t> data;
  for (const std::uint16_t w : words) data.push_back(static_cast<std::int16_t>(w));
  return control_.WriteBlock(BlockWriteHead(address), static_cast<std::int16_t>(data.size()), IntegerArray::ZeroBased(data));
}

std::int16_t TypedAccess::WriteInt16(std::string_view device, std::span<const std::int64_t> values) {
  return WriteWords(device, EncodeInt16(values));
}

std::int16_t TypedAccess::WriteUInt16(std::string_view device, std::span<const std::int64_t> values) {
  return WriteWords(device, EncodeUInt16(values));
}

std::int16_t TypedAccess::WriteInt32(std::string_view device, std::span<const std::int64_t> values) {
  return WriteWords(device, EncodeInt32(values));
}

std::int16_t TypedAccess::WriteUInt32(std::string_view device, std::span<const std::int64_t> values) {
  return WriteWords(device, EncodeUInt32(values));
}

std::int16_t TypedAccess::WriteFloat(std::string_view device, std::span<const double> values) {
  return WriteWords(device, EncodeFloat(values));
}

std::int16_t TypedAccess::WriteText(std::string_view device, std::string_view text) {
  return WriteWords(device, EncodeText(text));
}

}  // namespace kestova
