// This process. Thread: any.
#pragma once

#include <cstdint>

namespace korvane {

// This process's identifier.
int32_t currentProcessIdentifier();

}  // namespace korvane
