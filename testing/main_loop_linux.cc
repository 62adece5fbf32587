#include <glib-unix.h>
#include <glib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

#include "testing/main_loop.h"

namespace korvane::testing {
namespace {

gboolean keepTicking(gpointer) { return G_SOURCE_CONTINUE; }

// Tasks for the main thread behind one eventfd watched by the default
// context: posting takes only this queue's lock, never the context's.
class MainThreadQueue {
 public:
  static MainThreadQueue& instance() {
    static MainThreadQueue* queue = new MainThreadQueue();  // lives until exit
    return *queue;
  }

  void post(std::function<void()> task) {
    bool wasEmpty;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      wasEmpty = tasks_.empty();
      tasks_.push_back(std::move(task));
    }
    if (wasEmpty) {
      const uint64_t one = 1;
      while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
      }
    }
  }

 private:
  MainThreadQueue() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    GSource* source = g_unix_fd_source_new(fd_, G_IO_IN);
    g_source_set_can_recurse(source, TRUE);
    g_source_set_callback(source, G_SOURCE_FUNC(onReady), this, nullptr);
    g_source_attach(source, g_main_context_default());
    g_source_unref(source);
  }

  static gboolean onReady(gint, GIOCondition, gpointer queue) {
    static_cast<MainThreadQueue*>(queue)->runAll();
    return G_SOURCE_CONTINUE;
  }

  void runAll() {
    uint64_t count;
    while (read(fd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
    std::vector<std::function<void()>> tasks;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      tasks.swap(tasks_);
    }
    for (auto& task : tasks) task();
  }

  int fd_;
  std::mutex mutex_;
  std::vector<std::function<void()>> tasks_;
};

}  // namespace

bool runMainLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // Wakes the loop so that `done` and the deadline are looked at regularly.
  const guint tick = g_timeout_add(10, keepTicking, nullptr);
  bool finished = done();
  while (!finished && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, TRUE);
    finished = done();
  }
  g_source_remove(tick);
  return finished;
}

void runMainLoopFor(std::chrono::milliseconds duration) {
  runMainLoopUntil([] { return false; }, duration);
}

void postToMainThread(std::function<void()> task) {
  MainThreadQueue::instance().post(std::move(task));
}

}  // namespace korvane::testing
