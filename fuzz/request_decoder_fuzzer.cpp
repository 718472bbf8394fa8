// The virtual PLC's request decoder and station fed any byte stream. Every request it
// reports is checked against the bytes it came from (re-doubled body, DLE ETX, sum
// characters), its sum status is recomputed, and each answer the station gives is read
// back through the control's own answer reader: the two sides must agree on every byte.
//
// Input: flags (bit 0: sum check; bits 4-7: after how many bytes a pending sum is given
// up, 0 never), then the bytes as they arrive on the line.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "link/answer_reader.h"
#include "sim/frame_decoder.h"
#include "sim/station.h"
#include "support/bytes.h"

namespace {

using kestova::sim::ReceivedRequest;
using kestova::sim::SumStatus;

using namespace kestova::fuzz;

void CheckRequest(const ReceivedRequest& request, bool sum_check) {
  Require(request.body.size() <= kestova::sim::FrameDecoder::kMaxBody);

  const std::vector<std::uint8_t> wire = kestova::testing::Framed(request.body, false);
  unsigned sum = 0;
  for (std::uint8_t b : request.body) sum += b;
  Require(request.raw.size() >= wire.size() && request.raw.size() <= wire.size() + 2);
  for (std::size_t i = 0; i < wire.size(); ++i) Require(request.raw[i] == wire[i]);
  const std::size_t sum_chars = request.raw.size() - wire.size();

  if (!sum_check) {
    Require(request.sum_status == SumStatus::NotChecked && sum_chars == 0);
  } else if (sum_chars < 2) {
    Require(request.sum_status == SumStatus::Missing);
  } else {
    const int high = HexDigitValue(request.raw[wire.size()]);
    const int low = HexDigitValue(request.raw[wire.size() + 1]);
    const SumStatus expected = high < 0 || low < 0 ? SumStatus::NotHex
                               : static_cast<unsigned>(high * 16 + low) == (sum & 0xFFu) ? SumStatus::Ok
                                                                                         : SumStatus::Mismatch;
    Require(request.sum_status == expected);
  }
  Require(request.sum_ok == (request.sum_status == SumStatus::NotChecked ||
                             request.sum_status == SumStatus::Ok));

  const auto& body = request.body;
  Require(request.header_ok == (body.size() >= 14 && body[2] == 0xF8));
  if (request.header_ok) {
    Require(request.command == (body[10] | body[11] << 8));
    Require(request.subcommand == (body[12] | body[13] << 8));
    Require(request.data.size() == body.size() - 14);
    for (std::size_t i = 0; i < request.data.size(); ++i) Require(request.data[i] == body[14 + i]);
  }
}

// The station's answer, read back by the control's reader.
void CheckAnswer(const kestova::sim::Answer& answer, bool sum_check) {
  const std::vector<std::uint8_t> wire = kestova::sim::EncodeAnswer(answer, sum_check);
  const std::size_t expected = 18 + answer.data.size() + (sum_check ? 2 : 0);
  kestova::AnswerReader reader(sum_check, expected);
  Require(reader.Feed(wire) == wire.size());
  Require(reader.complete() && reader.sum_check_passed());
  Require(reader.image().size() == expected);
  Require(static_cast<std::uint16_t>(kestova::EndCode(reader.image())) == answer.end_code);
  const auto data = reader.body().subspan(14);
  Require(data.size() == answer.data.size());
  for (std::size_t i = 0; i < data.size(); ++i) Require(data[i] == answer.data[i]);
  if (answer.end_code != 0) Require(answer.data.empty());
}

void Handle(kestova::sim::Station& station, const std::optional<ReceivedRequest>& request,
            bool sum_check) {
  if (!request) return;
  CheckRequest(*request, sum_check);
  const auto answer = station.Execute(*request);
  Require(answer.has_value() == request->header_ok);
  if (!answer) return;
  if (!request->sum_ok) Require(answer->end_code == 0x7F24);
  if (answer->end_code == 0 && request->command == 0x0401) {
    Require(answer->data.size() == 2u * (request->data[4] | request->data[5] << 8));
  }
  CheckAnswer(*answer, sum_check);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool sum_check = (data[0] & 1) != 0;
  const std::size_t expire_after = data[0] >> 4;
  const std::span<const std::uint8_t> stream(data + 1, size - 1);

  // One station for the whole run: building (or clearing) its memory costs more than the
  // input itself under the sanitizers, and no check here depends on what it holds.
  static kestova::sim::Station station;
  station.set_sum_check(sum_check);
  kestova::sim::FrameDecoder decoder(sum_check);
  std::size_t waiting_for_sum = 0;
  for (std::uint8_t byte : stream) {
    Handle(station, decoder.Feed(byte), sum_check);
    waiting_for_sum = decoder.awaiting_sum() ? waiting_for_sum + 1 : 0;
    if (expire_after != 0 && waiting_for_sum >= expire_after) {
      Handle(station, decoder.ExpireSum(), sum_check);
      Require(!decoder.awaiting_sum());
    }
  }
  Handle(station, decoder.ExpireSum(), sum_check);

  // The one-shot form the tests use must hold up as well.
  static_cast<void>(station.HandleFrame(stream));
  return 0;
}
