#include "platform/linux/desktop/application_open.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/bundles.h"
#include "platform/linux/desktop/application_launch.h"
#include "platform/linux/ipc/instance_endpoint.h"
#include "platform/linux/process/running_applications.h"
#include "platform/path_string.h"
#include "platform/process.h"

namespace korvane {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a started executable is asked whether it is up yet.
constexpr milliseconds kPingInterval{20};
// The longest wait for one ping's connection or reply; the next try follows.
constexpr milliseconds kPingTimeout{500};

// Rounded up: 0 only once the deadline has passed.
milliseconds left(Clock::time_point deadline) {
  return std::max(milliseconds(0), std::chrono::ceil<milliseconds>(deadline - Clock::now()));
}

std::string describe(milliseconds limit) {
  if (limit.count() % 1000 == 0) {
    const auto seconds = limit.count() / 1000;
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
  }
  return std::to_string(limit.count()) + " ms";
}

std::optional<std::string> entry(const std::optional<PropertyListStrings>& info,
                                 const std::string& key) {
  if (!info) return std::nullopt;
  const auto found = info->find(key);
  if (found == info->end()) return std::nullopt;
  return found->second;
}

class Opener {
 public:
  explicit Opener(const OpenRequest& request)
      : request_(request),
        deadline_(Clock::now() + request.timeLimit),
        bundle_(standardizedPath(request.bundlePath)),
        info_(realBundleReader().infoStrings(bundle_)),
        identifier_(entry(info_, "CFBundleIdentifier")) {}

  OpenOutcome open() {
    if (!request_.configuration.createsNewApplicationInstance) {
      if (auto running = findRunning()) return reopen(*running);
    }
    return launch();
  }

 private:
  OpenOutcome fail(const std::string& reason) const {
    return OpenOutcome{std::nullopt,
                       WorkspaceError{"cannot open the application at " + bundle_ + ": " + reason}};
  }

  std::optional<RunningApplication> findRunning() const {
    // Off the main thread, a fresh look at every process costs nobody a
    // frame, and finds an instance that started a moment ago however it did.
    std::vector<RunningApplication> running = runningApplicationsOfThisUser();
    // Another process before this one: when this application opens its own
    // bundle while a second instance runs from it, the request is meant for
    // that other instance.
    const int32_t self = currentProcessIdentifier();
    std::stable_partition(running.begin(), running.end(), [self](const RunningApplication& a) {
      return a.processIdentifier != self;
    });
    for (const RunningApplication& application : running) {
      if (application.bundleURL && standardizedPath(application.bundleURL->path()) == bundle_) {
        return application;
      }
    }
    if (!request_.configuration.allowsRunningApplicationSubstitution || !identifier_) {
      return std::nullopt;
    }
    for (const RunningApplication& application : running) {
      if (application.bundleIdentifier == identifier_) return application;
    }
    return std::nullopt;
  }

  OpenOutcome reopen(const RunningApplication& application) const {
    const std::string instance =
        "the running instance (pid " + std::to_string(application.processIdentifier) + ")";
    std::string error;
    auto client = InstanceEndpointClient::connect(request_.inputs, application.processIdentifier,
                                                  left(deadline_), &error);
    if (!client) return fail(instance + " cannot be reached: " + error);
    std::vector<std::string_view> requests;
    if (request_.configuration.activates) requests.push_back(InstanceRequest::activate);
    requests.push_back(InstanceRequest::reopen);
    std::optional<InstanceReply> reply;
    for (const std::string_view request : requests) {
      reply = client->send(request, left(deadline_), &error);
      if (!reply)
        return fail(instance + " did not answer \"" + std::string(request) + "\": " + error);
      if (!reply->ok) {
        return fail(instance + " refused \"" + std::string(request) + "\": " + reply->fields);
      }
    }
    return OpenOutcome{
        RunningApplication{reply->pid, application.bundleIdentifier, application.bundleURL},
        std::nullopt};
  }

  OpenOutcome launch() const {
    if (!info_) return fail("Contents/Info.plist is missing or unreadable");
    const std::optional<std::string> name = entry(info_, "CFBundleExecutable");
    if (!name || name->empty()) return fail("Contents/Info.plist names no CFBundleExecutable");
    if (name->find('/') != std::string::npos || *name == "." || *name == ".." ||
        name->find('\0') != std::string::npos) {
      return fail("CFBundleExecutable \"" + *name + "\" is not a plain file name");
    }
    const std::string relative = "Contents/MacOS/" + *name;
    const std::string executable = appendingPathComponent(bundle_, relative);
    struct stat info {};
    if (stat(executable.c_str(), &info) != 0) {
      const int error = errno;
      if (error == ENOENT) return fail(relative + " is missing");
      return fail(relative + " cannot be read (" + std::strerror(error) + ")");
    }
    if (!S_ISREG(info.st_mode)) return fail(relative + " is not a regular file");
    if (access(executable.c_str(), X_OK) != 0) return fail(relative + " is not executable");

    const LaunchResult launched = launchApplication(executable, request_.environment);
    if (launched.pid == 0) {
      return fail(relative + " could not be started (" + launched.error.message() + ")");
    }
    const std::string process = relative + " (pid " + std::to_string(launched.pid) + ")";
    for (;;) {
      if (launchedProcessHasEnded(launched.pid)) return fail(process + " ended before it answered");
      const milliseconds remaining = left(deadline_);
      if (remaining.count() == 0) {
        return fail(process + " did not answer within " + describe(request_.timeLimit));
      }
      const milliseconds wait = std::min(remaining, kPingTimeout);
      if (auto client = InstanceEndpointClient::connect(request_.inputs, launched.pid, wait)) {
        if (auto reply = client->send(InstanceRequest::ping, std::min(left(deadline_), wait))) {
          if (reply->ok) {
            return OpenOutcome{
                RunningApplication{launched.pid, identifier_, FileURL::fileURLWithPath(bundle_)},
                std::nullopt};
          }
        }
      }
      std::this_thread::sleep_for(std::min(left(deadline_), kPingInterval));
    }
  }

  const OpenRequest& request_;
  const Clock::time_point deadline_;
  const std::string bundle_;
  const std::optional<PropertyListStrings> info_;
  const std::optional<std::string> identifier_;
};

}  // namespace

OpenOutcome openApplication(const OpenRequest& request) { return Opener(request).open(); }

}  // namespace korvane
