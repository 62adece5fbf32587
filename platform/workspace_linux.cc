// Revealing files on a freedesktop desktop: the file manager's
// org.freedesktop.FileManager1.ShowItems on the session bus, asynchronously;
// when there is no session bus or nobody serves that name, the containing
// folder is opened with xdg-open, spawned asynchronously and reaped.
#include <gio/gio.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/main_thread.h"
#include "platform/running_applications.h"
#include "platform/workspace.h"

namespace korvane {
namespace {

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

void fallBack(RevealRequest* request) {
  std::set<std::string> folders;
  for (const auto& path : request->paths) {
    gchar* folder = g_path_get_dirname(path.c_str());
    folders.insert(folder);
    g_free(folder);
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
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (reply != nullptr) g_variant_unref(reply);
  if (error != nullptr) {
    if (unreachable(error)) fallBack(request);
    g_error_free(error);
  }
  delete request;
}

void onSessionBus(GObject*, GAsyncResult* result, gpointer data) {
  auto* request = static_cast<RevealRequest*>(data);
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_finish(result, &error);
  if (bus == nullptr) {
    g_error_free(error);
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
  g_object_unref(bus);
}

class LinuxWorkspace final : public Workspace {
 public:
  void activateFileViewerSelectingURLs(const std::vector<FileURL>& urls) override {
    KORVANE_ASSERT_MAIN_THREAD();
    auto* request = new RevealRequest();
    for (const auto& url : urls) {
      const std::string& path = url.path();
      if (path.find('\0') != std::string::npos) continue;              // cannot name a file
      gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);  // percent-encodes
      if (uri == nullptr) continue;
      request->uris.emplace_back(uri);
      request->paths.push_back(path);
      g_free(uri);
    }
    if (request->uris.empty()) {
      delete request;
      return;
    }
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, onSessionBus, request);
  }

  std::vector<RunningApplication> runningApplications() override {
    KORVANE_ASSERT_MAIN_THREAD();
    return runningApplicationsOfThisUser();
  }

  // Requests to other applications arrive with the instance endpoint.
  bool unhide(const RunningApplication&) override { return false; }
  bool activate(const RunningApplication&, ActivationOptions) override { return false; }
  void openApplicationAtURL(const FileURL& url, const OpenConfiguration&,
                            OpenCompletion completion) override {
    std::thread([path = url.path(), completion = std::move(completion)] {
      completion(std::nullopt, WorkspaceError{"cannot open the application at " + path +
                                              ": opening applications is not available"});
    }).detach();
  }
};

}  // namespace

Workspace& sharedWorkspace() {
  static LinuxWorkspace* workspace = new LinuxWorkspace();
  return *workspace;
}

}  // namespace korvane
