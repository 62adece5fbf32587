// Stand-in for window_manager's plug-in: its channel, and
// hiddenWindowAtLaunch(), the operation the plug-in adds to NSWindow and the
// main window calls after every ordering (a free function here: C++ cannot
// add members to a class from outside).
//
// Thread: main thread only.
#pragma once

#include "platform/appkit/ns_window.h"
#include "platform/embedding/plugin_registry.h"

namespace korvane::external_plugins {

class WindowManagerPlugin {
 public:
  // The channel the plug-in shares with its Dart side.
  static constexpr const char* kChannel = "window_manager";

  // Installs on "window_manager" a handler that answers every call with
  // FlutterMethodNotImplemented (the stand-in knows none of its methods).
  static void registerWith(FlutterPluginRegistrar& registrar);
};

// Notes the call: counts it for `window` and records
// "window <number> hiddenWindowAtLaunch" in the application's change log.
// (The real plug-in hides the window here when the interface asked it to
// start hidden; nothing asks that of the stand-in.)
void hiddenWindowAtLaunch(NSWindow& window);

// Calls of hiddenWindowAtLaunch for the window numbered `windowNumber`.
int hiddenWindowAtLaunchCount(int windowNumber);

}  // namespace korvane::external_plugins
