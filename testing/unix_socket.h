// Plain Unix stream sockets for tests: a client connected to a path, and a
// socket file bound at a path (listening, or left behind stale).
// Thread: any.
#pragma once

#include <string>

namespace korvane::testing {

// A socket connected to `path` (close-on-exec, blocking); -1 when it cannot be.
int connectUnixSocket(const std::string& path);

// A socket bound at `path`, listening when `listening`; -1 when it cannot be
// made. Closing a socket that is not listening leaves a stale socket file.
int bindUnixSocket(const std::string& path, bool listening);

}  // namespace korvane::testing
