#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestova::sim {

// One way for the virtual PLC to misbehave on an answer. Build it with the named
// constructors; several faults may be active at once and combine (a delayed answer that
// is also trickled and cut, for instance).
struct Fault {
  enum class Kind {
    Delay,        // answer `duration` after the request; dropped if another request
                  // arrives first, unless `send_anyway`
    NoAnswer,     // write nothing, noise included (the command is still carried out)
    Cut,          // send only the first `count` wire bytes of the answer
    BadSum,       // sum-check characters one off (no effect while the sum check is off)
    NoiseBefore,  // `noise` bytes written just before the answer
    NoiseAfter,   // `noise` bytes written just after the answer
    AnswerTwice,  // the whole answer sent a second time
    EndCode,      // answer `end_code` with no data; the command is not carried out
    Trickle,      // answer bytes written one by one, `duration` apart
    Echo,         // the request's own bytes sent back just before the answer, as a
                  // two-wire line or some converters do
    BrokenFrame,  // just before the answer, a frame broken off mid-data whose rest holds
                  // 10 10 02 and a whole false answer (end code 4031): a reader that takes
                  // a doubled DLE before STX for a frame start reads the false answer
    Hold,         // after the answer, XOFF (0x13), and XON (0x11) `duration` later: a
                  // control using XON/XOFF cannot send meanwhile
  };

  Kind kind = Kind::NoAnswer;
  std::chrono::milliseconds duration{0};
  std::size_t count = 0;
  std::vector<std::uint8_t> noise;
  std::uint16_t end_code = 0;
  bool send_anyway = false;

  static Fault Delay(std::chrono::milliseconds delay, bool send_anyway = false);
  static Fault NoAnswer();
  static Fault Cut(std::size_t keep_bytes);
  static Fault BadSum();
  static Fault NoiseBefore(std::vector<std::uint8_t> bytes);
  static Fault NoiseAfter(std::vector<std::uint8_t> bytes);
  static Fault AnswerTwice();
  static Fault ForcedEndCode(std::uint16_t code);
  static Fault Trickle(std::chrono::milliseconds gap);
  static Fault Echo();
  static Fault BrokenFrame();
  static Fault Hold(std::chrono::milliseconds hold);

  // Short description for logs and test failure messages ("delay 1500 ms").
  std::string Describe() const;
};

}  // namespace kestova::sim
