#include "platform/linux/engine/interface_engine.h"

#include <gio/gio.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/engine/host_message_reply.h"
#include "platform/linux/engine/interface_connection.h"
#include "platform/linux/ipc/local_socket_service.h"
#include "platform/main_thread.h"

namespace korvane {

// The listening socket and the open connections, served on the default
// main context.
class InterfaceEngine::Server {
 public:
  Server(ChannelMessenger& messenger, DiagnosticLog& logger, InterfaceConnectionLimits limits)
      : messenger_(messenger),
        logger_(logger),
        limits_(limits),
        service_(logger, "interface socket", "interface connection") {}

  ~Server() {
    auto connections = std::move(connections_);
    connections_.clear();
    for (auto& [raw, connection] : connections) connection->close();
  }

  std::optional<EngineStartError> listen(const std::string& path) {
    auto failure =
        service_.listen(path, [this](GSocketConnection* connection) { accept(connection); });
    if (failure) return EngineStartError{failure->error, failure->message};
    return std::nullopt;
  }

  size_t connectionCount() const { return connections_.size(); }

  // Sends `message` on `channel` as a kind-3 frame with a fresh id to every
  // connection that can still answer; `reply` gets the one reply.
  void broadcast(const std::string& channel, std::vector<uint8_t> message, BinaryReply reply) {
    KORVANE_ASSERT_MAIN_THREAD();
    const uint32_t id = nextHostMessageId_++;
    std::optional<std::vector<uint8_t>> frame =
        encodeMessageFrame(id, channel, message, FrameKind::hostMessage);
    if (!frame) {
      logger_.log("interface connection: the message to channel " + channel.substr(0, 200) +
                  " is " + std::to_string(message.size()) +
                  " bytes, more than a frame holds; it was not sent");
      HostMessageReply nobodyAnswers(std::move(reply), 0);
      return;
    }
    // Taken first: a connection whose write fails closes and leaves the table.
    std::vector<std::shared_ptr<InterfaceConnection>> targets;
    for (const auto& [raw, connection] : connections_) {
      if (connection->takesHostMessages()) targets.push_back(connection);
    }
    auto answers = std::make_shared<HostMessageReply>(std::move(reply), targets.size());
    for (size_t i = 0; i < targets.size(); ++i) {
      targets[i]->sendHostMessage(id, i + 1 < targets.size() ? *frame : std::move(*frame), answers);
    }
  }

 private:
  // A connection of this user (the service refuses others).
  void accept(GSocketConnection* connection) {
    KORVANE_ASSERT_MAIN_THREAD();
    auto accepted = std::make_shared<InterfaceConnection>(
        connection, messenger_, logger_, limits_, [this](InterfaceConnection& closed) {
          connections_.erase(&closed);
          service_.connectionClosed();  // its descriptor is free again
        });
    connections_.emplace(accepted.get(), accepted);
    accepted->start();
  }

  ChannelMessenger& messenger_;
  DiagnosticLog& logger_;
  InterfaceConnectionLimits limits_;
  LocalSocketService service_;  // stops listening after the connections are closed
  std::unordered_map<InterfaceConnection*, std::shared_ptr<InterfaceConnection>> connections_;
  uint32_t nextHostMessageId_ = 1;
};

InterfaceEngine::InterfaceEngine(DiagnosticLog& logger, InterfaceConnectionLimits limits)
    : logger_(logger), limits_(limits) {}

InterfaceEngine::~InterfaceEngine() { stop(); }

std::optional<EngineStartError> InterfaceEngine::start(
    std::optional<std::string> interfaceSocketOption) {
  return start(InterfaceAddressInputs::fromProcess(std::move(interfaceSocketOption)));
}

std::optional<EngineStartError> InterfaceEngine::start(const InterfaceAddressInputs& inputs) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (server_ != nullptr) {
    return EngineStartError{std::make_error_code(std::errc::operation_in_progress),
                            "the engine is already listening on " + socketPath_};
  }
  InterfaceSocketPath address = prepareInterfaceSocketPath(inputs);
  if (address.path.empty()) return EngineStartError{address.error, address.message};
  auto server = std::make_unique<Server>(messenger_, logger_, limits_);
  if (auto failure = server->listen(address.path)) return failure;
  server_ = std::move(server);
  socketPath_ = address.path;
  messenger_.setOutlet([server = server_.get()](const std::string& channel,
                                                std::vector<uint8_t> message, BinaryReply reply) {
    server->broadcast(channel, std::move(message), std::move(reply));
  });
  return std::nullopt;
}

void InterfaceEngine::stop() {
  KORVANE_ASSERT_MAIN_THREAD();
  // Host messages still awaited are answered empty as their connections close.
  messenger_.setOutlet(nullptr);
  server_.reset();
  socketPath_.clear();
}

size_t InterfaceEngine::connectionCount() const {
  return server_ != nullptr ? server_->connectionCount() : 0;
}

}  // namespace korvane
