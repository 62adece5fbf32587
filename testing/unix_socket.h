// Plain Unix stream sockets for tests: a client connected to a path, and a
// socket file bound at a path (listening, or left behind stale). Both are
// close-on-exec and blocking; -1 when they cannot be made.
// Thread: any.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace korvane::testing {

// A socket at `path`: connected to it, or bound there (and listening when
// `listening`). Closing a bound socket that is not listening leaves a stale
// socket file.
inline int unixSocketAt(const std::string& path, bool connecting, bool listening) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return -1;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  const auto* at = reinterpret_cast<const sockaddr*>(&address);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 &&
      (connecting ? connect(fd, at, sizeof address) : bind(fd, at, sizeof address)) == 0 &&
      (!listening || listen(fd, 4) == 0)) {
    return fd;
  }
  if (fd >= 0) close(fd);
  return -1;
}

inline int connectUnixSocket(const std::string& path) { return unixSocketAt(path, true, false); }
inline int bindUnixSocket(const std::string& path, bool listening) {
  return unixSocketAt(path, false, listening);
}

}  // namespace korvane::testing
