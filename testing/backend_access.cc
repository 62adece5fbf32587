#include "testing/backend_access.h"

#include <sys/xattr.h>

namespace korvane::testing {

bool setExtendedAttribute(const std::string& path, const std::string& name,
                          std::string_view value) {
  std::string linuxName = "user.";
  linuxName.append(name);
  return lsetxattr(path.c_str(), linuxName.c_str(), value.data(), value.size(), 0) == 0;
}

}  // namespace korvane::testing
