// A window, headless: nothing is drawn, but its frame, visibility, key status,
// place in the window order and content view controller are real state that
// the application records in its change log.
//
// Every ordering goes through order() (orderWindow:relativeTo:):
// orderFront, orderBack, orderOut, makeKeyAndOrderFront, setIsVisible and
// close, and the application's hide and unhide, so a subclass that overrides
// order() sees them all.
//
// A window joins the shared application (NSApp()) when it is made and leaves
// it when it is destroyed. Closing a window orders it out; it stays in the
// application's window list.
//
// Thread: main thread only (asserted in debug builds).
#pragma once

#include <memory>
#include <string>

#include "platform/appkit/ns_geometry.h"
#include "platform/appkit/ns_view_controller.h"
#include "platform/appkit/ns_window_ordering_mode.h"
#include "platform/appkit/ns_window_style.h"

namespace korvane {

class NSApplication;

class NSWindow {
 public:
  // initWithContentRect:styleMask:backing:defer:. The frame is the content
  // rectangle (no title bar is drawn). The window starts hidden.
  NSWindow(NSRect contentRect, NSWindowStyleMask styleMask, NSBackingStoreType backing, bool defer);
  virtual ~NSWindow();
  NSWindow(const NSWindow&) = delete;
  NSWindow& operator=(const NSWindow&) = delete;

  // Called once after the window is loaded from the main interface file.
  virtual void awakeFromNib();

  // orderWindow:relativeTo:: out, or above or below the window numbered
  // `relativeTo` (0: in front of or behind every window). A window ordered
  // above or below becomes visible; one ordered out becomes hidden and stops
  // being the key window.
  virtual void order(NSWindowOrderingMode mode, int relativeTo);

  void orderFront(const void* sender);
  void orderBack(const void* sender);
  void orderOut(const void* sender);
  // Orders the window front, then makes it the key window.
  void makeKeyAndOrderFront(const void* sender);
  // Makes a visible window the key window (a hidden one cannot be key).
  void makeKeyWindow();
  bool isKeyWindow() const;

  bool isVisible() const { return visible_; }
  // Orders the window front (true) or out (false) when that changes its visibility.
  void setIsVisible(bool visible);

  // Orders the window out. When no visible window is left, asks the
  // delegate's applicationShouldTerminateAfterLastWindowClosed and asks the
  // application to terminate only when it answers true.
  void close();

  NSRect frame() const { return frame_; }
  // Moves and resizes the window; `display` is accepted and unused (headless).
  void setFrame(NSRect frame, bool display);

  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }

  // Unique in the process, increasing in the order windows are made, from 1.
  int windowNumber() const { return number_; }
  NSWindowStyleMask styleMask() const { return styleMask_; }

  // The window owns its content view controller. Setting one resizes the
  // window to the controller's preferred content size (when it has one),
  // keeping the frame's origin; the previous controller is destroyed.
  NSViewController* contentViewController() const { return contentViewController_.get(); }
  void setContentViewController(std::unique_ptr<NSViewController> controller);

 private:
  friend class NSApplication;

  // Sets the visibility as an ordering found it; records a change.
  void setVisibleState(bool visible);

  NSApplication* app_;  // null once the application has gone
  const int number_;
  NSWindowStyleMask styleMask_;
  NSRect frame_;
  bool visible_ = false;
  std::string title_;
  std::unique_ptr<NSViewController> contentViewController_;
};

}  // namespace korvane
