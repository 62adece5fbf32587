#include "platform/embedding/local_socket_service_linux.h"

#include <gio/gio.h>
#include <unistd.h>

#include "platform/embedding/interface_socket_file.h"
#include "platform/main_thread.h"

namespace korvane {

LocalSocketService::LocalSocketService(Logger& logger, std::string socketName,
                                       std::string connectionName)
    : logger_(logger),
      socketName_(std::move(socketName)),
      connectionName_(std::move(connectionName)) {}

LocalSocketService::~LocalSocketService() {
  if (service_ != nullptr) {
    g_signal_handlers_disconnect_by_data(service_, this);
    g_socket_service_stop(service_);
    g_socket_listener_close(G_SOCKET_LISTENER(service_));
    g_object_unref(service_);
  }
  if (!path_.empty()) removeInterfaceSocketFile(path_, device_, inode_);
}

std::optional<LocalSocketService::Failure> LocalSocketService::listen(const std::string& path,
                                                                      AcceptHandler accept) {
  KORVANE_ASSERT_MAIN_THREAD();
  ListeningSocket listening = listenAtInterfaceSocket(path, socketName_);
  if (listening.fd < 0) return Failure{listening.error, listening.message};
  path_ = path;
  device_ = listening.device;
  inode_ = listening.inode;
  accept_ = std::move(accept);

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

int LocalSocketService::onIncoming(GSocketService*, GSocketConnection* connection, GObject*,
                                   void* self) {
  static_cast<LocalSocketService*>(self)->accept(connection);
  return TRUE;
}

void LocalSocketService::accept(GSocketConnection* connection) {
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
    logger_.log(known ? connectionName_ + " refused: peer uid " + std::to_string(peer) +
                            " is not this host's uid " + std::to_string(getuid())
                      : connectionName_ + " refused: peer credentials unknown");
    return;
  }
  accept_(connection);
}

LocalSocketService::Failure LocalSocketService::glibFailure(void* glibError) {
  auto* error = static_cast<GError*>(glibError);
  Failure failure{std::make_error_code(std::errc::io_error),
                  "cannot listen on " + socketName_ + " " + path_ + ": " + error->message};
  g_error_free(error);
  return failure;
}

}  // namespace korvane
