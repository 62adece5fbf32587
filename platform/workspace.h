// The desktop workspace: the file manager, the running applications, and the
// requests this application sends to other running applications (unhide,
// activate, open).
//
// Thread: main thread only, except where a member says otherwise. Nothing here
// blocks the main thread: requests to other processes are sent
// asynchronously, in the order they were made, and the outcome of unhide and
// activate is not reported.
#pragma once

#include <cstdint>
#include <functional>
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

// Options of an activation (NSApplicationActivationOptions).
enum class ActivationOptions : uint32_t {
  none = 0,
  activateAllWindows = 1u << 0,
  activateIgnoringOtherApps = 1u << 1,  // NSApplicationActivateIgnoringOtherApps, value 2
};

// How an application is opened (NSWorkspaceOpenConfiguration). The defaults
// are the platform's own.
struct OpenConfiguration {
  // May an instance of the same application running from another bundle
  // location stand in for the one at the URL?
  bool allowsRunningApplicationSubstitution = true;
  // Start a new process even when one runs from the bundle?
  bool createsNewApplicationInstance = false;
  // Bring the application to the front?
  bool activates = true;
};

// Why an open failed.
struct WorkspaceError {
  std::string localizedDescription;  // one sentence naming the bundle and the reason
};

// Called exactly once with the application that answered the open (its
// process identifier is the one that handled it) or with the error, never
// both. Runs on a thread other than the main thread.
using OpenCompletion =
    std::function<void(std::optional<RunningApplication>, std::optional<WorkspaceError>)>;

class Workspace {
 public:
  virtual ~Workspace() = default;

  // Asks the desktop's file manager to show `urls` selected. Returns at once.
  virtual void activateFileViewerSelectingURLs(const std::vector<FileURL>& urls) = 0;

  // The running applications of this user, in the workspace's order, with
  // each one's bundle URL and identifier as they were when it launched. The workspace keeps the
  // list up to date on its own: a call costs no more on a machine with many
  // processes, an application that has ended is not listed, and one that
  // started a moment ago is listed at once when it announced itself (a host
  // does so before it is ready) and at worst a little later otherwise.
  virtual std::vector<RunningApplication> runningApplications() = 0;

  // Asks `application` to unhide itself. Returns whether the request could be
  // sent; an application that serves no instance endpoint is left alone
  // (false).
  virtual bool unhide(const RunningApplication& application) = 0;

  // Asks `application` to make itself the active application. Returns
  // whether the request could be sent, as unhide() does.
  virtual bool activate(const RunningApplication& application, ActivationOptions options) = 0;

  // Opens the application bundle at `url`. Without "creates new application
  // instance", an instance running from that bundle (or, when substitution is
  // allowed, from another bundle with the same identifier) is sent a reopen
  // request, and the completion gets the application that handled it; when
  // none runs, the bundle's executable is started and the completion gets the
  // new process once it answers. Returns at once; the main thread never waits
  // for the completion.
  virtual void openApplicationAtURL(const FileURL& url, const OpenConfiguration& configuration,
                                    OpenCompletion completion) = 0;
};

// The real workspace. Made once, kept for the life of the process.
Workspace& realWorkspace();

}  // namespace korvane
