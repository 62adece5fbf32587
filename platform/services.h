// The platform services the operations reach, gathered once. The host builds
// it from the real backends; tests build it from fakes or from real backends
// on temporary folders. Thread: the members say.
#pragma once

#include "platform/application_folders.h"
#include "platform/bundles.h"
#include "platform/diagnostic_log.h"
#include "platform/file_system.h"
#include "platform/login_items.h"
#include "platform/system_logger.h"
#include "platform/system_version.h"
#include "platform/user_defaults.h"
#include "platform/workspace.h"

namespace korvane {

struct PlatformServices {
  FileSystem& fileSystem;
  Workspace& workspace;
  DiagnosticLog& logger;
  BundleReader& bundles;
  ApplicationFolders& applicationFolders;
  LoginItems& loginItems;
  UserDefaults& userDefaults;
  SystemVersion& systemVersion;
  // Where the login-item module logs its failures.
  SystemLogger& loginItemLogger;
};

// The real backends. Made once, kept for the life of the process.
const PlatformServices& realPlatformServices();

// The real login-item logger: the system logger of subsystem
// "app.korvane.LaunchAtLogin", category "main". Made once, kept for the life
// of the process.
SystemLogger& realLoginItemLogger();

}  // namespace korvane
