// korvane-call: sends one method call to a running host and prints the reply.
// Thread: any; one call at a time.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/embedding/interface_address.h"

namespace korvane::tools {

// Exit statuses, as --help lists them.
enum KorvaneCallExit : int {
  kExitReplied = 0,
  kExitUsage = 2,
  kExitErrorReply = 3,
  kExitNotImplemented = 4,
  kExitNoHost = 5,
  kExitTimedOut = 6,
  kExitBroken = 7,
};

// Runs the tool with `args` (without the program name). `environment` gives
// KORVANE_INTERFACE_SOCKET and the default folders for finding the host. The
// reply goes to `out` as one line of JSON; everything else goes to `err`.
int runKorvaneCall(const std::vector<std::string>& args, const InterfaceAddressInputs& environment,
                   std::ostream& out, std::ostream& err);

}  // namespace korvane::tools
