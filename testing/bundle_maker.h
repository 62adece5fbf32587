// Makes application bundles on disk for tests: a folder with
// "Contents/Info.plist" written as an XML or a binary property list.
// Thread: the test's own.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace korvane::testing {

enum class PlistFormat { xml, binary };

// One top-level entry of the dictionary; numbers and booleans are written as
// property-list integers and booleans (not strings).
struct PlistEntry {
  std::string key;
  std::variant<std::string, int64_t, bool> value;
};

// Writes a dictionary property list to `file`; false when it cannot.
bool writePropertyList(const std::string& file, const std::vector<PlistEntry>& entries,
                       PlistFormat format);

// Makes `bundlePath` (and its parents) with "Contents/Info.plist" holding
// `entries`; false when it cannot.
bool makeBundle(const std::string& bundlePath, const std::vector<PlistEntry>& entries,
                PlistFormat format = PlistFormat::xml);

// The usual two entries: "CFBundleIdentifier" and "CFBundleVersion".
inline std::vector<PlistEntry> bundleInfo(const std::string& identifier,
                                          const std::string& version) {
  return {{"CFBundleIdentifier", identifier}, {"CFBundleVersion", version}};
}

}  // namespace korvane::testing
