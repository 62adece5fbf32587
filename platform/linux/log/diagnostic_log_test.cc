#include "platform/diagnostic_log.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/log/log_line.h"
#include "testing/stderr_capture.h"

namespace korvane {
namespace {

using testing::captureStderr;
using testing::isLogTimestamp;

// The messages of the stamped lines in `text`, after checking each stamp.
std::vector<std::string> messagesOf(const std::string& text) {
  const std::string prefix =
      std::string(" ") + program_invocation_short_name + "[" + std::to_string(getpid()) + "] ";
  std::vector<std::string> messages;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    if (line.size() <= 23 + prefix.size()) {
      ADD_FAILURE() << "short line: " << line;
      continue;
    }
    EXPECT_TRUE(isLogTimestamp(std::string_view(line).substr(0, 23))) << line;
    EXPECT_EQ(line.substr(23, prefix.size()), prefix) << line;
    messages.push_back(line.substr(23 + prefix.size()));
  }
  EXPECT_EQ(start, text.size()) << "every line ends in a newline";
  return messages;
}

// Catches a line without the timestamp, process name or id, a message split
// or altered, two messages run together, or a control character, backslash
// or invalid UTF-8 passed through raw (a newline forges a whole log line).
TEST(SystemLogger, WritesOneStampedLinePerMessage) {
  using namespace std::string_view_literals;
  const struct {
    std::string_view message;
    std::string_view line;
  } cases[] = {
      {"[install-location] reopen failed pid=42: gone",
       "[install-location] reopen failed pid=42: gone"},
      {"second %s line", "second %s line"},
      {"“Grüße” 😀 ~", "“Grüße” 😀 ~"},
      {"x /a\n[install-location] reopen landed pid=1, expected 2",
       "x /a\\n[install-location] reopen landed pid=1, expected 2"},
      {"a\rb\tc\x1b[2K\x7f\x01", "a\\rb\\tc\\x1B[2K\\x7F\\x01"},
      {"nul\0after"sv, "nul\\x00after"},
      {"back\\nslash", "back\\\\nslash"},
      {"bad \xff \xc0\xaf \xed\xa0\x80 \xe2\x82 end",
       "bad \\xFF \\xC0\\xAF \\xED\\xA0\\x80 \\xE2\\x82 end"},
      {"next\xc2\x85line\xe2\x80\xa8para\xe2\x80\xa9", "next\\u0085line\\u2028para\\u2029"},
  };
  setLogClockForTesting(nullptr);  // no window left open by an earlier test
  const std::string text = captureStderr([&] {
    for (const auto& c : cases) realDiagnosticLog().log(c.message);
  });
  const std::vector<std::string> messages = messagesOf(text);
  std::vector<std::string> expected;
  for (const auto& c : cases) expected.emplace_back(c.line);
  EXPECT_EQ(messages, expected);
}

// A stopped clock that the test moves; the writer's windows start afresh.
class SystemLoggerRateLimit : public ::testing::Test {
 protected:
  static std::chrono::steady_clock::time_point now() { return kStart + elapsed_.load(); }
  void SetUp() override {
    elapsed_ = std::chrono::nanoseconds{};
    setLogClockForTesting(&now);
  }
  void TearDown() override { setLogClockForTesting(nullptr); }

  static constexpr std::chrono::steady_clock::time_point kStart{std::chrono::hours(1000)};
  static inline std::atomic<std::chrono::nanoseconds> elapsed_{};
};

// Catches the writer not consulting its rate limit (a loop floods the log),
// or a count that is lost, unstamped, or written with its text unescaped.
TEST_F(SystemLoggerRateLimit, WritesARepeatedLineOnceASecondWithItsCount) {
  const std::string text = captureStderr([] {
    for (int i = 0; i < 1000; ++i) realDiagnosticLog().log("accept failed:\nToo many open files");
    elapsed_ = std::chrono::seconds(1);
    realDiagnosticLog().log("accept failed:\nToo many open files");
  });
  EXPECT_EQ(messagesOf(text),
            (std::vector<std::string>{"accept failed:\\nToo many open files",
                                      "(999 more identical lines suppressed within 1 s) accept "
                                      "failed:\\nToo many open files",
                                      "accept failed:\\nToo many open files"}));
}

}  // namespace
}  // namespace korvane
