// The running applications of this user, as the workspace lists them on
// Linux (the list behind Workspace::runningApplications).
//
// Thread: any (the workspace calls it on the main thread). Reads the process
// file system afresh on every call; each bundle's information property list is
// read at most once per call, however many processes run from it.
#pragma once

#include <vector>

#include "platform/workspace.h"

namespace korvane {

// The processes whose real user is this process's real user, in ascending
// process identifier. A process whose executable lies directly in
// "<Name>.app/Contents/MacOS/" (also after the file was removed while it runs)
// has that bundle as its URL and, when the bundle's "Contents/Info.plist"
// holds a string "CFBundleIdentifier", that identifier; other processes (and
// those whose executable cannot be read) have neither. A process that ends
// while it is read is left out.
std::vector<RunningApplication> runningApplicationsOfThisUser();

}  // namespace korvane
