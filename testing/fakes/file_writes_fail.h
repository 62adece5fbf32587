// While it lives, writing to any file of this process fails with EFBIG ("File
// too large"), as on a full disk; unlike a read-only folder, root cannot
// bypass it. Thread: the test's own; it changes the whole process's limit.
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace korvane::testing {

class FileWritesFail {
 public:
  FileWritesFail() : signal_(std::signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit none = saved_;
    none.rlim_cur = 0;
    setrlimit(RLIMIT_FSIZE, &none);
  }
  ~FileWritesFail() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, signal_);
  }
  FileWritesFail(const FileWritesFail&) = delete;
  FileWritesFail& operator=(const FileWritesFail&) = delete;

 private:
  void (*signal_)(int);
  rlimit saved_{};
};

}  // namespace korvane::testing
