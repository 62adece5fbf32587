// The application's launch arguments: what the application main routine reads
// from the command line, kept on the application for the layers above (the
// engine starts on the --interface-socket path).
//
// Thread: any (plain values and a pure parser).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvane {

struct LaunchArguments {
  std::optional<std::string> interfaceSocket;  // --interface-socket PATH
  bool help = false;                           // --help, -h
};

// The arguments after the program name, read, or why they cannot be.
struct LaunchArgumentsResult {
  LaunchArguments arguments;
  std::optional<std::string> error;  // an option that lacks its value
};

// Parses the arguments after the program name. Arguments it does not know are
// ignored, as AppKit ignores what is not its own (-NSDocumentRevisionsDebugMode
// YES and the like).
LaunchArgumentsResult parseLaunchArguments(const std::vector<std::string>& arguments);

// The --help text.
const char* launchUsage();

}  // namespace korvane
