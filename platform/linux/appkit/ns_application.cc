#include "platform/appkit/ns_application.h"

#include <algorithm>
#include <cassert>
#include <utility>

#include "platform/dispatch_queue.h"
#include "platform/main_loop.h"
#include "platform/main_thread.h"

namespace korvane {
namespace {

NSApplication* theSharedApplication = nullptr;

void erase(std::vector<NSWindow*>& windows, NSWindow* window) {
  windows.erase(std::remove(windows.begin(), windows.end(), window), windows.end());
}

std::string windowName(const NSWindow* window) {
  return "window " + std::to_string(window->windowNumber());
}

}  // namespace

NSApplication::NSApplication() {
  KORVANE_ASSERT_MAIN_THREAD();
  assert(theSharedApplication == nullptr && "one application at a time");
  theSharedApplication = this;
}

NSApplication::~NSApplication() {
  KORVANE_ASSERT_MAIN_THREAD();
  tearDown();
  for (NSWindow* window : windows_) window->app_ = nullptr;
  if (theSharedApplication == this) theSharedApplication = nullptr;
}

NSApplication& NSApplication::sharedApplication() {
  KORVANE_ASSERT_MAIN_THREAD();
  // Kept for the life of the process, as AppKit keeps NSApp.
  if (theSharedApplication == nullptr) new NSApplication();
  return *theSharedApplication;
}

NSApplication& NSApp() { return NSApplication::sharedApplication(); }

NSWindow* NSApplication::windowWithWindowNumber(int number) const {
  KORVANE_ASSERT_MAIN_THREAD();
  for (NSWindow* window : windows_) {
    if (window->windowNumber() == number) return window;
  }
  return nullptr;
}

void NSApplication::activateIgnoringOtherApps(bool) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (hidden_) unhide(nullptr);
  active_ = true;
  // Noted on every call: each activation is a request to the window server.
  noteChange("activate");
}

void NSApplication::deactivate() {
  KORVANE_ASSERT_MAIN_THREAD();
  if (!active_) return;
  active_ = false;
  noteChange("deactivate");
}

void NSApplication::hide(const void*) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (hidden_) return;
  hidden_ = true;
  noteChange("hide");
  hiddenWindows_ = zOrder_;
  hiddenKeyWindow_ = keyWindow_;
  for (NSWindow* window : std::vector<NSWindow*>(zOrder_)) window->order(NSWindowOut, 0);
  deactivate();
}

void NSApplication::unhide(const void*) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (!hidden_) return;
  hidden_ = false;
  noteChange("unhide");
  const std::vector<NSWindow*> windows = std::exchange(hiddenWindows_, {});
  NSWindow* key = std::exchange(hiddenKeyWindow_, nullptr);
  // Back to front, so that the old front window ends up in front again.
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) (*it)->order(NSWindowAbove, 0);
  if (key != nullptr) key->makeKeyWindow();
}

void NSApplication::setDelegate(NSApplicationDelegate* delegate) {
  KORVANE_ASSERT_MAIN_THREAD();
  delegate_ = delegate;
}

NSApplicationTerminateReply NSApplication::terminate(const void* sender) {
  KORVANE_ASSERT_MAIN_THREAD();
  const NSApplicationTerminateReply reply =
      delegate_ != nullptr ? delegate_->applicationShouldTerminate(*this) : NSTerminateNow;
  switch (reply) {
    case NSTerminateCancel:
      noteChange("terminate cancel");
      break;
    case NSTerminateNow:
      noteChange("terminate now");
      stop(sender);
      break;
    case NSTerminateLater:
      noteChange("terminate later");
      break;
  }
  return reply;
}

bool NSApplication::handleReopen() {
  KORVANE_ASSERT_MAIN_THREAD();
  const bool hasVisibleWindows = !zOrder_.empty();
  ++reopenCount_;
  noteChange(hasVisibleWindows ? "reopen visible=1" : "reopen visible=0");
  return delegate_ != nullptr ? delegate_->applicationShouldHandleReopen(*this, hasVisibleWindows)
                              : true;
}

void NSApplication::addLaunchTask(LaunchTask task) {
  KORVANE_ASSERT_MAIN_THREAD();
  launchTasks_.push_back(std::move(task));
}

