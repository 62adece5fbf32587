// What tests of portable code need of the platform's backend, reached without
// including it: setting a file's extended attribute under the name the
// contracts use, and login items made for a bundle of the test's choosing.
//
// Thread: the test's own.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/bundles.h"
#include "platform/login_items.h"

namespace korvane::testing {

// Sets `name` ("com.apple.quarantine") on the file at `path` (not following a
// final link) as the file system backend stores it; false when the file
// system keeps no such attributes.
bool setExtendedAttribute(const std::string& path, const std::string& name, std::string_view value);

// The real login items backend for the main bundle `bundles` reports.
std::unique_ptr<LoginItems> makeLoginItemsFor(BundleReader& bundles);

}  // namespace korvane::testing
