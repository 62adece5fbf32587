#include <errno.h>  // program_invocation_short_name (glibc)
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "platform/logger.h"

namespace korvane {
namespace {

class SystemLogger final : public Logger {
 public:
  SystemLogger() { openlog(program_invocation_short_name, LOG_PID, LOG_USER); }

  void log(std::string_view message) override {
    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::string line;
    line.reserve(message.size() + 64);
    char prefix[96];
    snprintf(prefix, sizeof prefix, "%s.%03ld %s[%ld] ", stamp,
             static_cast<long>(now.tv_usec / 1000), program_invocation_short_name,
             static_cast<long>(getpid()));
    line.append(prefix).append(message).push_back('\n');

    std::lock_guard<std::mutex> lock(mutex_);
    const int saved = errno;
    size_t done = 0;
    while (done < line.size()) {
      ssize_t n = write(STDERR_FILENO, line.data() + done, line.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    syslog(LOG_NOTICE, "%.*s", static_cast<int>(message.size()), message.data());
    errno = saved;
  }

 private:
  std::mutex mutex_;
};

}  // namespace

Logger& systemLogger() {
  static SystemLogger* logger = new SystemLogger();  // never destroyed: used until exit
  return *logger;
}

}  // namespace korvane
