// Tests of requests sent to other instances: the stand-in application
// (stand_in_app_main.cc, built as `stand_in_app`) copied into bundles and
// started, the folders their endpoints live in, processes the code under
// test started, and requests sent to running instances.
// Thread: the test's main thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/linux/engine/interface_address.h"
#include "testing/bundle_maker.h"
#include "testing/child_process.h"

namespace korvane::testing {

// The built stand-in application.
std::string standInAppBinary();

// Sets XDG_RUNTIME_DIR to `runtimeDir` and TMPDIR to a folder inside it, and
// puts both back when it goes, so that endpoints of one test stay in its
// own temporary folder.
class ScopedSocketFolders {
 public:
  explicit ScopedSocketFolders(const std::string& runtimeDir);
  ~ScopedSocketFolders();

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A process that the code under test started as this process's child and
// reaps itself: killed when the object goes, which then waits (serving the
// main loop) until it has been reaped.
class AdoptedProcess {
 public:
  explicit AdoptedProcess(int32_t pid) : pid_(pid) {}
  ~AdoptedProcess();
  AdoptedProcess(const AdoptedProcess&) = delete;
  AdoptedProcess& operator=(const AdoptedProcess&) = delete;

 private:
  const int32_t pid_;
};

// Whether `pid` is no longer a child of this process (ended and reaped),
// serving the main loop while it waits up to `limit`.
bool awaitReaped(int32_t pid, std::chrono::milliseconds limit);

// One request line to the endpoint of process `pid`, sent from a thread of
// its own (the client blocks): the reply's fields, after "error " for an
// error reply, or "failed: " and why.
std::string askInstance(const InterfaceAddressInputs& inputs, int32_t pid, std::string_view request,
                        std::chrono::milliseconds limit = std::chrono::seconds(2));

// The "requests=..." field of the stand-in's "state" answer: what reached it
// so far. nullopt when it does not answer within `limit` (asked again until
// then, serving the main loop in between).
std::optional<std::string> requestsSeenBy(
    const InterfaceAddressInputs& inputs, int32_t pid,
    std::chrono::milliseconds limit = std::chrono::seconds(5));

}  // namespace korvane::testing
