// A system version the test sets; only the major version is compared.
// Thread: the test's own.
#pragma once

#include "platform/system_version.h"

namespace korvane::testing {

class FakeSystemVersion final : public SystemVersion {
 public:
  bool isAtLeast(int wanted, int, int) override { return major >= wanted; }
  int major = 13;
};

}  // namespace korvane::testing
