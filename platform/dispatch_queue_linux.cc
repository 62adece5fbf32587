// The main queue is a FIFO drained by one GLib source on the main thread's
// default GMainContext; a serial queue is a thread over a FIFO.
#include <glib-unix.h>
#include <glib.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/dispatch_queue.h"

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
  explicit SerialQueue(std::string label) : label_(std::move(label)) {
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
    {
      std::lock_guard<std::mutex> lock(mutex_);
      blocks_.push_back(std::move(block));
    }
    wake_.notify_one();
  }

  const std::string& label() const override { return label_; }

 private:
  void run() {
    // Thread names are limited to 15 bytes; the label's head is enough for ps/gdb.
    pthread_setname_np(pthread_self(), label_.substr(0, 15).c_str());
    for (;;) {
      Block block;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || !blocks_.empty(); });
        if (blocks_.empty()) return;  // stopping, and everything has run
        block = std::move(blocks_.front());
        blocks_.pop_front();
      }
      block();
    }
  }

  const std::string label_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Block> blocks_;
  bool stopping_ = false;
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
