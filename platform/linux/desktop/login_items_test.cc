#include "platform/linux/desktop/login_items.h"

#include <dirent.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "platform/linux/desktop/desktop_exec.h"
#include "platform/linux/process/proc_link.h"
#include "testing/child_process.h"
#include "testing/fake_services.h"
#include "testing/file_writes_fail.h"
#include "testing/folder_names.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using testing::namesIn;

constexpr const char* kGroup = "Desktop Entry";

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

using testing::FileWritesFail;

// Sets XDG_CONFIG_HOME to a temporary folder for one test and puts it back.
class LoginItemsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = getenv("XDG_CONFIG_HOME")) saved_ = old;
    setConfigHome(temp.file("config"));
    bundles.main.path = "/opt/Korvane.app";
    bundles.main.info =
        PropertyListStrings{{"CFBundleIdentifier", "dev.korvane.app"}, {"CFBundleName", "Korvane"}};
  }
  void TearDown() override {
    if (saved_)
      setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
  }
  static void setConfigHome(const std::string& path) { setenv("XDG_CONFIG_HOME", path.c_str(), 1); }
  std::string autostart() const { return temp.file("config/autostart"); }
  std::string entry(const std::string& id = "dev.korvane.app") const {
    return autostart() + "/" + id + ".desktop";
  }

  testing::TempDir temp;
  testing::TestBundleReader bundles;
  std::unique_ptr<LoginItems> items = makeAutostartLoginItems(bundles);

 private:
  std::optional<std::string> saved_;
};

// Catches a missing or misspelt key, an Exec that does not start this
// executable, or a temporary file left beside the entry.
TEST_F(LoginItemsTest, RegisterWritesACompleteEntry) {
  EXPECT_EQ(items->mainAppStatus(), AppServiceStatus::notRegistered);
  ASSERT_EQ(items->registerMainApp(), std::nullopt);
  EXPECT_EQ(items->mainAppStatus(), AppServiceStatus::enabled);
  EXPECT_EQ(namesIn(autostart()), std::set<std::string>{"dev.korvane.app.desktop"});

  GKeyFile* file = g_key_file_new();
  ASSERT_TRUE(g_key_file_load_from_file(file, entry().c_str(), G_KEY_FILE_NONE, nullptr));
  auto value = [&](const char* key) {
    gchar* text = g_key_file_get_string(file, kGroup, key, nullptr);
    std::string result = text ? text : "<missing>";
    g_free(text);
    return result;
  };
  EXPECT_EQ(value("Type"), "Application");
  EXPECT_EQ(value("Name"), "Korvane");
  EXPECT_EQ(value("X-GNOME-Autostart-enabled"), "true");
  gchar** argv = nullptr;
  ASSERT_TRUE(g_shell_parse_argv(value("Exec").c_str(), nullptr, &argv, nullptr));
  ASSERT_NE(argv[0], nullptr);
  EXPECT_EQ(std::string(argv[0]), readLinkTarget("/proc/self/exe").value());
  EXPECT_EQ(argv[1], nullptr);
  g_strfreev(argv);
  g_key_file_free(file);

  struct stat info {};
  ASSERT_EQ(stat(autostart().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0755u);
}

// Catches registering again failing on the existing entry, or not replacing
// it; a failed registration (a full disk) that removes or truncates the
// existing entry or leaves its temporary file; and unregister leaving the
// entry or failing when there is none.
TEST_F(LoginItemsTest, RegisterOverTheEntryThenUnregister) {
  ASSERT_TRUE(items->registrationReplacesInPlace());
  ASSERT_EQ(items->registerMainApp(), std::nullopt);
  const std::string earlier = "[Desktop Entry]\nType=Application\nExec=earlier\n";
  writeText(entry(), earlier);
  std::optional<LoginItemError> error;
  {
    FileWritesFail diskFull;
    error = items->registerMainApp();
  }
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->localizedDescription.find("File too large"), std::string::npos)
      << error->localizedDescription;
  EXPECT_EQ(readText(entry()), earlier);
  EXPECT_EQ(namesIn(autostart()), std::set<std::string>{"dev.korvane.app.desktop"});
  EXPECT_EQ(items->mainAppStatus(), AppServiceStatus::enabled);

  ASSERT_EQ(items->registerMainApp(), std::nullopt);
  EXPECT_EQ(readText(entry()).find("Exec=earlier"), std::string::npos) << "replaced";
  EXPECT_EQ(items->unregisterMainApp(), std::nullopt);
  EXPECT_EQ(access(entry().c_str(), F_OK), -1);
  EXPECT_EQ(items->mainAppStatus(), AppServiceStatus::notRegistered);
  EXPECT_EQ(items->unregisterMainApp(), std::nullopt);
}

