#include <unistd.h>

#include "platform/process.h"

namespace korvane {

int32_t currentProcessIdentifier() { return static_cast<int32_t>(getpid()); }

}  // namespace korvane
