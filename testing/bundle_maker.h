// Makes application bundles on disk for tests: a folder with
// "Contents/Info.plist" written as an XML or a binary property list, and
// optionally a program copied in as its executable.
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

// Writes a dictionary property list to `file` (beside it first, then renamed
// over it, so a reader never sees half a file); false when it cannot.
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

// Makes `bundlePath` with version "1", `identifier`, and `executable`
// ("CFBundleExecutable"): the file `program` copied to
// "Contents/MacOS/<executable>" with its mode (a copy, so that the process's
// executable lies in the bundle). false when it cannot.
bool makeAppBundle(const std::string& bundlePath, const std::string& identifier,
                   const std::string& executable, const std::string& program);

}  // namespace korvane::testing
