// The main queue is a FIFO drained by one GLib source on the main thread's
// default GMainContext; a serial queue is a thread over a FIFO.
#include <glib.h>
#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/dispatch_queue.h"

namespace korvane {
namespace {

class MainQueue final : public DispatchQueue {
 public:
  void async(Block block) override {
    bool schedule = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      blocks_.push_back(std::move(block));
      schedule = !scheduled_;
      scheduled_ = true;
    }
    if (schedule) {
      GSource* source = g_idle_source_new();
      g_source_set_priority(source, G_PRIORITY_DEFAULT);
      g_source_set_callback(source, &MainQueue::drain, this, nullptr);
      g_source_attach(source, g_main_context_default());
      g_source_unref(source);
    }
  }

  const std::string& label() const override { return label_; }

 private:
  // Runs the blocks that were queued when the drain started, one at a time;
  // blocks they submit wait for the next drain, so other sources get a turn.
  static gboolean drain(gpointer data) {
    auto* self = static_cast<MainQueue*>(data);
    std::deque<Block> batch;
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      batch.swap(self->blocks_);
    }
    for (auto& block : batch) block();
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (self->blocks_.empty()) {
      self->scheduled_ = false;
      return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
  }

  std::mutex mutex_;
  std::deque<Block> blocks_;
  bool scheduled_ = false;
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
