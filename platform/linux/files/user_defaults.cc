// The user defaults as an XML property list at
// "$XDG_CONFIG_HOME/<bundle identifier>/preferences.plist", read whole on each
// call and replaced whole on each write (a temporary file and a rename); a
// corrupt file is renamed aside with a suffix before it is replaced.
// "korvane" stands in for the identifier when the bundle has none. The folder
// is worked out afresh from the environment on each call. libplist parses the
// file, behind the same size and nesting checks as the information property
// lists.
#include "platform/linux/files/user_defaults.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "platform/linux/files/config_files.h"
#include "platform/linux/files/property_list_check.h"
#include "platform/linux/posix/errno_code.h"
#include "platform/linux/posix/file_descriptor.h"
#include "platform/linux/posix/io.h"

namespace korvane {
namespace {

constexpr const char* kFileName = "preferences.plist";
constexpr const char* kLogPrefix = "[user-defaults] ";

struct PlistDeleter {
  void operator()(void* node) const { plist_free(node); }
};
using PlistNode = std::unique_ptr<void, PlistDeleter>;

// What reading the file found.
enum class FileState { missing, ok, corrupt, unreadable };

struct Loaded {
  FileState state = FileState::missing;
  PlistNode dictionary;   // when ok
  std::error_code error;  // when unreadable
};

// The dictionary in `bytes`, after the checks that keep the parser safe.
PlistNode parseDictionary(const std::vector<uint8_t>& bytes) {
  constexpr uint8_t kBinaryMagic[] = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  plist_t root = nullptr;
  const auto length = static_cast<uint32_t>(bytes.size());
  const char* data = reinterpret_cast<const char*>(bytes.data());
  if (bytes.size() >= sizeof kBinaryMagic &&
      std::memcmp(data, kBinaryMagic, sizeof kBinaryMagic) == 0) {
    if (checkBinaryPropertyList(bytes) != PropertyListCheck::ok) return nullptr;
    plist_from_bin(data, length, &root);
  } else {
    if (bytes.empty() || checkXmlPropertyList(bytes) != PropertyListCheck::ok) return nullptr;
    plist_from_xml(data, length, &root);
  }
  PlistNode node(root);
  if (!node || plist_get_node_type(node.get()) != PLIST_DICT) return nullptr;
  return node;
}

Loaded load(const std::string& path) {
  Loaded loaded;
  const posix::FileDescriptor file(
      open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!file.valid()) {
    if (errno == ENOENT) return loaded;
    // A folder in the file's place cannot be opened for writing either: it is
    // kept aside like any other file that is not a property list.
    loaded.state = errno == EISDIR ? FileState::corrupt : FileState::unreadable;
    loaded.error = posix::lastErrnoCode();
    return loaded;
  }
  struct stat info {};
  std::vector<uint8_t> bytes;
  bool fits = fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode) &&
              static_cast<size_t>(info.st_size) <= kMaxPropertyListBytes;
  if (fits) {
    bytes.resize(kMaxPropertyListBytes + 1);
    const std::optional<size_t> done = posix::readFully(file.get(), bytes.data(), bytes.size());
    if (!done) {
      loaded.state = FileState::unreadable;
      loaded.error = posix::lastErrnoCode();
      return loaded;
    }
    fits = *done <= kMaxPropertyListBytes;
    bytes.resize(*done);
  }
  loaded.dictionary = fits ? parseDictionary(bytes) : nullptr;
  loaded.state = loaded.dictionary ? FileState::ok : FileState::corrupt;
  return loaded;
}

// "<path>.corrupt-<UTC date and time with milliseconds>", with "-<n>" added
// when that name is taken.
std::optional<std::string> setAside(const std::string& path) {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%S", &utc);
  char millis[24];
  snprintf(millis, sizeof millis, ".%03ldZ", static_cast<long>(now.tv_usec / 1000));
  const std::string base = path + ".corrupt-" + stamp + millis;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string aside = attempt == 0 ? base : base + "-" + std::to_string(attempt);
    // RENAME_NOREPLACE: an earlier copy set aside is never overwritten.
    if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) {
      return std::nullopt;
    }
    if (errno == EEXIST) continue;
    if (errno == EINVAL) {  // a file system without RENAME_NOREPLACE
      struct stat info {};
      if (lstat(aside.c_str(), &info) == 0) continue;
      if (rename(path.c_str(), aside.c_str()) == 0) return std::nullopt;
    }
    return ConfigFileError{aside, posix::lastErrnoCode()}.describe(
        "cannot keep the unreadable preferences as");
  }
  return "cannot keep the unreadable preferences \"" + path + "\": every name is taken";
}

