#include "platform/process.h"

#include <unistd.h>

namespace korvane {

int32_t currentProcessIdentifier() { return static_cast<int32_t>(getpid()); }

}  // namespace korvane
