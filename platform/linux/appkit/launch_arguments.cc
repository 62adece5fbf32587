#include "platform/appkit/launch_arguments.h"

namespace korvane {

LaunchArgumentsResult parseLaunchArguments(const std::vector<std::string>& arguments) {
  LaunchArgumentsResult result;
  constexpr std::string_view kSocket = "--interface-socket";
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (arg == "--help" || arg == "-h") {
      result.arguments.help = true;
    } else if (arg == kSocket) {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
        result.error = "--interface-socket needs a path";
        return result;
      }
      result.arguments.interfaceSocket = arguments[++i];
    } else if (arg.starts_with(std::string(kSocket) + "=")) {
      std::string path = arg.substr(kSocket.size() + 1);
      if (path.empty()) {
        result.error = "--interface-socket needs a path";
        return result;
      }
      result.arguments.interfaceSocket = std::move(path);
    }
  }
  return result;
}

const char* launchUsage() {
  return "usage: korvane [--interface-socket PATH]\n"
         "\n"
         "Starts the Korvane native host. It serves the method channels\n"
         "\"launch_at_startup\" and \"macos_install_location\" over the interface\n"
         "connection, a Unix socket, and prints one line when it is ready:\n"
         "  interface-socket=<path>\n"
         "It runs until SIGINT or SIGTERM, then removes its socket. A quit\n"
         "request is handed to the interface, which decides whether to end.\n"
         "Other copies reach it at app-<pid>.sock in the same default folder.\n"
         "\n"
         "The interface socket is, in order of precedence:\n"
         "  --interface-socket PATH      used as given\n"
         "  $KORVANE_INTERFACE_SOCKET\n"
         "  $XDG_RUNTIME_DIR/korvane/interface-<pid>.sock\n"
         "  ${TMPDIR:-/tmp}/korvane-<uid>/interface-<pid>.sock\n"
         "\n"
         "Call it with korvane-call, e.g.\n"
         "  korvane-call macos_install_location isDirWritable '{\"path\": \"/tmp\"}'\n";
}

}  // namespace korvane
