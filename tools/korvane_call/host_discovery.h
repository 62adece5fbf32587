// Finding the interface socket of a running host. Thread: any.
#pragma once

#include <string>
#include <vector>

#include "platform/linux/engine/interface_address.h"

namespace korvane::tools {

struct HostDiscovery {
  std::string path;   // the one socket to use; empty when there is none
  std::string error;  // why not: no host, or several (listed)
};

// KORVANE_INTERFACE_SOCKET when set; otherwise the one live socket named
// interface-*.sock in this user's default folders (folders that fail the
// host's own safety checks are not looked into).
HostDiscovery findInterfaceSocket(const InterfaceAddressInputs& inputs);

// The live interface sockets in `folder`, sorted.
std::vector<std::string> liveInterfaceSockets(const std::string& folder);

}  // namespace korvane::tools
