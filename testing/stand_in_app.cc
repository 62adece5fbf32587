#include "testing/stand_in_app.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <future>

#include "platform/linux/ipc/instance_endpoint.h"
#include "platform/main_loop.h"

namespace korvane::testing {

using namespace std::chrono_literals;

std::string standInAppBinary() { return KORVANE_STAND_IN_APP; }

ScopedSocketFolders::ScopedSocketFolders(const std::string& runtimeDir) {
  for (const auto& [name, value] :
       {std::pair{"XDG_RUNTIME_DIR", runtimeDir}, std::pair{"TMPDIR", runtimeDir + "/tmp"}}) {
    const char* was = std::getenv(name);
    saved_.emplace_back(name, was != nullptr ? std::optional<std::string>(was) : std::nullopt);
    mkdir(value.c_str(), S_IRWXU);
    setenv(name, value.c_str(), 1);
  }
}

ScopedSocketFolders::~ScopedSocketFolders() {
  for (const auto& [name, value] : saved_) {
    value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
  }
}

AdoptedProcess::~AdoptedProcess() {
  if (pid_ != 0 && kill(pid_, SIGKILL) == 0) awaitReaped(pid_, 10s);
}

bool awaitReaped(int32_t pid, std::chrono::milliseconds limit) {
  return runMainLoopUntil(
      [pid] {
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 &&
               errno == ECHILD;
      },
      limit);
}

std::string askInstance(const InterfaceAddressInputs& inputs, int32_t pid, std::string_view request,
                        std::chrono::milliseconds limit) {
  auto ask = [&]() -> std::string {
    std::string error;
    auto client = InstanceEndpointClient::connect(inputs, pid, limit, &error);
    auto reply = client ? client->send(request, limit, &error) : std::nullopt;
    return !reply ? "failed: " + error : (reply->ok ? "" : "error ") + reply->fields;
  };
  return std::async(std::launch::async, ask).get();
}

std::optional<std::string> requestsSeenBy(const InterfaceAddressInputs& inputs, int32_t pid,
                                          std::chrono::milliseconds limit) {
  std::string state;
  if (runMainLoopUntil(
          [&] {
            state = askInstance(inputs, pid, InstanceRequest::state, 500ms);
            return state.rfind("requests=", 0) == 0;
          },
          limit)) {
    return state;
  }
  return std::nullopt;
}

}  // namespace korvane::testing
