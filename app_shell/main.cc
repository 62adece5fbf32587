// The process entry of the Linux host: starts the engine stand-in, registers
// the channels on its messenger, reports the interface socket and runs the
// main loop until SIGINT or SIGTERM.
#include <cstdio>
#include <string>
#include <vector>

#include "app_shell/generated_plugin_registrant.h"
#include "app_shell/host_options.h"
#include "install_location/channel/macos_install_location_channel.h"
#include "login_item/launch_at_startup_channel.h"
#include "platform/embedding/flutter_engine.h"
#include "platform/logger.h"
#include "platform/main_loop.h"

int main(int argc, char** argv) {
  using namespace korvane;
  auto parsed = parseHostOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (parsed.error) {
    std::fprintf(stderr, "korvane: %s\n%s", parsed.error->c_str(), hostUsage());
    return 2;
  }
  if (parsed.options.help) {
    std::fputs(hostUsage(), stdout);
    return 0;
  }

  FlutterEngine engine(systemLogger());
  // The launch-at-startup handler first, then the plug-ins, then the
  // install-location channel, as the main window wires them.
  registerLaunchAtStartupChannel(engine.binaryMessenger());
  RecordingPluginRegistry plugins(engine.binaryMessenger());
  RegisterGeneratedPlugins(plugins);
  MacosInstallLocationChannel::register_(engine.binaryMessenger());
  if (auto failure = engine.start(parsed.options.interfaceSocket)) {
    std::fprintf(stderr, "korvane: %s\n", failure->message.c_str());
    return 1;
  }
  onTerminationSignal([](int) { quitMainLoop(); });

  std::printf("interface-socket=%s\n", engine.interfaceSocketPath().c_str());
  std::fflush(stdout);
  runMainLoop();
  engine.stop();
  return 0;
}
