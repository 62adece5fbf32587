// korvane-call: sends one method call to a running host and prints the reply;
// with --instance, sends one request line to a running instance's endpoint
// and prints its reply line.
// Thread: any but the main thread of a process that serves an endpoint or
// the interface itself (the calls block); one call at a time.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/linux/engine/interface_address.h"

namespace korvane::tools {

// Exit statuses, as --help lists them.
enum KorvaneCallExit : int {
  kExitReplied = 0,
  kExitInstanceError = 1,  // --instance: the reply was an "error" line
  kExitUsage = 2,
  kExitErrorReply = 3,
  kExitNotImplemented = 4,
  kExitNoHost = 5,
  kExitTimedOut = 6,
  kExitBroken = 7,
};

// Runs the tool with `args` (without the program name). `environment` gives
// KORVANE_INTERFACE_SOCKET, the default folders for finding the host or the
// instance endpoint, and this user's uid. The reply goes to `out` as one line
// (JSON, or the endpoint's reply line); everything else goes to `err`.
int runKorvaneCall(const std::vector<std::string>& args, const InterfaceAddressInputs& environment,
                   std::ostream& out, std::ostream& err);

}  // namespace korvane::tools
