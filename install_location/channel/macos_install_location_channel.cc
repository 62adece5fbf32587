#include "install_location/channel/macos_install_location_channel.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "install_location/channel/argument_rule.h"
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
    Method method;  // nullptr: not answered by this build yet
  };
  // Tested in this order; exact, case-sensitive; the first match wins.
  static constexpr std::array<Row, 9> kTable{{
      {"probe", nullptr},
      {"activateOtherInstance", nullptr},
      {"activateInstalled", nullptr},
      {"probeCandidate", nullptr},
      {"scanInstalledCopies", nullptr},
      {"hasQuarantine", &hasQuarantine},
      {"isDirWritable", &isDirWritable},
      {"atomicReplace", nullptr},
      {"revealInFinder", &revealInFinder},
  }};
  for (const Row& row : kTable) {
    if (call.method != row.name) continue;
    if (row.method == nullptr) break;
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
