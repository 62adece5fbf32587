// Login items as freedesktop autostart entries in "$XDG_CONFIG_HOME/autostart"
// ("~/.config/autostart" when unset), read and written with GLib's key files:
//   - the main application's service is "<bundle identifier>.desktop";
//     enabled when it exists and is not disabled ("Hidden=true" or
//     "X-GNOME-Autostart-enabled=false"), otherwise not registered;
//   - the older calls write or remove "<helper identifier>.desktop", and the
//     job list has one job per entry of that folder: "Label" the file name
//     without ".desktop", "OnDemand" whether the entry is enabled.
// The folder is worked out on each call (the environment is read afresh), so
// a change of XDG_CONFIG_HOME applies to the next call. Refusing identifiers
// with "/" or NUL means no entry is ever made outside the folder.
#include "platform/linux/desktop/login_items.h"

#include <dirent.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "platform/bundle_paths.h"
#include "platform/linux/desktop/desktop_exec.h"
#include "platform/linux/files/config_files.h"
#include "platform/linux/posix/errno_code.h"
#include "platform/linux/process/proc_link.h"

namespace korvane {
namespace {

constexpr const char* kGroup = G_KEY_FILE_DESKTOP_GROUP;
constexpr std::string_view kSuffix = ".desktop";

bool isSafeIdentifier(const std::string& identifier) {
  return !identifier.empty() && identifier.find('/') == std::string::npos &&
         identifier.find('\0') == std::string::npos;
}

std::optional<std::string> autostartFolder() {
  auto config = userConfigFolder();
  if (!config) return std::nullopt;
  return *config + "/autostart";
}

// Whether the entry at `path` exists, parses and is not disabled.
bool entryIsEnabled(const std::string& path) {
  g_autoptr(GKeyFile) file = g_key_file_new();
  if (!g_key_file_load_from_file(file, path.c_str(), G_KEY_FILE_NONE, nullptr)) return false;
  if (!g_key_file_has_group(file, kGroup)) return false;
  g_autoptr(GError) error = nullptr;
  const bool hidden = g_key_file_get_boolean(file, kGroup, "Hidden", &error);
  g_clear_error(&error);
  if (hidden) return false;
  const bool enabled = g_key_file_get_boolean(file, kGroup, "X-GNOME-Autostart-enabled", &error);
  const bool disabled = error == nullptr && !enabled;
  g_clear_error(&error);
  return !disabled;
}

class AutostartLoginItems final : public LoginItems {
 public:
  explicit AutostartLoginItems(BundleReader& bundles) : bundles_(bundles) {}

  AppServiceStatus mainAppStatus() override {
    const MainBundle bundle = bundles_.mainBundle();
    auto identifier = bundle.bundleIdentifier();
    if (!identifier || !isSafeIdentifier(*identifier)) return AppServiceStatus::notRegistered;
    auto folder = autostartFolder();
    if (!folder) return AppServiceStatus::notRegistered;
    return entryIsEnabled(entryPath(*folder, *identifier)) ? AppServiceStatus::enabled
                                                           : AppServiceStatus::notRegistered;
  }

  std::optional<LoginItemError> registerMainApp() override {
    const MainBundle bundle = bundles_.mainBundle();
    auto identifier = bundle.bundleIdentifier();
    if (!identifier) return LoginItemError{"the application has no bundle identifier"};
    return writeEntry(*identifier, bundle.infoValue("CFBundleName").value_or(*identifier));
  }

  // The entry is renamed over the old one only once it is written whole.
  bool registrationReplacesInPlace() const override { return true; }

  std::optional<LoginItemError> unregisterMainApp() override {
    auto identifier = bundles_.mainBundle().bundleIdentifier();
    if (!identifier) return LoginItemError{"the application has no bundle identifier"};
    return removeEntry(*identifier);
  }

  std::optional<LoginItemError> unregisterLoginItem(const std::string& identifier) override {
    return removeEntry(identifier);
  }

