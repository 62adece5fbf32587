// The other running instances of this application: running applications with
// the running bundle's identifier and a process identifier other than ours.
//
// Thread: main thread (the workspace is read there).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"

namespace korvane::InstallLocationProbe {

// The first other instance, in the workspace's order, whose standardized
// bundle path equals the standardized `path`; none when the running bundle
// has no identifier. Never this process.
std::optional<RunningApplication> runningAppAtPath(const PlatformServices& services,
                                                   const std::string& path);

// The standardized bundle paths of the other processes that carry the running
// bundle's identifier (two absent identifiers count as equal), in the
// workspace's order, repeats kept.
std::vector<std::string> runningSiblingPaths(const PlatformServices& services);

}  // namespace korvane::InstallLocationProbe
