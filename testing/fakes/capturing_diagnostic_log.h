// A DiagnosticLog that keeps every message, for tests that check exact log
// output. Thread: any.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/diagnostic_log.h"

namespace korvane::testing {

class CapturingDiagnosticLog final : public DiagnosticLog {
 public:
  void log(std::string_view message) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.emplace_back(message);
  }
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace korvane::testing
