// The system logger's error lines on standard error and in syslog, through
// the one writer of both logs (log_line.h).
#include "platform/system_logger.h"

#include <syslog.h>

#include "platform/linux/log/log_line.h"

namespace korvane {
namespace {

class LinuxSystemLogger final : public SystemLogger {
 public:
  LinuxSystemLogger(std::string subsystem, std::string category)
      : tag_("[" + subsystem + ":" + category + "] ") {}

  void error(std::string_view message) override { writeLogLine(tag_, message, LOG_ERR); }

 private:
  const std::string tag_;
};

}  // namespace

std::unique_ptr<SystemLogger> makeSystemLogger(std::string subsystem, std::string category) {
  return std::make_unique<LinuxSystemLogger>(std::move(subsystem), std::move(category));
}

}  // namespace korvane
