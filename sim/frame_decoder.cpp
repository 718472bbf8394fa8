#include "sim/frame_decoder.h"

#include <utility>

namespace kestova::sim {
namespace {

constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kEtx = 0x03;

int HexValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

void FrameDecoder::Reset() {
  state_ = State::Hunt;
  current_ = {};
}

void FrameDecoder::StartFrame() {
  current_ = {};
  current_.raw = {kDle, kStx};
  sum_ = 0;
  state_ = State::Body;
}

ReceivedRequest FrameDecoder::Finish(SumStatus status) {
  current_.sum_status = status;
  ReceivedRequest done = std::move(current_);
  current_ = {};
  state_ = State::Hunt;
  DecodeFields(done);
  return done;
}

std::optional<ReceivedRequest> FrameDecoder::Feed(std::uint8_t byte) {
  switch (state_) {
    case State::Hunt:
      if (byte == kDle) state_ = State::HuntDle;
      return std::nullopt;

    case State::HuntDle:
      if (byte == kStx)
        StartFrame();
      else if (byte != kDle)
        state_ = State::Hunt;
      return std::nullopt;

    case State::Body:
      current_.raw.push_back(byte);
      if (byte == kDle) {
        state_ = State::BodyDle;
        return std::nullopt;
      }
      break;

    case State::BodyDle:
      current_.raw.push_back(byte);
      if (byte == kEtx) {
        if (!sum_check_) return Finish(SumStatus::NotChecked);
        state_ = State::Sum;
        sum_chars_ = 0;
        sum_not_hex_ = false;
        return std::nullopt;
      }
      if (byte == kStx) {
        // A new frame began inside this one: the first is lost, the second is read.
        StartFrame();
        return std::nullopt;
      }
      if (byte != kDle) {
        Reset();
        return std::nullopt;
      }
      state_ = State::Body;
      break;

    case State::Sum: {
      if (byte == kDle) {
        // The next frame has begun before the sum characters: answer the held one as
        // missing its sum, then read this DLE as the start of the next.
        auto done = Finish(SumStatus::Missing);
        state_ = State::HuntDle;
        return done;
      }
      current_.raw.push_back(byte);
      const int digit = HexValue(byte);
      if (digit < 0) sum_not_hex_ = true;
      if (sum_chars_++ == 0) {
        first_sum_digit_ = digit;
        return std::nullopt;
      }
      if (sum_not_hex_) return Finish(SumStatus::NotHex);
      const auto sent = static_cast<std::uint8_t>(first_sum_digit_ * 16 + digit);
      return Finish(sent == sum_ ? SumStatus::Ok : SumStatus::Mismatch);
    }
  }

  // A body byte, de-stuffed.
  if (current_.body.size() >= kMaxBody) {
    Reset();
    return std::nullopt;
  }
  current_.body.push_back(byte);
  sum_ = static_cast<std::uint8_t>(sum_ + byte);
  return std::nullopt;
}

std::optional<ReceivedRequest> FrameDecoder::ExpireSum() {
  if (state_ != State::Sum) return std::nullopt;
  return Finish(SumStatus::Missing);
}

}  // namespace kestova::sim
