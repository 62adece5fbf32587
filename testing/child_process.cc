#include "testing/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace korvane::testing {

int runInChild(const std::function<int()>& body, std::optional<unsigned> uid) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (uid && (setgroups(0, nullptr) != 0 || setgid(*uid) != 0 || setuid(*uid) != 0)) _exit(126);
    _exit(body());
  }
  int status = 0;
  pid_t done;
  while ((done = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  return done == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string StartedProcess::readLine(std::chrono::milliseconds timeout) const {
  std::string line;
  for (char c; line.empty() || line.back() != '\n'; line.push_back(c)) {
    pollfd readable{out_, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(timeout.count())) <= 0 || read(out_, &c, 1) != 1) break;
  }
  return line;
}

StartedProcess::StartedProcess(const std::string& executable, std::vector<std::string> arguments,
                               const std::string& errorFile) {
  std::vector<char*> argv{const_cast<char*>(executable.c_str())};
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  if (!errorFile.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
  }
  pid_t pid = 0;
  if (posix_spawn(&pid, executable.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    pid_ = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  out_ = out[0];
}

StartedProcess::~StartedProcess() {
  if (pid_ != 0 && !exited()) kill(pid_, SIGKILL);
  wait();
  close(out_);
}

std::string StartedProcess::rest() const {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(out_, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

bool StartedProcess::reap(bool block) {
  int status = 0;
  while (pid_ != 0 && !status_) {
    const pid_t done = waitpid(pid_, &status, block ? 0 : WNOHANG);
    if (done == pid_) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0 && errno != EINTR) status_ = -1;  // reaped elsewhere: gone all the same
    if (done == 0) break;
  }
  return status_.has_value();
}

}  // namespace korvane::testing
