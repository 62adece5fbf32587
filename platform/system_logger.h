// The system logger (os_log's counterpart): messages of a subsystem and a
// category at a level. Error-level lines are written as "<timestamp>
// <process>[<pid>] [<subsystem>:<category>] <message>", one line per message:
// line breaks and other control characters in the subsystem, category and
// message are escaped. A message repeated in a loop is written at most once a
// second, with a line counting the rest.
//
// Thread: any.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace korvane {

class SystemLogger {
 public:
  virtual ~SystemLogger() = default;
  virtual void error(std::string_view message) = 0;
};

// A logger for `subsystem` and `category`.
std::unique_ptr<SystemLogger> makeSystemLogger(std::string subsystem, std::string category);

}  // namespace korvane
