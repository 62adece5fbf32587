// What the application does with the requests that other copies send to its
// instance endpoint (see platform/instance_endpoint.h), and the reply lines.
//
// Thread: main thread only (the endpoint serves requests there).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/appkit/ns_application.h"

namespace korvane {

// Carries out `request` on `app` and returns its reply line (without "\n"):
//   "ping"     nothing changes
//   "unhide"   unhide
//   "activate" activateIgnoringOtherApps(true)
//   "reopen"   the delegate's reopen answer, asked with whether any window is visible
//   "hide"     hide
//   "close"    closes every window, in list order
//   "quit"     terminate; the reply carries the delegate's answer as
//              " terminate=cancel|now|later", and on "now" the main loop ends
//              after this reply has been handed back
//   "state"    " active=<0|1> hidden=<0|1> reopens=<n> windows=<n>", then per
//              window in list order " window=<number>,<visible|hidden>,
//              <key|notkey>,<x>,<y>,<width>,<height>" (whole points)
// Each ok reply starts "ok pid=<pid>"; any other request is an "error" reply
// and changes nothing.
std::string answerInstanceRequest(NSApplication& app, std::string_view request, int32_t pid);

}  // namespace korvane
