#include "testing/loop_watchdog.h"

#include "platform/main_loop.h"

namespace korvane::testing {

LoopWatchdog::LoopWatchdog(std::chrono::milliseconds timeout)
    : thread_([this, timeout] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!wake_.wait_for(lock, timeout, [this] { return done_; })) {
          fired_ = true;
          quitMainLoop();
        }
      }) {}

LoopWatchdog::~LoopWatchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool LoopWatchdog::fired() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fired_;
}

}  // namespace korvane::testing
