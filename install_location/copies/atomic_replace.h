// The commit of a prepared bundle: one move, inside one folder, that never
// replaces anything: the answer to "atomicReplace".
//
// Thread: the worker queue.
#pragma once

#include <string>

#include "install_location/probe/result_map.h"
#include "platform/services.h"

namespace korvane::InstallLocationProbe {

// Exactly "status" and "error" ("refused" or "failed"), or "status"
// "committed" and "resultingPath" (`dest` unchanged). Every outcome but a
// commit writes one line "[install-location] atomicReplace <status>: <error>".
// Nothing is created, moved or removed except by the one move.
ResultMap atomicReplace(const PlatformServices& services, const std::string& temp,
                        const std::string& dest);

}  // namespace korvane::InstallLocationProbe
