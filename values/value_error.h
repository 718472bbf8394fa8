#pragma once
// A typed access the layer refuses before anything is sent: a value that does not fit its
// type, a count past 480 words, text that is not ASCII, a device text that cannot be read,
// a family other than D, W or ZR for a typed access. The message names the offending input.

#include <stdexcept>

namespace kestova {

class ValueError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

}  // namespace kestova
