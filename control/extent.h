#pragma once
// The control's size on its host's form: one fixed extent that every resize returns to.

#include <cstdint>

namespace kestova {

inline constexpr std::int32_t kExtentWidthTwips = 880;
inline constexpr std::int32_t kExtentHeightTwips = 850;

class Extent {
 public:
  // Whatever size the host asked for, the control sets its width and then its height
  // back to the fixed extent.
  void Resize(std::int32_t /*width_twips*/, std::int32_t /*height_twips*/) {
    width_ = kExtentWidthTwips;
    height_ = kExtentHeightTwips;
  }
  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }

 private:
  std::int32_t width_ = kExtentWidthTwips;
  std::int32_t height_ = kExtentHeightTwips;
};

}  // namespace kestova
