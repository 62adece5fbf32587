// Where the interface socket lives.
//
// In order of precedence: the --interface-socket option, the environment
// variable KORVANE_INTERFACE_SOCKET (both used as given), else the default
// location $XDG_RUNTIME_DIR/korvane/interface-<pid>.sock, or, when
// XDG_RUNTIME_DIR is unset or unusable, ${TMPDIR:-/tmp}/korvane-<uid>/
// interface-<pid>.sock. A default folder is made with mode 0700 when missing
// and is refused when it is a symbolic link, belongs to another user, or
// others may read, write or search it.
//
// Thread: any. fromProcess() reads the environment, so call it before other
// threads could change it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace korvane {

struct InterfaceAddressInputs {
  std::optional<std::string> option;       // --interface-socket PATH
  std::optional<std::string> environment;  // KORVANE_INTERFACE_SOCKET
  std::optional<std::string> runtimeDir;   // XDG_RUNTIME_DIR
  std::optional<std::string> tmpDir;       // TMPDIR
  uint32_t uid = 0;
  int64_t pid = 0;

  // This process's environment, user and process id, with `option` as given
  // on the command line.
  static InterfaceAddressInputs fromProcess(std::optional<std::string> option);
};

// The chosen path, or why there is none.
struct InterfaceSocketPath {
  std::string path;       // empty on failure
  std::error_code error;  // set on failure
  std::string message;    // on failure, one line naming the path and the reason
};

// Chooses the socket path and, for a default location, makes and checks its
// folder. Does not look at the socket file itself.
InterfaceSocketPath prepareInterfaceSocketPath(const InterfaceAddressInputs& inputs);

// The path of `fileName` in the default socket folder that `inputs` give
// ($XDG_RUNTIME_DIR/korvane when usable, else ${TMPDIR:-/tmp}/korvane-<uid>),
// making and checking the folder as for the interface socket; the option and
// environment entries are not used. The interface socket and the instance
// endpoint share it. Does not look at the file itself.
InterfaceSocketPath prepareDefaultSocketPath(const InterfaceAddressInputs& inputs,
                                             std::string_view fileName);

// The default folders of this user's hosts, preferred first (the runtime
// folder only when XDG_RUNTIME_DIR is set to an absolute path). Nothing is
// made or checked; for clients looking for running hosts.
std::vector<std::string> defaultInterfaceSocketFolders(const InterfaceAddressInputs& inputs);

// Checks an existing folder as a default socket folder must be: a real
// folder (not a link), owned by `uid`, with no access for group or others.
// On failure returns the error and sets `message`.
std::error_code checkInterfaceSocketFolder(const std::string& folder, uint32_t uid,
                                           std::string& message);

}  // namespace korvane
