#include <errno.h>  // program_invocation_short_name (glibc)
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "platform/system_logger.h"

namespace korvane {
namespace {

// One lock for every logger: lines of different loggers never interleave.
// Made with the syslog identity, once.
std::mutex& outputMutex() {
  static std::mutex* mutex = [] {
    openlog(program_invocation_short_name, LOG_PID, LOG_USER);
    return new std::mutex();  // never destroyed: used until exit
  }();
  return *mutex;
}

class LinuxSystemLogger final : public SystemLogger {
 public:
  LinuxSystemLogger(std::string subsystem, std::string category)
      : tag_("[" + subsystem + ":" + category + "] ") {}

  void error(std::string_view message) override {
    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char prefix[96];
    snprintf(prefix, sizeof prefix, "%s.%03ld %s[%ld] ", stamp,
             static_cast<long>(now.tv_usec / 1000), program_invocation_short_name,
             static_cast<long>(getpid()));
    std::string line;
    line.reserve(message.size() + tag_.size() + 64);
    line.append(prefix).append(tag_).append(message).push_back('\n');

    std::lock_guard<std::mutex> lock(outputMutex());
    const int saved = errno;
    size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = write(STDERR_FILENO, line.data() + done, line.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    // The syslog line carries the tag too; "%s"-style text in the message stays text.
    syslog(LOG_ERR, "%s%.*s", tag_.c_str(), static_cast<int>(message.size()), message.data());
    errno = saved;
  }

 private:
  const std::string tag_;
};

}  // namespace

std::unique_ptr<SystemLogger> makeSystemLogger(std::string subsystem, std::string category) {
  return std::make_unique<LinuxSystemLogger>(std::move(subsystem), std::move(category));
}

}  // namespace korvane
