#pragma once
// What the fuzz targets share: an abort that libFuzzer reports as a finding, and an
// independent reading of a hex digit.

#include <cstdint>
#include <cstdlib>

namespace kestova::fuzz {

inline void Require(bool condition) {
  if (!condition) std::abort();
}

inline int HexDigitValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace kestova::fuzz
