// The other running instances of this application: running applications with
// the running bundle's identifier and a process identifier other than ours.
//
// A running instance's bundle path is the one the system reports, which on
// some systems has every symbolic link resolved, while an installed copy is
// named the way the user's folders are reached (a home folder that is a link,
// say). Both are compared standardized and as exact strings first; when the
// strings differ, they still match when both name the same item on disk (its
// own identity: a bundle path that is itself a link is not the bundle).
//
// Thread: main thread (the workspace is read there), except itemIdentity(),
// which may run anywhere.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"

namespace korvane::InstallLocationProbe {

// The first other instance, in the workspace's order, whose standardized
// bundle path equals the standardized `path` or names the same item; none
// when the running bundle has no identifier. Never this process.
std::optional<RunningApplication> runningAppAtPath(const PlatformServices& services,
                                                   const std::string& path);

// The standardized bundle paths of the other processes that carry the running
// bundle's identifier (two absent identifiers count as equal), in the
// workspace's order, repeats kept.
std::vector<std::string> runningSiblingPaths(const PlatformServices& services);

// The identity of the item at `path` itself (a final link not followed);
// none when it cannot be read.
std::optional<FileIdentity> itemIdentity(FileSystem& fileSystem, const std::string& path);

}  // namespace korvane::InstallLocationProbe