// Catches disabled or broken entries counting as enabled (and the reverse),
// in both the status and the job list.
TEST_F(LoginItemsTest, EntriesReadAsTheyAreMarked) {
  const struct {
    const char* body;
    bool enabled;
  } cases[] = {
      {"[Desktop Entry]\nType=Application\nExec=x\n", true},
      {"[Desktop Entry]\nType=Application\nExec=x\nX-GNOME-Autostart-enabled=true\n", true},
      {"[Desktop Entry]\nType=Application\nExec=x\nHidden=false\n", true},
      {"[Desktop Entry]\nType=Application\nExec=x\nHidden=true\n", false},
      {"[Desktop Entry]\nType=Application\nExec=x\nX-GNOME-Autostart-enabled=false\n", false},
      {"[Other]\nType=Application\n", false},
      {"not a key file\x01\n", false},
  };
  ASSERT_EQ(items->registerMainApp(), std::nullopt);  // makes the folder
  for (const auto& c : cases) {
    writeText(entry(), c.body);
    EXPECT_EQ(items->mainAppStatus(),
              c.enabled ? AppServiceStatus::enabled : AppServiceStatus::notRegistered)
        << c.body;
    auto jobs = items->userJobDictionaries();
    ASSERT_TRUE(jobs.has_value());
    const auto& list = std::get<EncodableList>(*jobs);
    ASSERT_EQ(list.size(), 1u);
    const auto& job = std::get<EncodableMap>(list[0]);
    EXPECT_EQ(*job.find("Label"), EncodableValue("dev.korvane.app"));
    EXPECT_EQ(*job.find("OnDemand"), EncodableValue(c.enabled)) << c.body;
  }
}

// Catches an error that does not say which folder could not be made, or a
// crash when the configuration folder lies under a regular file.
TEST_F(LoginItemsTest, ConfigFolderThatCannotBeMade) {
  writeText(temp.file("plain"), "x");
  setConfigHome(temp.file("plain/config"));
  auto error = items->registerMainApp();
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->localizedDescription.find(temp.file("plain")), std::string::npos)
      << error->localizedDescription;
  EXPECT_NE(error->localizedDescription.find("Not a directory"), std::string::npos)
      << error->localizedDescription;
  EXPECT_FALSE(items->setLoginItemEnabled("helper", true));
  EXPECT_EQ(items->userJobDictionaries(), std::nullopt);
}

// Catches a rename onto a folder reported as success, and the temporary file
// staying behind after the failed rename.
TEST_F(LoginItemsTest, EntryPathThatIsAFolder) {
  ASSERT_EQ(mkdir(temp.file("config").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(autostart().c_str(), 0755), 0);
  ASSERT_EQ(mkdir(entry().c_str(), 0755), 0);
  auto error = items->registerMainApp();
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->localizedDescription.find(entry()), std::string::npos)
      << error->localizedDescription;
  EXPECT_EQ(namesIn(autostart()), std::set<std::string>{"dev.korvane.app.desktop"});
  EXPECT_EQ(items->mainAppStatus(), AppServiceStatus::notRegistered);
  auto removal = items->unregisterMainApp();
  ASSERT_TRUE(removal.has_value());
  EXPECT_NE(removal->localizedDescription.find(entry()), std::string::npos);
}

// Catches a crash or an entry named after nothing when the bundle has no
// identifier.
TEST_F(LoginItemsTest, NoBundleIdentifier) {
  bundles.main.info = PropertyListStrings{{"CFBundleName", "Korvane"}};
  for (auto error : {items->registerMainApp(), items->unregisterMainApp()}) {
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->localizedDescription, "the application has no bundle identifier");
  }
  EXPECT_EQ(items->mainAppStatus(), AppServiceStatus::notRegistered);
  EXPECT_EQ(access(temp.file("config").c_str(), F_OK), -1);
}

// Catches the older calls writing the wrong file, reporting failure as
// success, or the job list missing an entry.
TEST_F(LoginItemsTest, OlderCallsAndTheJobList) {
  EXPECT_EQ(items->userJobDictionaries(), std::nullopt);  // no folder yet
  EXPECT_TRUE(items->setLoginItemEnabled("dev.korvane.app-LaunchAtLoginHelper", true));
  EXPECT_TRUE(items->setLoginItemEnabled("other", true));
  writeText(entry("off"), "[Desktop Entry]\nHidden=true\n");
  writeText(autostart() + "/notes.txt", "not an entry");
  EncodableList expected{
      EncodableMap{{EncodableValue("Label"), EncodableValue("dev.korvane.app-LaunchAtLoginHelper")},
                   {EncodableValue("OnDemand"), EncodableValue(true)}},
      EncodableMap{{EncodableValue("Label"), EncodableValue("off")},
                   {EncodableValue("OnDemand"), EncodableValue(false)}},
      EncodableMap{{EncodableValue("Label"), EncodableValue("other")},
                   {EncodableValue("OnDemand"), EncodableValue(true)}},
  };
  EXPECT_EQ(items->userJobDictionaries(), EncodableValue(expected));

  EXPECT_TRUE(items->setLoginItemEnabled("other", false));
  EXPECT_EQ(access(entry("other").c_str(), F_OK), -1);
  EXPECT_TRUE(items->setLoginItemEnabled("other", false));  // already gone
  EXPECT_EQ(items->unregisterLoginItem("dev.korvane.app-LaunchAtLoginHelper"), std::nullopt);
  EXPECT_EQ(namesIn(autostart()), (std::set<std::string>{"off.desktop", "notes.txt"}));
}

