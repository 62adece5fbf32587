// The platform services made of the fakes: the real file system and bundle
// reading where they show the behaviour, with the running bundle, the
// application folders, the running applications, the login items, the
// defaults, the logs and injected faults in the test's hands. `services` is
// what the operations and the login-item module take. Thread: as each fake
// says.
#pragma once

#include <string>
#include <vector>

#include "platform/services.h"
#include "testing/fakes/capturing_diagnostic_log.h"
#include "testing/fakes/capturing_system_logger.h"
#include "testing/fakes/fake_application_folders.h"
#include "testing/fakes/fake_bundle_reader.h"
#include "testing/fakes/fake_login_items.h"
#include "testing/fakes/fake_system_version.h"
#include "testing/fakes/fake_user_defaults.h"
#include "testing/fakes/fake_workspace.h"
#include "testing/fakes/forwarding_file_system.h"

namespace korvane::testing {

struct TestServices {
  // What the login-item fakes were asked and wrote, in order.
  std::vector<std::string> journal;
  ForwardingFileSystem fileSystem;
  FakeWorkspace workspace;
  CapturingDiagnosticLog logger;
  FakeBundleReader bundles;
  FakeApplicationFolders folders;
  FakeLoginItems loginItems{journal};
  FakeUserDefaults defaults{journal};
  FakeSystemVersion version;
  CapturingSystemLogger loginItemLogger{journal};
  PlatformServices services{fileSystem, workspace, logger,  bundles,        folders,
                            loginItems, defaults,  version, loginItemLogger};
};

}  // namespace korvane::testing
