// The application, headless: its windows, activation, hiding, delegate, quit
// and reopen handling, launch arguments and launch tasks, and the main loop.
// Every state change is real and noted in a bounded change log, so tests can
// see what happened and in which order ("window 3 visible", "window 3 key",
// "activate", ...).
//
// There is one shared application at a time (NSApp()). The application main
// routine makes it; a test may make its own NSApplication first, which is
// then the shared one until it is destroyed.
//
// Thread: main thread only (asserted in debug builds).
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/launch_arguments.h"
#include "platform/appkit/ns_application_delegate.h"
#include "platform/appkit/ns_application_terminate_reply.h"
#include "platform/appkit/ns_window.h"

namespace korvane {

class NSApplication {
 public:
  // Becomes the shared application; none may exist yet.
  NSApplication();
  // Tears down what it owns; windows still alive leave it.
  ~NSApplication();
  NSApplication(const NSApplication&) = delete;
  NSApplication& operator=(const NSApplication&) = delete;

  // The shared application, made (and kept for the life of the process) on
  // first use when there is none.
  static NSApplication& sharedApplication();

  // --- Windows ---
  // Every window of the application, in the order they were made.
  const std::vector<NSWindow*>& windows() const { return windows_; }
  // The visible windows, front to back.
  const std::vector<NSWindow*>& orderedWindows() const { return zOrder_; }
  // nullptr when no window is key.
  NSWindow* keyWindow() const { return keyWindow_; }
  NSWindow* windowWithWindowNumber(int number) const;

  // --- Activation and hiding ---
  bool isActive() const { return active_; }
  // Makes the application active (unhiding it first when it is hidden).
  // `ignoringOtherApps` is accepted: there is nobody else to ask.
  void activateIgnoringOtherApps(bool ignoringOtherApps);
  void deactivate();
  bool isHidden() const { return hidden_; }
  // Orders out every visible window, remembering which were visible and which
  // was key, and deactivates the application.
  void hide(const void* sender);
  // Orders the remembered windows back in, in their old front-to-back order,
  // and makes the remembered key window key again.
  void unhide(const void* sender);

  // --- Delegate ---
  // Not owned (AppKit's delegate is weak); nullptr for none.
  NSApplicationDelegate* delegate() const { return delegate_; }
  void setDelegate(NSApplicationDelegate* delegate);

  // --- Quit and reopen ---
  // Asks the delegate's applicationShouldTerminate (NSTerminateNow without a
  // delegate) and stops the main loop only on NSTerminateNow. Returns the answer.
  NSApplicationTerminateReply terminate(const void* sender);
  // A reopen request: asks the delegate's applicationShouldHandleReopen with
  // whether any window is visible; returns its answer (true without a delegate).
  bool handleReopen();
  // Reopen requests handled so far.
  int reopenCount() const { return reopenCount_; }

  // --- Launching and running ---
  const LaunchArguments& launchArguments() const { return launchArguments_; }
  void setLaunchArguments(LaunchArguments arguments) { launchArguments_ = std::move(arguments); }

  // A step that the layers above need once the main interface is loaded and
  // before the main loop runs (the Flutter view controller starts its engine).
  // Returns nullopt, or the message of its failure.
  using LaunchTask = std::function<std::optional<std::string>()>;
  void addLaunchTask(LaunchTask task);
  // Runs the launch tasks in the order they were added, each once; stops at
  // the first failure and returns its message.
  std::optional<std::string> runLaunchTasks();
  // Tells the delegate applicationDidFinishLaunching.
  void finishLaunching();

  // Runs the main loop until stop(). Returns at once when a stop was already asked.
  void run();
  // Ends run(): the main loop stops after the work already queued on the main
  // thread, so a reply being made when stop() is called still goes out.
  void stop(const void* sender);
  bool isRunning() const { return running_; }
  // Whether stop() was called (by terminate, a signal, ...).
  bool stopRequested() const { return stopRequested_; }

  // --- Objects of the main interface file ---
  // The application keeps these alive until tearDown(). `window` must belong
  // to this application.
  void adoptWindow(std::unique_ptr<NSWindow> window);
  // Keeps `delegate` and makes it the delegate.
  void adoptDelegate(std::unique_ptr<NSApplicationDelegate> delegate);
  // Destroys the adopted windows, newest first (a Flutter view's engine stops
  // with its window), then the adopted delegate. Safe to call more than once.
  void tearDown();

  // --- Change log ---
  static constexpr size_t kChangeLogLimit = 512;
  // Appends `event`; the oldest events go past kChangeLogLimit.
  void noteChange(std::string event);
  // The recorded events, oldest first.
  std::vector<std::string> changeLog() const;
  void clearChangeLog() { changeLog_.clear(); }

 private:
  friend class NSWindow;

  void addWindow(NSWindow* window);
  void removeWindow(NSWindow* window);
  // Moves a window in the front-to-back order (`relativeTo` 0: all windows).
  void placeWindow(NSWindow* window, NSWindowOrderingMode mode, int relativeTo);
  void setKeyWindow(NSWindow* window);
  void lastWindowClosed();

  std::vector<NSWindow*> windows_;
  std::vector<NSWindow*> zOrder_;
  NSWindow* keyWindow_ = nullptr;
  bool active_ = false;
  bool hidden_ = false;
  std::vector<NSWindow*> hiddenWindows_;  // front to back, remembered by hide()
  NSWindow* hiddenKeyWindow_ = nullptr;
  NSApplicationDelegate* delegate_ = nullptr;
  int reopenCount_ = 0;
  LaunchArguments launchArguments_;
  std::vector<LaunchTask> launchTasks_;
  bool running_ = false;
  bool stopRequested_ = false;
  std::vector<std::unique_ptr<NSWindow>> ownedWindows_;
  std::unique_ptr<NSApplicationDelegate> ownedDelegate_;
  std::deque<std::string> changeLog_;
};

// The shared application (AppKit's NSApp).
NSApplication& NSApp();

}  // namespace korvane
