// The diagnostic log (NSLog's counterpart): one line per message.
//
// Thread: any. Lines from different threads never interleave.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace korvane {

class DiagnosticLog {
 public:
  virtual ~DiagnosticLog() = default;
  // Writes `message` as one line: line breaks and other control characters
  // in it are escaped, so no message can pass for a line of its own. Never
  // fails outward: a sink that cannot be written is skipped.
  virtual void log(std::string_view message) = 0;
};

// The real log, as "<date> <time.ms> <process>[<pid>] <message>". A message
// repeated in a loop is written at most once a second, with a line counting
// the rest. Made once, kept for the life of the process.
DiagnosticLog& realDiagnosticLog();

}  // namespace korvane
