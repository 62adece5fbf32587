#include "platform/system_logger.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/linux/log/log_line.h"
#include "platform/system_version.h"
#include "testing/stderr_capture.h"

namespace korvane {
namespace {

using testing::captureStderr;
using testing::isLogTimestamp;

// A clock an hour later at every reading, so that the writer's rate limit
// lets every line through.
std::chrono::steady_clock::time_point anHourPerReading() {
  static std::atomic<int64_t> readings{0};
  return std::chrono::steady_clock::time_point(std::chrono::hours(++readings));
}

// Catches a line without the stamp, process, pid or subsystem tag, a message
// altered (format directives expanded), or lines of two threads interleaved.
TEST(SystemLoggerLinux, WritesWholeTaggedLinesFromManyThreads) {
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  setLogClockForTesting(&anHourPerReading);
  const std::string text = captureStderr([] {
    auto first = makeSystemLogger("dev.korvane.login", "main");
    auto second = makeSystemLogger("dev.korvane.other", "cat");
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kLines; ++i) {
          (t % 2 ? *second : *first)
              .error("Failed to enable launch at login: %s " +
                     std::string(300, static_cast<char>('a' + t)));
        }
      });
    }
    for (auto& thread : threads) thread.join();
  });
  setLogClockForTesting(nullptr);
  const std::string prefix =
      std::string(" ") + program_invocation_short_name + "[" + std::to_string(getpid()) + "] ";
  std::map<std::string, int> counts;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    ASSERT_GT(line.size(), 23 + prefix.size()) << line;
    ASSERT_TRUE(isLogTimestamp(std::string_view(line).substr(0, 23))) << line;
    ASSERT_EQ(line.substr(23, prefix.size()), prefix) << line;
    ++counts[line.substr(23 + prefix.size())];
  }
  EXPECT_EQ(start, text.size());
  std::map<std::string, int> expected;
  for (int t = 0; t < kThreads; ++t) {
    expected[std::string(t % 2 ? "[dev.korvane.other:cat] " : "[dev.korvane.login:main] ") +
             "Failed to enable launch at login: %s " +
             std::string(300, static_cast<char>('a' + t))] = kLines;
  }
  EXPECT_EQ(counts, expected);
}

// Catches a subsystem, category or message with a line break written raw,
// forging a second line that reads as the host's own.
TEST(SystemLoggerLinux, EscapesLineBreaksInTagAndMessage) {
  setLogClockForTesting(nullptr);  // no window left open by an earlier test
  const std::string text = captureStderr([] {
    makeSystemLogger("dev.korvane\nx", "main\r")->error("Failed to enable launch at login: a\nb");
  });
  ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_TRUE(
      text.ends_with("] [dev.korvane\\nx:main\\r] Failed to enable launch at login: a\\nb\n"))
      << text;
}

// Catches a comparison that picks the older login-item mechanism on Linux, or
// one that claims versions after 13.0.0.
TEST(SystemVersionLinux, ReportsThirteen) {
  const struct {
    int major, minor, patch;
    bool atLeast;
  } cases[] = {{11, 0, 0, true},  {12, 99, 99, true}, {13, 0, 0, true},
               {13, 0, 1, false}, {13, 1, 0, false},  {14, 0, 0, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(realSystemVersion().isAtLeast(c.major, c.minor, c.patch), c.atLeast)
        << c.major << "." << c.minor << "." << c.patch;
  }
}

}  // namespace
}  // namespace korvane
