#include "platform/embedding/method_channel.h"

#include "platform/embedding/standard_method_codec.h"
#include "platform/main_thread.h"

namespace korvane {

FlutterMethodChannel FlutterMethodChannel::methodChannelWithName(std::string name,
                                                                 BinaryMessenger& messenger) {
  return FlutterMethodChannel(std::move(name), messenger);
}

void FlutterMethodChannel::setMethodCallHandler(FlutterMethodCallHandler handler) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (!handler) {
    messenger_->setMessageHandler(name_, nullptr);
    return;
  }
  messenger_->setMessageHandler(
      name_, [handler = std::move(handler)](std::vector<uint8_t> message, BinaryReply reply) {
        const StandardMethodCodec& codec = StandardMethodCodec::instance();
        auto decoded = codec.decodeMethodCall(message);
        auto* call = std::get_if<FlutterMethodCall>(&decoded);
        if (call == nullptr) {
          reply({});
          return;
        }
        handler(*call, FlutterResult([reply = std::move(reply)](FlutterResultValue value) {
          reply(StandardMethodCodec::instance().encodeResult(value));
        }));
      });
}

void FlutterMethodChannel::invokeMethod(const std::string& method, EncodableValue arguments,
                                        FlutterReplyCallback callback) {
  KORVANE_ASSERT_MAIN_THREAD();
  std::vector<uint8_t> message =
      StandardMethodCodec::instance().encodeMethodCall({method, std::move(arguments)});
  if (!callback) {
    messenger_->send(name_, std::move(message));
    return;
  }
  messenger_->send(
      name_, std::move(message), [callback = std::move(callback)](std::vector<uint8_t> reply) {
        auto decoded = StandardMethodCodec::instance().decodeEnvelope(reply);
        auto* envelope = std::get_if<MethodEnvelope>(&decoded);
        callback(envelope != nullptr ? std::move(*envelope)
                                     : FlutterResultValue(FlutterMethodNotImplemented));
      });
}

}  // namespace korvane
