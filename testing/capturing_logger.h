// Moved to testing/fakes/capturing_diagnostic_log.h; kept until every test
// includes the new header.
#pragma once

#include "testing/fakes/capturing_diagnostic_log.h"

namespace korvane::testing {
using CapturingLogger = CapturingDiagnosticLog;
}  // namespace korvane::testing
