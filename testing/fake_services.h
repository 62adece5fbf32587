// Moved to testing/fakes/; kept until every test includes the new headers.
#pragma once

#include "testing/fakes/test_services.h"

namespace korvane::testing {
using TestBundleReader = FakeBundleReader;
}  // namespace korvane::testing