// Catches an identifier that reaches outside the autostart folder or makes a
// file without a name.
TEST_F(LoginItemsTest, HostileIdentifiersAreRefused) {
  ASSERT_EQ(mkdir(temp.file("config").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(autostart().c_str(), 0755), 0);
  writeText(temp.file("config/victim.desktop"), "keep");
  const std::string hostile[] = {"", "../victim", "a/b", "/tmp/x", std::string("a\0b", 3)};
  for (const std::string& id : hostile) {
    EXPECT_FALSE(items->setLoginItemEnabled(id, true)) << id;
    EXPECT_FALSE(items->setLoginItemEnabled(id, false)) << id;
    EXPECT_TRUE(items->unregisterLoginItem(id).has_value()) << id;
    bundles.main.info = PropertyListStrings{{"CFBundleIdentifier", id}};
    EXPECT_TRUE(items->registerMainApp().has_value()) << id;
    EXPECT_TRUE(items->unregisterMainApp().has_value()) << id;
    EXPECT_EQ(items->mainAppStatus(), AppServiceStatus::notRegistered) << id;
  }
  EXPECT_EQ(namesIn(autostart()), std::set<std::string>{});
  EXPECT_EQ(namesIn(temp.file("config")), (std::set<std::string>{"autostart", "victim.desktop"}));
}

// Catches a refused write reported as success, or its error without the
// folder and the reason.
TEST_F(LoginItemsTest, ReadOnlyAutostartFolder) {
  if (!testing::canSwitchUser()) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  ASSERT_EQ(chmod(temp.path().c_str(), 0755), 0);
  ASSERT_EQ(mkdir(temp.file("config").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(autostart().c_str(), 0755), 0);
  writeText(entry("helper"), "[Desktop Entry]\n");
  const int status = testing::runInChild(
      [&] {
        auto error = items->registerMainApp();
        if (!error || error->localizedDescription.find(autostart()) == std::string::npos ||
            error->localizedDescription.find("Permission denied") == std::string::npos)
          return 1;
        if (items->setLoginItemEnabled("helper", false)) return 2;
        if (!items->unregisterLoginItem("helper")) return 3;
        return items->userJobDictionaries().has_value() ? 0 : 4;
      },
      testing::kNobody);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(namesIn(autostart()), std::set<std::string>{"helper.desktop"});
}

// Catches the real login items reading the environment once, or making an
// entry for a bundle without an identifier.
TEST_F(LoginItemsTest, RealItemsFollowTheEnvironment) {
  if (realBundleReader().mainBundle().bundleIdentifier()) GTEST_SKIP() << "the test has a bundle";
  EXPECT_TRUE(realLoginItems().setLoginItemEnabled("helper", true));
  EXPECT_EQ(access(entry("helper").c_str(), F_OK), 0);
  setConfigHome(temp.file("second"));
  EXPECT_TRUE(realLoginItems().setLoginItemEnabled("helper", true));
  EXPECT_EQ(access(temp.file("second/autostart/helper.desktop").c_str(), F_OK), 0);
  auto error = realLoginItems().registerMainApp();
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->localizedDescription, "the application has no bundle identifier");
  EXPECT_EQ(realLoginItems().mainAppStatus(), AppServiceStatus::notRegistered);
}

// Catches paths that a launcher would split, expand or read as field codes:
// each must come back whole after the key file's escaping and Exec parsing.
TEST(DesktopExec, QuotedArgumentsReadBackUnchanged) {
  const std::string paths[] = {
      "/usr/bin/korvane", "/opt/My Apps/Korvane", "/a/\"quoted\"/x",
      "/a/$HOME/`id`/x",  "/a/back\\slash/x",     "/a/semi;colon&amp|pipe",
      "/a/tab\there",     "/a/it's (mine)",       "/a/~user/*?#<>",
  };
  for (const std::string& path : paths) {
    GKeyFile* file = g_key_file_new();
    g_key_file_set_string(file, kGroup, "Exec", quotedExecArgument(path).c_str());
    gsize length = 0;
    gchar* data = g_key_file_to_data(file, &length, nullptr);
    g_key_file_free(file);
    file = g_key_file_new();
    ASSERT_TRUE(g_key_file_load_from_data(file, data, length, G_KEY_FILE_NONE, nullptr));
    g_free(data);
    gchar* exec = g_key_file_get_string(file, kGroup, "Exec", nullptr);
    gchar** argv = nullptr;
    ASSERT_TRUE(g_shell_parse_argv(exec, nullptr, &argv, nullptr)) << exec;
    EXPECT_EQ(g_strv_length(argv), 1u) << exec;
    EXPECT_EQ(std::string(argv[0]), path) << exec;
    g_strfreev(argv);
    g_free(exec);
    g_key_file_free(file);
  }
  EXPECT_EQ(quotedExecArgument("/a/100%/x"), "/a/100%%/x");
  EXPECT_EQ(quotedExecArgument("/a b/c"), "\"/a b/c\"");
}

}  // namespace
}  // namespace korvane
