// The login items backend made for a given bundle reader, for the tests that
// point it at their own bundle.
//
// Thread: main thread (as the login items).
#pragma once

#include <memory>

#include "platform/bundles.h"
#include "platform/login_items.h"

namespace korvane {

// Autostart login items for the main bundle that `bundles` reports (asked on
// each call; "CFBundleIdentifier" names the entry, "CFBundleName" is its
// display name). `bundles` must outlive the result. What realLoginItems() is
// made of; tests give their own bundle.
std::unique_ptr<LoginItems> makeAutostartLoginItems(BundleReader& bundles);

}  // namespace korvane
