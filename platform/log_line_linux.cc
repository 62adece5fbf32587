#include "platform/log_line_linux.h"

#include <errno.h>  // program_invocation_short_name (glibc)
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

namespace korvane {
namespace {

// Made with the syslog identity, once; never destroyed: used until exit.
std::mutex& outputMutex() {
  static std::mutex* mutex = [] {
    openlog(program_invocation_short_name, LOG_PID, LOG_USER);
    return new std::mutex();
  }();
  return *mutex;
}

}  // namespace

void writeLogLine(std::string_view tag, std::string_view message, int syslogPriority) {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  char prefix[96];
  snprintf(prefix, sizeof prefix, "%s.%03ld %s[%ld] ", stamp, static_cast<long>(now.tv_usec / 1000),
           program_invocation_short_name, static_cast<long>(getpid()));
  std::string line;
  line.reserve(message.size() + tag.size() + 64);
  line.append(prefix).append(tag).append(message).push_back('\n');

  std::lock_guard<std::mutex> lock(outputMutex());
  const int saved = errno;
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  // "%s"-style text in the message stays text.
  syslog(syslogPriority, "%.*s%.*s", static_cast<int>(tag.size()), tag.data(),
         static_cast<int>(message.size()), message.data());
  errno = saved;
}

}  // namespace korvane
