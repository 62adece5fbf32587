// The desktop workspace: the file manager and, later, running applications.
//
// Thread: main thread only. Nothing here blocks the main thread: requests to
// other processes are sent asynchronously and their outcome is not reported.
#pragma once

#include <vector>

#include "platform/file_url.h"

namespace korvane {

class Workspace {
 public:
  virtual ~Workspace() = default;

  // Asks the desktop's file manager to show `urls` selected. Returns at once.
  virtual void activateFileViewerSelectingURLs(const std::vector<FileURL>& urls) = 0;
};

// The real workspace. Made once, kept for the life of the process.
Workspace& sharedWorkspace();

}  // namespace korvane
