// The user defaults backend made for a given bundle reader and log, for the
// tests that point it at their own bundle.
//
// Thread: main thread (as the user defaults).
#pragma once

#include <memory>

#include "platform/bundles.h"
#include "platform/diagnostic_log.h"
#include "platform/user_defaults.h"

namespace korvane {

// User defaults of the main bundle that `bundles` reports, logging write
// failures to `logger`; both must outlive the result. What
// realUserDefaults() is made of; tests give their own.
std::unique_ptr<UserDefaults> makePropertyListUserDefaults(BundleReader& bundles,
                                                           DiagnosticLog& logger);

}  // namespace korvane
