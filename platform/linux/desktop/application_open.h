// What the workspace's openApplicationAtURL does on its request queue: find
// the application running from a bundle and send it a reopen request, or
// start the bundle's executable and wait until it answers.
//
// Thread: the workspace's request queue (any thread but the main thread): it
// blocks for up to `timeLimit`.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/engine/interface_address.h"
#include "platform/workspace.h"

namespace korvane {

struct OpenRequest {
  std::string bundlePath;  // the path of the URL to open, standardized here
  OpenConfiguration configuration;
  InterfaceAddressInputs inputs;         // the socket folders of the endpoints
  std::vector<std::string> environment;  // for a started executable ("NAME=value")
  std::chrono::milliseconds timeLimit{5000};
};

struct OpenOutcome {
  std::optional<RunningApplication> application;  // exactly one of the two is set
  std::optional<WorkspaceError> error;
};

// Opens the bundle, all within `timeLimit`:
//  - Unless a new instance is asked for, the first running application of this
//    user (in list order) whose standardized bundle path equals the bundle's
//    is sent "activate" (when the configuration activates) and then "reopen";
//    when substitution is allowed and none runs from the bundle, the first one
//    with the bundle's "CFBundleIdentifier" stands in. The outcome is the
//    application with the pid of the reopen reply; an instance whose endpoint
//    cannot be reached, does not answer or answers with an error is an error.
//  - Otherwise "Contents/MacOS/<CFBundleExecutable>" is started (see
//    application_launch.h) and pinged until it answers: the outcome is the new
//    process with the bundle's identifier and URL. A process that ends before
//    it answers, or does not answer in time, is an error (it is left running
//    in the second case).
// Errors are one sentence: "cannot open the application at <bundle>: <why>".
OpenOutcome openApplication(const OpenRequest& request);

}  // namespace korvane
