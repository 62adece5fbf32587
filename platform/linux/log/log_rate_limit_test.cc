#include "platform/linux/log/log_rate_limit.h"

#include <gtest/gtest.h>
#include <syslog.h>

namespace korvane {

using namespace std::chrono_literals;
using Summaries = std::vector<LogRateLimiter::Summary>;

// Catches a loop that is not limited, a window that ends late or never, conditions keyed too
// coarsely (two pids or two loggers' tags collapsed), a suppressed count lost, miscounted or
// reported only if the same line comes back, and a summary that could pass for a line it counts.
TEST(LogRateLimiter, WritesEachConditionOncePerSecondWithItsCount) {
  LogRateLimiter limiter;
  const std::string failed = "[install-location] reopen failed pid=42: gone";
  const auto admit = [&](std::string_view tag, std::string_view message, auto at) {
    return limiter.admit(tag, message, LOG_NOTICE, LogRateLimiter::Clock::time_point{1000h + at});
  };
  for (int i = 0; i <= 999; ++i) ASSERT_EQ(admit("", failed, i * 1ms).write, i == 0) << i;
  EXPECT_TRUE(admit("", "[install-location] reopen failed pid=43: gone", 500ms).write);
  EXPECT_TRUE(admit("[x:main] ", failed, 500ms).write);
  const LogRateLimiter::Decision next = admit("", failed, 1000ms);
  EXPECT_TRUE(next.write);
  EXPECT_EQ(
      next.summaries,
      (Summaries{{"(999 more identical lines suppressed within 1 s) " + failed, LOG_NOTICE}}));
  EXPECT_FALSE(admit("", failed, 1500ms).write);  // reported by the next line of any text
  EXPECT_EQ(admit("", "quiet again", 2000ms).summaries,
            (Summaries{{"(1 more identical line suppressed within 1 s) " + failed, LOG_NOTICE}}));
  EXPECT_TRUE(admit("", failed, 2001ms).summaries.empty()) << "reported twice";
}

// Catches distinct lines (a loop over changing pids) let through without a
// ceiling: at most 50 lines are written in any one second.
TEST(LogRateLimiter, WritesAtMostFiftyLinesASecondInAll) {
  LogRateLimiter limiter;
  int written = 0;
  for (int i = 0; i < 200; ++i) {
    written += limiter
                   .admit("", "reopen failed pid=" + std::to_string(i), LOG_NOTICE,
                          LogRateLimiter::Clock::time_point{1000h + i * 1ms})
                   .write;
  }
  EXPECT_EQ(written, 50);
}

}  // namespace korvane
