// What tests of portable code need of the platform's backend, reached without
// including it: setting a file's extended attribute under the name the
// contracts use.
//
// Thread: the test's own.
#pragma once

#include <string>
#include <string_view>

namespace korvane::testing {

// Sets `name` ("com.apple.quarantine") on the file at `path` (not following a
// final link) as the file system backend stores it; false when the file
// system keeps no such attributes.
bool setExtendedAttribute(const std::string& path, const std::string& name, std::string_view value);

}  // namespace korvane::testing
