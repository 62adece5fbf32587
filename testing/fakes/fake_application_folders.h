// ApplicationFolders that are whatever the test sets (empty by default; no
// user folder). Thread: any; set them before the code under test runs.
#pragma once

#include "platform/application_folders.h"

namespace korvane::testing {

class FakeApplicationFolders final : public ApplicationFolders {
 public:
  std::string systemFolder() override { return system; }
  std::optional<std::string> userFolder() override { return user; }

  std::string system;
  std::optional<std::string> user;
};

}  // namespace korvane::testing
