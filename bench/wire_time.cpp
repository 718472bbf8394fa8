#include "bench/wire_time.h"

#include <cstdint>

#include "link/line_settings.h"

namespace kestova::bench {

std::chrono::nanoseconds WireTime(std::size_t characters, std::string_view settings) {
  const LineSettings line = ParseLineSettings(settings);
  // Multiplied out before the one division, so nothing is lost to a rounded character time.
  const auto bits = static_cast<std::int64_t>(characters) * line.BitsPerCharacter();
  return std::chrono::nanoseconds(bits * 1'000'000'000LL / line.baud);
}

}  // namespace kestova::bench
