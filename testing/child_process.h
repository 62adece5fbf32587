// Runs a piece of a test in a forked child, optionally as another user, and
// reports its exit status. For permission cases that root would bypass.
// Thread: the test's main thread.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace korvane::testing {

// The unprivileged uid and gid children switch to ("nobody").
inline constexpr unsigned kNobody = 65534;

// Whether this process may switch users (runs as root).
bool canSwitchUser();

// Forks; the child switches to `uid` (when given), runs `body` and exits with
// its return value. Returns the child's exit status, or -1 when it did not
// exit normally. The child must not touch the parent's main loop.
int runInChild(const std::function<int()>& body, std::optional<unsigned> uid = std::nullopt);

// Reads `fd` (a child's output) up to and including its first "\n", waiting
// at most `timeout` for each byte. Returns what was read: without the "\n"
// at its end when the time ran out or the stream ended first.
std::string readLineWithin(int fd, std::chrono::milliseconds timeout);

}  // namespace korvane::testing
