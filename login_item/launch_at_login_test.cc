#include "login_item/launch_at_login.h"

#include <gtest/gtest.h>

#include "login_item/launch_at_startup_channel.h"
#include "testing/fakes/test_services.h"

namespace korvane {
namespace {

using Strings = std::vector<std::string>;
constexpr auto kOn = AppServiceStatus::enabled, kOff = AppServiceStatus::notRegistered;
const std::string kHelper = "k-LaunchAtLoginHelper";

class LaunchAtLoginTest : public ::testing::Test {
 protected:
  LaunchAtLoginTest() { t.bundles.main = {"/A", PropertyListStrings{{"CFBundleIdentifier", "k"}}}; }
  FlutterResultValue call(const std::string& method, EncodableValue args = {}) {
    FlutterResultValue reply = FlutterError{"no reply before the handler returned", {}, {}};
    handleLaunchAtStartupCall(state, {method, args}, FlutterResult([&](auto v) { reply = v; }));
    return reply;
  }
  // What `action` asked of the services and logged, in order.
  Strings during(const std::function<void()>& f) { return t.journal.clear(), f(), t.journal; }

  testing::TestServices t;
  testing::FakeLoginItems& items = t.loginItems;
  LaunchAtLogin state{t.services};
};

// Catches a status other than enabled read as on, enabling without a fresh
// registration, an item that can be replaced in place unregistered first, a
// refusal not logged or logged with the wrong verb, a failed re-registration
// that leaves the item off, observers told in the wrong order or around the
// wrong call, a publisher or reply carrying the requested value instead of
// the state that holds after the set, a subscription that goes on after
// its Cancellable is gone; the set method acting on arguments that do not
// say what to do, or method names matched loosely.
TEST_F(LaunchAtLoginTest, ChannelCallsAndSetsLogAndPublishWhatHolds) {
  // clang-format off
  for (const EncodableValue& args : std::vector<EncodableValue>{{}, "true", EncodableMap{},
           EncodableMap{{"setEnabledValue", "yes"}}, EncodableMap{{"setEnabledValue", int32_t{1}}},
           EncodableMap{{"setEnabledValue", true}, {int32_t{1}, "x"}}})
    // clang-format on
    EXPECT_EQ(call("launchAtStartupSetEnabled", args), FlutterResultValue(EncodableValue()));
  for (const char* name : {"LaunchAtStartupIsEnabled", "launchatstartupsetenabled", "other"})
    EXPECT_EQ(call(name), FlutterResultValue(FlutterMethodNotImplemented)) << name;
  EXPECT_TRUE(t.journal.empty()) << "nothing touched";
  const std::string full = "Failed to enable launch at login: disk full";
  // Replaces in place, status before, value set, registration and
  // unregistration errors, calls made and lines logged (in order, between
  // the will-change and did-change notifications), state after.
  // clang-format off
  const std::tuple<bool, AppServiceStatus, bool, std::deque<std::string>, std::optional<std::string>,
                   Strings, bool> cases[] = {
      {false, kOff, true, {}, {}, {"register"}, true},
      {true, kOn, true, {}, {}, {"register"}, true},
      {false, kOn, true, {}, {}, {"unregister", "register"}, true},
      {false, AppServiceStatus::requiresApproval, false, {}, {}, {"unregister"}, false},
      {false, AppServiceStatus::notFound, true, {"no"}, {}, {"register", "Failed to enable launch at login: no"}, false},
      {false, kOn, false, {}, "busy", {"unregister", "Failed to disable launch at login: busy"}, true},
      {true, kOn, true, {"disk full"}, {}, {"register", full}, true},
      {false, kOn, true, {"disk full"}, {}, {"unregister", "register", full, "register"}, true},
      {false, kOn, true, {"disk full", "quota"}, {}, {"unregister", "register", full, "register",
       "Failed to enable launch at login: quota"}, false}};
  // clang-format on
  auto note = [&](std::string what) { t.journal.push_back(std::move(what)); };
  {
    Cancellable will = state.observable().objectWillChange().subscribe([&] { note("will"); });
    Cancellable kvo = state.kvo().addObserver([&](auto& k, bool d) { note(d ? "did " + k : k); });
    Cancellable sent = state.publisher().subscribe([&](bool v) { note(v ? "true" : "false"); });
    for (const auto& [inPlace, before, value, errors, refusal, calls, after] : cases) {
      std::tie(items.replacesInPlace, items.status) = std::tuple(inPlace, before);
      std::tie(items.registerErrors, items.unregisterError) = std::tuple(errors, refusal);
      Strings expected = calls;
      expected.insert(expected.begin(), {"will", "isEnabled"});
      expected.insert(expected.end(), {"did isEnabled", after ? "true" : "false"});
      EXPECT_EQ(during([&, value = value] { state.setIsEnabled(value); }), expected) << calls[0];
      EXPECT_EQ(call("launchAtStartupIsEnabled", EncodableList{1}), FlutterResultValue(after));
    }
  }
  EXPECT_EQ(during([&] { state.observable().setIsEnabled(true); }), Strings{"register"});
}

// Catches a migration that runs twice, stores its flag late,
// reads the older job list loosely (the first job with the helper's label
// decides, only a true "OnDemand" counts, an unreadable list reads as off),
// or removes the older registration when the newer one failed.
TEST_F(LaunchAtLoginTest, MigrationMovesAnEnabledOlderItemOnce) {
  const std::string store = "store LaunchAtLogin__hasMigrated";
  const Strings moved{store, "register", "setLoginItemEnabled " + kHelper + " off",
                      "unregisterLoginItem " + kHelper},
      left{store, moved[2], moved[3]},
      failed{store, "register", "Failed to enable launch at login: no"};
  using Jobs = std::vector<LoginJob>;
  const LoginJob on{kHelper, true}, off{kHelper, false};
  const std::tuple<std::optional<Jobs>, Strings, std::deque<std::string>> cases[] = {
      // clang-format off
      {std::nullopt, left, {}}, {Jobs{}, left, {}}, {Jobs{on}, moved, {}}, {Jobs{off}, left, {}},
      {Jobs{{kHelper, std::nullopt}}, left, {}}, {Jobs{off, on}, left, {}},
      {Jobs{{std::nullopt, true}, on}, moved, {}}, {Jobs{{"k", true}}, left, {}}, {Jobs{on}, failed, {"no"}}};
  // clang-format on
  for (const auto& [jobs, calls, errors] : cases) {
    t.defaults.values.clear();
    std::tie(items.status, items.jobs, items.registerErrors) = std::tuple(kOff, jobs, errors);
    EXPECT_EQ(during([&] { state.migrateIfNeeded(); }), calls);
    EXPECT_EQ(during([&] { state.migrateIfNeeded(); }), Strings{}) << "at most once";
  }
}

}  // namespace
}  // namespace korvane
