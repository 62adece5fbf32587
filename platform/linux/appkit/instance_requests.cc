#include "platform/linux/appkit/instance_requests.h"

#include <cmath>

#include "platform/linux/ipc/instance_endpoint.h"
#include "platform/main_thread.h"

namespace korvane {
namespace {

std::string points(double value) { return std::to_string(std::llround(value)); }

std::string stateFields(const NSApplication& app) {
  std::string fields = std::string("active=") + (app.isActive() ? "1" : "0") +
                       " hidden=" + (app.isHidden() ? "1" : "0") +
                       " reopens=" + std::to_string(app.reopenCount()) +
                       " windows=" + std::to_string(app.windows().size());
  for (const NSWindow* window : app.windows()) {
    const NSRect frame = window->frame();
    fields += " window=" + std::to_string(window->windowNumber()) + "," +
              (window->isVisible() ? "visible" : "hidden") + "," +
              (window->isKeyWindow() ? "key" : "notkey") + "," + points(frame.x) + "," +
              points(frame.y) + "," + points(frame.width) + "," + points(frame.height);
  }
  return fields;
}

const char* terminateWord(NSApplicationTerminateReply reply) {
  switch (reply) {
    case NSTerminateCancel:
      return "cancel";
    case NSTerminateNow:
      return "now";
    case NSTerminateLater:
      return "later";
  }
  return "cancel";
}

}  // namespace

std::string answerInstanceRequest(NSApplication& app, std::string_view request, int32_t pid) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (request == InstanceRequest::ping) return okInstanceReply(pid);
  if (request == InstanceRequest::unhide) {
    app.unhide(nullptr);
    return okInstanceReply(pid);
  }
  if (request == InstanceRequest::activate) {
    app.activateIgnoringOtherApps(true);
    return okInstanceReply(pid);
  }
  if (request == InstanceRequest::reopen) {
    app.handleReopen();
    return okInstanceReply(pid);
  }
  if (request == InstanceRequest::hide) {
    app.hide(nullptr);
    return okInstanceReply(pid);
  }
  if (request == InstanceRequest::close) {
    for (NSWindow* window : std::vector<NSWindow*>(app.windows())) window->close();
    return okInstanceReply(pid);
  }
  if (request == InstanceRequest::quit) {
    // The stop that NSTerminateNow asks for is queued behind this reply.
    return okInstanceReply(pid, std::string("terminate=") + terminateWord(app.terminate(nullptr)));
  }
  if (request == InstanceRequest::state) return okInstanceReply(pid, stateFields(app));
  return errorInstanceReply("unknown request");
}

}  // namespace korvane
