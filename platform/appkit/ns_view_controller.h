// A view controller: what a window shows as its content. Headless: it has no
// view, only the content size it would like the window to have.
//
// Thread: main thread only.
#pragma once

#include "platform/appkit/ns_geometry.h"

namespace korvane {

class NSViewController {
 public:
  NSViewController() = default;
  virtual ~NSViewController() = default;
  NSViewController(const NSViewController&) = delete;
  NSViewController& operator=(const NSViewController&) = delete;

  // The size the content would like; a window resizes itself to it when the
  // controller becomes its content view controller. Zero leaves the size alone.
  NSSize preferredContentSize() const { return preferredContentSize_; }
  void setPreferredContentSize(NSSize size) { preferredContentSize_ = size; }

 private:
  NSSize preferredContentSize_;
};

}  // namespace korvane
