#pragma once

#include <chrono>
#include <string>

namespace kestova::sim {

// Line settings in the "baud,parity,data bits,stop bits" text the control's settings use
// ("9600,n,8,1", "115200,o,8,1.5"), and the time one character takes on such a line.
struct LineTiming {
  int baud = 9600;
  char parity = 'n';  // n, e, o, m or s
  int data_bits = 8;
  double stop_bits = 1.0;

  // Throws std::invalid_argument naming the part it could not read.
  static LineTiming Parse(const std::string& settings);

  // Start bit, data bits, parity bit (unless 'n') and stop bits.
  double BitsPerCharacter() const;
  std::chrono::nanoseconds CharacterTime() const;
};

}  // namespace kestova::sim