std::optional<std::string> NSApplication::runLaunchTasks() {
  KORVANE_ASSERT_MAIN_THREAD();
  const std::vector<LaunchTask> tasks = std::exchange(launchTasks_, {});
  for (const LaunchTask& task : tasks) {
    if (auto failure = task()) return failure;
  }
  return std::nullopt;
}

void NSApplication::finishLaunching() {
  KORVANE_ASSERT_MAIN_THREAD();
  noteChange("launched");
  if (delegate_ != nullptr) delegate_->applicationDidFinishLaunching(*this);
}

void NSApplication::run() {
  KORVANE_ASSERT_MAIN_THREAD();
  if (stopRequested_) return;
  running_ = true;
  runMainLoop();
  running_ = false;
}

void NSApplication::stop(const void*) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (stopRequested_) return;
  stopRequested_ = true;
  noteChange("stop");
  // Queued behind what the main thread already has to do (the reply to the
  // request that asked for the stop among it).
  if (running_) mainQueue().async([] { quitMainLoop(); });
}

void NSApplication::adoptWindow(std::unique_ptr<NSWindow> window) {
  KORVANE_ASSERT_MAIN_THREAD();
  assert(window->app_ == this);
  ownedWindows_.push_back(std::move(window));
}

void NSApplication::adoptDelegate(std::unique_ptr<NSApplicationDelegate> delegate) {
  KORVANE_ASSERT_MAIN_THREAD();
  setDelegate(delegate.get());
  ownedDelegate_ = std::move(delegate);
}

void NSApplication::tearDown() {
  KORVANE_ASSERT_MAIN_THREAD();
  while (!ownedWindows_.empty()) {
    std::unique_ptr<NSWindow> window = std::move(ownedWindows_.back());
    ownedWindows_.pop_back();
    window.reset();
  }
  if (ownedDelegate_ != nullptr) {
    if (delegate_ == ownedDelegate_.get()) delegate_ = nullptr;
    ownedDelegate_.reset();
  }
}

void NSApplication::noteChange(std::string event) {
  KORVANE_ASSERT_MAIN_THREAD();
  changeLog_.push_back(std::move(event));
  while (changeLog_.size() > kChangeLogLimit) changeLog_.pop_front();
}

std::vector<std::string> NSApplication::changeLog() const {
  KORVANE_ASSERT_MAIN_THREAD();
  return {changeLog_.begin(), changeLog_.end()};
}

void NSApplication::addWindow(NSWindow* window) {
  windows_.push_back(window);
  noteChange(windowName(window) + " new");
}

void NSApplication::removeWindow(NSWindow* window) {
  erase(windows_, window);
  erase(zOrder_, window);
  erase(hiddenWindows_, window);
  if (keyWindow_ == window) keyWindow_ = nullptr;
  if (hiddenKeyWindow_ == window) hiddenKeyWindow_ = nullptr;
  noteChange(windowName(window) + " gone");
}

void NSApplication::placeWindow(NSWindow* window, NSWindowOrderingMode mode, int relativeTo) {
  erase(zOrder_, window);
  if (mode == NSWindowOut) return;
  auto other = std::find_if(zOrder_.begin(), zOrder_.end(), [&](NSWindow* candidate) {
    return relativeTo != 0 && candidate->windowNumber() == relativeTo;
  });
  if (other == zOrder_.end()) {
    // In front of or behind every window.
    zOrder_.insert(mode == NSWindowAbove ? zOrder_.begin() : zOrder_.end(), window);
  } else {
    zOrder_.insert(mode == NSWindowAbove ? other : other + 1, window);
  }
}

void NSApplication::setKeyWindow(NSWindow* window) {
  if (window == keyWindow_) return;
  if (keyWindow_ != nullptr) noteChange(windowName(keyWindow_) + " notkey");
  keyWindow_ = window;
  if (window != nullptr) noteChange(windowName(window) + " key");
}

void NSApplication::lastWindowClosed() {
  const bool quit =
      delegate_ != nullptr && delegate_->applicationShouldTerminateAfterLastWindowClosed(*this);
  if (quit) terminate(nullptr);
}

}  // namespace korvane
