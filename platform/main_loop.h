// The main thread's event loop: the loop the main queue, the interface
// connection and every channel handler run on.
//
// Thread: main thread only, except quitMainLoop(), which any thread may call.
#pragma once

#include <chrono>
#include <functional>

namespace korvane {

// Runs the main loop until quitMainLoop() is called.
void runMainLoop();

// Makes runMainLoop() return once the current iteration is done.
void quitMainLoop();

// Runs the main loop until `done()` is true or `timeout` passes; returns done().
// `done` is checked at least every 10 ms. For tools and tests that wait.
bool runMainLoopUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs the main loop for `duration`, whatever happens.
void runMainLoopFor(std::chrono::milliseconds duration);

// Calls `handler` with the signal number on the main thread when SIGINT or
// SIGTERM arrives, instead of the default termination.
void onTerminationSignal(std::function<void(int signal)> handler);

}  // namespace korvane
