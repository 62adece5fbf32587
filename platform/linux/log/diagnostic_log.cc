// The diagnostic log on standard error and in syslog (LOG_USER, notice),
// escaped and rate-limited by the one writer of both logs (log_line.h).
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

DiagnosticLog& realDiagnosticLog() {
  static StandardErrorAndSyslog* log =
      new StandardErrorAndSyslog();  // never destroyed: used until exit
  return *log;
}

}  // namespace korvane
