#include "platform/logger.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {
namespace {

// Runs `body` with standard error sent into a pipe; returns what it wrote.
template <class Body>
std::string captureStderr(Body body) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const int saved = dup(STDERR_FILENO);
  dup2(fds[1], STDERR_FILENO);
  close(fds[1]);
  body();
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::string text;
  char buffer[512];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) text.append(buffer, n);
  close(fds[0]);
  return text;
}

// Whether `stamp` has the shape "YYYY-MM-DD HH:MM:SS.mmm".
bool isTimestamp(std::string_view stamp) {
  constexpr std::string_view shape = "dddd-dd-dd dd:dd:dd.ddd";
  if (stamp.size() != shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(stamp[i]))
                        : stamp[i] != shape[i])
      return false;
  }
  return true;
}

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
    EXPECT_TRUE(isTimestamp(std::string_view(line).substr(0, 23))) << line;
    ASSERT_EQ(line.substr(23, prefix.size()), prefix) << line;
    messages.push_back(line.substr(23 + prefix.size()));
  }
  EXPECT_EQ(start, text.size()) << "every line ends in a newline";
  EXPECT_EQ(messages, (std::vector<std::string>{"[install-location] reopen failed pid=42: gone",
                                                "second %s line"}));
}

}  // namespace
}  // namespace korvane
