// A Workspace that lists the running applications the test sets and records
// every request, in order, as one line of text:
//   "reveal /a /b"                                  activateFileViewerSelectingURLs
//   "unhide 12", "activate 12 options=2"            unhide, activate
//   "open /A.app substitution=0 new=0 activates=1"  openApplicationAtURL
// Opens never complete on their own: their completions are kept for the test
// to call when it likes (from another thread, as the real workspace does).
// unhide and activate report the request as sent.
// Thread: the test's own (the workspace's members are main thread only).
#pragma once

#include "platform/workspace.h"

namespace korvane::testing {

// A running application as the workspace lists it.
inline RunningApplication runningApp(int32_t pid, std::optional<std::string> bundleIdentifier,
                                     std::optional<std::string> bundlePath) {
  RunningApplication app{pid, std::move(bundleIdentifier), std::nullopt};
  if (bundlePath) app.bundleURL = FileURL::fileURLWithPath(*bundlePath);
  return app;
}

class FakeWorkspace final : public Workspace {
 public:
  void activateFileViewerSelectingURLs(const std::vector<FileURL>& urls) override {
    std::string line = "reveal";
    for (const FileURL& url : urls) line.append(" ").append(url.path());
    requests.push_back(line);
  }
  std::vector<RunningApplication> runningApplications() override { return running; }
  bool unhide(const RunningApplication& application) override {
    requests.push_back("unhide " + std::to_string(application.processIdentifier));
    return true;
  }
  bool activate(const RunningApplication& application, ActivationOptions options) override {
    requests.push_back("activate " + std::to_string(application.processIdentifier) +
                       " options=" + std::to_string(static_cast<uint32_t>(options)));
    return true;
  }
  void openApplicationAtURL(const FileURL& url, const OpenConfiguration& configuration,
                            OpenCompletion completion) override {
    requests.push_back("open " + url.path() + " substitution=" +
                       (configuration.allowsRunningApplicationSubstitution ? "1" : "0") +
                       " new=" + (configuration.createsNewApplicationInstance ? "1" : "0") +
                       " activates=" + (configuration.activates ? "1" : "0"));
    completions.push_back(std::move(completion));
  }

  std::vector<RunningApplication> running;
  std::vector<std::string> requests;
  std::vector<OpenCompletion> completions;  // one per open, in order
};

}  // namespace korvane::testing
