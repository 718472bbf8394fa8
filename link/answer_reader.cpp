#include "link/answer_reader.h"

#include <algorithm>
#include <cstring>

#include "link/frame.h"

namespace kestova {
namespace {

int HexValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

AnswerReader::AnswerReader(bool sum_check, std::size_t max_length)
    : sum_check_(sum_check), max_length_(max_length) {
  // One allocation for any answer this reader can take (the largest is under 2 KB).
  image_.reserve(std::min<std::size_t>(max_length, 4096) + 1);
}

void AnswerReader::Drop() {
  image_.clear();
  ++dropped_;
  state_ = State::Hunting;
  hunting_dles_ = 0;
}

void AnswerReader::Restart() {
  image_.clear();
  body_end_ = 0;
  sum_ok_ = false;
  state_ = State::Hunting;
  hunting_dles_ = 0;
}

void AnswerReader::StartFrame() {
  image_.assign({kDle, kStx});
  state_ = State::Body;
}

void AnswerReader::Append(std::uint8_t byte) {
  image_.push_back(byte);
  if (image_.size() > max_length_) Drop();
}

void AnswerReader::Finish() {
  state_ = State::Complete;
  if (!sum_check_) {
    sum_ok_ = true;
    return;
  }
  unsigned sum = 0;
  for (std::uint8_t b : body()) sum += b;
  const int high = HexValue(image_[image_.size() - 2]);
  const int low = HexValue(image_.back());
  sum_ok_ = high >= 0 && low >= 0 && static_cast<unsigned>(high * 16 + low) == (sum & 0xFF);
}

std::span<const std::uint8_t> AnswerReader::body() const {
  if (body_end_ < 2 || body_end_ > image_.size()) return {};
  return std::span<const std::uint8_t>(image_).subspan(2, body_end_ - 2);
}

std::size_t AnswerReader::Feed(std::span<const std::uint8_t> bytes) {
  std::size_t used = 0;
  while (used < bytes.size() && state_ != State::Complete) {
    const std::uint8_t b = bytes[used++];
    switch (state_) {
      case State::Hunting:
        // A frame starts at DLE STX whose DLE ends an odd run of DLEs: an even run is
        // doubled data DLEs, as in the rest of a frame broken off mid-data.
        if (b == kDle) {
          ++hunting_dles_;
        } else {
          if (b == kStx && hunting_dles_ % 2 == 1) StartFrame();
          hunting_dles_ = 0;
        }
        break;
      case State::Body: {
        if (b == kDle) {
          state_ = State::BodyAfterDle;
          break;
        }
        // The plain bytes up to the next DLE go in at once. None of them can start a frame,
        // so a frame that grows too long on the way is dropped with the whole run.
        const std::uint8_t* run = bytes.data() + used - 1;
        const std::uint8_t* end = bytes.data() + bytes.size();
        const void* dle = std::memchr(run, kDle, static_cast<std::size_t>(end - run));
        const std::uint8_t* stop = dle != nullptr ? static_cast<const std::uint8_t*>(dle) : end;
        if (image_.size() + static_cast<std::size_t>(stop - run) > max_length_) {
          Drop();
        } else {
          image_.insert(image_.end(), run, stop);
        }
        used = static_cast<std::size_t>(stop - bytes.data());
        break;
      }
      case State::BodyAfterDle:
        if (b == kDle) {
          state_ = State::Body;
          Append(kDle);
        } else if (b == kEtx) {
          body_end_ = image_.size();
          image_.push_back(kDle);
          image_.push_back(kEtx);
          if (image_.size() > max_length_) {
            Drop();
          } else if (sum_check_) {
            state_ = State::SumCharacters;
          } else {
            Finish();
          }
        } else {
          // A lone DLE inside a frame: the frame is broken. DLE STX starts the next one.
          Drop();
          if (b == kStx) StartFrame();
        }
        break;
      case State::SumCharacters:
        image_.push_back(b);
        if (image_.size() == body_end_ + 4) {
          if (image_.size() > max_length_) {
            Drop();
          } else {
            Finish();
          }
        }
        break;
      case State::Complete:
        break;
    }
  }
  return used;
}

std::int16_t EndCode(std::span<const std::uint8_t> image) {
  if (image.size() < 16) return 0;
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(image[15] << 8 | image[14]));
}

}  // namespace kestova
