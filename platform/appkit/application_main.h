// The application main routine (AppKit's NSApplicationMain).
//
// Thread: the main thread, once per process.
#pragma once

#include <functional>

#include "platform/appkit/ns_application.h"

namespace korvane {

// The main interface file: makes the application's delegate and windows.
using MainInterfaceLoader = std::function<void(NSApplication& app)>;

// Runs the application:
//  1. reads the launch arguments (see launch_arguments.h): --help prints the
//     usage to standard output and returns 0; a bad option prints the error
//     and the usage to standard error and returns 2;
//  2. makes the shared application, with the launch arguments on it;
//  3. loads the main interface (`loadMainInterface`);
//  4. starts answering other copies' requests (unhide, activate, reopen,
//     quit); when it cannot, prints why to standard error and returns 1;
//  5. runs the launch tasks; the first that fails prints its message to
//     standard error and makes the status 1;
//  6. tells the delegate applicationDidFinishLaunching and runs the main loop
//     until the application stops (a quit the delegate accepts, SIGINT or
//     SIGTERM; a signal stops it without asking the delegate);
//  7. tears the windows down (a Flutter view's engine stops and removes its
//     socket), stops answering other copies and returns 0.
int NSApplicationMain(int argc, const char* const* argv,
                      const MainInterfaceLoader& loadMainInterface);

}  // namespace korvane
