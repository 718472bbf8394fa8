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

TEST(TypelibHelpPatch, AddsTheStringsAndGrowsTheRecords) {
  const std::vector<std::uint8_t> library = Fixture();
  ASSERT_GT(library.size(), 0u) << "fixture missing";
  const std::vector<std::uint8_t> patched =
      AddEnumMemberHelpStrings(library, "FirstKind", {"first member", "second member"});
  // Two records grow by 8 bytes; the strings take 2 + length, padded to 4.
  EXPECT_EQ(patched.size(), library.size() + 2 * 8 + 16 + 16);
  EXPECT_TRUE(Contains(patched, "first member"));
  EXPECT_TRUE(Contains(patched, "second member"));
}

TEST(TypelibHelpPatch, OtherTypesStayReachableAndAPatchIsNotRepeated) {
  const std::vector<std::uint8_t> first =
      AddEnumMemberHelpStrings(Fixture(), "FirstKind", {"a", "b"});
  // Finding and patching the second enumeration needs every moved offset to be right.
  const std::vector<std::uint8_t> both =
      AddEnumMemberHelpStrings(first, "SecondKind", {"x", "y", "z"});
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
  };
  for (const Row& row : rows) {
    EXPECT_THROW(AddEnumMemberHelpStrings(library, row.type, row.strings), TypeLibraryFormatError)
        << row.what;
  }
  std::vector<std::uint8_t> not_msft = library;
  not_msft[0] = 'X';
  EXPECT_THROW(AddEnumMemberHelpStrings(not_msft, "FirstKind", {"a", "b"}), TypeLibraryFormatError);
}

TEST(TypelibHelpPatch, CutLibrariesAreRefusedOrPatchedWithinBounds) {
  const std::vector<std::uint8_t> library = Fixture();
  for (std::size_t length = 0; length < library.size(); ++length) {
    const std::vector<std::uint8_t> cut(library.begin(),
                                        library.begin() + static_cast<std::ptrdiff_t>(length));
    try {
      const std::vector<std::uint8_t> patched =
          AddEnumMemberHelpStrings(cut, "FirstKind", {"a", "b"});
      EXPECT_EQ(patched.size(), cut.size() + 2 * 8 + 4 + 4) << "cut at " << length;
    } catch (const TypeLibraryFormatError&) {
    }
  }
}

TEST(TypelibHelpPatch, DamagedOffsetsAreRefused) {
  const std::vector<std::uint8_t> library = Fixture();
  // Every 4-byte word in turn set to a huge value: refused or patched, never out of bounds.
  for (std::size_t at = 0; at + 4 <= library.size(); at += 4) {
    std::vector<std::uint8_t> damaged = library;
    damaged[at] = damaged[at + 1] = damaged[at + 2] = 0xFF;
    damaged[at + 3] = 0x7F;
    try {
      AddEnumMemberHelpStrings(damaged, "FirstKind", {"a", "b"});
    } catch (const TypeLibraryFormatError&) {
    }
  }
}

}  // namespace
}  // namespace kestova::server
