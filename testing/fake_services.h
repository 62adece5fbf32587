// Services for tests of the install-location operations: the real backends
// where they can show the behaviour, with the parts a test must control
// (the running bundle, the application folders, the running applications,
// injected faults) made settable. Thread: the test's own, except where the
// operations call them from the worker queue (plain reads of fixed state).
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"
#include "testing/capturing_logger.h"
#include "testing/forwarding_file_system.h"

namespace korvane::testing {

// Reads bundles on disk for real; the running bundle is whatever the test says.
class TestBundleReader final : public BundleReader {
 public:
  std::optional<PropertyListStrings> infoStrings(const std::string& bundlePath) override {
    ++infoReads;
    return realBundleReader().infoStrings(bundlePath);
  }
  MainBundle mainBundle() override { return main; }

  MainBundle main;
  std::atomic<int> infoReads{0};  // the worker queue reads bundles too
};

class TestApplicationFolders final : public ApplicationFolders {
 public:
  std::string systemFolder() override { return system; }
  std::optional<std::string> userFolder() override { return user; }

  std::string system;
  std::optional<std::string> user;
};

// A running application as the workspace lists it.
inline RunningApplication runningApp(int32_t pid, std::optional<std::string> bundleIdentifier,
                                     std::optional<std::string> bundlePath) {
  RunningApplication app;
  app.processIdentifier = pid;
  app.bundleIdentifier = std::move(bundleIdentifier);
  if (bundlePath) app.bundleURL = FileURL::fileURLWithPath(*bundlePath);
  return app;
}

// Lists the running applications the test sets; records reveals and every
// request sent to other applications, in order, as text ("unhide 12",
// "activate 12 options=2", "open /A.app substitution=0 new=0 activates=1").
// Opens are kept with their completions, which the test calls when it likes.
class FakeWorkspace final : public Workspace {
 public:
  struct Open {
    FileURL url;
    OpenConfiguration configuration;
    OpenCompletion completion;
  };

  void activateFileViewerSelectingURLs(const std::vector<FileURL>& urls) override {
    revealed.push_back(urls);
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
    opens.push_back(Open{url, configuration, std::move(completion)});
  }

  std::vector<RunningApplication> running;
  std::vector<std::vector<FileURL>> revealed;
  std::vector<std::string> requests;
  std::vector<Open> opens;
};

// The real file system, with hooks to inject one fault at a time.
class FaultyFileSystem final : public ForwardingFileSystem {
 public:
  bool fileExists(const std::string& path) override {
    ++existenceTests;
    return ForwardingFileSystem::fileExists(path);
  }
  AttributesResult attributesOfItem(const std::string& path) override {
    ++attributeReads;
    return ForwardingFileSystem::attributesOfItem(path);
  }
  DirectoryListing contentsOfDirectory(const std::string& path) override {
    if (listingFault && listingFault->first == path) {
      return DirectoryListing{std::nullopt, {}, listingFault->second};
    }
    DirectoryListing listing = ForwardingFileSystem::contentsOfDirectory(path);
    if (afterListing) afterListing(path);
    return listing;
  }
  std::optional<FileError> moveItemWithoutReplacing(const std::string& from,
                                                    const std::string& to) override {
    if (beforeMove) beforeMove(from, to);
    return ForwardingFileSystem::moveItemWithoutReplacing(from, to);
  }
  std::optional<bool> isOnReadOnlyVolume(const std::string& path) override {
    if (readOnlyVolume) return *readOnlyVolume;
    return ForwardingFileSystem::isOnReadOnlyVolume(path);
  }

  // The listing of this folder fails with this error.
  std::optional<std::pair<std::string, FileError>> listingFault;
  // How often each was asked (the worker queue asks too).
  std::atomic<int> existenceTests{0};
  std::atomic<int> attributeReads{0};
  // Runs once a folder has been listed (e.g. to remove an entry).
  std::function<void(const std::string&)> afterListing;
  // Runs just before the move (e.g. to take the destination).
  std::function<void(const std::string&, const std::string&)> beforeMove;
  // Overrides the volume flag: a value, or nullopt inside for "cannot be read".
  std::optional<std::optional<bool>> readOnlyVolume;
};

// All of the above together, as the operations take them.
struct TestServices {
  FaultyFileSystem fileSystem;
  FakeWorkspace workspace;
  CapturingLogger logger;
  TestBundleReader bundles;
  TestApplicationFolders folders;
  PlatformServices services =
      PlatformServices(fileSystem, workspace, logger, bundles, folders, realLoginItems(),
                       standardUserDefaults(), realSystemVersion(), realLoginItemLogger());
};

}  // namespace korvane::testing
