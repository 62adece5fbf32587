// A SystemLogger that writes every message to a journal the test keeps
// (shared with the other fakes, so that the lines fall in order among their
// calls), for tests that check exact log text. Thread: the test's own.
#pragma once

#include <vector>

#include "platform/system_logger.h"

namespace korvane::testing {

class CapturingSystemLogger final : public SystemLogger {
 public:
  explicit CapturingSystemLogger(std::vector<std::string>& log) : journal(log) {}
  void error(std::string_view message) override { journal.emplace_back(message); }
  std::vector<std::string>& journal;
};

}  // namespace korvane::testing
