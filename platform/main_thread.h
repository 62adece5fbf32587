// Which thread is the main thread: the one that runs the main loop, every
// channel handler and every reply. Thread: any.
#pragma once

#include <cassert>

namespace korvane {

// True on the process's main thread (the thread that started the process).
bool isMainThread();

}  // namespace korvane

// Debug-only check that the caller is on the main thread.
#define KORVANE_ASSERT_MAIN_THREAD() assert(::korvane::isMainThread())
