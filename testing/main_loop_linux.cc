#include <glib.h>

#include "testing/main_loop.h"

namespace korvane::testing {
namespace {

gboolean keepTicking(gpointer) { return G_SOURCE_CONTINUE; }

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
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(
      source,
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      new std::function<void()>(std::move(task)),
      [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
  g_source_attach(source, g_main_context_default());
  g_source_unref(source);
}

}  // namespace korvane::testing
