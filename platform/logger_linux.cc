#include <syslog.h>

#include "platform/log_line_linux.h"
#include "platform/logger.h"

namespace korvane {
namespace {

class SystemLogger final : public Logger {
 public:
  void log(std::string_view message) override { writeLogLine({}, message, LOG_NOTICE); }
};

}  // namespace

Logger& systemLogger() {
  static SystemLogger* logger = new SystemLogger();  // never destroyed: used until exit
  return *logger;
}

}  // namespace korvane
