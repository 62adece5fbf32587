// The application's delegate: keeps the process alive when its windows
// close, hands every quit request to window_ext instead of quitting, and
// shows the windows again when the application is reopened while none is
// visible.
//
// Thread: main thread only; the application asks on the main thread.
#pragma once

#include "platform/appkit/flutter_app_delegate.h"

namespace korvane {

class AppDelegate : public FlutterAppDelegate {
 public:
  // false: the process outlives its windows.
  bool applicationShouldTerminateAfterLastWindowClosed(NSApplication& app) override;
  // Hands the request to window_ext's shared instance when there is one, then
  // answers NSTerminateCancel, every time: ending the process is left to the
  // plug-in and the interface.
  NSApplicationTerminateReply applicationShouldTerminate(NSApplication& app) override;
  // true.
  bool applicationSupportsSecureRestorableState(NSApplication& app) override;
  // With visible windows: nothing. Otherwise, for each window in the
  // application's list: shows it if hidden, makes it key and orders it
  // front, and activates the application. Answers true.
  bool applicationShouldHandleReopen(NSApplication& app, bool hasVisibleWindows) override;
};

}  // namespace korvane
