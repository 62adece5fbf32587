// The desktop workspace: the file manager and, later, running applications.
//
// Thread: main thread only. Nothing here blocks the main thread: requests to
// other processes are sent asynchronously and their outcome is not reported.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_url.h"

namespace korvane {

// A running process as the workspace lists it.
struct RunningApplication {
  int32_t processIdentifier = 0;
  std::optional<std::string> bundleIdentifier;
  std::optional<FileURL> bundleURL;
};

class Workspace {
 public:
  virtual ~Workspace() = default;

  // Asks the desktop's file manager to show `urls` selected. Returns at once.
  virtual void activateFileViewerSelectingURLs(const std::vector<FileURL>& urls) = 0;

  // The running applications of this user, taken afresh on every call, in the
  // workspace's order (on Linux: ascending process identifier). A process
  // whose executable lies in "<Name>.app/Contents/MacOS/" has that bundle as
  // its URL and the identifier from its information property list; other
  // processes have neither.
  virtual std::vector<RunningApplication> runningApplications() = 0;
};

// The real workspace. Made once, kept for the life of the process.
Workspace& sharedWorkspace();

}  // namespace korvane
