// User defaults in memory. Each store is written to a journal the test keeps
// as "store <key>", so that it falls in order among the other fakes' calls.
// Thread: the test's own.
#pragma once

#include <map>
#include <vector>

#include "platform/user_defaults.h"

namespace korvane::testing {

class FakeUserDefaults final : public UserDefaults {
 public:
  explicit FakeUserDefaults(std::vector<std::string>& log) : journal(log) {}
  bool boolForKey(const std::string& key) override { return values[key]; }
  void setBool(bool value, const std::string& key) override {
    journal.push_back("store " + key);
    values[key] = value;
  }
  std::map<std::string, bool> values;
  std::vector<std::string>& journal;
};

}  // namespace korvane::testing
