// The platform services of the install-location operations made of the fakes:
// the real file system and bundle reading where they show the behaviour, with
// the running bundle, the application folders, the running applications, the
// log and injected faults in the test's hands. `services` is what the
// operations take. Thread: as each fake says.
#pragma once

#include "platform/services.h"
#include "testing/fakes/capturing_diagnostic_log.h"
#include "testing/fakes/fake_application_folders.h"
#include "testing/fakes/fake_bundle_reader.h"
#include "testing/fakes/fake_workspace.h"
#include "testing/fakes/forwarding_file_system.h"

namespace korvane::testing {

struct TestServices {
  ForwardingFileSystem fileSystem;
  FakeWorkspace workspace;
  CapturingDiagnosticLog logger;
  FakeBundleReader bundles;
  FakeApplicationFolders folders;
  PlatformServices services{fileSystem, workspace, logger, bundles, folders};
};

}  // namespace korvane::testing
