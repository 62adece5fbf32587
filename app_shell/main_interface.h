// The main interface file: what the application main routine loads.
//
// Thread: main thread, once, at launch.
#pragma once

#include "platform/appkit/ns_application.h"

namespace korvane {

// The main window's frame at launch.
inline constexpr NSRect kMainWindowFrame{0, 0, 1280, 720};

// Makes one AppDelegate, the application's delegate, and one
// MainFlutterWindow titled "Korvane" with kMainWindowFrame; wakes the window
// and makes it key and front, so it is visible at launch. The application
// keeps both.
void loadMainInterface(NSApplication& app);

}  // namespace korvane
