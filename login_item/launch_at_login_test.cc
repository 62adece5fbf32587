#include "login_item/launch_at_login.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "login_item/launch_at_startup_channel.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

// One log of everything the module does, in order, across the fakes.
std::vector<std::string> events;

class FakeLoginItems final : public LoginItems {
 public:
  AppServiceStatus mainAppStatus() override { return status; }
  std::optional<LoginItemError> registerMainApp() override {
    events.push_back("register");
    if (registerError) return LoginItemError{*registerError};
    status = AppServiceStatus::enabled;
    return std::nullopt;
  }
  std::optional<LoginItemError> unregisterMainApp() override {
    events.push_back("unregister");
    if (unregisterError) return LoginItemError{*unregisterError};
    status = AppServiceStatus::notRegistered;
    return std::nullopt;
  }
  std::optional<LoginItemError> unregisterLoginItem(const std::string& id) override {
    events.push_back("unregisterLoginItem " + id);
    return std::nullopt;
  }
  bool setLoginItemEnabled(const std::string& id, bool on) override {
    events.push_back("setLoginItemEnabled " + id + (on ? " on" : " off"));
    return true;
  }
  std::optional<EncodableValue> userJobDictionaries() override {
    events.push_back("jobs");
    return jobs;
  }

  AppServiceStatus status = AppServiceStatus::notRegistered;
  std::optional<std::string> registerError, unregisterError;
  std::optional<EncodableValue> jobs;
};

class FakeDefaults final : public UserDefaults {
 public:
  bool boolForKey(const std::string& key) override {
    events.push_back("read " + key);
    return values[key];
  }
  void setBool(bool value, const std::string& key) override {
    events.push_back("store " + key);
    values[key] = value;
  }
  std::map<std::string, bool> values;
};

class FakeVersion final : public SystemVersion {
 public:
  bool isAtLeast(int wanted, int, int) override { return major >= wanted; }
  int major = 13;
};

class FakeBundles final : public BundleReader {
 public:
  std::optional<PropertyListStrings> infoStrings(const std::string&) override {
    return std::nullopt;
  }
  MainBundle mainBundle() override { return main; }
  MainBundle main{"/Applications/Korvane.app",
                  PropertyListStrings{{"CFBundleIdentifier", "com.example.korvane"}}};
};

class CapturingSystemLogger final : public SystemLogger {
 public:
  void error(std::string_view message) override { lines.emplace_back(message); }
  std::vector<std::string> lines;
};

constexpr char kHelper[] = "com.example.korvane-LaunchAtLoginHelper";

class LaunchAtLoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    events.clear();
    LaunchAtLogin::configure(services_);
  }

  EncodableValue jobList(std::vector<EncodableMap> jobs) {
    EncodableList list;
    for (auto& job : jobs) list.emplace_back(std::move(job));
    return EncodableValue(std::move(list));
  }

  FlutterResultValue call(const std::string& method, EncodableValue args = {}) {
    std::optional<FlutterResultValue> reply;
    handleLaunchAtStartupCall({method, std::move(args)},
                              FlutterResult([&](FlutterResultValue v) { reply = std::move(v); }));
    EXPECT_TRUE(reply.has_value()) << "replied before returning";
    return reply.value_or(FlutterResultValue(FlutterMethodNotImplemented));
  }

  FakeLoginItems items_;
  FakeDefaults defaults_;
  FakeVersion version_;
  FakeBundles bundles_;
  CapturingSystemLogger logger_;
  LoginItemServices services_{items_, defaults_, version_, bundles_, logger_};
};

// Catches a status other than enabled read as on.
TEST_F(LaunchAtLoginTest, OnlyEnabledReadsTrue) {
  for (auto [status, on] : {std::pair{AppServiceStatus::enabled, true},
                            std::pair{AppServiceStatus::notRegistered, false},
                            std::pair{AppServiceStatus::requiresApproval, false},
                            std::pair{AppServiceStatus::notFound, false}}) {
    items_.status = status;
    EXPECT_EQ(LaunchAtLogin::isEnabled(), on);
    EXPECT_EQ(call("launchAtStartupIsEnabled", EncodableList{1, 2}),
              FlutterResultValue(EncodableValue(on)));
  }
}

