// Persistent per-user preferences (the standard user defaults). On Linux a
// property list at "$XDG_CONFIG_HOME/<bundle identifier>/preferences.plist",
// written through a temporary file and a rename; a corrupt file reads as
// empty and is kept aside (renamed with a suffix) before it is replaced.
// "korvane" stands in for the identifier when the bundle has none.
//
// Nothing is cached: each call reads the file, and the folder is worked out
// afresh from the environment, so a change of XDG_CONFIG_HOME applies to the
// next call.
//
// Thread: main thread.
#pragma once

#include <memory>
#include <string>

#include "platform/bundles.h"
#include "platform/diagnostic_log.h"

namespace korvane {

class UserDefaults {
 public:
  virtual ~UserDefaults() = default;
  // false when the key is absent or not a boolean.
  virtual bool boolForKey(const std::string& key) = 0;
  // Stores `value` under `key`; a failure to write is logged, not reported.
  virtual void setBool(bool value, const std::string& key) = 0;
};

// The standard user defaults (realBundleReader(), diagnosticLog()). Made once,
// kept for the life of the process.
UserDefaults& standardUserDefaults();

// User defaults of the main bundle that `bundles` reports, logging write
// failures to `logger`; both must outlive the result. What
// standardUserDefaults() is made of; tests give their own.
std::unique_ptr<UserDefaults> makePropertyListUserDefaults(BundleReader& bundles,
                                                           DiagnosticLog& logger);

}  // namespace korvane
