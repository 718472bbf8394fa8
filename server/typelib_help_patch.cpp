#include "server/typelib_help_patch.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kestova::server {
namespace {

constexpr std::uint32_t kMagic = 0x5446534D;  // "MSFT"
constexpr std::size_t kHeaderSize = 0x54;
constexpr std::uint32_t kHelpDllFlag = 0x100;
constexpr int kSegmentCount = 15;
constexpr int kNameSegment = 7;
constexpr int kStringSegment = 8;
constexpr std::size_t kTypeInfoSize = 0x64;
constexpr std::size_t kPlainVarRecord = 0x14;
constexpr std::size_t kOptionalFields = 8;  // help context, help string

class Image {
 public:
  explicit Image(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

  std::int32_t Int(std::size_t offset) const {
    Need(offset, 4);
    std::uint32_t value = 0;
    for (int k = 3; k >= 0; --k)
      value = (value << 8) | bytes_[offset + static_cast<std::size_t>(k)];
    return static_cast<std::int32_t>(value);
  }
  void SetInt(std::size_t offset, std::int32_t value) {
    Need(offset, 4);
    const auto bits = static_cast<std::uint32_t>(value);
    for (std::size_t k = 0; k < 4; ++k)
      bytes_[offset + k] = static_cast<std::uint8_t>(bits >> (8 * k));
  }
  std::uint8_t Byte(std::size_t offset) const {
    Need(offset, 1);
    return bytes_[offset];
  }
  // A non-negative offset stored in the image, checked against its size.
  std::size_t Offset(std::size_t where) const {
    const std::int32_t value = Int(where);
    if (value < 0 || static_cast<std::size_t>(value) > bytes_.size()) {
      throw TypeLibraryFormatError("type library offset out of range");
    }
    return static_cast<std::size_t>(value);
  }
  void Need(std::size_t offset, std::size_t count) const {
    if (offset > bytes_.size() || count > bytes_.size() - offset) {
      throw TypeLibraryFormatError("type library truncated");
    }
  }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// A string-segment entry: 16-bit length, the bytes, padded to four with 'W' as compilers do.
std::vector<std::uint8_t> EncodeString(const std::string& text) {
  if (text.size() > 0xFFFF) throw TypeLibraryFormatError("help string too long");
  std::vector<std::uint8_t> entry = {static_cast<std::uint8_t>(text.size() & 0xFF),
                                     static_cast<std::uint8_t>(text.size() >> 8)};
  entry.insert(entry.end(), text.begin(), text.end());
  while (entry.size() % 4 != 0) entry.push_back('W');
  return entry;
}

}  // namespace

std::vector<std::uint8_t> AddEnumMemberHelpStrings(const std::vector<std::uint8_t>& library,
                                                   const std::string& type_name,
                                                   const std::vector<std::string>& help_strings) {
  Image in(library);
  if (static_cast<std::uint32_t>(in.Int(0)) != kMagic) {
    throw TypeLibraryFormatError("not an MSFT type library");
  }
  const auto type_count = in.Int(0x20);
  if (type_count < 0 || type_count > 0xFFFF) throw TypeLibraryFormatError("bad type count");
  std::size_t directory = kHeaderSize;
  if (static_cast<std::uint32_t>(in.Int(0x14)) & kHelpDllFlag) directory += 4;
  const std::size_t type_offsets = directory;
  directory += 4 * static_cast<std::size_t>(type_count);
  in.Need(directory, 16 * kSegmentCount);
  auto segment_offset = [&](int segment) {
    return in.Int(directory + 16 * static_cast<std::size_t>(segment));
  };
  auto segment_length = [&](int segment) {
    return in.Int(directory + 16 * static_cast<std::size_t>(segment) + 4);
  };
  if (segment_offset(0) < 0 || segment_offset(kNameSegment) < 0 ||
      segment_offset(kStringSegment) < 0) {
    throw TypeLibraryFormatError("missing type library segment");
  }
  for (int segment = 0; segment < kSegmentCount; ++segment) {
    const std::int32_t offset = segment_offset(segment);
    if (offset >= 0)
      in.Need(static_cast<std::size_t>(offset),
              static_cast<std::size_t>(std::max(segment_length(segment), 0)));
  }
  const auto type_segment = static_cast<std::size_t>(segment_offset(0));
  const auto name_segment = static_cast<std::size_t>(segment_offset(kNameSegment));

  // The type by name: a name entry is hash-chain data (8 bytes), a length byte, flags, text.
  std::size_t type_info = 0;
  bool found = false;
  for (std::int32_t k = 0; k < type_count && !found; ++k) {
    const std::size_t info =
        type_segment + in.Offset(type_offsets + 4 * static_cast<std::size_t>(k));
    in.Need(info, kTypeInfoSize);
    const std::size_t name = name_segment + in.Offset(info + 0x34);
    const std::size_t length = in.Byte(name + 8);
    in.Need(name + 12, length);
    if (length == type_name.size() &&
        std::equal(type_name.begin(), type_name.end(),
                   library.begin() + static_cast<std::ptrdiff_t>(name + 12))) {
      type_info = info;
      found = true;
    }
  }
  if (!found) throw TypeLibraryFormatError("type " + type_name + " not in the library");
  const std::int32_t elements = in.Int(type_info + 0x18);
  const std::size_t functions = static_cast<std::size_t>(elements & 0xFFFF);
  const std::size_t variables = static_cast<std::size_t>((elements >> 16) & 0xFFFF);
  if (functions != 0 || variables != help_strings.size()) {
    throw TypeLibraryFormatError("type " + type_name + " has another member count");
  }

  // The member block: its length, the records, then ids, names and record offsets.
  const std::size_t block = in.Offset(type_info + 4);
  const std::size_t records_length = in.Offset(block);
  const std::size_t records = block + 4;
  // Plain constant records only, one after the other: the block is rebuilt from them.
  if (records_length != kPlainVarRecord * variables) {
    throw TypeLibraryFormatError("member records are not plain constants");
  }
  in.Need(records, records_length + 12 * variables);
  const std::size_t offsets_array = records + records_length + 8 * variables;
  for (std::size_t k = 0; k < variables; ++k) {
    const std::size_t record = records + in.Offset(offsets_array + 4 * k);
    in.Need(record, kPlainVarRecord);
    if ((in.Int(record) & 0xFF) != static_cast<std::int32_t>(kPlainVarRecord)) {
      throw TypeLibraryFormatError("member record already has optional fields");
    }
  }

  // The new strings go at the end of the string segment.
  const auto string_segment = static_cast<std::size_t>(segment_offset(kStringSegment));
  const auto string_length = static_cast<std::size_t>(segment_length(kStringSegment));
  in.Need(string_segment, string_length);
  std::vector<std::uint8_t> added_strings;
  std::vector<std::int32_t> help_offsets;
  for (const std::string& text : help_strings) {
    help_offsets.push_back(static_cast<std::int32_t>(string_length + added_strings.size()));
    const std::vector<std::uint8_t> entry = EncodeString(text);
    added_strings.insert(added_strings.end(), entry.begin(), entry.end());
  }
  const std::size_t string_end = string_segment + string_length;
  const std::size_t grown = kOptionalFields * variables;

  // Assemble: everything up to the string segment's end, the new strings, everything up to
  // the member block's records, the grown records, the rest.
  std::vector<std::uint8_t> out(library.begin(),
                                library.begin() + static_cast<std::ptrdiff_t>(string_end));
  out.insert(out.end(), added_strings.begin(), added_strings.end());
  if (block < string_end) throw TypeLibraryFormatError("member block inside the segments");
  out.insert(out.end(), library.begin() + static_cast<std::ptrdiff_t>(string_end),
             library.begin() + static_cast<std::ptrdiff_t>(records));
  std::vector<std::int32_t> new_record_offsets;
  std::size_t position = 0;
  for (std::size_t k = 0; k < variables; ++k) {
    const std::size_t record = records + in.Offset(offsets_array + 4 * k);
    new_record_offsets.push_back(static_cast<std::int32_t>(position));
    std::vector<std::uint8_t> rewritten(
        library.begin() + static_cast<std::ptrdiff_t>(record),
        library.begin() + static_cast<std::ptrdiff_t>(record + kPlainVarRecord));
    rewritten[0] = static_cast<std::uint8_t>(kPlainVarRecord + kOptionalFields);
    Image fields(std::vector<std::uint8_t>(kOptionalFields, 0));
    fields.SetInt(4, help_offsets[k]);  // help context 0, then the help string
    rewritten.insert(rewritten.end(), fields.bytes().begin(), fields.bytes().end());
    out.insert(out.end(), rewritten.begin(), rewritten.end());
    position += rewritten.size();
  }
  const std::size_t arrays = records + records_length;
  out.insert(out.end(), library.begin() + static_cast<std::ptrdiff_t>(arrays), library.end());

  Image result(std::move(out));
  const std::size_t shift = added_strings.size();
  const std::size_t new_block = block + shift;
  result.SetInt(new_block, static_cast<std::int32_t>(records_length + grown));
  const std::size_t new_offsets_array = new_block + 4 + records_length + grown + 8 * variables;
  for (std::size_t k = 0; k < variables; ++k) {
    result.SetInt(new_offsets_array + 4 * k, new_record_offsets[k]);
  }
  // Offsets behind the insertions move: segments after the strings, member blocks after
  // the strings, and after this block's records too.
  result.SetInt(directory + 16 * kStringSegment + 4,
                static_cast<std::int32_t>(string_length + shift));
  for (int segment = 0; segment < kSegmentCount; ++segment) {
    const std::int32_t offset = segment_offset(segment);
    if (offset >= 0 && static_cast<std::size_t>(offset) >= string_end) {
      result.SetInt(directory + 16 * static_cast<std::size_t>(segment),
                    offset + static_cast<std::int32_t>(shift));
    }
  }
  for (std::int32_t k = 0; k < type_count; ++k) {
    const std::size_t info =
        type_segment + in.Offset(type_offsets + 4 * static_cast<std::size_t>(k));
    // A type without members may point past the end of the file; it moves all the same.
    const std::int64_t members = in.Int(info + 4);
    std::int64_t moved = members;
    if (members >= static_cast<std::int64_t>(string_end)) moved += static_cast<std::int64_t>(shift);
    if (members > static_cast<std::int64_t>(block)) moved += static_cast<std::int64_t>(grown);
    if (moved > INT32_MAX) throw TypeLibraryFormatError("type library offset out of range");
    result.SetInt(info + 4, static_cast<std::int32_t>(moved));
  }
  return std::move(result.bytes());
}

}  // namespace kestova::server
