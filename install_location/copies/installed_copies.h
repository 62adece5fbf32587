// The installed copies of this application in the application folders: the
// answer to "scanInstalledCopies". Only reads; never creates, moves or removes
// anything, not even the staging leftovers it reports.
//
// Thread: the worker queue.
#pragma once

#include <string>
#include <vector>

#include "install_location/probe/result_map.h"
#include "platform/services.h"

namespace korvane::InstallLocationProbe {

// Exactly "status" ("ok", or "partial" when a folder that exists could not be
// listed), "dirErrors" (folder path to error description), "candidates" (one
// map per copy: "path", "identity", "build", "running", "underApplications",
// "isCanonicalName"), "staleTemps" (entries named ".flc-move.*") and
// "otherInstanceRunning". `runningSiblingPaths` holds standardized paths and
// is compared as given.
ResultMap scanInstalledCopies(const PlatformServices& services,
                              const std::vector<std::string>& runningSiblingPaths);

}  // namespace korvane::InstallLocationProbe
