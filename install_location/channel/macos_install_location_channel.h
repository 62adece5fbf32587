// The native end of the "macos_install_location" method channel: the method
// table, the argument rule, the methods answered here, and the serial worker
// queue that runs the slow ones.
//
// Thread: main thread only. The handler is called on the main thread and every
// reply is made there; queued work runs on the worker queue.
#pragma once

#include <functional>

#include "platform/embedding/binary_messenger.h"
#include "platform/embedding/method_call.h"
#include "platform/embedding/method_result.h"
#include "platform/services.h"

namespace korvane {

class MacosInstallLocationChannel {
 public:
  MacosInstallLocationChannel() = delete;

  // Creates the channel on `messenger` and installs its handler, which stays
  // installed for the life of the messenger; the channel object is not kept.
  // (`register` itself is a reserved word in C++.) The handler reaches the
  // platform through `services`, which must outlive the messenger.
  static void register_(BinaryMessenger& messenger,
                        const PlatformServices& services = realPlatformServices());

  // The handler: answers every call exactly once, on the main thread, either
  // before it returns or later through the worker queue. Methods outside the
  // table get FlutterMethodNotImplemented.
  static void handleMethodCall(const FlutterMethodCall& call, FlutterResult result,
                               const PlatformServices& services);

 private:
  using Work = std::function<EncodableValue()>;

  // Runs `work` on the worker queue and replies its value through `reply` on
  // the main thread. Returns at once. The queue, "install-location.worker", is
  // made on the first call (thread-safe, once) and kept until exit: work items
  // run one at a time in the order they were queued, never on the main thread,
  // and their replies reach the main queue in the same order.
  static void onWorker(FlutterResult reply, Work work);

  static void probe(const FlutterMethodCall& call, FlutterResult result,
                    const PlatformServices& services);
  static void activateOtherInstance(const FlutterMethodCall& call, FlutterResult result,
                                    const PlatformServices& services);
  static void activateInstalled(const FlutterMethodCall& call, FlutterResult result,
                                const PlatformServices& services);
  static void probeCandidate(const FlutterMethodCall& call, FlutterResult result,
                             const PlatformServices& services);
  static void scanInstalledCopies(const FlutterMethodCall& call, FlutterResult result,
                                  const PlatformServices& services);
  static void atomicReplace(const FlutterMethodCall& call, FlutterResult result,
                            const PlatformServices& services);
  static void hasQuarantine(const FlutterMethodCall& call, FlutterResult result,
                            const PlatformServices& services);
  static void isDirWritable(const FlutterMethodCall& call, FlutterResult result,
                            const PlatformServices& services);
  static void revealInFinder(const FlutterMethodCall& call, FlutterResult result,
                             const PlatformServices& services);
};

}  // namespace korvane
