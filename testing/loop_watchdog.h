// Ends the main loop when a test's wait for it goes on too long, so that a
// loop that never stops fails the test instead of hanging it.
// Thread: the test's main thread (the watchdog's own thread only calls
// quitMainLoop()).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace korvane::testing {

class LoopWatchdog {
 public:
  // Calls quitMainLoop() after `timeout` unless destroyed first.
  explicit LoopWatchdog(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  ~LoopWatchdog();
  LoopWatchdog(const LoopWatchdog&) = delete;
  LoopWatchdog& operator=(const LoopWatchdog&) = delete;

  // Whether it had to end the loop.
  bool fired() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  bool fired_ = false;
  std::thread thread_;
};

}  // namespace korvane::testing
