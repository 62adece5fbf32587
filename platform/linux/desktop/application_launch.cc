// posix_spawn (a vfork-style clone in glibc, safe in a process with threads)
// with the session, descriptors, folder and signal state set by its
// attributes; GLib's child watch reaps the child.
#include "platform/linux/desktop/application_launch.h"

#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/linux/posix/errno_code.h"

extern char** environ;

namespace korvane {
namespace {

constexpr std::string_view kInterfaceSocketVariable = "KORVANE_INTERFACE_SOCKET=";

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawnattr_init(&attributes_);
    posix_spawn_file_actions_init(&actions_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // Returns 0 or the error number of the step that failed.
  int prepare() {
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    const short flags = POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (int error = posix_spawnattr_setflags(&attributes_, flags)) return error;
    if (int error = posix_spawnattr_setsigmask(&attributes_, &none)) return error;
    if (int error = posix_spawnattr_setsigdefault(&attributes_, &all)) return error;
    if (int error =
            posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0)) {
      return error;
    }
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
      if (int error = posix_spawn_file_actions_addopen(&actions_, fd, "/dev/null", O_WRONLY, 0)) {
        return error;
      }
    }
    if (int error = posix_spawn_file_actions_addchdir_np(&actions_, "/")) return error;
    return posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
  }

  const posix_spawnattr_t* attributes() const { return &attributes_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
};

}  // namespace

std::vector<std::string> environmentForLaunch() {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (!text.starts_with(kInterfaceSocketVariable)) entries.emplace_back(text);
  }
  return entries;
}

LaunchResult launchApplication(const std::string& executable,
                               const std::vector<std::string>& environment) {
  SpawnSetup setup;
  if (int error = setup.prepare()) return LaunchResult{0, posix::errnoCode(error)};
  std::vector<char*> argv{const_cast<char*>(executable.c_str()), nullptr};
  std::vector<char*> envp;
  envp.reserve(environment.size() + 1);
  for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  pid_t pid = 0;
  if (int error = posix_spawn(&pid, executable.c_str(), setup.actions(), setup.attributes(),
                              argv.data(), envp.data())) {
    return LaunchResult{0, posix::errnoCode(error)};
  }
  // The watch waits for this child alone; it is reaped when it ends, and the
  // watch (on the default context) goes with it.
  g_child_watch_add(
      pid, [](GPid child, gint, gpointer) { g_spawn_close_pid(child); }, nullptr);
  return LaunchResult{static_cast<int32_t>(pid), {}};
}

bool launchedProcessHasEnded(int32_t pid) {
  siginfo_t info{};
  // WNOWAIT leaves a zombie for the child watch to reap.
  if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    return errno == ECHILD;  // reaped already: it has ended
  }
  return info.si_pid == pid;
}

}  // namespace korvane
