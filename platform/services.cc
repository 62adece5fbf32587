#include "platform/services.h"

namespace korvane {

const PlatformServices& realPlatformServices() {
  static const PlatformServices* services =
      new PlatformServices{realFileSystem(),   realWorkspace(),          realDiagnosticLog(),
                           realBundleReader(), realApplicationFolders(), realLoginItems(),
                           realUserDefaults(), realSystemVersion(),      realLoginItemLogger()};
  return *services;
}

SystemLogger& realLoginItemLogger() {
  static SystemLogger* logger = makeSystemLogger("app.korvane.LaunchAtLogin", "main").release();
  return *logger;
}

}  // namespace korvane
