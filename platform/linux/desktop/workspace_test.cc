#include "platform/workspace.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include "platform/linux/engine/interface_address.h"
#include "platform/main_loop.h"
#include "platform/main_thread.h"
#include "testing/bundle_maker.h"
#include "testing/instance_test_app.h"
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

// Catches a fallback that never runs, opens the wrong folder, leaves a
// zombie, hands xdg-open the item itself when the path ends in "/" (or "/."
// or "/.."), which opens a file in its viewer, or passes a relative path that
// could read as an option.
TEST(Workspace, WithoutSessionBusOpensTheFolderWithXdgOpen) {
  testing::TempDir dir;
  const std::string out = installFakeXdgOpen(dir);
  setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir.file("no-bus")).c_str(), 1);
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  const struct {
    std::string path;
    std::string folder;
  } cases[] = {
      {"/srv/some folder/App.app", "/srv/some folder"},
      {"/srv/docs/report.pdf/", "/srv/docs"},
      {"/etc/passwd//", "/etc"},
      {"/srv/docs/report.pdf/.", "/srv/docs"},
      {"/srv/docs/report.pdf/..", "/srv"},
      {"/", "/"},
      {"--help/", std::string(cwd)},
  };
  for (const auto& c : cases) {
    std::remove(out.c_str());
    realWorkspace().activateFileViewerSelectingURLs({FileURL::fileURLWithPath(c.path)});
    ASSERT_TRUE(runMainLoopUntil([&] { return exists(out); }, 10s)) << c.path;
    EXPECT_EQ(readFile(out), c.folder) << c.path;
  }
  EXPECT_TRUE(runMainLoopUntil(noChildren, 5s)) << "the xdg-open child was not reaped";
}