// Catches enabling without a fresh registration, or extra calls.
TEST_F(LaunchAtLoginTest, EnablingAlwaysEndsWithAFreshRegistration) {
  LaunchAtLogin::publisher();  // made first: its first read is not part of the set
  LaunchAtLogin::setIsEnabled(true);
  EXPECT_EQ(events, std::vector<std::string>{"register"});
  events.clear();
  LaunchAtLogin::setIsEnabled(true);
  EXPECT_EQ(events, (std::vector<std::string>{"unregister", "register"}));
  events.clear();
  LaunchAtLogin::setIsEnabled(false);
  EXPECT_EQ(events, std::vector<std::string>{"unregister"});
  EXPECT_TRUE(logger_.lines.empty());
}

// Catches a refusal not logged, logged with the wrong verb, or stopping the
// notifications; the publisher still carries the requested value.
TEST_F(LaunchAtLoginTest, RefusalsAreLoggedAndStillPublished) {
  std::vector<bool> published;
  LaunchAtLogin::publisher().subscribe([&](bool v) { published.push_back(v); });
  items_.registerError = "not allowed";
  LaunchAtLogin::setIsEnabled(true);
  items_.status = AppServiceStatus::enabled;
  items_.unregisterError = "busy";
  LaunchAtLogin::setIsEnabled(false);
  EXPECT_EQ(logger_.lines,
            (std::vector<std::string>{"Failed to enable launch at login: not allowed",
                                      "Failed to disable launch at login: busy"}));
  EXPECT_EQ(published, (std::vector<bool>{false, true, false}));
}

// Catches observers told in the wrong order or around the wrong call.
TEST_F(LaunchAtLoginTest, NotificationOrderAroundTheSystemCall) {
  LaunchAtLogin::observable().objectWillChange().subscribe([] { events.push_back("willChange"); });
  LaunchAtLogin::kvo().addObserver([](const std::string& key, bool did) {
    events.push_back((did ? "kvo did " : "kvo will ") + key);
  });
  LaunchAtLogin::publisher().subscribe(
      [](bool v) { events.push_back(v ? "publish true" : "publish false"); });
  events.clear();
  LaunchAtLogin::kvo().setIsEnabled(true);
  EXPECT_EQ(events, (std::vector<std::string>{"willChange", "kvo will isEnabled", "register",
                                              "kvo did isEnabled", "publish true"}));
  events.clear();
  LaunchAtLogin::observable().setIsEnabled(false);
  EXPECT_EQ(events, (std::vector<std::string>{"willChange", "kvo will isEnabled", "unregister",
                                              "kvo did isEnabled", "publish false"}));
  LaunchAtLoginToggle toggle;
  EXPECT_EQ(toggle.label(), "Launch at login");
  EXPECT_EQ(LaunchAtLoginToggle("Start with the session").label(), "Start with the session");
  toggle.setOn(true);
  EXPECT_TRUE(toggle.isOn());
}

// Catches the set method acting on arguments that do not say what to do.
TEST_F(LaunchAtLoginTest, SetMethodArguments) {
  const EncodableValue ignored[] = {
      EncodableValue(),
      EncodableValue(int32_t{1}),
      EncodableValue("true"),
      EncodableValue(EncodableList{true}),
      EncodableValue(EncodableMap{}),
      EncodableValue(EncodableMap{{"setEnabledValue", "yes"}}),
      EncodableValue(EncodableMap{{"setEnabledValue", EncodableValue(int32_t{1})}}),
      EncodableValue(EncodableMap{{"setEnabledValue", true}, {EncodableValue(int32_t{1}), "x"}}),
  };
  for (const auto& args : ignored) {
    EXPECT_EQ(call("launchAtStartupSetEnabled", args), FlutterResultValue(EncodableValue()));
  }
  EXPECT_TRUE(events.empty()) << "nothing touched";
  EXPECT_EQ(call("launchAtStartupSetEnabled", EncodableMap{{"setEnabledValue", true}}),
            FlutterResultValue(EncodableValue()));
  EXPECT_EQ(call("launchAtStartupIsEnabled"), FlutterResultValue(EncodableValue(true)));
  for (const char* name : {"LaunchAtStartupIsEnabled", "launchatstartupsetenabled", "other"}) {
    EXPECT_EQ(call(name), FlutterResultValue(FlutterMethodNotImplemented)) << name;
  }
}

