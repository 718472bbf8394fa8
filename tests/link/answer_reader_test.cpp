#include "link/answer_reader.h"

#include <gtest/gtest.h>

#include "support/bytes.h"

namespace kestova {
namespace {

using testing::Answer;
using testing::Bytes;
using testing::Join;

// Feeds the bytes in chunks of the given size; returns how many were consumed.
std::size_t FeedInChunks(AnswerReader& reader, const std::vector<std::uint8_t>& bytes, std::size_t chunk) {
  std::size_t used = 0;
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    const std::size_t n = std::min(chunk, bytes.size() - at);
    used += reader.Feed(std::span<const std::uint8_t>(bytes).subspan(at, n));
  }
  return used;
}

TEST(AnswerReader, ReadsADleDoubledAnswerWholeInAnyChunking) {
  // The answer to ReadD(100, 2): its byte count is 0x10, a doubled DLE on the wire, and
  // the data hold one more.
  const auto wire = Answer(0x0000, Bytes("34 12 10 AB"), true);
  ASSERT_EQ(wire.size(), 26u);
  for (std::size_t chunk : {1u, 2u, 3u, 7u, 26u}) {
    AnswerReader reader(true, 24 + 32);
    EXPECT_EQ(FeedInChunks(reader, wire, chunk), wire.size()) << "chunk " << chunk;
    ASSERT_TRUE(reader.complete()) << "chunk " << chunk;
    EXPECT_TRUE(reader.sum_check_passed());
    EXPECT_EQ(reader.image().size(), 24u);
    EXPECT_EQ(EndCode(reader.image()), 0);
    EXPECT_EQ(reader.body().subspan(14).size(), 4u);
    EXPECT_EQ(reader.body()[16], 0x10);
  }
}

TEST(AnswerReader, SkipsNoiseBeforeTheFrameAndLeavesWhatFollows) {
  const auto frame = Answer(0x0000, {}, false);
  const auto noise = Bytes("FF 10 10 10 03 00 10 41");
  const auto wire = Join(noise, frame, Bytes("55 66"));
  AnswerReader reader(false, 50);
  EXPECT_EQ(reader.Feed(wire), noise.size() + frame.size());
  EXPECT_TRUE(reader.complete());
  EXPECT_EQ(reader.image().size(), 18u);
}

TEST(AnswerReader, DropsABrokenFrameAndTakesTheNext) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> before;
  } cases[] = {
      {"lone DLE inside", Bytes("10 02 02 00 F8 10 41")},
      {"DLE STX inside restarts", Bytes("10 02 05 00 F8 00")},
      {"longer than allowed", Join(Bytes("10 02"), std::vector<std::uint8_t>(60, 0x20))},
      // Data DLEs come doubled: 10 10 02 in the rest of a broken frame is no frame start,
      // though a whole false answer follows it.
      {"10 10 02 in its data", Join(Bytes("10 02 0C 00 F8 10 41 10"), Answer(0x0000, {}, false))},
      {"10 10 02 after noise", Join(Bytes("55 10"), Answer(0xC059, Bytes("01 02"), false))},
  };
  for (const Case& c : cases) {
    AnswerReader reader(false, 18 + 32);
    reader.Feed(Join(c.before, Answer(0x8001, {}, false)));
    ASSERT_TRUE(reader.complete()) << c.name;
    EXPECT_EQ(EndCode(reader.image()), -32767) << c.name;  // all sixteen bits
  }
}

// After DLE ETX it waits for the sum characters, then judges them.
TEST(AnswerReader, JudgesTheSumCharacters) {
  AnswerReader waiting(true, 60);
  waiting.Feed(Answer(0x0000, {}, false));
  EXPECT_FALSE(waiting.complete());
  EXPECT_TRUE(waiting.awaiting_sum_characters());

  auto good = Answer(0x0000, Bytes("01 02"), true);
  struct Case {
    const char* name;
    std::uint8_t high, low;
    bool ok;
  } cases[] = {
      {"as sent", good[good.size() - 2], good[good.size() - 1], true},
      {"lower-case hex", static_cast<std::uint8_t>(std::tolower(good[good.size() - 2])),
       static_cast<std::uint8_t>(std::tolower(good[good.size() - 1])), true},
      {"wrong digit", good[good.size() - 2], '0', false},
      {"not hex", 'G', 'Z', false},
  };
  for (const Case& c : cases) {
    auto wire = good;
    wire[wire.size() - 2] = c.high;
    wire[wire.size() - 1] = c.low;
    AnswerReader reader(true, 60);
    reader.Feed(wire);
    ASSERT_TRUE(reader.complete()) << c.name;
    EXPECT_EQ(reader.sum_check_passed(), c.ok) << c.name;
  }
}

}  // namespace
}  // namespace kestova
