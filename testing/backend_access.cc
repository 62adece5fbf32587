#include "testing/backend_access.h"

#include <sys/xattr.h>

#include "platform/linux/desktop/login_items.h"

namespace korvane::testing {

bool setExtendedAttribute(const std::string& path, const std::string& name,
                          std::string_view value) {
  std::string linuxName = "user.";
  linuxName.append(name);
  return lsetxattr(path.c_str(), linuxName.c_str(), value.data(), value.size(), 0) == 0;
}

std::unique_ptr<LoginItems> makeLoginItemsFor(BundleReader& bundles) {
  return makeAutostartLoginItems(bundles);
}

}  // namespace korvane::testing
