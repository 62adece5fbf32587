// The style mask and backing store type a window is made with. Headless
// windows keep them as given; nothing is drawn. Thread: any (plain values).
#pragma once

#include <cstdint>

namespace korvane {

using NSWindowStyleMask = uint64_t;
inline constexpr NSWindowStyleMask NSWindowStyleMaskBorderless = 0;
inline constexpr NSWindowStyleMask NSWindowStyleMaskTitled = 1 << 0;
inline constexpr NSWindowStyleMask NSWindowStyleMaskClosable = 1 << 1;
inline constexpr NSWindowStyleMask NSWindowStyleMaskMiniaturizable = 1 << 2;
inline constexpr NSWindowStyleMask NSWindowStyleMaskResizable = 1 << 3;

enum NSBackingStoreType : int {
  NSBackingStoreBuffered = 2,
};

}  // namespace korvane
