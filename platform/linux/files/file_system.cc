// Extended attributes that come from macOS live in the "user." namespace on
// Linux file systems ("com.apple.quarantine" is "user.com.apple.quarantine").
//
// The no-replace move is renameat2 with RENAME_NOREPLACE: the kernel checks
// and renames in one step, so an item that appears at the destination during
// the call is never replaced. A file system without that flag answers EINVAL
// (or an old kernel ENOSYS) and the move fails; there is no plain rename.
#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>  // renameat2, RENAME_NOREPLACE
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>  // ST_RDONLY
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/posix/errno_code.h"

namespace korvane {
namespace {

bool holdsNul(const std::string& path) { return path.find('\0') != std::string::npos; }

std::string quoted(const std::string& path) { return "\u201c" + path + "\u201d"; }

// "<what>: <the error's message>", with the error.
FileError fileError(std::string what, int error) {
  const std::error_code code = posix::errnoCode(error);
  return {code, what.append(": ").append(code.message())};
}

FileError attributesError(const std::string& path, int error) {
  return fileError("The attributes of " + quoted(path) + " could not be read", error);
}

FileError listingError(const std::string& path, int error) {
  return fileError("The folder " + quoted(path) + " could not be listed", error);
}

FileError moveError(const std::string& from, const std::string& to, int error) {
  return fileError(quoted(from) + " could not be moved to " + quoted(to), error);
}

FileType typeOfMode(mode_t mode) {
  switch (mode & S_IFMT) {
    case S_IFDIR:
      return FileType::directory;
    case S_IFREG:
      return FileType::regular;
    case S_IFLNK:
      return FileType::symbolicLink;
    case S_IFSOCK:
      return FileType::socket;
    case S_IFCHR:
      return FileType::characterSpecial;
    case S_IFBLK:
      return FileType::blockSpecial;
    default:
      return FileType::unknown;  // FIFOs among them
  }
}

class LinuxFileSystem final : public FileSystem {
 public:
  AttributeLookup extendedAttribute(const std::string& path, const std::string& name) override {
    AttributeLookup result;
    if (holdsNul(path) || holdsNul(name)) {
      result.error = std::make_error_code(std::errc::invalid_argument);
      return result;
    }
    const std::string linuxName = "user." + name;
    // A size query: no buffer. getxattr (not lgetxattr) follows a final link.
    const ssize_t size = getxattr(path.c_str(), linuxName.c_str(), nullptr, 0);
    if (size >= 0) {
      result.status = AttributeLookup::Status::present;
      result.size = static_cast<size_t>(size);
    } else if (errno == ENODATA) {
      result.status = AttributeLookup::Status::missing;
    } else {
      result.error = posix::lastErrnoCode();
    }
    return result;
  }

  bool isWritableFile(const std::string& path) override {
    if (holdsNul(path)) return false;
    return access(path.c_str(), W_OK) == 0;
  }

  bool fileExists(const std::string& path) override {
    if (holdsNul(path)) return false;
    struct stat status;
    return stat(path.c_str(), &status) == 0;
  }

  AttributesResult attributesOfItem(const std::string& path) override {
    AttributesResult result;
    if (holdsNul(path)) {
      result.error = attributesError(path, EINVAL);
      return result;
    }
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) {
      result.error = attributesError(path, errno);
      return result;
    }
    result.attributes = ItemAttributes{
        typeOfMode(status.st_mode),
        FileIdentity{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)}};
    return result;
  }

  DirectoryListing contentsOfDirectory(const std::string& path) override {
    DirectoryListing listing;
    if (holdsNul(path)) {
      listing.error = listingError(path, EINVAL);
      return listing;
    }
    DIR* folder = opendir(path.c_str());
    if (folder == nullptr) {
      listing.error = listingError(path, errno);
      return listing;
    }
    std::vector<std::string> names;
    for (;;) {
      errno = 0;
      const dirent* entry = readdir(folder);
      if (entry == nullptr) break;
      const std::string_view name(entry->d_name);
      if (name == "." || name == "..") continue;
      names.emplace_back(name);
      // The entry's type as its mode would have it; DT_UNKNOWN where the
      // file system does not record it.
      listing.types.push_back(entry->d_type == DT_UNKNOWN
                                  ? std::nullopt
                                  : std::optional<FileType>(typeOfMode(DTTOIF(entry->d_type))));
    }
    const int readError = errno;
    closedir(folder);
    if (readError != 0) {
      listing.types.clear();
      listing.error = listingError(path, readError);
      return listing;
    }
    listing.names = std::move(names);
    return listing;
  }

  std::optional<FileError> moveItemWithoutReplacing(const std::string& from,
                                                    const std::string& to) override {
    if (holdsNul(from) || holdsNul(to)) return moveError(from, to, EINVAL);
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
      return moveError(from, to, errno);
    }
    return std::nullopt;
  }

  std::optional<bool> isOnReadOnlyVolume(const std::string& path) override {
    if (holdsNul(path)) return std::nullopt;
    struct statfs status {};
    if (statfs(path.c_str(), &status) != 0) return std::nullopt;
    return (status.f_flags & ST_RDONLY) != 0;
  }
};

}  // namespace

FileSystem& realFileSystem() {
  static LinuxFileSystem* fileSystem = new LinuxFileSystem();
  return *fileSystem;
}

}  // namespace korvane
