// The one writer behind both log stand-ins (NSLog's and the system logger's):
// a line "<date> <time.ms> <process>[<pid>] <tag><message>" on standard error
// and "<tag><message>" in syslog at `priority`. One lock for all callers, so
// lines never interleave. Thread: any.
#pragma once

#include <string_view>

namespace korvane {

void writeLogLine(std::string_view tag, std::string_view message, int syslogPriority);

}  // namespace korvane
