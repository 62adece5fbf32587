#include "testing/child_process.h"

#include <grp.h>
#include <poll.h>
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

std::string readLineWithin(int fd, std::chrono::milliseconds timeout) {
  std::string line;
  while (line.empty() || line.back() != '\n') {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) break;
    char c;
    if (read(fd, &c, 1) != 1) break;
    line.push_back(c);
  }
  return line;
}

}  // namespace korvane::testing
