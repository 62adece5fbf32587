#include "platform/linux/log/log_line.h"

#include <errno.h>  // program_invocation_short_name (glibc)
#include <sys/time.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/linux/log/log_rate_limit.h"
#include "platform/linux/posix/io.h"

namespace korvane {
namespace {

// What all callers share, under `mutex`.
struct Output {
  std::mutex mutex;
  LogRateLimiter limiter;
  LogClock clock = &LogRateLimiter::Clock::now;
};

// Made with the syslog identity, once; never destroyed: used until exit.
Output& output() {
  static Output* output = [] {
    openlog(program_invocation_short_name, LOG_PID, LOG_USER);
    return new Output();
  }();
  return *output;
}

// The code point of the well-formed UTF-8 sequence at the start of `text`,
// and its length in bytes; a length of 0 when there is none (a stray
// continuation byte, an overlong form, a surrogate, past U+10FFFF, or cut
// short).
struct Decoded {
  uint32_t codePoint = 0;
  size_t length = 0;
};

Decoded decodeUtf8(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(0);
  size_t length;
  uint32_t codePoint;
  uint8_t secondLow = 0x80;  // the range of the second byte narrows for some leads
  uint8_t secondHigh = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
    if (lead == 0xE0) secondLow = 0xA0;   // overlong
    if (lead == 0xED) secondHigh = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
    if (lead == 0xF0) secondLow = 0x90;   // overlong
    if (lead == 0xF4) secondHigh = 0x8F;  // past U+10FFFF
  } else {
    return {};
  }
  if (text.size() < length) return {};
  for (size_t i = 1; i < length; ++i) {
    const uint8_t low = i == 1 ? secondLow : 0x80;
    const uint8_t high = i == 1 ? secondHigh : 0xBF;
    if (byte(i) < low || byte(i) > high) return {};
    codePoint = (codePoint << 6) | (byte(i) & 0x3F);
  }
  return {codePoint, length};
}

// Appends `escape` and `value` as `digits` upper-case hex digits.
void appendHex(std::string& out, std::string_view escape, uint32_t value, int digits) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.append(escape);
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
    out.push_back(kHex[(value >> shift) & 0xF]);
  }
}

// Appends `text` escaped as log_line.h describes.
void appendEscaped(std::string& out, std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<uint8_t>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      if (c == '\\') out.push_back('\\');
      out.push_back(static_cast<char>(c));
      ++i;
    } else if (c == '\n') {
      out.append("\\n");
      ++i;
    } else if (c == '\r') {
      out.append("\\r");
      ++i;
    } else if (c == '\t') {
      out.append("\\t");
      ++i;
    } else if (const Decoded decoded = decodeUtf8(text.substr(i)); decoded.length == 0) {
      appendHex(out, "\\x", c, 2);  // C0 controls and DEL fail to decode too
      ++i;
    } else {
      const uint32_t codePoint = decoded.codePoint;
      if ((codePoint >= 0x80 && codePoint <= 0x9F) || codePoint == 0x2028 || codePoint == 0x2029) {
        appendHex(out, "\\u", codePoint, 4);
      } else {
        out.append(text.substr(i, decoded.length));
      }
      i += decoded.length;
    }
  }
}

// Writes one stamped line of `tag` and `message`. Called under the mutex.
void writeLine(std::string_view tag, std::string_view message, int syslogPriority) {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  char milliseconds[24];
  snprintf(milliseconds, sizeof milliseconds, ".%03ld ", static_cast<long>(now.tv_usec / 1000));
  std::string text;  // what syslog gets
  text.reserve(tag.size() + message.size());
  appendEscaped(text, tag);
  appendEscaped(text, message);
  std::string line;
  line.reserve(text.size() + 64);
  line.append(stamp).append(milliseconds);
  appendEscaped(line, program_invocation_short_name);
  line.append("[").append(std::to_string(getpid())).append("] ").append(text).push_back('\n');

  // Nothing to do when standard error is gone; syslog still gets the line.
  (void)posix::writeFully(STDERR_FILENO, line.data(), line.size());
  // "%s"-style text in the message stays text.
  syslog(syslogPriority, "%.*s", static_cast<int>(text.size()), text.data());
}

}  // namespace

void writeLogLine(std::string_view tag, std::string_view message, int syslogPriority) {
  const int saved = errno;
  Output& out = output();
  {
    std::lock_guard<std::mutex> lock(out.mutex);
    const LogRateLimiter::Decision decision =
        out.limiter.admit(tag, message, syslogPriority, out.clock());
    for (const LogRateLimiter::Summary& summary : decision.summaries) {
      writeLine({}, summary.text, summary.priority);
    }
    if (decision.write) writeLine(tag, message, syslogPriority);
  }
  errno = saved;
}

void setLogClockForTesting(LogClock clock) {
  Output& out = output();
  std::lock_guard<std::mutex> lock(out.mutex);
  out.clock = clock != nullptr ? clock : &LogRateLimiter::Clock::now;
  out.limiter = LogRateLimiter();
}

}  // namespace korvane
