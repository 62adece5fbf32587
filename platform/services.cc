#include "platform/services.h"

namespace korvane {

const PlatformServices& realPlatformServices() {
  static const PlatformServices* services =
      new PlatformServices{realFileSystem(), realWorkspace(), realDiagnosticLog(),
                           realBundleReader(), realApplicationFolders()};
  return *services;
}

}  // namespace korvane
