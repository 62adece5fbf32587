#include "platform/linux/desktop/login_items.h"

#include <glib.h>
#include <gtest/gtest.h>

#include "platform/linux/desktop/desktop_exec.h"
#include "platform/linux/log/log_line.h"
#include "platform/linux/process/proc_link.h"
#include "platform/services.h"
#include "testing/fakes/fake_bundle_reader.h"
#include "testing/fakes/file_writes_fail.h"
#include "testing/stderr_capture.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using Names = std::set<std::string>;

std::string error(std::optional<LoginItemError> e) { return e ? e->localizedDescription : ""; }

// The autostart login items, over a temporary configuration folder.
class LoginItemServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", temp.file("config").c_str(), 1);
    bundles.main = {"/K", PropertyListStrings{{"CFBundleIdentifier", "k"}, {"CFBundleName", "K"}}};
  }
  void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }

  testing::TempDir temp;
  const std::string autostart = temp.file("config/autostart"), entry = autostart + "/k.desktop";
  testing::FakeBundleReader bundles;
  std::unique_ptr<LoginItems> items = makeAutostartLoginItems(bundles);
};

// Catches a missing or misspelt key, an Exec that does not start this
// executable, a temporary file left beside the entry, a failed rewrite (a
// full disk) that truncates the entry, or a rewrite that does not replace it;
// install paths that a launcher would split, expand or read as field codes:
// each must come back whole through the key file's escaping and Exec parsing.
TEST_F(LoginItemServicesTest, RegisterWritesACompleteEntryAndReplacesItWhole) {
  ASSERT_EQ(items->registerMainApp(), std::nullopt);
  const std::string whole = "[Desktop Entry]\nType=Application\nName=K\nExec=" +
                            quotedExecArgument(readLinkTarget("/proc/self/exe").value()) +
                            "\nX-GNOME-Autostart-enabled=true\n";
  EXPECT_EQ(testing::readFile(entry), whole);
  std::ofstream(entry) << "[Desktop Entry]\nExec=earlier\n";
  {
    testing::FileWritesFail diskFull;
    EXPECT_NE(error(items->registerMainApp()).find("File too large"), std::string::npos);
  }
  EXPECT_EQ(testing::readFile(entry), "[Desktop Entry]\nExec=earlier\n");
  EXPECT_EQ(testing::namesIn(autostart), Names{"k.desktop"});
  ASSERT_EQ(items->registerMainApp(), std::nullopt);
  EXPECT_EQ(testing::readFile(entry), whole);
  for (const std::string path : {"/opt/My Apps/Korvane", "/a/\"q\"/$HOME/`id`/x",
                                 "/a/back\\slash;&|", "/a/tab\there", "/a/it's (mine)/~u/*?#<>"}) {
    g_autoptr(GKeyFile) file = g_key_file_new();
    g_key_file_set_string(file, "E", "Exec", quotedExecArgument(path).c_str());
    g_autofree gchar* exec = g_key_file_get_string(file, "E", "Exec", nullptr);
    g_auto(GStrv) argv = nullptr;
    ASSERT_TRUE(g_shell_parse_argv(exec, nullptr, &argv, nullptr)) << exec;
    EXPECT_TRUE(g_strv_length(argv) == 1 && argv[0] == path) << exec;
  }
  EXPECT_EQ(quotedExecArgument("/a/100%/x"), "/a/100%%/x");
}

// Catches disabled or broken entries counting as enabled, or the reverse; an
// identifier that reaches outside the autostart folder or makes a file without
// a name, or an entry named after nothing.
TEST_F(LoginItemServicesTest, EntriesReadAsMarkedAndOddIdentifiersAreRefused) {
  const std::string head = "[Desktop Entry]\nExec=x\n";
  // clang-format off
  const std::pair<std::string, bool> cases[] = {
      {head, true}, {head + "X-GNOME-Autostart-enabled=true", true}, {head + "Hidden=false", true},
      {head + "Hidden=true", false}, {head + "X-GNOME-Autostart-enabled=false", false},
      {"[Other]\nExec=x\n", false}, {"not a key file\x01\n", false}};
  // clang-format on
  std::filesystem::create_directories(autostart);
  for (const auto& [body, on] : cases) {
    std::ofstream(entry) << body;
    EXPECT_EQ(items->mainAppStatus() == AppServiceStatus::enabled, on) << body;
  }
  std::filesystem::remove_all(autostart);
  for (const std::string& id : Names{"", "../victim", "a/b", "/tmp/x", std::string("a\0b", 3)}) {
    EXPECT_FALSE(items->setLoginItemEnabled(id, true) || items->setLoginItemEnabled(id, false));
    bundles.main.info = PropertyListStrings{{"CFBundleIdentifier", id}};
    EXPECT_TRUE(items->registerMainApp() && items->unregisterMainApp()) << id;
  }
  bundles.main.info.reset();
  EXPECT_EQ(error(items->registerMainApp()), "the application has no bundle identifier");
  EXPECT_EQ(testing::namesIn(temp.file("config")), Names{});
}

// Catches a line without the stamp, process or pid, a control character,
// backslash or invalid UTF-8 written raw (a newline forges a whole line), the
// system logger's tag missing or unescaped, or a writer that does not consult
// its rate limit (a loop floods the log) or loses the count it held back.
TEST(LogWriters, WriteOneEscapedStampedLinePerMessage) {
  static std::chrono::steady_clock::time_point now{std::chrono::hours(1000)};
  setLogClockForTesting([] { return now; });
  const std::string text = testing::captureStderr([&] {
    realDiagnosticLog().log("%s a\rb\tc\x1b[2K\x7f\x01 \\n \xff \xc0\xaf \xc2\x85\xe2\x80\xa8 😀");
    makeSystemLogger("dev.k\nx", "main")->error("Failed to enable launch at login: a\nb");
    for (int i = 0; i < 1000; ++i) realDiagnosticLog().log("accept failed:\nToo many open files");
    now += std::chrono::seconds(1);
    realDiagnosticLog().log("accept failed:\nToo many open files");
  });
  setLogClockForTesting(nullptr);
  const std::string process =
      std::string(" ") + program_invocation_short_name + "[" + std::to_string(getpid()) + "] ";
  std::string messages;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = text.substr(at, end - at);
    EXPECT_TRUE(testing::isLogTimestamp(line.substr(0, 23)) && line.find(process) == 23) << line;
    messages += line.substr(23 + process.size()) + '\n';
  }
  const std::string again = "accept failed:\\nToo many open files\n";
  EXPECT_EQ(messages,
            "%s a\\rb\\tc\\x1B[2K\\x7F\\x01 \\\\n \\xFF \\xC0\\xAF \\u0085\\u2028 😀\n"
            "[dev.k\\nx:main] Failed to enable launch at login: a\\nb\n" +
                again + "(999 more identical lines suppressed within 1 s) " + again + again);
}

}  // namespace
}  // namespace korvane
