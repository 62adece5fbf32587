// AppKit's geometry values: a size and a rectangle in screen points, origin
// at the bottom left. Thread: any (plain values).
#pragma once

namespace korvane {

struct NSSize {
  double width = 0;
  double height = 0;
  friend bool operator==(const NSSize&, const NSSize&) = default;
};

struct NSRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  friend bool operator==(const NSRect&, const NSRect&) = default;
};

}  // namespace korvane
