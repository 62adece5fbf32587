// The one writer behind both log stand-ins (NSLog's and the system logger's):
// a line "<date> <time.ms> <process>[<pid>] <tag><message>" on standard error
// and "<tag><message>" in syslog at `priority`. One lock for all callers, so
// lines never interleave. Thread: any.
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

#include <string_view>

namespace korvane {

void writeLogLine(std::string_view tag, std::string_view message, int syslogPriority);

}  // namespace korvane
