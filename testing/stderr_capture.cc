#include "testing/stderr_capture.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>

namespace korvane::testing {

namespace {

std::string capture(FILE* stream, int fd, const std::function<void()>& body) {
  FILE* sink = tmpfile();
  if (sink == nullptr) return {};
  fflush(stream);
  const int saved = dup(fd);
  dup2(fileno(sink), fd);
  body();
  fflush(stream);
  dup2(saved, fd);
  close(saved);
  std::string text;
  rewind(sink);
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, sink)) > 0) text.append(buffer, n);
  fclose(sink);
  return text;
}

}  // namespace

std::string captureStderr(const std::function<void()>& body) {
  return capture(stderr, STDERR_FILENO, body);
}

std::string captureStdout(const std::function<void()>& body) {
  return capture(stdout, STDOUT_FILENO, body);
}

bool isLogTimestamp(std::string_view stamp) {
  constexpr std::string_view shape = "dddd-dd-dd dd:dd:dd.ddd";
  if (stamp.size() != shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    const bool ok = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(stamp[i])) != 0
                                    : stamp[i] == shape[i];
    if (!ok) return false;
  }
  return true;
}

}  // namespace korvane::testing
