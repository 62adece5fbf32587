// Runs the main loop (the default GLib main context) in tests and benchmarks.
// Thread: runMainLoopUntil on the main thread only; postToMainThread from any.
#pragma once

#include <chrono>
#include <functional>

namespace korvane::testing {

// Runs the main loop until `done` returns true or `timeout` has passed.
// `done` is checked at least every 10 ms. Returns done()'s last answer.
bool runMainLoopUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs the main loop for `duration`, whatever happens.
void runMainLoopFor(std::chrono::milliseconds duration);

// Queues `task` to run on the main thread from the main loop.
void postToMainThread(std::function<void()> task);

}  // namespace korvane::testing
