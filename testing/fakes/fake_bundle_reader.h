// A BundleReader that reads bundles on disk for real and counts the reads,
// while the running bundle is whatever the test sets in `main`.
// Thread: any for infoStrings (the worker queue reads bundles too); set `main`
// before the code under test runs.
#pragma once

#include <atomic>

#include "platform/bundles.h"

namespace korvane::testing {

class FakeBundleReader final : public BundleReader {
 public:
  std::optional<PropertyListStrings> infoStrings(const std::string& bundlePath) override {
    ++infoReads;
    return realBundleReader().infoStrings(bundlePath);
  }
  MainBundle mainBundle() override { return main; }

  MainBundle main;
  std::atomic<int> infoReads{0};
};

}  // namespace korvane::testing
