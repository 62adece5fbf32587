#include "testing/stderr_capture.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>

namespace korvane::testing {

std::string captureStderr(const std::function<void()>& body) {
  FILE* sink = tmpfile();
  if (sink == nullptr) return {};
  fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  dup2(fileno(sink), STDERR_FILENO);
  body();
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::string text;
  rewind(sink);
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, sink)) > 0) text.append(buffer, n);
  fclose(sink);
  return text;
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
