// How orderWindow:relativeTo: places a window. Thread: any (a plain value).
#pragma once

namespace korvane {

enum NSWindowOrderingMode : int {
  NSWindowAbove = 1,   // in front of the given window (0: in front of all)
  NSWindowBelow = -1,  // behind the given window (0: behind all)
  NSWindowOut = 0,     // off screen
};

}  // namespace korvane