  // The helper's entry starts the main application, as the helper would.
  bool setLoginItemEnabled(const std::string& identifier, bool enabled) override {
    return !(enabled ? writeEntry(identifier, identifier) : removeEntry(identifier));
  }

  std::optional<std::vector<LoginJob>> userJobDictionaries() override {
    auto folder = autostartFolder();
    if (!folder) return std::nullopt;
    DIR* dir = opendir(folder->c_str());
    if (dir == nullptr) return std::nullopt;
    std::vector<std::string> labels;
    while (const dirent* entry = readdir(dir)) {
      std::string_view name(entry->d_name);
      if (name.size() > kSuffix.size() && name.ends_with(kSuffix)) {
        labels.emplace_back(name.substr(0, name.size() - kSuffix.size()));
      }
    }
    closedir(dir);
    std::sort(labels.begin(), labels.end());
    std::vector<LoginJob> jobs;
    for (const std::string& label : labels) {
      jobs.push_back(LoginJob{label, entryIsEnabled(entryPath(*folder, label))});
    }
    return jobs;
  }

 private:
  static std::string entryPath(const std::string& folder, const std::string& identifier) {
    return folder + "/" + identifier + std::string(kSuffix);
  }

  static std::optional<LoginItemError> refuse(const std::string& identifier) {
    return LoginItemError{"\"" + identifier + "\" is not a usable login item identifier"};
  }

  static std::optional<LoginItemError> noConfigFolder() {
    return LoginItemError{
        "there is no configuration folder (neither XDG_CONFIG_HOME nor a home folder)"};
  }

  std::optional<LoginItemError> writeEntry(const std::string& identifier, const std::string& name) {
    if (!isSafeIdentifier(identifier)) return refuse(identifier);
    auto config = userConfigFolder();
    if (!config) return noConfigFolder();
    if (auto error = makeConfigSubfolder(*config, "autostart", 0755)) {
      return LoginItemError{error->describe("cannot create the folder")};
    }
    auto executable = readLinkTarget("/proc/self/exe");
    if (!executable)
      return LoginItemError{"cannot find the running executable (\"/proc/self/exe\")"};

    g_autoptr(GKeyFile) file = g_key_file_new();
    g_key_file_set_string(file, kGroup, "Type", "Application");
    g_key_file_set_string(file, kGroup, "Name", name.c_str());
    g_key_file_set_string(file, kGroup, "Exec",
                          quotedExecArgument(withoutDeletedMark(*executable)).c_str());
    g_key_file_set_boolean(file, kGroup, "X-GNOME-Autostart-enabled", TRUE);
    gsize length = 0;
    g_autofree gchar* data = g_key_file_to_data(file, &length, nullptr);
    const std::string text(data, length);

    const std::string folder = *config + "/autostart";
    if (auto error = replaceFileAtomically(folder, identifier + std::string(kSuffix), text, 0644)) {
      return LoginItemError{error->describe("cannot write the login item")};
    }
    return std::nullopt;
  }

  std::optional<LoginItemError> removeEntry(const std::string& identifier) {
    if (!isSafeIdentifier(identifier)) return refuse(identifier);
    auto folder = autostartFolder();
    if (!folder) return noConfigFolder();
    const std::string path = entryPath(*folder, identifier);
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
      const ConfigFileError error{path, posix::lastErrnoCode()};
      return LoginItemError{error.describe("cannot remove the login item")};
    }
    return std::nullopt;
  }

  BundleReader& bundles_;
};

}  // namespace

std::unique_ptr<LoginItems> makeAutostartLoginItems(BundleReader& bundles) {
  return std::make_unique<AutostartLoginItems>(bundles);
}

LoginItems& realLoginItems() {
  static LoginItems* items = makeAutostartLoginItems(realBundleReader()).release();
  return *items;
}

}  // namespace korvane
