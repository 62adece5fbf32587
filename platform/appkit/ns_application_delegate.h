// The application's delegate: AppKit's questions about quitting, restoring
// state and reopening, with AppKit's own answers as the defaults.
//
// Thread: main thread only; the application asks on the main thread.
#pragma once

#include "platform/appkit/ns_application_terminate_reply.h"

namespace korvane {

class NSApplication;

class NSApplicationDelegate {
 public:
  NSApplicationDelegate() = default;
  virtual ~NSApplicationDelegate() = default;
  NSApplicationDelegate(const NSApplicationDelegate&) = delete;
  NSApplicationDelegate& operator=(const NSApplicationDelegate&) = delete;

  // Whether closing the last visible window should quit. Default false.
  virtual bool applicationShouldTerminateAfterLastWindowClosed(NSApplication& app);
  // The answer to a quit request. Default NSTerminateNow.
  virtual NSApplicationTerminateReply applicationShouldTerminate(NSApplication& app);
  // Whether restorable state is kept with secure coding. Default false.
  virtual bool applicationSupportsSecureRestorableState(NSApplication& app);
  // A reopen request (Dock, Finder, another copy's open); `hasVisibleWindows`
  // says whether any window is visible. Default true.
  virtual bool applicationShouldHandleReopen(NSApplication& app, bool hasVisibleWindows);
  // Launching is done: the main interface is loaded, the launch tasks have
  // run, and the main loop is about to start. Default: nothing.
  virtual void applicationDidFinishLaunching(NSApplication& app);
};

}  // namespace korvane