// Catches the older job list read loosely: the first job with the helper's
// label decides, and only a true "OnDemand" counts.
TEST_F(LaunchAtLoginTest, OlderMechanismReadsTheJobList) {
  version_.major = 12;
  struct Case {
    std::optional<EncodableValue> jobs;
    bool expected;
  } cases[] = {
      {std::nullopt, false},
      {jobList({}), false},
      {jobList({{{"Label", kHelper}, {"OnDemand", true}}}), true},
      {jobList({{{"Label", kHelper}, {"OnDemand", false}}}), false},
      {jobList({{{"Label", kHelper}}}), false},
      {jobList({{{"Label", kHelper}, {"OnDemand", "true"}}}), false},
      {jobList(
           {{{"Label", kHelper}, {"OnDemand", false}}, {{"Label", kHelper}, {"OnDemand", true}}}),
       false},
      {jobList({{{"OnDemand", true}},
                {{"Label", EncodableValue(int32_t{3})}, {"OnDemand", true}},
                {{"Label", kHelper}, {"OnDemand", true}}}),
       true},
      {jobList({{{"Label", "com.example.korvane"}, {"OnDemand", true}}}), false},
      {EncodableValue(EncodableMap{{"Label", kHelper}}), false},
      {EncodableValue(EncodableList{EncodableValue(int32_t{1})}), false},
  };
  for (auto& c : cases) {
    items_.jobs = c.jobs;
    EXPECT_EQ(LaunchAtLogin::isEnabled(), c.expected);
  }
  LaunchAtLogin::publisher();  // made first: its first read is not part of the set
  events.clear();
  LaunchAtLogin::setIsEnabled(true);
  EXPECT_EQ(events,
            std::vector<std::string>{"setLoginItemEnabled " + std::string(kHelper) + " on"});
}

// Catches a migration that runs twice, stores its flag late, or moves the wrong state.
TEST_F(LaunchAtLoginTest, MigrationRunsOnceAndMovesAnEnabledOlderItem) {
  items_.jobs = jobList({{{"Label", kHelper}, {"OnDemand", true}}});
  LaunchAtLogin::migrateIfNeeded();
  const std::string h = kHelper;
  EXPECT_EQ(events,
            (std::vector<std::string>{
                "read LaunchAtLogin__hasMigrated", "store LaunchAtLogin__hasMigrated", "jobs",
                "register", "setLoginItemEnabled " + h + " off", "unregisterLoginItem " + h}));
  events.clear();
  LaunchAtLogin::migrateIfNeeded();
  EXPECT_EQ(events, std::vector<std::string>{"read LaunchAtLogin__hasMigrated"});

  // Off in the older mechanism: still removed and flagged, nothing registered.
  defaults_.values.clear();
  items_.jobs = std::nullopt;
  events.clear();
  LaunchAtLogin::migrateIfNeeded();
  EXPECT_EQ(events, (std::vector<std::string>{
                        "read LaunchAtLogin__hasMigrated", "store LaunchAtLogin__hasMigrated",
                        "jobs", "setLoginItemEnabled " + h + " off", "unregisterLoginItem " + h}));
  // Before 13.0 it neither reads nor writes the flag.
  version_.major = 12;
  defaults_.values.clear();
  events.clear();
  LaunchAtLogin::migrateIfNeeded();
  EXPECT_TRUE(events.empty());
}

