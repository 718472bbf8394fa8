#include "sim/fault.h"

#include <cstdio>
#include <utility>

namespace kestova::sim {

Fault Fault::Delay(std::chrono::milliseconds delay, bool send_anyway) {
  Fault f;
  f.kind = Kind::Delay;
  f.duration = delay;
  f.send_anyway = send_anyway;
  return f;
}

Fault Fault::NoAnswer() {
  Fault f;
  f.kind = Kind::NoAnswer;
  return f;
}

Fault Fault::Cut(std::size_t keep_bytes) {
  Fault f;
  f.kind = Kind::Cut;
  f.count = keep_bytes;
  return f;
}

Fault Fault::BadSum() {
  Fault f;
  f.kind = Kind::BadSum;
  return f;
}

Fault Fault::NoiseBefore(std::vector<std::uint8_t> bytes) {
  Fault f;
  f.kind = Kind::NoiseBefore;
  f.noise = std::move(bytes);
  return f;
}

Fault Fault::NoiseAfter(std::vector<std::uint8_t> bytes) {
  Fault f;
  f.kind = Kind::NoiseAfter;
  f.noise = std::move(bytes);
  return f;
}

Fault Fault::AnswerTwice() {
  Fault f;
  f.kind = Kind::AnswerTwice;
  return f;
}

Fault Fault::ForcedEndCode(std::uint16_t code) {
  Fault f;
  f.kind = Kind::EndCode;
  f.end_code = code;
  return f;
}

Fault Fault::Trickle(std::chrono::milliseconds gap) {
  Fault f;
  f.kind = Kind::Trickle;
  f.duration = gap;
  return f;
}

Fault Fault::Echo() {
  Fault f;
  f.kind = Kind::Echo;
  return f;
}

Fault Fault::BrokenFrame() {
  Fault f;
  f.kind = Kind::BrokenFrame;
  return f;
}

Fault Fault::Hold(std::chrono::milliseconds hold) {
  Fault f;
  f.kind = Kind::Hold;
  f.duration = hold;
  return f;
}

std::string Fault::Describe() const {
  const auto ms = std::to_string(duration.count());
  switch (kind) {
    case Kind::Delay:
      return "delay " + ms + " ms" + (send_anyway ? " (sent anyway)" : "");
    case Kind::NoAnswer:
      return "no answer";
    case Kind::Cut:
      return "cut after " + std::to_string(count) + " bytes";
    case Kind::BadSum:
      return "wrong sum characters";
    case Kind::NoiseBefore:
      return std::to_string(noise.size()) + " noise bytes before";
    case Kind::NoiseAfter:
      return std::to_string(noise.size()) + " noise bytes after";
    case Kind::AnswerTwice:
      return "answer twice";
    case Kind::EndCode: {
      char text[8];
      std::snprintf(text, sizeof text, "%04X", end_code);
      return std::string("end code ") + text;
    }
    case Kind::Trickle:
      return "trickle " + ms + " ms apart";
    case Kind::Echo:
      return "echo of the request";
    case Kind::BrokenFrame:
      return "broken frame with 10 10 02 before";
    case Kind::Hold:
      return "line held " + ms + " ms after";
  }
  return "unknown fault";
}

}  // namespace kestova::sim
