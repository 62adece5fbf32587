// stand_in_app: a stand-in application for tests of requests sent to other
// instances. It serves the instance endpoint in its default place
// (XDG_RUNTIME_DIR, TMPDIR), keeps every request it is sent except "state",
// answers each with "ok pid=<pid>", and answers "state" with
// "ok pid=<pid> requests=<first>,<second>,..." (the requests so far, in the
// order they came). It ends on SIGTERM or SIGINT, removing its socket file.
// Nothing is written to standard output; a start failure goes to standard
// error with exit status 1.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/diagnostic_log.h"
#include "platform/linux/ipc/instance_endpoint.h"
#include "platform/main_loop.h"

int main() {
  using namespace korvane;
  const int32_t pid = static_cast<int32_t>(getpid());
  std::string received;
  InstanceEndpointServer server(realDiagnosticLog());
  const auto failure = server.start(InterfaceAddressInputs::fromProcess(std::nullopt),
                                    [&](std::string_view request) {
                                      if (request == InstanceRequest::state) {
                                        return okInstanceReply(pid, "requests=" + received);
                                      }
                                      received += (received.empty() ? "" : ",");
                                      received += request;
                                      return okInstanceReply(pid);
                                    });
  if (failure) {
    std::fprintf(stderr, "stand_in_app: %s\n", failure->message.c_str());
    return 1;
  }
  onTerminationSignal([](int) { quitMainLoop(); });
  runMainLoop();
  server.stop();
  return 0;
}
