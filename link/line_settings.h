#pragma once
// The line settings text of the serial port ("9600,n,8,1"): parsed once, shared by the
// platform ports (which apply it) and the exchange (which needs the character time).

#include <chrono>
#include <string>
#include <string_view>

namespace kestova {

enum class Parity : char { None = 'N', Even = 'E', Odd = 'O', Mark = 'M', Space = 'S' };
enum class StopBits { One, OnePointFive, Two };

struct LineSettings {
  long baud = 9600;
  Parity parity = Parity::None;
  int data_bits = 8;
  StopBits stop_bits = StopBits::One;

  // Start bit + data bits + parity bit + stop bits (1.5 counted as 2, the safe side).
  int BitsPerCharacter() const;
  std::chrono::nanoseconds CharacterTime() const;
};

// Raises AutomationError 380 (Invalid property value) for a malformed text: a baud rate
// that is not a positive number, a parity letter other than n/e/o/m/s (either case),
// data bits outside 5..8, stop bits other than 1, 1.5, 2, or a field count other than 4.
LineSettings ParseLineSettings(std::string_view text);

// What ParseLineSettings refuses in `text`, for a person ("parity x: expected n, o, e, m
// or s"); empty when the text is accepted. The same parser judges both.
std::string LineSettingsFault(std::string_view text);

}  // namespace kestova
