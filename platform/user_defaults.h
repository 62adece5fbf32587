// Persistent per-user preferences (the standard user defaults), kept per
// bundle identifier. Nothing is cached: each call reads the stored values
// afresh. A write replaces the store whole, so a failed write leaves the
// earlier values; a corrupt store reads as empty and is kept aside before it
// is replaced.
//
// Thread: main thread.
#pragma once

#include <string>

namespace korvane {

class UserDefaults {
 public:
  virtual ~UserDefaults() = default;
  // false when the key is absent or not a boolean.
  virtual bool boolForKey(const std::string& key) = 0;
  // Stores `value` under `key`; a failure to write is logged, not reported.
  virtual void setBool(bool value, const std::string& key) = 0;
};

// The standard user defaults (realBundleReader(), realDiagnosticLog()). Made once,
// kept for the life of the process.
UserDefaults& realUserDefaults();

}  // namespace korvane
