// Tests of requests sent to other instances: the stand-in application
// (instance_endpoint_test_app) copied into bundles, processes started from
// them, and the folders their endpoints live in.
// Thread: the test's main thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/engine/interface_address.h"

namespace korvane::testing {

// The built stand-in application.
std::string instanceTestAppBinary();

// Copies the file `from` to `to` (made anew) with permission bits `mode`.
bool copyFile(const std::string& from, const std::string& to, mode_t mode);

// Makes `bundlePath` with a "Contents/Info.plist" naming `identifier` and
// `executable` ("CFBundleExecutable"), and the file `program` copied to
// "Contents/MacOS/<executable>" in mode 0755 (a copy, so that the process's
// executable lies in the bundle). false when it cannot.
bool makeAppBundle(const std::string& bundlePath, const std::string& identifier,
                   const std::string& executable, const std::string& program);

// Sets XDG_RUNTIME_DIR to `runtimeDir` and TMPDIR to a folder inside it, and
// puts both back when it goes, so that endpoints of one test stay in its
// own temporary folder.
class ScopedSocketFolders {
 public:
  explicit ScopedSocketFolders(const std::string& runtimeDir);
  ~ScopedSocketFolders();
  ScopedSocketFolders(const ScopedSocketFolders&) = delete;
  ScopedSocketFolders& operator=(const ScopedSocketFolders&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A process the test starts itself (with this process's environment); killed
// and reaped when the object goes.
class StartedProcess {
 public:
  explicit StartedProcess(const std::string& executable, std::vector<std::string> arguments = {});
  ~StartedProcess();
  StartedProcess(const StartedProcess&) = delete;
  StartedProcess& operator=(const StartedProcess&) = delete;

  int32_t pid() const { return pid_; }  // 0 when it could not be started

 private:
  int32_t pid_ = 0;
};

// A process that the code under test started as this process's child and
// reaps itself: killed when the object goes, which then waits (serving the
// main loop) until it has been reaped.
class AdoptedProcess {
 public:
  explicit AdoptedProcess(int32_t pid = 0) : pid_(pid) {}
  ~AdoptedProcess();
  AdoptedProcess(const AdoptedProcess&) = delete;
  AdoptedProcess& operator=(const AdoptedProcess&) = delete;

  void adopt(int32_t pid) { pid_ = pid; }

 private:
  int32_t pid_;
};

// Whether `pid` is no longer a child of this process (ended and reaped),
// serving the main loop while it waits up to `limit`.
bool awaitReaped(int32_t pid, std::chrono::milliseconds limit);

// The "requests=..." field of the stand-in's "state" answer: what reached it
// so far. nullopt when it does not answer within `limit` (tried again until
// then, serving the main loop in between).
std::optional<std::string> requestsSeenBy(
    const InterfaceAddressInputs& inputs, int32_t pid,
    std::chrono::milliseconds limit = std::chrono::seconds(5));

}  // namespace korvane::testing
