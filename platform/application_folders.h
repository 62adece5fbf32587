// The folders applications are installed in.
//
// Thread: any.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace korvane {

class ApplicationFolders {
 public:
  virtual ~ApplicationFolders() = default;

  // The system-wide folder: "/Applications" in the real backend.
  virtual std::string systemFolder() = 0;

  // The user's own folder ("$HOME/Applications", the home from the password
  // database when HOME is unset); nullopt when no home can be found.
  virtual std::optional<std::string> userFolder() = 0;
};

// The real folders. Made once, kept for the life of the process.
ApplicationFolders& realApplicationFolders();

}  // namespace korvane
