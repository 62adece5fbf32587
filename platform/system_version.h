// The operating system's version as the reference platform reports it, for
// the code that chooses between the newer and older login-item mechanisms.
//
// Thread: any.
#pragma once

namespace korvane {

class SystemVersion {
 public:
  virtual ~SystemVersion() = default;
  virtual bool isAtLeast(int major, int minor, int patch) = 0;
};

SystemVersion& realSystemVersion();

}  // namespace korvane
