// Login items in memory, for tests of the login-item module. Every call that
// changes something is written to a shared journal, in order: "register",
// "unregister", "unregisterLoginItem <id>", "setLoginItemEnabled <id> on|off".
// Faults are set per call kind. Thread: the test's own.
#pragma once

#include <deque>
#include <vector>

#include "platform/login_items.h"

namespace korvane::testing {

class FakeLoginItems final : public LoginItems {
 public:
  explicit FakeLoginItems(std::vector<std::string>& log) : journal(log) {}

  AppServiceStatus mainAppStatus() override { return status; }
  // A failed registration leaves the status as it was.
  std::optional<LoginItemError> registerMainApp() override {
    journal.push_back("register");
    if (registerErrors.empty()) {
      status = AppServiceStatus::enabled;
      return std::nullopt;
    }
    LoginItemError error{registerErrors.front()};
    registerErrors.pop_front();
    return error;
  }
  bool registrationReplacesInPlace() const override { return replacesInPlace; }
  std::optional<LoginItemError> unregisterMainApp() override {
    journal.push_back("unregister");
    if (unregisterError) return LoginItemError{*unregisterError};
    status = AppServiceStatus::notRegistered;
    return std::nullopt;
  }
  std::optional<LoginItemError> unregisterLoginItem(const std::string& id) override {
    journal.push_back("unregisterLoginItem " + id);
    return std::nullopt;
  }
  bool setLoginItemEnabled(const std::string& id, bool on) override {
    journal.push_back("setLoginItemEnabled " + id + (on ? " on" : " off"));
    return true;
  }
  std::optional<std::vector<LoginJob>> userJobDictionaries() override { return jobs; }

  AppServiceStatus status = AppServiceStatus::notRegistered;
  bool replacesInPlace = false;
  std::deque<std::string> registerErrors;      // one per failing registration, in turn
  std::optional<std::string> unregisterError;  // every unregistration fails with it
  std::optional<std::vector<LoginJob>> jobs;
  std::vector<std::string>& journal;
};

}  // namespace korvane::testing
