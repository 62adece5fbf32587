#include "platform/main_loop.h"

#include <glib-unix.h>
#include <glib.h>
#include <signal.h>

#include "platform/main_thread.h"

namespace korvane {
namespace {

GMainLoop* theLoop() {
  static GMainLoop* loop = g_main_loop_new(g_main_context_default(), FALSE);
  return loop;
}

}  // namespace

void runMainLoop() {
  KORVANE_ASSERT_MAIN_THREAD();
  g_main_loop_run(theLoop());
}

void quitMainLoop() { g_main_loop_quit(theLoop()); }

bool runMainLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  KORVANE_ASSERT_MAIN_THREAD();
  const gint64 deadline = g_get_monotonic_time() + timeout.count() * 1000;
  GMainContext* context = g_main_context_default();
  // A periodic wake-up bounds each blocking iteration so the deadline is kept.
  guint tick = g_timeout_add(
      10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  // done() is asked once per check: it may consume what it looks for.
  bool finished = done();
  while (!finished && g_get_monotonic_time() < deadline) {
    g_main_context_iteration(context, TRUE);
    finished = done();
  }
  g_source_remove(tick);
  return finished;
}

void runMainLoopFor(std::chrono::milliseconds duration) {
  runMainLoopUntil([] { return false; }, duration);
}

void onTerminationSignal(std::function<void(int signal)> handler) {
  KORVANE_ASSERT_MAIN_THREAD();
  static std::function<void(int)>* stored = nullptr;
  if (stored == nullptr) {
    stored = new std::function<void(int)>();
    for (int sig : {SIGINT, SIGTERM}) {
      g_unix_signal_add(
          sig,
          [](gpointer data) -> gboolean {
            (*stored)(GPOINTER_TO_INT(data));
            return G_SOURCE_CONTINUE;
          },
          GINT_TO_POINTER(sig));
    }
  }
  *stored = std::move(handler);
}

}  // namespace korvane
