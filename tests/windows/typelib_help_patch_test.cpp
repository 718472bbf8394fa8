// Help strings for enumeration members, added after widl: the patched library keeps every
// other type findable, a member block cannot be patched twice, and no malformed or cut
// library makes the patcher read outside it.

#include "server/typelib_help_patch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kestova::server {
namespace {

std::vector<std::uint8_t> Fixture() {
  std::ifstream in(KESTOVA_ENUM_FIXTURE, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Contains(const std::vector<std::uint8_t>& bytes, const std::string& text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

TEST(TypelibHelpPatch, AddsTheStringsGrowsTheRecordsAndKeepsOtherTypesReachable) {
  const std::vector<std::uint8_t> library = Fixture();
  ASSERT_GT(library.size(), 0u) << "fixture missing";
  const std::vector<std::uint8_t> patched =
      AddEnumMemberHelpStrings(library, "FirstKind", {"first member", "second member"});
  // Two records grow by 8 bytes; the strings take 2 + length, padded to 4.
  EXPECT_EQ(patched.size(), library.size() + 2 * 8 + 16 + 16);
  EXPECT_TRUE(Contains(patched, "first member"));
  EXPECT_TRUE(Contains(patched, "second member"));
  // Finding and patching the second enumeration needs every moved offset to be right; a
  // member block is not patched twice.
  const std::vector<std::uint8_t> both =
      AddEnumMemberHelpStrings(AddEnumMemberHelpStrings(library, "FirstKind", {"a", "b"}),
                               "SecondKind", {"x", "y", "z"});
  EXPECT_TRUE(Contains(both, std::string("\x01\x00x", 3)));
  EXPECT_THROW(AddEnumMemberHelpStrings(both, "FirstKind", {"a", "b"}), TypeLibraryFormatError);
  EXPECT_THROW(AddEnumMemberHelpStrings(both, "SecondKind", {"x", "y", "z"}),
               TypeLibraryFormatError);
}

TEST(TypelibHelpPatch, RefusesWhatDoesNotFit) {
  const std::vector<std::uint8_t> library = Fixture();
  struct Row {
    const char* what;
    std::string type;
    std::vector<std::string> strings;
  };
  const Row rows[] = {
      {"unknown type", "ThirdKind", {"a", "b"}},
      {"too few strings", "FirstKind", {"a"}},
      {"too many strings", "FirstKind", {"a", "b", "c"}},
      {"an interface is no enumeration", "IFixture", {"a"}},
      {"not a type library", "FirstKind", {"a", "b"}},
  };
  for (const Row& row : rows) {
    std::vector<std::uint8_t> bytes = library;
    if (std::string(row.what) == "not a type library") bytes[0] = 'X';
    EXPECT_THROW(AddEnumMemberHelpStrings(bytes, row.type, row.strings), TypeLibraryFormatError)
        << row.what;
  }
}

// Every cut, and every 4-byte word in turn set to a huge value: refused or patched, never
// read out of bounds (the sanitizers watch); a cut that patches grows as the full one does.
TEST(TypelibHelpPatch, CutOrDamagedLibrariesAreRefusedOrPatchedWithinBounds) {
  const std::vector<std::uint8_t> library = Fixture();
  for (std::size_t length = 0; length < library.size(); ++length) {
    const std::vector<std::uint8_t> cut(library.begin(),
                                        library.begin() + static_cast<std::ptrdiff_t>(length));
    try {
      EXPECT_EQ(AddEnumMemberHelpStrings(cut, "FirstKind", {"a", "b"}).size(),
                cut.size() + 2 * 8 + 4 + 4) << "cut at " << length;
    } catch (const TypeLibraryFormatError&) {
    }
    std::vector<std::uint8_t> damaged = library;
    if (length % 4 || length + 4 > library.size()) continue;
    damaged[length] = damaged[length + 1] = damaged[length + 2] = 0xFF;
    damaged[length + 3] = 0x7F;
    try {
      AddEnumMemberHelpStrings(damaged, "FirstKind", {"a", "b"});
    } catch (const TypeLibraryFormatError&) {
    }
  }
}

}  // namespace
}  // namespace kestova::server
