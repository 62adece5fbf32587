// Where the running copy lives: the answer to "probe".
//
// Thread: probeMap on the worker queue; the predicates on any thread.
#pragma once

#include <string>

#include "install_location/probe/result_map.h"
#include "platform/services.h"

namespace korvane::InstallLocationProbe {

// Exactly five booleans, in this order: "isDevBuild", "bundleResolves",
// "isNested", "isReadOnlyVolume" (false when the volume status cannot be
// read), "isTranslocated" (always false). The running bundle is read afresh.
ResultMap probeMap(const PlatformServices& services);

// Whether the running bundle's path contains "/DerivedData/" or "/Build/Products/".
bool isDevBuild(const PlatformServices& services);

// Whether `bundlePath` ends in the extension "app" exactly and has
// "Contents/Info.plist" (a final link followed).
bool bundleResolves(const PlatformServices& services, const std::string& bundlePath);

// Whether a folder above `bundlePath` (not the bundle itself, not the root)
// has the extension "app".
bool isNested(const std::string& bundlePath);

}  // namespace korvane::InstallLocationProbe
