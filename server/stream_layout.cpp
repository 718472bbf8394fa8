#include "server/stream_layout.h"

#include <algorithm>
#include <limits>

namespace kestova::server {
namespace {

constexpr std::array<std::uint8_t, 4> kMagic = {'K', 'S', 'T', 'V'};
enum class ValueType : std::uint8_t { Boolean = 1, Integer = 2, Long = 3, String = 4 };

class Writer {
 public:
  void U8(std::uint8_t value) { bytes_.push_back(value); }
  void U16(std::uint16_t value) {
    U8(static_cast<std::uint8_t>(value & 0xFF));
    U8(static_cast<std::uint8_t>(value >> 8));
  }
  void U32(std::uint32_t value) {
    U16(static_cast<std::uint16_t>(value & 0xFFFF));
    U16(static_cast<std::uint16_t>(value >> 16));
  }
  void Bytes(const std::string& text) { bytes_.insert(bytes_.end(), text.begin(), text.end()); }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint8_t U8() {
    Need(1);
    return bytes_[offset_++];
  }
  std::uint16_t U16() {
    const std::uint16_t low = U8();
    return static_cast<std::uint16_t>(low | (U8() << 8));
  }
  std::uint32_t U32() {
    const std::uint32_t low = U16();
    return low | (static_cast<std::uint32_t>(U16()) << 16);
  }
  std::string Text(std::size_t length) {
    Need(length);
    std::string text(bytes_.begin() + static_cast<std::ptrdiff_t>(offset_),
                     bytes_.begin() + static_cast<std::ptrdiff_t>(offset_ + length));
    offset_ += length;
    return text;
  }
  bool AtEnd() const { return offset_ == bytes_.size(); }

 private:
  void Need(std::size_t count) const {
    if (count > bytes_.size() - offset_) throw StreamFormatError("saved properties truncated");
  }
  std::span<const std::uint8_t> bytes_;
  std::size_t offset_ = 0;
};

void WriteValue(Writer& out, const Variant& value) {
  if (const bool* flag = std::get_if<bool>(&value)) {
    out.U8(static_cast<std::uint8_t>(ValueType::Boolean));
    out.U8(*flag ? 1 : 0);
  } else if (const std::int16_t* integer = std::get_if<std::int16_t>(&value)) {
    out.U8(static_cast<std::uint8_t>(ValueType::Integer));
    out.U16(static_cast<std::uint16_t>(*integer));
  } else if (const std::int32_t* number = std::get_if<std::int32_t>(&value)) {
    out.U8(static_cast<std::uint8_t>(ValueType::Long));
    out.U32(static_cast<std::uint32_t>(*number));
  } else {
    const std::string& text = std::get<std::string>(value);
    if (text.size() > std::numeric_limits<std::uint16_t>::max()) {
      throw StreamFormatError("saved string too long");
    }
    out.U8(static_cast<std::uint8_t>(ValueType::String));
    out.U16(static_cast<std::uint16_t>(text.size()));
    out.Bytes(text);
  }
}

Variant ReadValue(Reader& in) {
  switch (static_cast<ValueType>(in.U8())) {
    case ValueType::Boolean: {
      const std::uint8_t flag = in.U8();
      if (flag > 1) throw StreamFormatError("saved Boolean is neither 0 nor 1");
      return flag == 1;
    }
    case ValueType::Integer:
      return static_cast<std::int16_t>(in.U16());
    case ValueType::Long:
      return static_cast<std::int32_t>(in.U32());
    case ValueType::String:
      return in.Text(in.U16());
  }
  throw StreamFormatError("unknown saved value type");
}

}  // namespace

std::vector<std::uint8_t> EncodeSavedProperties(const SavedEntries& entries) {
  if (entries.size() > std::numeric_limits<std::uint16_t>::max()) {
    throw StreamFormatError("too many saved properties");
  }
  Writer payload;
  payload.U16(static_cast<std::uint16_t>(entries.size()));
  for (const auto& [key, value] : entries) {
    if (key.size() > std::numeric_limits<std::uint8_t>::max()) {
      throw StreamFormatError("saved key too long");
    }
    payload.U8(static_cast<std::uint8_t>(key.size()));
    payload.Bytes(key);
    WriteValue(payload, value);
  }
  if (payload.bytes().size() > kMaxStreamPayload) {
    throw StreamFormatError("saved properties too large");
  }

  Writer out;
  for (std::uint8_t byte : kMagic) out.U8(byte);
  out.U16(kStreamFormat);
  out.U16(0);
  out.U32(static_cast<std::uint32_t>(payload.bytes().size()));
  out.bytes().insert(out.bytes().end(), payload.bytes().begin(), payload.bytes().end());
  return std::move(out.bytes());
}

std::uint32_t PayloadLength(std::span<const std::uint8_t, kStreamHeaderSize> header) {
  if (!std::equal(kMagic.begin(), kMagic.end(), header.begin())) {
    throw StreamFormatError("not saved Kestova properties");
  }
  Reader in(std::span<const std::uint8_t>(header).subspan(kMagic.size()));
  if (in.U16() != kStreamFormat) throw StreamFormatError("unknown saved properties format");
  in.U16();  // reserved
  const std::uint32_t length = in.U32();
  if (length > kMaxStreamPayload) throw StreamFormatError("saved properties too large");
  return length;
}

SavedEntries DecodeSavedProperties(std::span<const std::uint8_t> payload) {
  Reader in(payload);
  const std::uint16_t count = in.U16();
  SavedEntries entries;
  for (std::uint16_t k = 0; k < count; ++k) {
    std::string key = in.Text(in.U8());
    Variant value = ReadValue(in);
    entries.emplace_back(std::move(key), std::move(value));
  }
  if (!in.AtEnd()) throw StreamFormatError("trailing bytes after saved properties");
  return entries;
}

Variant SavedPropertyBag::ReadProperty(const std::string& key, const Variant& default_value) {
  for (const auto& [saved_key, value] : entries_) {
    if (saved_key == key) return value;
  }
  return default_value;
}

void SavedPropertyBag::WriteProperty(const std::string& key, const Variant& value,
                                     const Variant& /*default_value*/) {
  for (auto& [saved_key, saved_value] : entries_) {
    if (saved_key == key) {
      saved_value = value;
      return;
    }
  }
  entries_.emplace_back(key, value);
}

}  // namespace kestova::server
