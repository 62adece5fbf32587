#include "platform/diagnostic_log.h"

#include <syslog.h>

#include "platform/linux/log/log_line.h"

namespace korvane {
namespace {

class StandardErrorAndSyslog final : public DiagnosticLog {
 public:
  void log(std::string_view message) override { writeLogLine({}, message, LOG_NOTICE); }
};

}  // namespace

DiagnosticLog& diagnosticLog() {
  static StandardErrorAndSyslog* log =
      new StandardErrorAndSyslog();  // never destroyed: used until exit
  return *log;
}

}  // namespace korvane