// Catches a bus without a file manager treated as success (nothing shown).
TEST(Workspace, BusWithoutFileManagerFallsBack) {
  testing::TempDir dir;
  PrivateBus bus(dir.path());
  if (!bus.started()) GTEST_SKIP() << "dbus-daemon is not available";
  const std::string out = installFakeXdgOpen(dir);
  setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
  realWorkspace().activateFileViewerSelectingURLs({FileURL::fileURLWithPath("/opt/x/Y.app")});
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

  realWorkspace().activateFileViewerSelectingURLs(
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

// Requests to other instances, sent to stand-in applications that run from
// bundles in a temporary folder and serve their endpoints there.
class WorkspaceInstancesTest : public ::testing::Test {
 protected:
  struct Completion {
    std::optional<RunningApplication> application;
    std::optional<WorkspaceError> error;
    bool onMainThread = true;
  };

  void SetUp() override { inputs = InterfaceAddressInputs::fromProcess(std::nullopt); }

  std::string bundleWithTestApp(const std::string& name) {
    const std::string bundle = dir.file(name);
    EXPECT_TRUE(
        testing::makeAppBundle(bundle, identifier, "TestApp", testing::instanceTestAppBinary()));
    return bundle;
  }

  // Opens `path` and waits for the completion; then a little longer, to see
  // that it is not called again.
  std::vector<Completion> openAndWait(const std::string& path, OpenConfiguration configuration) {
    auto completions = std::make_shared<std::vector<Completion>>();
    auto mutex = std::make_shared<std::mutex>();
    realWorkspace().openApplicationAtURL(
        FileURL::fileURLWithPath(path), configuration,
        [completions, mutex](std::optional<RunningApplication> application,
                             std::optional<WorkspaceError> error) {
          std::lock_guard<std::mutex> lock(*mutex);
          completions->push_back(
              Completion{std::move(application), std::move(error), isMainThread()});
        });
    const auto count = [&] {
      std::lock_guard<std::mutex> lock(*mutex);
      return completions->size();
    };
    runMainLoopUntil([&] { return count() > 0; }, 10s);
    runMainLoopFor(100ms);
    std::lock_guard<std::mutex> lock(*mutex);
    return *completions;
  }

  testing::TempDir dir;
  testing::ScopedSocketFolders folders{dir.path()};
  InterfaceAddressInputs inputs;
  // Every process of this user is a candidate: an identifier of this test
  // process's own keeps others' stand-ins out.
  const std::string identifier = "com.example.korvane-test." + std::to_string(getpid());
};

// Catches requests to one instance overtaking each other on their way (each
// on its own connection), an open that skips "activate", or a completion that
// comes twice, on the main thread, or with the wrong process.
TEST_F(WorkspaceInstancesTest, UnhideActivateAndOpenArriveInOrder) {
  const std::string bundle = bundleWithTestApp("Korvane.app");
  testing::StartedProcess instance(bundle + "/Contents/MacOS/TestApp");
  ASSERT_EQ(testing::requestsSeenBy(inputs, instance.pid()), "requests=");
  const RunningApplication target{instance.pid(), identifier, FileURL::fileURLWithPath(bundle)};

  Workspace& workspace = realWorkspace();
  EXPECT_TRUE(workspace.unhide(target));
  EXPECT_TRUE(workspace.activate(target, ActivationOptions::activateIgnoringOtherApps));
  EXPECT_TRUE(workspace.unhide(target));
  OpenConfiguration reopen;
  reopen.allowsRunningApplicationSubstitution = false;
  const auto completions = openAndWait(bundle + "/", reopen);

  ASSERT_EQ(completions.size(), 1u);
  const Completion& done = completions[0];
  EXPECT_FALSE(done.onMainThread);
  ASSERT_TRUE(done.application.has_value()) << done.error->localizedDescription;
  EXPECT_FALSE(done.error.has_value());
  EXPECT_EQ(done.application->processIdentifier, instance.pid());
  EXPECT_EQ(done.application->bundleIdentifier, identifier);
  EXPECT_EQ(done.application->bundleURL, FileURL::fileURLWithPath(bundle));
  EXPECT_EQ(testing::requestsSeenBy(inputs, instance.pid()),
            "requests=unhide,activate,unhide,activate,reopen");
}

// Catches an open that does not start the bundle's executable when none runs,
// or completes before the new process answers.
TEST_F(WorkspaceInstancesTest, OpenWithNoneRunningStartsTheExecutable) {
  const std::string bundle = bundleWithTestApp("Korvane.app");
  const auto completions = openAndWait(bundle, OpenConfiguration{});
  ASSERT_EQ(completions.size(), 1u);
  const Completion& done = completions[0];
  ASSERT_TRUE(done.application.has_value()) << done.error->localizedDescription;
  testing::AdoptedProcess started(done.application->processIdentifier);
  EXPECT_FALSE(done.onMainThread);
  EXPECT_NE(done.application->processIdentifier, getpid());
  EXPECT_EQ(done.application->bundleIdentifier, identifier);
  EXPECT_EQ(done.application->bundleURL, FileURL::fileURLWithPath(bundle));
  char target[4096] = {};
  const std::string exe = "/proc/" + std::to_string(done.application->processIdentifier) + "/exe";
  ASSERT_GT(readlink(exe.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), bundle + "/Contents/MacOS/TestApp");
  // Its endpoint answered before the completion ran: the ping is on record.
  EXPECT_EQ(testing::requestsSeenBy(inputs, done.application->processIdentifier, 1s),
            "requests=ping");
}

// Catches an unusable bundle that hangs the open, completes it twice or
// without an error, or gives an error that does not name the bundle.
TEST_F(WorkspaceInstancesTest, UnusableBundlesCompleteWithAnError) {
  struct Case {
    const char* name;
    std::vector<testing::PlistEntry> info;                     // none: no Info.plist at all
    std::optional<std::pair<std::string, mode_t>> executable;  // script body, mode
    std::string reason;
  };
  const std::vector<testing::PlistEntry> named = {{"CFBundleExecutable", std::string("Run")}};
  const Case cases[] = {
      {"exits at once", named, std::pair<std::string, mode_t>{"exit 0\n", 0755},
       "Contents/MacOS/Run (pid <pid>) ended before it answered"},
      {"missing executable", named, std::nullopt, "Contents/MacOS/Run is missing"},
      {"not executable", named, std::pair<std::string, mode_t>{"exit 0\n", 0644},
       "Contents/MacOS/Run is not executable"},
      {"no executable named",
       {{"CFBundleIdentifier", std::string("x")}},
       std::nullopt,
       "Contents/Info.plist names no CFBundleExecutable"},
      {"executable elsewhere",
       {{"CFBundleExecutable", std::string("../../Run")}},
       std::nullopt,
       "CFBundleExecutable \"../../Run\" is not a plain file name"},
      {"no Info.plist", {}, std::nullopt, "Contents/Info.plist is missing or unreadable"},
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::string bundle = dir.file("Case" + std::to_string(++index) + ".app");
    if (c.info.empty()) {
      ASSERT_EQ(mkdir(bundle.c_str(), 0755), 0);
    } else {
      ASSERT_TRUE(testing::makeBundle(bundle, c.info));
    }
    if (c.executable) {
      ASSERT_EQ(mkdir((bundle + "/Contents/MacOS").c_str(), 0755), 0);
      std::ofstream(bundle + "/Contents/MacOS/Run") << "#!/bin/sh\n" << c.executable->first;
      ASSERT_EQ(chmod((bundle + "/Contents/MacOS/Run").c_str(), c.executable->second), 0);
    }
    const auto completions = openAndWait(bundle + "/./", OpenConfiguration{});
    ASSERT_EQ(completions.size(), 1u) << c.name;
    EXPECT_FALSE(completions[0].application.has_value()) << c.name;
    EXPECT_FALSE(completions[0].onMainThread) << c.name;
    ASSERT_TRUE(completions[0].error.has_value()) << c.name;
    std::string text = completions[0].error->localizedDescription;
    // The pid of a process that came and went is not known beforehand.
    const size_t pid = text.find("(pid ");
    if (pid != std::string::npos) text.replace(pid + 5, text.find(')', pid) - pid - 5, "<pid>");
    EXPECT_EQ(text, "cannot open the application at " + bundle + ": " + c.reason) << c.name;
  }
}

// Catches unhide or activate queueing work (or blocking) for a process that
// serves no endpoint: they must say at once that nothing was sent.
TEST_F(WorkspaceInstancesTest, NoEndpointMeansNothingIsSent) {
  testing::StartedProcess sleeper("/bin/sleep", {"30"});
  ASSERT_NE(sleeper.pid(), 0);
  const RunningApplication target{sleeper.pid(), std::nullopt, std::nullopt};
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(realWorkspace().unhide(target));
  EXPECT_FALSE(realWorkspace().activate(target, ActivationOptions::activateIgnoringOtherApps));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 50ms);
}

}  // namespace
}  // namespace korvane
