#include "platform/appkit/application_main.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/bundles.h"
#include "platform/diagnostic_log.h"
#include "platform/linux/appkit/instance_requests.h"
#include "platform/linux/ipc/instance_endpoint.h"
#include "platform/main_loop.h"
#include "platform/main_thread.h"
#include "platform/process.h"

namespace korvane {

int NSApplicationMain(int argc, const char* const* argv,
                      const MainInterfaceLoader& loadMainInterface) {
  KORVANE_ASSERT_MAIN_THREAD();
  const std::vector<std::string> given(argv + (argc > 0 ? 1 : 0), argv + argc);
  LaunchArgumentsResult parsed = parseLaunchArguments(given);
  if (parsed.error) {
    std::fprintf(stderr, "korvane: %s\n%s", parsed.error->c_str(), launchUsage());
    return 2;
  }
  if (parsed.arguments.help) {
    std::fputs(launchUsage(), stdout);
    std::fflush(stdout);
    return 0;
  }

  // Who this application is, and where it was started from, is read at its
  // start and kept: an update that replaces the bundle on disk later does not
  // change it.
  realBundleReader().mainBundle();

  NSApplication& app = NSApplication::sharedApplication();
  app.setLaunchArguments(parsed.arguments);
  // From here on SIGINT and SIGTERM wait for the main loop and stop it there,
  // so a signal during launching still ends the process cleanly.
  onTerminationSignal([](int) { NSApp().stop(nullptr); });

  loadMainInterface(app);

  InstanceEndpointServer endpoint(realDiagnosticLog());
  const int32_t pid = currentProcessIdentifier();
  auto endpointFailure = endpoint.start(
      InterfaceAddressInputs::fromProcess(parsed.arguments.interfaceSocket),
      [&app, pid](std::string_view request) { return answerInstanceRequest(app, request, pid); });
  if (endpointFailure) {
    std::fprintf(stderr, "korvane: %s\n", endpointFailure->message.c_str());
    app.tearDown();
    return 1;
  }

  int status = 0;
  if (auto failure = app.runLaunchTasks()) {
    std::fprintf(stderr, "korvane: %s\n", failure->c_str());
    status = 1;
  } else {
    app.finishLaunching();
    app.run();
  }

  app.tearDown();
  endpoint.stop();
  return status;
}

}  // namespace korvane
