// Application bundles: the information property list of a bundle on disk and
// the bundle of the running process.
//
// Thread: any; meant for the worker queue (the main thread reads only the
// running bundle's identifier). Stateless, apart from the running bundle,
// which is read once.
#pragma once

#include <optional>
#include <string>

#include "platform/property_list.h"

namespace korvane {

// The running process's bundle.
struct MainBundle {
  // The bundle directory's path (absolute, no trailing "/").
  std::string path;
  // The string entries of its information property list; nullopt when it has
  // none or it is unreadable.
  std::optional<PropertyListStrings> info;

  // The value of `key` among the info values, when it is a string.
  std::optional<std::string> infoValue(const std::string& key) const;
  // "CFBundleIdentifier".
  std::optional<std::string> bundleIdentifier() const { return infoValue("CFBundleIdentifier"); }
};

class BundleReader {
 public:
  virtual ~BundleReader() = default;

  // The string entries of "<bundlePath>/Contents/Info.plist"; nullopt when
  // the file is missing, unreadable or not a dictionary.
  virtual std::optional<PropertyListStrings> infoStrings(const std::string& bundlePath) = 0;

  // The running process's bundle: its location and information values as
  // they were when first asked for (the host asks at start), kept for the
  // life of the process, so that deleting, moving or replacing the bundle on
  // disk while it runs changes neither who this application is nor where it
  // was started from.
  virtual MainBundle mainBundle() = 0;
};

// The real reader. Made once, kept for the life of the process.
BundleReader& realBundleReader();

}  // namespace korvane
