// The one writer behind both log stand-ins (NSLog's and the system logger's):
// a line "<date> <time.ms> <process>[<pid>] <tag><message>" on standard error
// and "<tag><message>" in syslog at `priority`. One lock for all callers, so
// lines never interleave. Thread: any.
//
// A line that repeats in a loop is written at most once a second, and all
// lines together at most 50 times a second; the rest are counted and the
// counts written in summary lines (log_rate_limit.h gives the rule).
//
// The process name, tag and message are escaped, so that one call is always
// one line on standard error and one message in syslog, and no text can pass
// for a line of its own or for an escape: a backslash becomes "\\"; newline,
// carriage return and tab become "\n", "\r" and "\t"; every other byte below
// 0x20, 0x7F, and each byte that is not part of well-formed UTF-8 becomes
// "\xHH"; the C1 controls U+0080 to U+009F and the line and paragraph
// separators U+2028 and U+2029 become "\uHHHH" (hex digits in upper case).
// All other text, UTF-8 included, is written as it is.
#pragma once

#include <chrono>
#include <string_view>

namespace korvane {

void writeLogLine(std::string_view tag, std::string_view message, int syslogPriority);

// For tests: the clock that the rate limit reads (nullptr: the steady clock,
// as at start), so that windows pass without waiting. Also forgets every
// window and count. Thread: any; `clock` is called under the writer's lock,
// from whichever thread logs.
using LogClock = std::chrono::steady_clock::time_point (*)();
void setLogClockForTesting(LogClock clock);

}  // namespace korvane
