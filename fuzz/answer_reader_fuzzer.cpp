// The answer reader fed any byte stream in any chunking. Besides what the sanitizers
// catch, it checks that a frame reported complete is exactly what the line carried: the
// consumed bytes end in DLE STX, the re-doubled image body, DLE ETX and the sum
// characters, and a sum reported as passed really is the sum of the body.
//
// Input: flags (bit 0: sum check), two bytes of length limit, one byte that seeds the
// chunk sizes, then the bytes as they arrive on the line.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "link/answer_reader.h"
#include "support/bytes.h"

namespace {

using namespace kestova::fuzz;
constexpr std::size_t kHeader = 4;

// Chunk sizes from a small linear congruential generator, so one input byte gives a
// reproducible and varied split, empty chunks included.
class Chunker {
 public:
  explicit Chunker(std::uint8_t seed) : state_(seed), largest_(1u + (seed & 0x3Fu)) {}
  std::size_t Next() {
    state_ = state_ * 1103515245u + 12345u;
    return (state_ >> 16) % (largest_ + 1);
  }

 private:
  std::uint32_t state_;
  std::uint32_t largest_;
};

// What the line must have carried for the reader to report this image complete: the
// body framed again, and the sum characters as they came.
std::vector<std::uint8_t> WireForm(const std::vector<std::uint8_t>& image, bool sum_check) {
  const std::size_t trailer = sum_check ? 4 : 2;
  auto wire = kestova::testing::Framed({image.begin() + 2, image.end() - static_cast<std::ptrdiff_t>(trailer)}, false);
  wire.insert(wire.end(), image.end() - static_cast<std::ptrdiff_t>(trailer - 2), image.end());
  return wire;
}

void CheckComplete(const kestova::AnswerReader& reader, std::span<const std::uint8_t> consumed,
                   bool sum_check, std::size_t max_length) {
  const std::vector<std::uint8_t>& image = reader.image();
  const std::size_t trailer = sum_check ? 4 : 2;
  Require(image.size() >= 2 + trailer);
  Require(image.size() <= max_length);
  Require(image[0] == 0x10 && image[1] == 0x02);  // DLE STX ... DLE ETX
  Require(image[image.size() - trailer] == 0x10 && image[image.size() - trailer + 1] == 0x03);

  const auto body = reader.body();
  Require(body.size() == image.size() - 2 - trailer);
  Require(body.data() == image.data() + 2);

  // The frame is the tail of what was consumed, byte for byte.
  const std::vector<std::uint8_t> wire = WireForm(image, sum_check);
  Require(wire.size() <= consumed.size());
  const auto tail = consumed.subspan(consumed.size() - wire.size());
  for (std::size_t i = 0; i < wire.size(); ++i) Require(tail[i] == wire[i]);

  // The sum check, recomputed here rather than trusted.
  if (!sum_check) {
    Require(reader.sum_check_passed());
    return;
  }
  unsigned sum = 0;
  for (std::uint8_t b : body) sum += b;
  const int high = HexDigitValue(image[image.size() - 2]);
  const int low = HexDigitValue(image[image.size() - 1]);
  const bool really_passes = high >= 0 && low >= 0 && static_cast<unsigned>(high * 16 + low) == (sum & 0xFFu);
  Require(reader.sum_check_passed() == really_passes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader) return 0;
  const bool sum_check = (data[0] & 1) != 0;
  const std::size_t max_length = 8 + (static_cast<std::size_t>(data[1] | data[2] << 8) % 2048);
  Chunker chunker(data[3]);
  const std::span<const std::uint8_t> stream(data + kHeader, size - kHeader);

  kestova::AnswerReader reader(sum_check, max_length);
  std::size_t offset = 0;
  while (offset < stream.size()) {
    std::size_t length = std::min(chunker.Next(), stream.size() - offset);
    if (length == 0) {
      // An empty read changes nothing; then go on with at least one byte.
      Require(reader.Feed({}) == 0);
      length = 1;
    }
    const bool was_complete = reader.complete();
    const std::size_t used = reader.Feed(stream.subspan(offset, length));
    Require(used <= length);
    if (was_complete) Require(used == 0);
    if (!reader.complete()) Require(used == length);
    offset += used;
    if (reader.complete()) break;
    // A reader still hunting is never waiting for sum characters without the sum check.
    if (!sum_check) Require(!reader.awaiting_sum_characters());
  }

  if (reader.complete()) {
    CheckComplete(reader, stream.first(offset), sum_check, max_length);
    // Once complete, it takes nothing more.
    if (offset < stream.size()) Require(reader.Feed(stream.subspan(offset)) == 0);
  } else {
    Require(offset == stream.size());
  }
  static_cast<void>(kestova::EndCode(reader.image()));
  return 0;
}
