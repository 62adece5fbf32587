#include "platform/main_thread.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace korvane {

// On Linux the main thread's kernel thread id equals the process id.
bool isMainThread() { return static_cast<pid_t>(syscall(SYS_gettid)) == getpid(); }

}  // namespace korvane
