// The main queue is a FIFO drained by one GLib source on the main thread's
// default GMainContext; a serial queue is a thread over a FIFO. Linux has no
// per-queue quality-of-service class worth emulating (thread nice values
// would need privileges to raise again): serial queues run at the default
// priority.
#include "platform/dispatch_queue.h"

#include <glib-unix.h>
#include <glib.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace korvane {
namespace {

// Blocks behind one eventfd watched by the default context: posting takes only
// this queue's lock and writes the eventfd when the queue was empty.
class MainQueue final : public DispatchQueue {
 public:
  MainQueue() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    GSource* source = g_unix_fd_source_new(fd_, G_IO_IN);
    // Blocks may iterate the loop themselves (tests do); keep the fd polled then.
    g_source_set_can_recurse(source, TRUE);
    g_source_set_callback(source, G_SOURCE_FUNC(onReady), this, nullptr);
    g_source_attach(source, g_main_context_default());
    g_source_unref(source);
  }

  void async(Block block) override {
    bool wasEmpty;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      wasEmpty = blocks_.empty();
      blocks_.push_back(std::move(block));
    }
    if (wasEmpty) {
      const uint64_t one = 1;
      while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
      }
    }
  }

  const std::string& label() const override { return label_; }

 private:
  static gboolean onReady(gint, GIOCondition, gpointer queue) {
    static_cast<MainQueue*>(queue)->drain();
    return G_SOURCE_CONTINUE;
  }

  // Runs the blocks that were queued when the drain started, one at a time;
  // blocks they submit wait for the next drain, so other sources get a turn.
  void drain() {
    uint64_t count;
    while (read(fd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
    std::deque<Block> batch;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      batch.swap(blocks_);
    }
    for (auto& block : batch) block();
  }

  const int fd_;
  std::mutex mutex_;
  std::deque<Block> blocks_;
  const std::string label_ = "main";
};

class SerialQueue final : public DispatchQueue {
 public:
  explicit SerialQueue(std::string label)
      : label_(std::move(label)), spin_(mayRunOnSeveralProcessors()) {
    thread_ = std::thread([this] { run(); });
  }

  ~SerialQueue() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }

  void async(Block block) override {
    bool sleeping;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      blocks_.push_back(std::move(block));
      queued_.store(blocks_.size(), std::memory_order_release);
      sleeping = sleeping_;
    }
    // A thread that is still spinning sees the count; only a parked one needs waking.
    if (sleeping) wake_.notify_one();
  }

  const std::string& label() const override { return label_; }

 private:
  // How long the thread looks for new work before it parks. Calls tend to come
  // in bursts (the interface asks several questions in a row), and waking a
  // parked thread costs several microseconds; a short spin after each item
  // saves that for the next one at the price of a little processor time. On a
  // single processor the spin would only delay the thread that submits, so
  // there the thread parks at once.
  static constexpr std::chrono::microseconds kSpinBeforeParking{50};

  static bool mayRunOnSeveralProcessors() {
    cpu_set_t set;
    return sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 1;
  }

  void spinForWork() {
    if (!spin_) return;
    const auto until = std::chrono::steady_clock::now() + kSpinBeforeParking;
    while (queued_.load(std::memory_order_acquire) == 0 &&
           std::chrono::steady_clock::now() < until) {
      __builtin_ia32_pause();
    }
  }

  void run() {
    // Thread names are limited to 15 bytes; the label's head is enough for ps/gdb.
    pthread_setname_np(pthread_self(), label_.substr(0, 15).c_str());
    for (;;) {
      spinForWork();
      Block block;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        sleeping_ = true;
        wake_.wait(lock, [this] { return stopping_ || !blocks_.empty(); });
        sleeping_ = false;
        if (blocks_.empty()) return;  // stopping, and everything has run
        block = std::move(blocks_.front());
        blocks_.pop_front();
        queued_.store(blocks_.size(), std::memory_order_release);
      }
      block();
    }
  }

  const std::string label_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Block> blocks_;
  std::atomic<size_t> queued_{0};  // blocks_.size(), readable without the lock
  bool sleeping_ = false;          // the thread waits on wake_
  bool stopping_ = false;
  const bool spin_;
  std::thread thread_;
};

}  // namespace

DispatchQueue& mainQueue() {
  static MainQueue* queue = new MainQueue();  // kept until exit, like the main loop
  return *queue;
}

std::unique_ptr<DispatchQueue> makeSerialQueue(std::string label) {
  return std::make_unique<SerialQueue>(std::move(label));
}

}  // namespace korvane
