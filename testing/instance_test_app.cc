#include "testing/instance_test_app.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/linux/ipc/instance_endpoint.h"
#include "platform/main_loop.h"
#include "testing/bundle_maker.h"

extern char** environ;

namespace korvane::testing {

using namespace std::chrono_literals;

std::string instanceTestAppBinary() { return KORVANE_INSTANCE_TEST_APP; }

bool copyFile(const std::string& from, const std::string& to, mode_t mode) {
  std::error_code error;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
  return !error && chmod(to.c_str(), mode) == 0;
}

bool makeAppBundle(const std::string& bundlePath, const std::string& identifier,
                   const std::string& executable, const std::string& program) {
  if (!makeBundle(bundlePath, {{"CFBundleIdentifier", identifier},
                               {"CFBundleVersion", std::string("1")},
                               {"CFBundleExecutable", executable}})) {
    return false;
  }
  std::error_code error;
  std::filesystem::create_directories(bundlePath + "/Contents/MacOS", error);
  return !error && copyFile(program, bundlePath + "/Contents/MacOS/" + executable, 0755);
}

ScopedSocketFolders::ScopedSocketFolders(const std::string& runtimeDir) {
  for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
    const char* value = std::getenv(name);
    saved_.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
  }
  const std::string tmp = runtimeDir + "/tmp";
  mkdir(tmp.c_str(), S_IRWXU);
  setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
  setenv("TMPDIR", tmp.c_str(), 1);
}

ScopedSocketFolders::~ScopedSocketFolders() {
  for (const auto& [name, value] : saved_) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
}

StartedProcess::StartedProcess(const std::string& executable, std::vector<std::string> arguments) {
  std::vector<char*> argv{const_cast<char*>(executable.c_str())};
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, executable.c_str(), nullptr, nullptr, argv.data(), environ) == 0) {
    pid_ = pid;
  }
}

StartedProcess::~StartedProcess() {
  if (pid_ == 0) return;
  kill(pid_, SIGKILL);
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

AdoptedProcess::~AdoptedProcess() {
  if (pid_ == 0) return;
  kill(pid_, SIGKILL);
  awaitReaped(pid_, 10s);
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

std::optional<std::string> requestsSeenBy(const InterfaceAddressInputs& inputs, int32_t pid,
                                          std::chrono::milliseconds limit) {
  std::optional<std::string> seen;
  runMainLoopUntil(
      [&] {
        auto client = InstanceEndpointClient::connect(inputs, pid, 500ms);
        if (!client) return false;
        auto reply = client->send(InstanceRequest::state, 500ms);
        if (!reply || !reply->ok) return false;
        seen = reply->fields;
        return true;
      },
      limit);
  return seen;
}

}  // namespace korvane::testing
