// Child processes for tests: a piece of a test run in a forked child,
// optionally as another user (for permission cases that root would bypass),
// and programs started and ended by the test. Thread: the test's main thread.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace korvane::testing {

// The unprivileged uid and gid children switch to ("nobody").
inline constexpr unsigned kNobody = 65534;

// Whether this process may switch users (runs as root).
inline bool canSwitchUser() { return geteuid() == 0; }

// Forks; the child switches to `uid` (when given), runs `body` and exits with
// its return value. Returns the child's exit status, or -1 when it did not
// exit normally. The child must not touch the parent's main loop.
int runInChild(const std::function<int()>& body, std::optional<unsigned> uid = std::nullopt);

// A program the test starts itself, with this process's environment. Its
// standard output goes to a pipe the test reads; its standard error is
// appended to `errorFile` when one is given, else shared with the test.
// Killed and reaped when the object goes, unless it has ended before.
class StartedProcess {
 public:
  explicit StartedProcess(const std::string& executable, std::vector<std::string> arguments = {},
                          const std::string& errorFile = {});
  ~StartedProcess();
  StartedProcess(const StartedProcess&) = delete;
  StartedProcess& operator=(const StartedProcess&) = delete;

  int32_t pid() const { return pid_; }  // 0 when it could not be started
  // Its standard output up to and including its first "\n", waiting at most
  // `timeout` for each byte: without the "\n" when the time ran out or the
  // output ended first.
  std::string readLine(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // Everything left on its standard output, up to the end (once it ended).
  std::string rest() const;
  // Whether it has ended, without waiting.
  bool exited() { return reap(false); }
  // Waits for it to end; its exit status, or -1 when a signal ended it.
  int wait() {
    reap(true);
    return status_.value_or(-1);
  }

 private:
  bool reap(bool block);

  int32_t pid_ = 0;
  int out_ = -1;
  std::optional<int> status_;
};

}  // namespace korvane::testing
