// Revealing files on a freedesktop desktop: the file manager's
// org.freedesktop.FileManager1.ShowItems on the session bus, asynchronously;
// when there is no session bus or nobody serves that name, the containing
// folder is opened with xdg-open, spawned asynchronously and reaped.
//
// Requests to other applications go to their instance endpoints, one at a
// time on the serial queue "workspace.requests" in the order they were made:
// each waits for its reply (or its time limit) before the next is sent, so an
// unhide, activate and open sent to the same instance arrive in that order.
// The folders and the environment are read on the main thread when the
// request is made.
#include "platform/workspace.h"

#include <gio/gio.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/dispatch_queue.h"
#include "platform/linux/desktop/application_launch.h"
#include "platform/linux/desktop/application_open.h"
#include "platform/linux/ipc/instance_endpoint.h"
#include "platform/linux/process/running_applications.h"
#include "platform/main_thread.h"
#include "platform/path_string.h"

namespace korvane {
namespace {

// Connecting to an unhide or activate target and waiting for its reply, each.
constexpr std::chrono::milliseconds kRequestTimeLimit{2000};
// An open, from its turn on the queue to its completion.
constexpr std::chrono::milliseconds kOpenTimeLimit{5000};

struct RevealRequest {
  std::vector<std::string> paths;
  std::vector<std::string> uris;
};

void openFolder(const std::string& folder) {
  gchar* argv[] = {const_cast<gchar*>("xdg-open"), const_cast<gchar*>(folder.c_str()), nullptr};
  GPid pid = 0;
  const auto flags = static_cast<GSpawnFlags>(
      G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDIN_FROM_DEV_NULL |
      G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL);
  if (!g_spawn_async(nullptr, argv, nullptr, flags, nullptr, nullptr, &pid, nullptr)) return;
  // The watch reaps the child on the main loop, so no zombie is left behind.
  g_child_watch_add(
      pid, [](GPid child, gint, gpointer) { g_spawn_close_pid(child); }, nullptr);
}

// Opens the folder that holds each item, never the item itself: the path is
// standardized first, so a trailing "/", "/." or "/.." cannot make the item
// (a document that xdg-open would open in its viewer) pass for its folder.
// The paths are absolute (FileURL), so no argument reads as an option; the
// root is its own folder.
void fallBack(RevealRequest* request) {
  std::set<std::string> folders;
  for (const auto& path : request->paths) {
    folders.insert(deletingLastPathComponent(standardizedPath(path, "/")));
  }
  for (const auto& folder : folders) openFolder(folder);
}

// Whether the error says the file manager cannot be reached at all (as opposed
// to a slow answer, after which it may still show the items).
bool unreachable(const GError* error) {
  return !(g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY));
}

void onShowItemsReply(GObject* source, GAsyncResult* result, gpointer data) {
  auto* request = static_cast<RevealRequest*>(data);
  g_autoptr(GError) error = nullptr;
  g_autoptr(GVariant) reply =
      g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (error != nullptr && unreachable(error)) fallBack(request);
  delete request;
}

void onSessionBus(GObject*, GAsyncResult* result, gpointer data) {
  auto* request = static_cast<RevealRequest*>(data);
  g_autoptr(GError) error = nullptr;
  g_autoptr(GDBusConnection) bus = g_bus_get_finish(result, &error);
  if (bus == nullptr) {
    fallBack(request);
    delete request;
    return;
  }
  GVariantBuilder uris;
  g_variant_builder_init(&uris, G_VARIANT_TYPE("as"));
  for (const auto& uri : request->uris) g_variant_builder_add(&uris, "s", uri.c_str());
  g_dbus_connection_call(bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                         "org.freedesktop.FileManager1", "ShowItems",
                         g_variant_new("(ass)", &uris, ""), nullptr, G_DBUS_CALL_FLAGS_NONE, 10000,
                         nullptr, onShowItemsReply, request);
}

class LinuxWorkspace final : public Workspace {
 public:
  // The table starts looking at the processes now, so that the first
  // question finds the list ready.
  LinuxWorkspace() { RunningApplicationTable::shared(); }

  void activateFileViewerSelectingURLs(const std::vector<FileURL>& urls) override {
    KORVANE_ASSERT_MAIN_THREAD();
    auto* request = new RevealRequest();
    for (const auto& url : urls) {
      const std::string& path = url.path();
      if (path.find('\0') != std::string::npos) continue;  // cannot name a file
      g_autofree gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);  // percent-encodes
      if (uri == nullptr) continue;
      request->uris.emplace_back(uri);
      request->paths.push_back(path);
    }
    if (request->uris.empty()) {
      delete request;
      return;
    }
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, onSessionBus, request);
  }

  std::vector<RunningApplication> runningApplications() override {
    KORVANE_ASSERT_MAIN_THREAD();
    return RunningApplicationTable::shared().applications();
  }

  bool unhide(const RunningApplication& application) override {
    KORVANE_ASSERT_MAIN_THREAD();
    return sendLater(application.processIdentifier, InstanceRequest::unhide);
  }

  // Sent as "activate" whatever the options: on Linux an application can only
  // ask for its own windows to be raised (the window manager decides), and
  // there is nothing to ignore other applications with, so every activation
  // is one that ignores them (the only kind this application asks for).
  bool activate(const RunningApplication& application, ActivationOptions) override {
    KORVANE_ASSERT_MAIN_THREAD();
    return sendLater(application.processIdentifier, InstanceRequest::activate);
  }

  void openApplicationAtURL(const FileURL& url, const OpenConfiguration& configuration,
                            OpenCompletion completion) override {
    KORVANE_ASSERT_MAIN_THREAD();
    OpenRequest request{url.path(), configuration,
                        InterfaceAddressInputs::fromProcess(std::nullopt), environmentForLaunch(),
                        kOpenTimeLimit};
    requests().async([request = std::move(request), completion = std::move(completion)]() mutable {
      OpenOutcome outcome = openApplication(request);
      if (completion) completion(std::move(outcome.application), std::move(outcome.error));
    });
  }

 private:
  // Queues `request` for `pid` when it has an endpoint socket file; nothing
  // here waits for the process. The outcome is not reported.
  bool sendLater(int32_t pid, std::string_view request) {
    InterfaceAddressInputs inputs = InterfaceAddressInputs::fromProcess(std::nullopt);
    if (!instanceEndpointExists(inputs, pid)) return false;
    requests().async([inputs = std::move(inputs), pid, request] {
      if (auto client = InstanceEndpointClient::connect(inputs, pid, kRequestTimeLimit)) {
        client->send(request, kRequestTimeLimit);
      }
    });
    return true;
  }

  DispatchQueue& requests() {
    if (requests_ == nullptr) requests_ = makeSerialQueue("workspace.requests");
    return *requests_;
  }

  std::unique_ptr<DispatchQueue> requests_;  // made on the first request (main thread)
};

}  // namespace

Workspace& realWorkspace() {
  static LinuxWorkspace* workspace = new LinuxWorkspace();
  return *workspace;
}

}  // namespace korvane
