// Persistent per-user preferences (the standard user defaults). On Linux a
// property list at "$XDG_CONFIG_HOME/<bundle identifier>/preferences.plist",
// written through a temporary file and a rename; a corrupt file reads as
// empty and is kept aside (renamed with a suffix) before it is replaced.
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

// The standard user defaults. Made once, kept for the life of the process.
UserDefaults& standardUserDefaults();

}  // namespace korvane
