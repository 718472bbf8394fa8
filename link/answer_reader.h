#pragma once
// Reads one answer frame from bytes as they arrive: skips anything before a frame start,
// removes DLE doubling, and calls the frame complete after DLE ETX plus, with the sum
// check on, the two sum characters. A frame start is DLE STX whose DLE ends an odd run of
// DLEs (data DLEs are always doubled, so `10 10 02` in the data of a broken frame is no
// start). A DLE followed by anything but DLE or ETX drops the frame (a DLE STX starts a
// new one at once); so does a frame that grows past max_length.
//
// The image holds the de-stuffed frame: DLE STX, the fields, DLE ETX and, with the sum
// check, the two sum characters, so a normal answer's image is exactly its expected
// length E. Positions: 2-3 byte count, 4 frame ID, 5-11 routing echo, 12-13 response ID,
// 14-15 end code (low byte first), 16.. response data.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kestova {

class AnswerReader {
 public:
  AnswerReader(bool sum_check, std::size_t max_length);

  // Consumes bytes up to and including the end of the first complete frame; returns how
  // many were consumed. Once complete, further calls consume nothing.
  std::size_t Feed(std::span<const std::uint8_t> bytes);

  bool complete() const { return state_ == State::Complete; }
  // Forgets the frame read so far (a complete one included) and hunts for the next start.
  void Restart();
  // True while a frame has arrived through DLE ETX and its sum characters have not.
  bool awaiting_sum_characters() const { return state_ == State::SumCharacters; }
  // With the sum check on: the two characters are hex digits equal to the low byte of
  // the sum of the image bytes from position 2 through the last byte before DLE ETX.
  // Always true with the sum check off.
  bool sum_check_passed() const { return sum_ok_; }
  std::size_t dropped_frames() const { return dropped_; }

  const std::vector<std::uint8_t>& image() const { return image_; }
  // Bytes between DLE STX and DLE ETX (the byte count through the last data byte).
  std::span<const std::uint8_t> body() const;

 private:
  enum class State { Hunting, Body, BodyAfterDle, SumCharacters, Complete };

  void Drop();
  void StartFrame();
  void Append(std::uint8_t byte);
  void Finish();

  bool sum_check_;
  std::size_t max_length_;
  State state_ = State::Hunting;
  std::size_t hunting_dles_ = 0;  // DLEs in a row while hunting
  std::vector<std::uint8_t> image_;
  std::size_t body_end_ = 0;
  bool sum_ok_ = false;
  std::size_t dropped_ = 0;
};

// The answer's end code (positions 14 low, 15 high) as a 16-bit signed value.
std::int16_t EndCode(std::span<const std::uint8_t> image);

}  // namespace kestova
