#include <gio/gio.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/embedding/flutter_engine.h"
#include "platform/embedding/host_message_reply.h"
#include "platform/embedding/interface_connection.h"
#include "platform/embedding/interface_socket_file.h"
#include "platform/main_thread.h"

namespace korvane {

// The listening socket and the open connections, served on the default
// main context.
class FlutterEngine::Server {
 public:
  Server(ChannelMessenger& messenger, Logger& logger, InterfaceConnectionLimits limits)
      : messenger_(messenger), logger_(logger), limits_(limits) {}

  ~Server() {
    if (service_ != nullptr) {
      g_signal_handlers_disconnect_by_data(service_, this);
      g_socket_service_stop(service_);
      g_socket_listener_close(G_SOCKET_LISTENER(service_));
      g_object_unref(service_);
    }
    auto connections = std::move(connections_);
    connections_.clear();
    for (auto& [raw, connection] : connections) connection->close();
    if (!path_.empty()) removeInterfaceSocketFile(path_, device_, inode_);
  }

  std::optional<EngineStartError> listen(const std::string& path) {
    ListeningSocket listening = listenAtInterfaceSocket(path);
    if (listening.fd < 0) return EngineStartError{listening.error, listening.message};
    path_ = path;
    device_ = listening.device;
    inode_ = listening.inode;

    GError* error = nullptr;
    GSocket* socket = g_socket_new_from_fd(listening.fd, &error);
    if (socket == nullptr) {
      close(listening.fd);
      return glibFailure(error);
    }
    service_ = g_socket_service_new();
    const bool added =
        g_socket_listener_add_socket(G_SOCKET_LISTENER(service_), socket, nullptr, &error);
    g_object_unref(socket);
    if (!added) return glibFailure(error);
    g_signal_connect(service_, "incoming", G_CALLBACK(onIncoming), this);
    g_socket_service_start(service_);
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
  static gboolean onIncoming(GSocketService*, GSocketConnection* connection, GObject*,
                             gpointer server) {
    static_cast<Server*>(server)->accept(connection);
    return TRUE;
  }

  void accept(GSocketConnection* connection) {
    KORVANE_ASSERT_MAIN_THREAD();
    GError* error = nullptr;
    GCredentials* credentials =
        g_socket_get_credentials(g_socket_connection_get_socket(connection), &error);
    bool known = false;
    uid_t peer = 0;
    if (credentials != nullptr) {
      peer = g_credentials_get_unix_user(credentials, &error);
      known = error == nullptr;
      g_object_unref(credentials);
    }
    if (error != nullptr) g_error_free(error);
    if (!known || peer != getuid()) {
      // Closed before a byte is read from it.
      g_io_stream_close(G_IO_STREAM(connection), nullptr, nullptr);
      logger_.log(known ? "interface connection refused: peer uid " + std::to_string(peer) +
                              " is not this host's uid " + std::to_string(getuid())
                        : std::string("interface connection refused: peer credentials unknown"));
      return;
    }
    auto accepted = std::make_shared<InterfaceConnection>(
        connection, messenger_, logger_, limits_,
        [this](InterfaceConnection& closed) { connections_.erase(&closed); });
    connections_.emplace(accepted.get(), accepted);
    accepted->start();
  }

  std::optional<EngineStartError> glibFailure(GError* error) {
    EngineStartError failure{std::make_error_code(std::errc::io_error),
                             "cannot listen on interface socket " + path_ + ": " + error->message};
    g_error_free(error);
    return failure;
  }

  ChannelMessenger& messenger_;
  Logger& logger_;
  InterfaceConnectionLimits limits_;
  GSocketService* service_ = nullptr;
  std::string path_;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
  std::unordered_map<InterfaceConnection*, std::shared_ptr<InterfaceConnection>> connections_;
  uint32_t nextHostMessageId_ = 1;
};

FlutterEngine::FlutterEngine(Logger& logger, InterfaceConnectionLimits limits)
    : logger_(logger), limits_(limits) {}

FlutterEngine::~FlutterEngine() { stop(); }

std::optional<EngineStartError> FlutterEngine::start(
    std::optional<std::string> interfaceSocketOption) {
  return start(InterfaceAddressInputs::fromProcess(std::move(interfaceSocketOption)));
}

std::optional<EngineStartError> FlutterEngine::start(const InterfaceAddressInputs& inputs) {
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

void FlutterEngine::stop() {
  KORVANE_ASSERT_MAIN_THREAD();
  // Host messages still awaited are answered empty as their connections close.
  messenger_.setOutlet(nullptr);
  server_.reset();
  socketPath_.clear();
}

size_t FlutterEngine::connectionCount() const {
  return server_ != nullptr ? server_->connectionCount() : 0;
}

}  // namespace korvane
