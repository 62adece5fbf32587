// What lies at a path where a copy may be installed: the answer to
// "probeCandidate".
//
// Thread: the worker queue (the running flag is worked out by the caller on
// the main thread).
#pragma once

#include <optional>
#include <string>

#include "install_location/probe/result_map.h"
#include "platform/services.h"

namespace korvane::InstallLocationProbe {

// Exactly "identity" (the CandidateIdentity text), "build" and "running".
// No path: "absent", 0, false. A symbolic link at the path: "unreadable", 0,
// `running`, nothing read through it. Otherwise the identity against the
// running bundle's identifier (empty when it has none) and the build number,
// from one read of the Info.plist.
ResultMap probeCandidate(const PlatformServices& services, const std::optional<std::string>& path,
                         bool running);

}  // namespace korvane::InstallLocationProbe
