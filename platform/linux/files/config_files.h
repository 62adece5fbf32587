// Per-user configuration files ("$XDG_CONFIG_HOME", "~/.config" when unset):
// where they live, making their folders, and replacing a file whole.
//
// Thread: any. Stateless: the environment is read on each call.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace korvane {

// What failed and where: `path` is the file or folder the failing call was on.
struct ConfigFileError {
  std::string path;
  std::error_code code;

  // "<what> \"<path>\": <reason>"
  std::string describe(std::string_view what) const;
};

// "$XDG_CONFIG_HOME" when set to an absolute path; otherwise ".config" in the
// home folder ("$HOME", else the password database); nullopt when there is no
// home folder either.
std::optional<std::string> userConfigFolder();

// Makes `folder` inside `configFolder` (and `configFolder` itself and its
// parents, mode 0700, when missing). `folder` gets `mode` when it is made.
// An existing folder (or symbolic link to one) is success.
std::optional<ConfigFileError> makeConfigSubfolder(const std::string& configFolder,
                                                   const std::string& folder, unsigned mode);

// Replaces "<folder>/<name>" with `bytes` (file mode `mode`): a temporary file
// in the same folder is written, flushed to disk and renamed into place, so a
// crash leaves either the old file or the new one. The temporary file never
// stays behind.
std::optional<ConfigFileError> replaceFileAtomically(const std::string& folder,
                                                     const std::string& name,
                                                     std::string_view bytes, unsigned mode);

}  // namespace korvane