// Catches a process that cannot make the helper identifier ending, or the
// older path acting on a made-up identifier (a fresh process: the identifier
// is made once).
TEST_F(LaunchAtLoginTest, NoBundleIdentifierKeepsGoing) {
  const pid_t child = fork();
  if (child == 0) {
    bundles_.main.info = std::nullopt;
    version_.major = 12;
    items_.jobs = jobList({{{"Label", "-LaunchAtLoginHelper"}, {"OnDemand", true}}});
    if (LaunchAtLogin::id().has_value()) _exit(1);
    if (LaunchAtLogin::isEnabled()) _exit(2);
    events.clear();
    LaunchAtLogin::setIsEnabled(true);
    if (!events.empty()) _exit(3);
    if (logger_.lines.size() != 1 ||
        logger_.lines[0] !=
            "Failed to enable launch at login: the application has no bundle identifier")
      _exit(4);
    _exit(0);
  }
  int status = -1;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Catches a publisher whose first value is not the state read when it was
// made: made by the setter itself, it starts from the state after the change.
TEST_F(LaunchAtLoginTest, PublisherMadeByTheSetterStartsFromTheNewState) {
  items_.registerError = "refused";  // the state stays off
  LaunchAtLogin::setIsEnabled(true);
  std::vector<bool> seen;
  LaunchAtLogin::publisher().subscribe([&](bool v) { seen.push_back(v); });
  EXPECT_EQ(seen, std::vector<bool>{true})
      << "the requested value, sent after the subject was made";
}

// The module over the real autostart entries in a temporary config folder.
class RealAutostartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
    LaunchAtLogin::configure(services_);
  }
  FlutterResultValue call(const std::string& method, EncodableValue args = {}) {
    std::optional<FlutterResultValue> reply;
    handleLaunchAtStartupCall({method, std::move(args)},
                              FlutterResult([&](FlutterResultValue v) { reply = std::move(v); }));
    return reply.value_or(FlutterResultValue(FlutterMethodNotImplemented));
  }
  std::string entry() { return dir_.file("config/autostart/com.example.korvane.desktop"); }

  testing::TempDir dir_;
  FakeBundles bundles_;
  std::unique_ptr<LoginItems> items_ = makeAutostartLoginItems(bundles_);
  FakeDefaults defaults_;
  FakeVersion version_;
  CapturingSystemLogger logger_;
  LoginItemServices services_{*items_, defaults_, version_, bundles_, logger_};
};

// Catches a disabled entry read as on, or a setting that does not reach the folder.
TEST_F(RealAutostartTest, ChannelTurnsTheEntryOnAndOff) {
  const FlutterResultValue on = EncodableValue(true), off = EncodableValue(false);
  EXPECT_EQ(call("launchAtStartupSetEnabled", EncodableMap{{"setEnabledValue", true}}),
            FlutterResultValue(EncodableValue()));
  EXPECT_TRUE(std::filesystem::exists(entry()));
  EXPECT_EQ(call("launchAtStartupIsEnabled"), on);
  { std::ofstream(entry(), std::ios::app) << "Hidden=true\n"; }
  EXPECT_EQ(call("launchAtStartupIsEnabled"), off) << "a disabled entry";
  EXPECT_EQ(call("launchAtStartupSetEnabled", EncodableMap{{"setEnabledValue", false}}),
            FlutterResultValue(EncodableValue()));
  EXPECT_FALSE(std::filesystem::exists(entry()));
  EXPECT_EQ(call("launchAtStartupIsEnabled"), off);
  EXPECT_TRUE(logger_.lines.empty());
}

// Catches a refused registration not logged, or not published as requested.
TEST_F(RealAutostartTest, UnwritableConfigFolderLogsTheEnableLine) {
  std::ofstream(dir_.file("config")) << "a file where the folder should be";
  std::vector<bool> published;
  LaunchAtLogin::publisher().subscribe([&](bool v) { published.push_back(v); });
  call("launchAtStartupSetEnabled", EncodableMap{{"setEnabledValue", true}});
  ASSERT_EQ(logger_.lines.size(), 1u);
  EXPECT_TRUE(logger_.lines[0].starts_with("Failed to enable launch at login: "))
      << logger_.lines[0];
  EXPECT_NE(logger_.lines[0].find(dir_.file("config")), std::string::npos) << logger_.lines[0];
  EXPECT_EQ(published, (std::vector<bool>{false, true}));
  EXPECT_EQ(call("launchAtStartupIsEnabled"), FlutterResultValue(EncodableValue(false)));
}

}  // namespace
}  // namespace korvane
