#include "platform/workspace.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/main_loop.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// True once this process has no child left, exited or not (none unreaped).
bool noChildren() {
  siginfo_t info{};
  return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) < 0 && errno == ECHILD;
}

// A private session bus for one test: a dbus-daemon on a socket in a
// temporary folder, stopped when the object goes.
class PrivateBus {
 public:
  explicit PrivateBus(const std::string& dir) {
    address_ = "unix:path=" + dir + "/bus";
    gchar* argv[] = {const_cast<gchar*>("dbus-daemon"),
                     const_cast<gchar*>("--session"),
                     const_cast<gchar*>("--nofork"),
                     const_cast<gchar*>("--nopidfile"),
                     const_cast<gchar*>(("--address=" + address_).c_str()),
                     nullptr};
    std::string addressArg = "--address=" + address_;
    argv[4] = addressArg.data();
    started_ =
        g_spawn_async(nullptr, argv, nullptr,
                      static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                               G_SPAWN_STDOUT_TO_DEV_NULL),
                      nullptr, nullptr, &pid_, nullptr);
    for (int i = 0; started_ && i < 200 && !exists(dir + "/bus"); ++i) g_usleep(10000);
    started_ = started_ && exists(dir + "/bus");
  }
  ~PrivateBus() {
    if (pid_ != 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool started() const { return started_; }
  const std::string& address() const { return address_; }

 private:
  std::string address_;
  GPid pid_ = 0;
  bool started_ = false;
};

// Puts a stand-in xdg-open first on PATH that writes its argument to a file.
std::string installFakeXdgOpen(const testing::TempDir& dir) {
  const std::string bin = dir.file("bin");
  mkdir(bin.c_str(), 0755);
  const std::string out = dir.file("xdg-open.out");
  std::ofstream(bin + "/xdg-open") << "#!/bin/sh\nprintf '%s' \"$1\" > '" << out << ".tmp' && mv '"
                                   << out << ".tmp' '" << out << "'\n";
  chmod((bin + "/xdg-open").c_str(), 0755);
  setenv("PATH", (bin + ":" + getenv("PATH")).c_str(), 1);
  return out;
}

// Catches a fallback that never runs, opens the wrong folder, or leaves a zombie.
TEST(Workspace, WithoutSessionBusOpensTheFolderWithXdgOpen) {
  testing::TempDir dir;
  const std::string out = installFakeXdgOpen(dir);
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir.file("no-bus")).c_str(), 1);
  sharedWorkspace().activateFileViewerSelectingURLs(
      {FileURL::fileURLWithPath("/srv/some folder/App.app")});
  ASSERT_TRUE(runMainLoopUntil([&] { return exists(out); }, 10s));
  EXPECT_EQ(readFile(out), "/srv/some folder");
  EXPECT_TRUE(runMainLoopUntil(noChildren, 5s)) << "the xdg-open child was not reaped";
}

// Catches a bus without a file manager treated as success (nothing shown).
TEST(Workspace, BusWithoutFileManagerFallsBack) {
  testing::TempDir dir;
  PrivateBus bus(dir.path());
  if (!bus.started()) GTEST_SKIP() << "dbus-daemon is not available";
  const std::string out = installFakeXdgOpen(dir);
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
  sharedWorkspace().activateFileViewerSelectingURLs({FileURL::fileURLWithPath("/opt/x/Y.app")});
  ASSERT_TRUE(runMainLoopUntil([&] { return exists(out); }, 10s));
  EXPECT_EQ(readFile(out), "/opt/x");
}

constexpr char kFileManagerXml[] =
    "<node><interface name='org.freedesktop.FileManager1'>"
    "<method name='ShowItems'><arg type='as' name='uris' direction='in'/>"
    "<arg type='s' name='startupId' direction='in'/></method>"
    "</interface></node>";

struct ShownItems {
  std::vector<std::string> uris;
  std::string startupId;
  bool called = false;
};

// Catches a wrong method, wrong arguments, or URIs that are not percent-encoded.
TEST(Workspace, AsksTheFileManagerToShowTheItem) {
  testing::TempDir dir;
  PrivateBus bus(dir.path());
  if (!bus.started()) GTEST_SKIP() << "dbus-daemon is not available";
  const std::string out = installFakeXdgOpen(dir);
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);

  GError* error = nullptr;
  GDBusConnection* server = g_dbus_connection_new_for_address_sync(
      bus.address().c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  ASSERT_NE(server, nullptr) << error->message;
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kFileManagerXml, nullptr);
  ShownItems shown;
  static const GDBusInterfaceVTable vtable = {
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
         GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
        auto* items = static_cast<ShownItems*>(data);
        GVariantIter* iter = nullptr;
        const gchar* startup = nullptr;
        g_variant_get(parameters, "(as&s)", &iter, &startup);
        const gchar* uri = nullptr;
        while (g_variant_iter_loop(iter, "&s", &uri)) items->uris.emplace_back(uri);
        g_variant_iter_free(iter);
        items->startupId = startup;
        items->called = true;
        g_dbus_method_invocation_return_value(invocation, nullptr);
      },
      nullptr,
      nullptr,
      {}};
  ASSERT_GT(
      g_dbus_connection_register_object(server, "/org/freedesktop/FileManager1",
                                        node->interfaces[0], &vtable, &shown, nullptr, nullptr),
      0u);
  GVariant* owned = g_dbus_connection_call_sync(
      server, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "RequestName", g_variant_new("(su)", "org.freedesktop.FileManager1", 0u), nullptr,
      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
  ASSERT_NE(owned, nullptr);
  g_variant_unref(owned);

  sharedWorkspace().activateFileViewerSelectingURLs(
      {FileURL::fileURLWithPath("/tmp/a b/\xc3\xbc#?%.app")});
  ASSERT_TRUE(runMainLoopUntil([&] { return shown.called; }, 10s));
  EXPECT_EQ(shown.uris, std::vector<std::string>{"file:///tmp/a%20b/%C3%BC%23%3F%25.app"});
  EXPECT_EQ(shown.startupId, "");
  runMainLoopUntil([] { return false; }, 100ms);
  EXPECT_FALSE(exists(out)) << "no fallback when the file manager answered";

  g_dbus_node_info_unref(node);
  g_dbus_connection_close_sync(server, nullptr, nullptr);
  g_object_unref(server);
}

}  // namespace
}  // namespace korvane
