// Standard error or output captured around a piece of a test, and the shape
// of the log lines' timestamps. Thread: the test's own (other threads may
// write while the capture runs).
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace korvane::testing {

// Runs `body` with `fd` (the descriptor of `stream`) sent into a temporary
// file, so any amount of output fits; returns what was written.
inline std::string captureStream(FILE* stream, int fd, const std::function<void()>& body) {
  FILE* sink = tmpfile();
  if (sink == nullptr) return {};
  fflush(stream);
  const int saved = dup(fd);
  dup2(fileno(sink), fd);
  body();
  fflush(stream);
  dup2(saved, fd);
  close(saved);
  rewind(sink);
  std::string text;
  for (int c; (c = fgetc(sink)) != EOF;) text.push_back(static_cast<char>(c));
  fclose(sink);
  return text;
}

inline std::string captureStderr(const std::function<void()>& body) {
  return captureStream(stderr, STDERR_FILENO, body);
}
inline std::string captureStdout(const std::function<void()>& body) {
  return captureStream(stdout, STDOUT_FILENO, body);
}

// Whether `stamp` has the shape "YYYY-MM-DD HH:MM:SS.mmm".
inline bool isLogTimestamp(std::string_view stamp) {
  constexpr std::string_view shape = "dddd-dd-dd dd:dd:dd.ddd";  // d: a digit
  return stamp.size() == shape.size() &&
         std::equal(shape.begin(), shape.end(), stamp.begin(), [](char want, char got) {
           return want == 'd' ? got >= '0' && got <= '9' : got == want;
         });
}

}  // namespace korvane::testing
