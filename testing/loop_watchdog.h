// Ends the main loop when a test's wait for it goes on too long, so that a
// loop that never stops fails the test instead of hanging it.
// Thread: the test's main thread (the watchdog's own thread only calls
// quitMainLoop()).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/main_loop.h"

namespace korvane::testing {

class LoopWatchdog {
 public:
  // Calls quitMainLoop() after `timeout` unless destroyed first.
  explicit LoopWatchdog(std::chrono::milliseconds timeout = std::chrono::seconds(10))
      : thread_([this, timeout](std::stop_token stop) {
          std::mutex mutex;
          std::unique_lock lock(mutex);
          std::condition_variable_any().wait_for(lock, stop, timeout, [] { return false; });
          if (!stop.stop_requested()) {
            fired_ = true;
            quitMainLoop();
          }
        }) {}

  // Whether it had to end the loop.
  bool fired() const { return fired_; }

 private:
  std::atomic<bool> fired_{false};
  std::jthread thread_;  // stopped and joined first when the watchdog goes
};

}  // namespace korvane::testing
