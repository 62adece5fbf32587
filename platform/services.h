// The platform services the operations reach, gathered once. The host builds
// it from the real backends; tests build it from fakes or from real backends
// on temporary folders. Thread: the members say.
#pragma once

#include "platform/application_folders.h"
#include "platform/bundles.h"
#include "platform/diagnostic_log.h"
#include "platform/file_system.h"
#include "platform/workspace.h"

namespace korvane {

struct PlatformServices {
  FileSystem& fileSystem;
  Workspace& workspace;
  DiagnosticLog& logger;
  BundleReader& bundles;
  ApplicationFolders& applicationFolders;
};

// The real backends. Made once, kept for the life of the process.
const PlatformServices& realPlatformServices();

}  // namespace korvane