class PropertyListUserDefaults final : public UserDefaults {
 public:
  PropertyListUserDefaults(BundleReader& bundles, DiagnosticLog& logger)
      : bundles_(bundles), logger_(logger) {}

  bool boolForKey(const std::string& key) override {
    if (key.find('\0') != std::string::npos) return false;
    auto config = userConfigFolder();
    if (!config) return false;
    Loaded loaded = load(*config + "/" + folderName() + "/" + kFileName);
    if (loaded.state != FileState::ok) return false;
    plist_t value = plist_dict_get_item(loaded.dictionary.get(), key.c_str());
    if (value == nullptr || plist_get_node_type(value) != PLIST_BOOLEAN) return false;
    uint8_t flag = 0;
    plist_get_bool_val(value, &flag);
    return flag != 0;
  }

  void setBool(bool value, const std::string& key) override {
    if (key.find('\0') != std::string::npos) {
      return fail("cannot store a key that holds a NUL character");
    }
    auto config = userConfigFolder();
    if (!config) return fail("cannot store \"" + key + "\": there is no configuration folder");
    const std::string name = folderName();
    if (auto error = makeConfigSubfolder(*config, name, S_IRWXU)) {
      return fail(error->describe("cannot create the folder"));
    }
    const std::string folder = *config + "/" + name;
    const std::string path = folder + "/" + kFileName;
    Loaded loaded = load(path);
    if (loaded.state == FileState::unreadable) {
      // Replacing a file that cannot be read would lose what it holds.
      return fail(ConfigFileError{path, loaded.error}.describe("cannot read the preferences"));
    }
    if (loaded.state == FileState::corrupt) {
      if (auto error = setAside(path)) return fail(*error);
    }
    PlistNode dictionary =
        loaded.state == FileState::ok ? std::move(loaded.dictionary) : PlistNode(plist_new_dict());
    plist_dict_set_item(dictionary.get(), key.c_str(), plist_new_bool(value ? 1 : 0));
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(dictionary.get(), &xml, &length);
    if (xml == nullptr) return fail("cannot encode the preferences \"" + path + "\"");
    const std::string text(xml, length);
    plist_to_xml_free(xml);
    if (auto error = replaceFileAtomically(folder, kFileName, text, S_IRUSR | S_IWUSR)) {
      fail(error->describe("cannot write the preferences"));
    }
  }

 private:
  // The bundle identifier when it can name a folder, else "korvane".
  std::string folderName() {
    auto identifier = bundles_.mainBundle().bundleIdentifier();
    if (!identifier || identifier->empty() || *identifier == "." || *identifier == ".." ||
        identifier->find('/') != std::string::npos || identifier->find('\0') != std::string::npos) {
      return "korvane";
    }
    return *identifier;
  }

  void fail(const std::string& message) { logger_.log(kLogPrefix + message); }

  BundleReader& bundles_;
  DiagnosticLog& logger_;
};

}  // namespace

std::unique_ptr<UserDefaults> makePropertyListUserDefaults(BundleReader& bundles,
                                                           DiagnosticLog& logger) {
  return std::make_unique<PropertyListUserDefaults>(bundles, logger);
}

UserDefaults& realUserDefaults() {
  static UserDefaults* defaults =
      makePropertyListUserDefaults(realBundleReader(), realDiagnosticLog()).release();
  return *defaults;
}

}  // namespace korvane
