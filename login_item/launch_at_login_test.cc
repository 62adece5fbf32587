#include "login_item/launch_at_login.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "login_item/launch_at_startup_channel.h"
#include "testing/backend_access.h"
#include "testing/file_writes_fail.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

// One log of everything the module does, in order, across the fakes.
std::vector<std::string> events;

class FakeLoginItems final : public LoginItems {
 public:
  AppServiceStatus mainAppStatus() override { return status; }
  // A failed registration leaves the status as it was, as a mechanism that
  // does not get to the point of registering.
  std::optional<LoginItemError> registerMainApp() override {
    events.push_back("register");
    if (!registerErrors.empty()) {
      LoginItemError error{registerErrors.front()};
      registerErrors.pop_front();
      return error;
    }
    status = AppServiceStatus::enabled;
    return std::nullopt;
  }
  bool registrationReplacesInPlace() const override { return replacesInPlace; }
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
  bool replacesInPlace = false;                // as the macOS service: it cannot
  std::deque<std::string> registerErrors;      // one per failing registration, in turn
  std::optional<std::string> unregisterError;  // every unregistration fails
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

using testing::FileWritesFail;

std::string contents(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

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

// Catches enabling without a fresh registration, an item that can be
// replaced in place unregistered first, a refusal not logged or logged with
// the wrong verb, a failed re-registration that leaves the item off, and the
// publisher sending the requested value instead of the state after the set.
TEST_F(LaunchAtLoginTest, SettingTheServiceLogsAndPublishesWhatHolds) {
  constexpr auto on = AppServiceStatus::enabled, off = AppServiceStatus::notRegistered;
  const struct Case {
    const char* name;
    bool replacesInPlace;
    AppServiceStatus before;
    bool value;
    std::deque<std::string> registerErrors;
    std::optional<std::string> unregisterError;
    std::vector<std::string> events, lines;
    bool after;  // the state that holds, and what the publisher must carry
  } cases[] = {
      // clang-format off
      {"enable", false, off, true, {}, {}, {"register"}, {}, true},
      {"re-enable in place", true, on, true, {}, {}, {"register"}, {}, true},
      {"re-enable", false, on, true, {}, {}, {"unregister", "register"}, {}, true},
      {"disable", false, on, false, {}, {}, {"unregister"}, {}, false},
      {"enable refused", false, off, true, {"not allowed"}, {}, {"register"},
       {"Failed to enable launch at login: not allowed"}, false},
      {"disable refused", false, on, false, {}, "busy", {"unregister"},
       {"Failed to disable launch at login: busy"}, true},
      {"re-enable over in place fails", true, on, true, {"disk full"}, {}, {"register"},
       {"Failed to enable launch at login: disk full"}, true},
      {"re-enable fails, earlier one put back", false, on, true, {"disk full"}, {},
       {"unregister", "register", "register"},
       {"Failed to enable launch at login: disk full"}, true},
      {"re-enable fails, so does putting it back", false, on, true, {"disk full", "quota"}, {},
       {"unregister", "register", "register"},
       {"Failed to enable launch at login: disk full", "Failed to enable launch at login: quota"},
       false},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    items_.replacesInPlace = c.replacesInPlace;
    items_.status = c.before;
    items_.registerErrors = c.registerErrors;
    items_.unregisterError = c.unregisterError;
    std::vector<bool> published;
    Cancellable subscription =
        LaunchAtLogin::publisher().subscribe([&](bool v) { published.push_back(v); });
    published.clear();  // the current value, left by whatever ran before
    events.clear();
    logger_.lines.clear();
    LaunchAtLogin::setIsEnabled(c.value);
    EXPECT_EQ(events, c.events);
    EXPECT_EQ(logger_.lines, c.lines);
    EXPECT_EQ(LaunchAtLogin::isEnabled(), c.after);
    EXPECT_EQ(published, std::vector<bool>{c.after});
    std::optional<bool> current;
    Cancellable late = LaunchAtLogin::publisher().subscribe([&](bool v) { current = v; });
    EXPECT_EQ(current, c.after) << "a later subscriber's current value";
  }
}

// Catches observers told in the wrong order or around the wrong call, and
// subscriptions that go on after their Cancellable is gone.
TEST_F(LaunchAtLoginTest, NotificationOrderAroundTheSystemCall) {
  {
    Cancellable willChange = LaunchAtLogin::observable().objectWillChange().subscribe(
        [] { events.push_back("willChange"); });
    Cancellable kvo = LaunchAtLogin::kvo().addObserver([](const std::string& key, bool did) {
      events.push_back((did ? "kvo did " : "kvo will ") + key);
    });
    Cancellable published = LaunchAtLogin::publisher().subscribe(
        [](bool v) { events.push_back(v ? "publish true" : "publish false"); });
    events.clear();
    LaunchAtLogin::kvo().setIsEnabled(true);
    EXPECT_EQ(events, (std::vector<std::string>{"willChange", "kvo will isEnabled", "register",
                                                "kvo did isEnabled", "publish true"}));
    events.clear();
    LaunchAtLogin::observable().setIsEnabled(false);
    EXPECT_EQ(events, (std::vector<std::string>{"willChange", "kvo will isEnabled", "unregister",
                                                "kvo did isEnabled", "publish false"}));
  }
  LaunchAtLoginToggle toggle;
  EXPECT_EQ(toggle.label(), "Launch at login");
  EXPECT_EQ(LaunchAtLoginToggle("Start with the session").label(), "Start with the session");
  events.clear();
  toggle.setOn(true);
  EXPECT_TRUE(toggle.isOn());
  EXPECT_EQ(events, std::vector<std::string>{"register"}) << "no subscriber left";
}

// Catches a send loop that reads freed or moved subscribers when one
// subscribes during a send (the list grows under it), calls a subscriber
// cancelled earlier in the same send, calls a subscriber added during the
// send a second time, or frees a subscriber that cancels itself mid-call.
TEST(Subscriptions, SubscribingAndCancellingDuringASend) {
  BoolSubject subject(false);
  std::vector<std::string> seen;
  auto named = [&](std::string name) {
    return [&seen, name](bool v) { seen.push_back(name + (v ? " true" : " false")); };
  };
  std::vector<Cancellable> added;
  Cancellable first, second;
  first = subject.subscribe([&](bool v) {
    seen.push_back(v ? "first true" : "first false");
    if (!v) return;
    for (int i = 0; i < 32; ++i) added.push_back(subject.subscribe(named("added")));
    second.cancel();
    first.cancel();
    seen.push_back("first goes on");
  });
  second = subject.subscribe(named("second"));
  seen.clear();

  subject.send(true);
  std::vector<std::string> expected{"first true"};
  expected.insert(expected.end(), 32, "added true");  // their current value, once
  expected.push_back("first goes on");
  EXPECT_EQ(seen, expected);
  seen.clear();
  subject.send(false);
  EXPECT_EQ(seen, std::vector<std::string>(32, "added false"));
  added.clear();
  seen.clear();
  subject.send(true);
  EXPECT_TRUE(seen.empty());

  // A Cancellable that outlives its publisher.
  Cancellable outliving;
  {
    ObjectWillChangePublisher publisher;
    outliving = publisher.subscribe([] {});
  }
  outliving.cancel();
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
  EXPECT_EQ(events, (std::vector<std::string>{"setLoginItemEnabled " + std::string(kHelper) + " on",
                                              "jobs"}))
      << "the state after the set is read for the publisher";
}

// Catches a migration that runs twice, stores its flag late, moves the wrong
// state, or removes the older registration when the newer one failed.
TEST_F(LaunchAtLoginTest, MigrationRunsOnceAndMovesAnEnabledOlderItem) {
  const std::string read = "read LaunchAtLogin__hasMigrated",
                    store = "store LaunchAtLogin__hasMigrated",
                    removeOlder[] = {"setLoginItemEnabled " + std::string(kHelper) + " off",
                                     "unregisterLoginItem " + std::string(kHelper)};
  const struct Case {
    const char* name;
    bool olderOn;
    std::deque<std::string> registerErrors;
    std::vector<std::string> events, lines;
  } cases[] = {
      {"older on", true, {}, {read, store, "jobs", "register", removeOlder[0], removeOlder[1]}, {}},
      {"older on, registration fails",
       true,
       {"disk full"},
       {read, store, "jobs", "register"},
       {"Failed to enable launch at login: disk full"}},
      {"older off", false, {}, {read, store, "jobs", removeOlder[0], removeOlder[1]}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    defaults_.values.clear();
    items_.status = AppServiceStatus::notRegistered;
    items_.registerErrors = c.registerErrors;
    items_.jobs = c.olderOn ? std::optional(jobList({{{"Label", kHelper}, {"OnDemand", true}}}))
                            : std::nullopt;
    events.clear();
    logger_.lines.clear();
    LaunchAtLogin::migrateIfNeeded();
    EXPECT_EQ(events, c.events);
    EXPECT_EQ(logger_.lines, c.lines);
    events.clear();
    LaunchAtLogin::migrateIfNeeded();
    EXPECT_EQ(events, std::vector<std::string>{read}) << "at most once";
  }
  // Before 13.0 it neither reads nor writes the flag.
  version_.major = 12;
  defaults_.values.clear();
  events.clear();
  LaunchAtLogin::migrateIfNeeded();
  EXPECT_TRUE(events.empty());
}

// Catches a process that cannot make the helper identifier ending, or the
// older path acting on a made-up identifier. The identifier is made once per
// process, so this runs in a fresh one.
TEST_F(LaunchAtLoginTest, NoBundleIdentifierKeepsGoing) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // re-executes: nothing made yet
  bundles_.main.info = std::nullopt;
  version_.major = 12;
  items_.jobs = jobList({{{"Label", "-LaunchAtLoginHelper"}, {"OnDemand", true}}});
  EXPECT_EXIT(
      {
        int fault = 0;
        if (LaunchAtLogin::id().has_value()) {
          fault = 1;
        } else if (LaunchAtLogin::isEnabled()) {
          fault = 2;
        } else {
          events.clear();
          LaunchAtLogin::setIsEnabled(true);
          if (!events.empty()) fault = 3;
          if (logger_.lines != std::vector<std::string>{"Failed to enable launch at login: the "
                                                        "application has no bundle identifier"})
            fault = 4;
        }
        std::_Exit(fault);
      },
      ::testing::ExitedWithCode(0), "");
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
  std::unique_ptr<LoginItems> items_ = testing::makeLoginItemsFor(bundles_);
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

// Catches a failed write that takes an enabled entry away (re-enabling on a
// full disk), a refusal not logged, or the publisher not carrying the state
// that holds after the set.
TEST_F(RealAutostartTest, FailedWritesLeaveTheEntryAsItWas) {
  const EncodableValue enable = EncodableMap{{"setEnabledValue", true}},
                       disable = EncodableMap{{"setEnabledValue", false}};
  std::vector<bool> published;
  Cancellable subscription =
      LaunchAtLogin::publisher().subscribe([&](bool v) { published.push_back(v); });
  call("launchAtStartupSetEnabled", enable);
  const std::string before = contents(entry());
  ASSERT_FALSE(before.empty());
  published.clear();
  {
    FileWritesFail diskFull;
    call("launchAtStartupSetEnabled", enable);
  }
  EXPECT_EQ(contents(entry()), before);
  EXPECT_EQ(call("launchAtStartupIsEnabled"), FlutterResultValue(EncodableValue(true)));
  EXPECT_EQ(published, std::vector<bool>{true});
  ASSERT_EQ(logger_.lines.size(), 1u);
  EXPECT_TRUE(logger_.lines[0].starts_with("Failed to enable launch at login: "))
      << logger_.lines[0];
  EXPECT_TRUE(logger_.lines[0].ends_with("File too large")) << logger_.lines[0];

  // Off, with a file where the configuration folder should be: stays off.
  call("launchAtStartupSetEnabled", disable);
  std::filesystem::remove_all(dir_.file("config"));
  std::ofstream(dir_.file("config")) << "a file where the folder should be";
  published.clear();
  logger_.lines.clear();
  call("launchAtStartupSetEnabled", enable);
  ASSERT_EQ(logger_.lines.size(), 1u);
  EXPECT_TRUE(logger_.lines[0].starts_with("Failed to enable launch at login: "))
      << logger_.lines[0];
  EXPECT_NE(logger_.lines[0].find(dir_.file("config")), std::string::npos) << logger_.lines[0];
  EXPECT_EQ(published, std::vector<bool>{false});
}

}  // namespace
}  // namespace korvane
