// The listening socket file of the interface connection.
//
// Thread: any; the engine calls these from the main thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace korvane {

// A bound, listening Unix stream socket, or why there is none.
struct ListeningSocket {
  int fd = -1;          // close-on-exec and non-blocking; owned by the caller
  uint64_t device = 0;  // identity of the socket file made, for removal
  uint64_t inode = 0;
  std::error_code error;  // set on failure
  std::string message;    // on failure, one line naming the path and the reason
};

// Listens at `path` with the socket file in mode 0600. A socket file already
// there with nobody listening is replaced; one with a listener is left alone
// and reported as errc::address_in_use; anything else at the path is not
// touched (errc::file_exists). Messages call the socket `what` followed by its
// path.
ListeningSocket listenAtInterfaceSocket(const std::string& path,
                                        std::string_view what = "interface socket");

// Removes the socket file at `path` if it is still the one listenAt made.
void removeInterfaceSocketFile(const std::string& path, uint64_t device, uint64_t inode);

// Whether something accepts connections at `path` (a live socket file).
bool interfaceSocketIsLive(const std::string& path);

}  // namespace korvane
