// The instance endpoint's listening side: a GSocketService on the default main
// context, one line connection per accepted peer.
#include <gio/gio.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "platform/linux/ipc/instance_announcement.h"
#include "platform/linux/ipc/instance_endpoint.h"
#include "platform/linux/ipc/local_socket_service.h"
#include "platform/main_thread.h"
#include "platform/path_string.h"
#include "platform/process.h"

namespace korvane {
namespace {

constexpr size_t kReadChunk = 4096;
// Unsent reply bytes above which a connection stops reading: a peer that
// sends without reading holds at most this much (plus one read) here.
constexpr size_t kMaxUnsentBytes = 16 * 1024;

using SharedHandler = std::shared_ptr<const InstanceEndpointServer::Handler>;

class LineConnection : public std::enable_shared_from_this<LineConnection> {
 public:
  using ClosedCallback = std::function<void(LineConnection&)>;

  LineConnection(GSocketConnection* connection, SharedHandler handler, DiagnosticLog& logger,
                 ClosedCallback onClosed)
      : connection_(G_SOCKET_CONNECTION(g_object_ref(connection))),
        socket_(g_socket_connection_get_socket(connection)),
        handler_(std::move(handler)),
        logger_(logger),
        onClosed_(std::move(onClosed)) {
    g_socket_set_blocking(socket_, FALSE);
  }

  ~LineConnection() {
    close();
    g_object_unref(connection_);
  }

  LineConnection(const LineConnection&) = delete;
  LineConnection& operator=(const LineConnection&) = delete;

  void start() { updateWatches(); }

  // Closes at once without telling the server (it is the one closing).
  void close() {
    if (closed_) return;
    closed_ = true;
    unwatch(readSource_);
    unwatch(writeSource_);
    g_io_stream_close(G_IO_STREAM(connection_), nullptr, nullptr);
  }

 private:
  static gboolean onReadable(GSocket*, GIOCondition, gpointer self) {
    static_cast<LineConnection*>(self)->handleReadable();
    return G_SOURCE_CONTINUE;
  }
  static gboolean onWritable(GSocket*, GIOCondition, gpointer self) {
    static_cast<LineConnection*>(self)->handleWritable();
    return G_SOURCE_CONTINUE;
  }

  static void unwatch(GSource*& source) {
    if (source == nullptr) return;
    g_source_destroy(source);
    g_source_unref(source);
    source = nullptr;
  }

  GSource* watch(GIOCondition condition, GSocketSourceFunc callback) {
    GSource* source = g_socket_create_source(socket_, condition, nullptr);
    g_source_set_callback(source, G_SOURCE_FUNC(callback), this, nullptr);
    g_source_attach(source, nullptr);
    return source;
  }

  void handleReadable() {
    KORVANE_ASSERT_MAIN_THREAD();
    const auto keep = shared_from_this();
    char buffer[kReadChunk];
    g_autoptr(GError) error = nullptr;
    const gssize count = g_socket_receive(socket_, buffer, sizeof buffer, nullptr, &error);
    if (count < 0) {
      const bool again = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK);
      if (!again) closeAndNotify();
      return;
    }
    if (count == 0) {
      peerFinished_ = true;  // what is owed for complete lines is still sent
    } else {
      input_.append(buffer, static_cast<size_t>(count));
    }
    answerLines();
  }

  void handleWritable() {
    KORVANE_ASSERT_MAIN_THREAD();
    const auto keep = shared_from_this();
    answerLines();
  }

  // Answers the complete lines read so far, each reply written as soon as the
  // socket takes it, until the unsent replies pile up; then decides what to
  // wait for next.
  void answerLines() {
    while (!closed_ && !finishing_) {
      flush();
      if (closed_ || unsent() > kMaxUnsentBytes) break;
      const size_t end = input_.find('\n', consumed_);
      const size_t length = (end == std::string::npos ? input_.size() : end) - consumed_;
      if (length > kMaxInstanceLine) {
        queueReply(errorInstanceReply("the request is longer than " +
                                      std::to_string(kMaxInstanceLine) + " bytes"));
        finishing_ = true;  // closes once the reply is out
        break;
      }
      if (end == std::string::npos) break;
      const std::string_view line(input_.data() + consumed_, length);
      consumed_ = end + 1;
      queueReply(isInstanceRequest(line) ? answer(line) : errorInstanceReply("unknown request"));
    }
    if (closed_) return;
    if (finishing_ || consumed_ == input_.size()) {
      input_.clear();
      consumed_ = 0;
    } else if (consumed_ > 0) {
      input_.erase(0, consumed_);
      consumed_ = 0;
    }
    if (peerFinished_ && input_.find('\n') == std::string::npos) finishing_ = true;
    flush();
    if (closed_) return;
    if (finishing_ && unsent() == 0) {
      closeAndNotify();
      return;
    }
    updateWatches();
  }

  std::string answer(std::string_view request) {
    const SharedHandler handler = handler_;  // the handler may stop the server
    std::string reply = (*handler)(request);
    if (!parseInstanceReply(reply)) {
      logger_.log("instance endpoint: the answer to \"" + std::string(request) +
                  "\" is not a reply line; sent an error instead");
      reply = errorInstanceReply("the application gave no valid answer");
    }
    return reply;
  }

