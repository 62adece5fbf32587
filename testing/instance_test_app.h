// The helpers of tests that start the stand-in application, under their
// former name. Thread: the test's main thread.
#pragma once

#include "testing/stand_in_app.h"

namespace korvane::testing {
inline std::string instanceTestAppBinary() { return standInAppBinary(); }
}  // namespace korvane::testing
