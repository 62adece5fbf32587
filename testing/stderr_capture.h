// Standard error or output captured around a piece of a test, and the shape of the log
// lines' timestamps. Thread: the test's own (other threads may write while
// the capture runs).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace korvane::testing {

// Runs `body` with standard error sent into a temporary file (so any amount
// of output fits); returns what was written.
std::string captureStderr(const std::function<void()>& body);
// The same for standard output.
std::string captureStdout(const std::function<void()>& body);

// Whether `stamp` has the shape "YYYY-MM-DD HH:MM:SS.mmm".
bool isLogTimestamp(std::string_view stamp);

}  // namespace korvane::testing
