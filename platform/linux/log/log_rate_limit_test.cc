#include "platform/linux/log/log_rate_limit.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <chrono>
#include <string>
#include <vector>

namespace korvane {
namespace {

using namespace std::chrono_literals;
using Summary = LogRateLimiter::Summary;

const LogRateLimiter::Clock::time_point kStart{1000h};

// Catches a loop that is not limited, a window that never ends or ends late,
// conditions keyed too coarsely (two pids or two loggers' tags collapsed), a
// suppressed count lost, miscounted or only reported if the same line comes
// back, and a summary that could pass for a line of the format it counts.
TEST(LogRateLimiter, WritesEachConditionOncePerSecondWithItsCount) {
  LogRateLimiter limiter;
  const std::string failed = "[install-location] reopen failed pid=42: gone";
  const auto admit = [&](std::string_view tag, std::string_view message, auto at) {
    return limiter.admit(tag, message, LOG_NOTICE, kStart + at);
  };
  ASSERT_TRUE(admit("", failed, 0ms).write);
  for (int i = 1; i <= 999; ++i) {
    const LogRateLimiter::Decision repeat = admit("", failed, i * 1ms);
    ASSERT_FALSE(repeat.write) << i;
    ASSERT_TRUE(repeat.summaries.empty()) << i;
  }
  EXPECT_TRUE(admit("", "[install-location] reopen failed pid=43: gone", 500ms).write);
  EXPECT_TRUE(admit("[x:main] ", failed, 500ms).write);

  const LogRateLimiter::Decision next = admit("", failed, 1000ms);
  EXPECT_TRUE(next.write);
  EXPECT_EQ(next.summaries,
            (std::vector<Summary>{
                {"(999 more identical lines suppressed within 1 s) " + failed, LOG_NOTICE}}));

  // The loop stops after one more repeat: the next line of any text reports it.
  EXPECT_FALSE(admit("", failed, 1500ms).write);
  const LogRateLimiter::Decision other = admit("", "quiet again", 2000ms);
  EXPECT_TRUE(other.write);
  EXPECT_EQ(other.summaries,
            (std::vector<Summary>{
                {"(1 more identical line suppressed within 1 s) " + failed, LOG_NOTICE}}));
  EXPECT_TRUE(admit("", failed, 2001ms).summaries.empty()) << "reported twice";
}

// Catches a loop whose text changes every time (a counter, a path) flooding
// the log, a ceiling that cuts into an ordinary burst, or its count (or the
// severity of what it dropped) lost.
TEST(LogRateLimiter, CapsAllLinesPerSecondAndCountsTheRest) {
  LogRateLimiter limiter;
  int written = 0;
  for (int i = 0; i < 1000; ++i) {
    const LogRateLimiter::Decision decision =
        limiter.admit("", "scan /p/" + std::to_string(i) + " failed",
                      i == 700 ? LOG_ERR : LOG_NOTICE, kStart + i * 100us);
    ASSERT_TRUE(decision.summaries.empty()) << i;
    if (decision.write) {
      ASSERT_EQ(i, written) << "the first lines of a burst are the ones written";
      ++written;
    }
  }
  EXPECT_EQ(written, LogRateLimiter::kMaxLinesPerWindow);

  const LogRateLimiter::Decision next = limiter.admit("", "after", LOG_NOTICE, kStart + 1s);
  EXPECT_TRUE(next.write);
  EXPECT_EQ(next.summaries,
            (std::vector<Summary>{
                {"(950 more lines suppressed within 1 s: over 50 lines a second)", LOG_ERR}}));
}

}  // namespace
}  // namespace korvane
