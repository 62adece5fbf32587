#include "testing/child_process.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace korvane::testing {

bool canSwitchUser() { return geteuid() == 0; }

int runInChild(const std::function<int()>& body, std::optional<unsigned> uid) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (uid) {
      if (setgroups(0, nullptr) != 0 || setgid(*uid) != 0 || setuid(*uid) != 0) _exit(126);
    }
    _exit(body());
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace korvane::testing
