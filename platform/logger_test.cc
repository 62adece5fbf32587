#include "platform/logger.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <string>

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

// Catches a line without the timestamp, process name or id, a message split
// or altered, or two messages run together.
TEST(SystemLogger, WritesOneStampedLinePerMessage) {
  const std::string text = captureStderr([] {
    systemLogger().log("[install-location] reopen failed pid=42: gone");
    systemLogger().log("second %s line");
  });
  const std::string pid = std::to_string(getpid());
  const std::string name = program_invocation_short_name;
  const std::regex line("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} " + name + "\\[" + pid +
                        "\\] ([^\\n]*)\\n");
  auto it = std::sregex_iterator(text.begin(), text.end(), line);
  ASSERT_NE(it, std::sregex_iterator()) << text;
  EXPECT_EQ((*it)[1], "[install-location] reopen failed pid=42: gone");
  ++it;
  ASSERT_NE(it, std::sregex_iterator()) << text;
  EXPECT_EQ((*it)[1], "second %s line");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}

}  // namespace
}  // namespace korvane
