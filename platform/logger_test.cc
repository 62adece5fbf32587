#include "platform/logger.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "testing/stderr_capture.h"

namespace korvane {
namespace {

using testing::captureStderr;
using testing::isLogTimestamp;

// Catches a line without the timestamp, process name or id, a message split
// or altered, or two messages run together.
TEST(SystemLogger, WritesOneStampedLinePerMessage) {
  const std::string text = captureStderr([] {
    systemLogger().log("[install-location] reopen failed pid=42: gone");
    systemLogger().log("second %s line");
  });
  const std::string prefix =
      std::string(" ") + program_invocation_short_name + "[" + std::to_string(getpid()) + "] ";
  std::vector<std::string> messages;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    ASSERT_GT(line.size(), 23 + prefix.size()) << line;
    EXPECT_TRUE(isLogTimestamp(std::string_view(line).substr(0, 23))) << line;
    ASSERT_EQ(line.substr(23, prefix.size()), prefix) << line;
    messages.push_back(line.substr(23 + prefix.size()));
  }
  EXPECT_EQ(start, text.size()) << "every line ends in a newline";
  EXPECT_EQ(messages, (std::vector<std::string>{"[install-location] reopen failed pid=42: gone",
                                                "second %s line"}));
}

}  // namespace
}  // namespace korvane
