#include "platform/dispatch_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/main_loop.h"
#include "platform/main_thread.h"

namespace korvane {

// Catches a serial queue that overlaps blocks, reorders or drops them, runs them on the main
// thread, or does not run what is queued before it goes.
TEST(SerialQueue, RunsBlocksOneAtATimeInOrderOffTheMainThread) {
  std::atomic<int> running{0}, faults{0};
  int next = 0;  // used only by the blocks, which the queue orders
  {
    auto queue = makeSerialQueue("test.serial");
    for (int i = 0; i < 2000; ++i) {
      queue->async([&, i] {
        faults += running++ != 0 || isMainThread() || next++ != i;
        if (i % 250 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        --running;
      });
    }
  }
  EXPECT_EQ(next, 2000);
  EXPECT_EQ(faults, 0);
}

// Catches a main queue that runs a block inside async() or off the main thread, out of each
// submitter's order, or a block submitted from a block ahead of those already waiting; and a wait
// that asks its condition again once it came true (losing one that consumes what it looks for).
TEST(MainQueue, RunsOnTheMainThreadInSubmissionOrder) {
  std::vector<std::pair<int, int>> seen;  // (submitter, its count); written only on the main thread
  bool done = false;
  mainQueue().async([&] {
    seen.emplace_back(4, 0);
    mainQueue().async([&] { done = true; });
  });
  EXPECT_TRUE(seen.empty());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        mainQueue().async([&, t, i] { seen.emplace_back(t, isMainThread() ? i : -1); });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_TRUE(runMainLoopUntil([&] { return std::exchange(done, false); }));
  std::vector<int> next(5, 0);
  for (const auto& [submitter, count] : seen) ASSERT_EQ(count, next[submitter]++) << submitter;
  EXPECT_EQ(next, (std::vector<int>{500, 500, 500, 500, 1}));
  EXPECT_EQ(seen.front(), std::pair(4, 0));
}

}  // namespace korvane