  void queueReply(std::string reply) {
    if (closed_) return;
    output_ += reply;
    output_ += '\n';
  }

  size_t unsent() const { return output_.size() - sent_; }

  void flush() {
    while (unsent() > 0) {
      g_autoptr(GError) error = nullptr;
      const gssize count =
          g_socket_send(socket_, output_.data() + sent_, unsent(), nullptr, &error);
      if (count < 0) {
        const bool again = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK);
        if (!again) closeAndNotify();  // the peer has gone
        return;
      }
      sent_ += static_cast<size_t>(count);
    }
    output_.clear();
    sent_ = 0;
  }

  // Reads while there is room for replies and the peer may still send;
  // waits to write while replies are unsent.
  void updateWatches() {
    const bool read = !peerFinished_ && !finishing_ && unsent() <= kMaxUnsentBytes;
    if (read && readSource_ == nullptr) readSource_ = watch(G_IO_IN, onReadable);
    if (!read) unwatch(readSource_);
    const bool write = unsent() > 0;
    if (write && writeSource_ == nullptr) writeSource_ = watch(G_IO_OUT, onWritable);
    if (!write) unwatch(writeSource_);
  }

  void closeAndNotify() {
    if (closed_) return;
    close();
    if (onClosed_) onClosed_(*this);
  }

  GSocketConnection* connection_;
  GSocket* socket_;
  SharedHandler handler_;
  DiagnosticLog& logger_;
  ClosedCallback onClosed_;

  std::string input_;  // read, not yet answered: at most one read past a line
  size_t consumed_ = 0;
  std::string output_;  // replies; sent_ bytes of it are out
  size_t sent_ = 0;
  GSource* readSource_ = nullptr;
  GSource* writeSource_ = nullptr;
  bool peerFinished_ = false;  // end of stream read
  bool finishing_ = false;     // nothing more is answered; close when sent
  bool closed_ = false;
};

}  // namespace

class InstanceEndpointServer::Impl {
 public:
  Impl(DiagnosticLog& logger, Handler handler)
      : logger_(logger),
        handler_(std::make_shared<const Handler>(std::move(handler))),
        service_(logger, "instance endpoint", "instance endpoint connection") {}

  ~Impl() {
    if (!announcement_.empty()) unlink(announcement_.c_str());
    auto connections = std::move(connections_);
    connections_.clear();
    for (auto& [raw, connection] : connections) connection->close();
  }

  std::optional<StartError> listen(const std::string& path) {
    auto failure =
        service_.listen(path, [this](GSocketConnection* connection) { accept(connection); });
    if (failure) return StartError{failure->error, failure->message};
    return std::nullopt;
  }

  const std::string& path() const { return service_.path(); }

  // Tells the other copies who this host is, beside the endpoint. Without it
  // they still find the host, only later (see running_applications.h).
  void announce(const std::string& folder) {
    auto announcement = thisInstanceAnnouncement();
    if (!announcement || writeInstanceAnnouncement(folder, *announcement)) return;
    announcement_ = appendingPathComponent(folder, instanceAnnouncementFileName(announcement->pid));
  }

 private:
  // A connection of this user (the service refuses others).
  void accept(GSocketConnection* connection) {
    KORVANE_ASSERT_MAIN_THREAD();
    auto accepted = std::make_shared<LineConnection>(
        connection, handler_, logger_, [this](LineConnection& closed) {
          connections_.erase(&closed);
          service_.connectionClosed();  // its descriptor is free again
        });
    connections_.emplace(accepted.get(), accepted);
    accepted->start();
  }

  DiagnosticLog& logger_;
  SharedHandler handler_;
  LocalSocketService service_;  // stops listening after the connections are closed
  std::unordered_map<LineConnection*, std::shared_ptr<LineConnection>> connections_;
  std::string announcement_;  // the file written, removed when the server stops
};

InstanceEndpointServer::InstanceEndpointServer(DiagnosticLog& logger) : logger_(logger) {}

InstanceEndpointServer::~InstanceEndpointServer() { stop(); }

std::optional<InstanceEndpointServer::StartError> InstanceEndpointServer::start(
    const InterfaceAddressInputs& inputs, Handler handler) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (impl_ != nullptr) {
    return StartError{std::make_error_code(std::errc::operation_in_progress),
                      "the instance endpoint is already listening on " + impl_->path()};
  }
  const InterfaceSocketPath address =
      prepareDefaultSocketPath(inputs, instanceEndpointFileName(inputs.pid));
  if (address.path.empty()) return StartError{address.error, address.message};
  auto impl = std::make_unique<Impl>(logger_, std::move(handler));
  if (auto failure = impl->listen(address.path)) return failure;
  if (inputs.pid == currentProcessIdentifier()) {
    impl->announce(deletingLastPathComponent(address.path));
  }
  impl_ = std::move(impl);
  return std::nullopt;
}

const std::string& InstanceEndpointServer::path() const {
  static const std::string none;
  return impl_ != nullptr ? impl_->path() : none;
}

void InstanceEndpointServer::stop() {
  KORVANE_ASSERT_MAIN_THREAD();
  // Moved out first: a handler that stops the server finds it already stopped
  // if it asks again while the connections close.
  auto impl = std::move(impl_);
  impl.reset();
}

}  // namespace korvane
