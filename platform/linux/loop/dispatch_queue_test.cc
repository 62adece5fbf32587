#include "platform/dispatch_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/main_loop.h"
#include "platform/main_thread.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;

// Catches a serial queue that overlaps blocks, reorders them, or runs them on
// the main thread.
TEST(SerialQueue, RunsBlocksOneAtATimeInOrderOffTheMainThread) {
  std::atomic<int> running{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> onMain{0};
  std::vector<int> order;  // written only by queue blocks: the queue's ordering makes it safe
  {
    auto queue = makeSerialQueue("test.serial");
    for (int i = 0; i < 2000; ++i) {
      queue->async([&, i] {
        if (running.fetch_add(1) != 0) ++overlaps;
        if (isMainThread()) ++onMain;
        if (i % 250 == 0) std::this_thread::sleep_for(1ms);
        order.push_back(i);
        running.fetch_sub(1);
      });
    }
  }  // destruction drains the queue
  ASSERT_EQ(order.size(), 2000u);
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(order[i], i);
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(onMain.load(), 0);
}

// Catches a main queue that runs a block inside async(), off the main thread,
// or out of each submitter's order.
TEST(MainQueue, RunsOnTheMainThreadInSubmissionOrder) {
  std::vector<std::pair<int, int>> seen;
  bool inline_run = false;
  bool offMain = false;
  mainQueue().async([&] { seen.emplace_back(-1, 0); });
  inline_run = !seen.empty();

  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        mainQueue().async([&, t, i] {
          if (!isMainThread()) offMain = true;
          seen.emplace_back(t, i);
        });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(runMainLoopUntil([&] { return seen.size() == 1 + kThreads * kEach; }, 5s));
  EXPECT_FALSE(inline_run);
  EXPECT_FALSE(offMain);
  EXPECT_EQ(seen.front(), std::make_pair(-1, 0));
  std::vector<int> next(kThreads, 0);
  for (size_t k = 1; k < seen.size(); ++k) {
    auto [t, i] = seen[k];
    ASSERT_EQ(i, next[t]++) << "thread " << t;
  }
}

// Catches blocks submitted from a running block being run in the same pass
// ahead of other sources, or lost.
TEST(MainQueue, BlocksSubmittedFromBlocksRunLater) {
  std::vector<int> order;
  mainQueue().async([&] {
    order.push_back(1);
    mainQueue().async([&] { order.push_back(3); });
  });
  mainQueue().async([&] { order.push_back(2); });
  ASSERT_TRUE(runMainLoopUntil([&] { return order.size() == 3; }, 5s));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

}  // namespace
}  // namespace korvane

namespace korvane {
namespace {

// Catches a wait that asks its condition again after it came true, losing a
// condition that consumes what it looks for (such as reaping a child).
TEST(MainLoop, RunUntilAsksOnceAfterTheConditionHolds) {
  int asked = 0;
  bool ready = false;
  mainQueue().async([&] { ready = true; });
  EXPECT_TRUE(runMainLoopUntil([&] {
    ++asked;
    if (!ready) return false;
    const bool first = ready;
    ready = false;  // consumed
    return first;
  }));
  EXPECT_GE(asked, 2);
  EXPECT_FALSE(runMainLoopUntil([] { return false; }, std::chrono::milliseconds(30)));
}

}  // namespace
}  // namespace korvane
