// The host's command line. Thread: main thread (at start).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvane {

struct HostOptions {
  std::optional<std::string> interfaceSocket;  // --interface-socket PATH
  bool help = false;
};

// Parses the arguments after the program name. Unknown arguments are left to
// the platform (the application main routine ignores what it does not know);
// an option that lacks its value is an error, returned as its message.
struct HostOptionsResult {
  HostOptions options;
  std::optional<std::string> error;
};
HostOptionsResult parseHostOptions(const std::vector<std::string>& arguments);

// The --help text.
const char* hostUsage();

}  // namespace korvane
