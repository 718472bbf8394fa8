#pragma once
// Writes 24-bit RGB pictures as PNG files with stored (uncompressed) deflate blocks: no
// compression library needed for a test screenshot.

#include <cstdint>
#include <string>
#include <vector>

namespace kestova::wintest {

// rgb: height rows of width pixels, top row first, 3 bytes per pixel.
bool WritePng(const std::wstring& path, int width, int height,
              const std::vector<std::uint8_t>& rgb);

}  // namespace kestova::wintest
