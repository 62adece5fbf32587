#include "platform/appkit/ns_window.h"

#include <cmath>
#include <utility>

#include "platform/appkit/ns_application.h"
#include "platform/main_thread.h"

namespace korvane {
namespace {

int nextWindowNumber() {
  static int last = 0;
  return ++last;
}

std::string points(double value) { return std::to_string(std::llround(value)); }

}  // namespace

NSWindow::NSWindow(NSRect contentRect, NSWindowStyleMask styleMask, NSBackingStoreType, bool)
    : app_(&NSApp()), number_(nextWindowNumber()), styleMask_(styleMask), frame_(contentRect) {
  KORVANE_ASSERT_MAIN_THREAD();
  app_->addWindow(this);
}

NSWindow::~NSWindow() {
  KORVANE_ASSERT_MAIN_THREAD();
  if (app_ != nullptr) app_->removeWindow(this);
}

void NSWindow::awakeFromNib() {
  KORVANE_ASSERT_MAIN_THREAD();
  if (app_ != nullptr) app_->noteChange("window " + std::to_string(number_) + " awake");
}

void NSWindow::order(NSWindowOrderingMode mode, int relativeTo) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (app_ == nullptr) {
    visible_ = mode != NSWindowOut;
    return;
  }
  const std::string name = "window " + std::to_string(number_);
  if (mode == NSWindowOut) {
    app_->noteChange(name + " order out");
  } else {
    app_->noteChange(name + (mode == NSWindowAbove ? " order above " : " order below ") +
                     std::to_string(relativeTo));
  }
  app_->placeWindow(this, mode, relativeTo);
  setVisibleState(mode != NSWindowOut);
  if (mode == NSWindowOut && app_->keyWindow() == this) app_->setKeyWindow(nullptr);
}

void NSWindow::orderFront(const void*) { order(NSWindowAbove, 0); }

void NSWindow::orderBack(const void*) { order(NSWindowBelow, 0); }

void NSWindow::orderOut(const void*) { order(NSWindowOut, 0); }

void NSWindow::makeKeyAndOrderFront(const void* sender) {
  orderFront(sender);
  makeKeyWindow();
}

void NSWindow::makeKeyWindow() {
  KORVANE_ASSERT_MAIN_THREAD();
  if (app_ != nullptr && visible_) app_->setKeyWindow(this);
}

bool NSWindow::isKeyWindow() const {
  KORVANE_ASSERT_MAIN_THREAD();
  return app_ != nullptr && app_->keyWindow() == this;
}

void NSWindow::setIsVisible(bool visible) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (visible == visible_) return;
  if (visible) {
    orderFront(nullptr);
  } else {
    orderOut(nullptr);
  }
}

void NSWindow::close() {
  KORVANE_ASSERT_MAIN_THREAD();
  if (app_ == nullptr) {
    orderOut(nullptr);
    return;
  }
  app_->noteChange("window " + std::to_string(number_) + " close");
  orderOut(nullptr);
  if (app_->orderedWindows().empty()) app_->lastWindowClosed();
}

void NSWindow::setFrame(NSRect frame, bool) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (frame == frame_) return;
  frame_ = frame;
  if (app_ != nullptr) {
    app_->noteChange("window " + std::to_string(number_) + " frame " + points(frame.x) + "," +
                     points(frame.y) + "," + points(frame.width) + "," + points(frame.height));
  }
}

void NSWindow::setContentViewController(std::unique_ptr<NSViewController> controller) {
  KORVANE_ASSERT_MAIN_THREAD();
  // The old controller goes after the new one is in place.
  std::unique_ptr<NSViewController> old =
      std::exchange(contentViewController_, std::move(controller));
  if (contentViewController_ == nullptr) return;
  const NSSize preferred = contentViewController_->preferredContentSize();
  if (preferred.width > 0 && preferred.height > 0) {
    setFrame({frame_.x, frame_.y, preferred.width, preferred.height}, true);
  }
}

void NSWindow::setVisibleState(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  if (app_ != nullptr) {
    app_->noteChange("window " + std::to_string(number_) + (visible ? " visible" : " hidden"));
  }
}

}  // namespace korvane
