#include "install_location/channel/macos_install_location_channel.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "install_location/channel/argument_rule.h"
#include "install_location/copies/atomic_replace.h"
#include "install_location/copies/installed_copies.h"
#include "install_location/probe/activation.h"
#include "install_location/probe/candidate_probe.h"
#include "install_location/probe/running_instances.h"
#include "install_location/probe/self_probe.h"
#include "platform/dispatch_queue.h"
#include "platform/embedding/method_channel.h"
#include "platform/file_url.h"
#include "platform/main_thread.h"

namespace korvane {
namespace {

// The quarantine answer.
constexpr int64_t kQuarantined = 1;
constexpr int64_t kNotQuarantined = 0;
constexpr int64_t kQuarantineUnknown = 2;

}  // namespace

void MacosInstallLocationChannel::register_(BinaryMessenger& messenger,
                                            const PlatformServices& services) {
  KORVANE_ASSERT_MAIN_THREAD();
  FlutterMethodChannel::methodChannelWithName("macos_install_location", messenger)
      .setMethodCallHandler([&services](const FlutterMethodCall& call, FlutterResult result) {
        handleMethodCall(call, std::move(result), services);
      });
}

void MacosInstallLocationChannel::handleMethodCall(const FlutterMethodCall& call,
                                                   FlutterResult result,
                                                   const PlatformServices& services) {
  KORVANE_ASSERT_MAIN_THREAD();
  using Method = void (*)(const FlutterMethodCall&, FlutterResult, const PlatformServices&);
  struct Row {
    std::string_view name;
    Method method;
  };
  // Tested in this order; exact, case-sensitive; the first match wins.
  static constexpr std::array<Row, 9> kTable{{
      {"probe", &probe},
      {"activateOtherInstance", &activateOtherInstance},
      {"activateInstalled", &activateInstalled},
      {"probeCandidate", &probeCandidate},
      {"scanInstalledCopies", &scanInstalledCopies},
      {"hasQuarantine", &hasQuarantine},
      {"isDirWritable", &isDirWritable},
      {"atomicReplace", &atomicReplace},
      {"revealInFinder", &revealInFinder},
  }};
  for (const Row& row : kTable) {
    if (call.method != row.name) continue;
    row.method(call, std::move(result), services);
    return;
  }
  result(FlutterMethodNotImplemented);
}

void MacosInstallLocationChannel::onWorker(FlutterResult reply, Work work) {
  static DispatchQueue& workerQueue = *makeSerialQueue("install-location.worker").release();
  workerQueue.async([reply = std::move(reply), work = std::move(work)]() mutable {
    EncodableValue value = work();
    mainQueue().async([reply = std::move(reply), value = std::move(value)]() mutable {
      reply(std::move(value));
    });
  });
}

void MacosInstallLocationChannel::probe(const FlutterMethodCall&, FlutterResult result,
                                        const PlatformServices& services) {
  onWorker(std::move(result),
           [&services] { return EncodableValue(InstallLocationProbe::probeMap(services)); });
}

void MacosInstallLocationChannel::activateOtherInstance(const FlutterMethodCall&,
                                                        FlutterResult result,
                                                        const PlatformServices& services) {
  // Arguments, if any, are ignored.
  result(EncodableValue(InstallLocationProbe::activateOtherInstance(services)));
}

void MacosInstallLocationChannel::activateInstalled(const FlutterMethodCall& call,
                                                    FlutterResult result,
                                                    const PlatformServices& services) {
  const std::optional<std::string> path = stringArgument(call.arguments, "path");
  if (!path) {
    result(EncodableValue(false));
    return;
  }
  const std::optional<RunningApplication> instance =
      InstallLocationProbe::runningAppAtPath(services, *path);
  if (!instance) {
    result(EncodableValue(false));
    return;
  }
  InstallLocationProbe::activateInstance(services, *instance);
  result(EncodableValue(true));
}

void MacosInstallLocationChannel::probeCandidate(const FlutterMethodCall& call,
                                                 FlutterResult result,
                                                 const PlatformServices& services) {
  std::optional<std::string> path = stringArgument(call.arguments, "path");
  // The running flag is worked out here, on the main thread, before queueing.
  const bool running =
      path.has_value() && InstallLocationProbe::runningAppAtPath(services, *path).has_value();
  onWorker(std::move(result), [&services, path = std::move(path), running] {
    return EncodableValue(InstallLocationProbe::probeCandidate(services, path, running));
  });
}

void MacosInstallLocationChannel::scanInstalledCopies(const FlutterMethodCall&,
                                                      FlutterResult result,
                                                      const PlatformServices& services) {
  onWorker(std::move(result),
           [&services, siblings = InstallLocationProbe::runningSiblingPaths(services)] {
             return EncodableValue(InstallLocationProbe::scanInstalledCopies(services, siblings));
           });
}

void MacosInstallLocationChannel::atomicReplace(const FlutterMethodCall& call, FlutterResult result,
                                                const PlatformServices& services) {
  std::optional<std::string> temp = stringArgument(call.arguments, "temp");
  std::optional<std::string> dest = stringArgument(call.arguments, "dest");
  if (!temp || !dest) {
    result(EncodableValue(
        EncodableMap{{"status", "failed"}, {"error", "missing temp/dest arguments"}}));
    return;
  }
  onWorker(std::move(result), [&services, temp = std::move(*temp), dest = std::move(*dest)] {
    return EncodableValue(InstallLocationProbe::atomicReplace(services, temp, dest));
  });
}

void MacosInstallLocationChannel::hasQuarantine(const FlutterMethodCall& call, FlutterResult result,
                                                const PlatformServices& services) {
  onWorker(std::move(result),
           [path = stringArgument(call.arguments, "path"), &fileSystem = services.fileSystem] {
             if (!path) return EncodableValue::integer(kQuarantineUnknown);
             switch (fileSystem.extendedAttribute(*path, "com.apple.quarantine").status) {
               case AttributeLookup::Status::present:
                 return EncodableValue::integer(kQuarantined);
               case AttributeLookup::Status::missing:
                 return EncodableValue::integer(kNotQuarantined);
               case AttributeLookup::Status::failed:
                 break;
             }
             return EncodableValue::integer(kQuarantineUnknown);
           });
}

void MacosInstallLocationChannel::isDirWritable(const FlutterMethodCall& call, FlutterResult result,
                                                const PlatformServices& services) {
  onWorker(std::move(result),
           [path = stringArgument(call.arguments, "path"), &fileSystem = services.fileSystem] {
             return EncodableValue(path.has_value() && fileSystem.isWritableFile(*path));
           });
}

void MacosInstallLocationChannel::revealInFinder(const FlutterMethodCall& call,
                                                 FlutterResult result,
                                                 const PlatformServices& services) {
  if (auto path = stringArgument(call.arguments, "path")) {
    services.workspace.activateFileViewerSelectingURLs({FileURL::fileURLWithPath(*path)});
  }
  result(EncodableValue(true));
}

}  // namespace korvane
